// drives: one line per drive, "index: label \u2014 nodes", in discovery order.

#include "cli/Commands.h"
#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"

namespace dravix::cli {

int RunDrives(CliContext& context, const CommandArgs& args) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
    DriveTable* table = context.OpenDrive(/*selectChosen=*/false);
    if (table == nullptr) return context.FailedStatus();

    schema::Json list = schema::Json::array();
    for (uint8_t i = 0; i < table->DriveCount(); ++i) {
        list.push_back(schema::Drive(*table, i));
        if (!context.Json()) {
            context.Out() << static_cast<int>(i) << ": " << CliContext::Escaped(table->DriveLabelAt(i))
                          << kNodesSeparator << DriveNodesText(table->Entry(i)) << "\n";
        }
    }
    context.Result()["drives"] = list;
    return kExitOk;
}

}  // namespace dravix::cli
