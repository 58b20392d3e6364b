// drives: one line per drive, "index: label", in discovery order.

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "drive/DriveTable.h"

namespace dravix::cli {

int RunDrives(CliContext& context, const std::vector<std::string>& args) {
    if (!args.empty()) return UsageError(context, "drives takes no arguments");
    DriveTable* table = context.OpenDrive(/*selectChosen=*/false);
    if (table == nullptr) return kExitNoDrive;

    nlohmann::json list = nlohmann::json::array();
    for (uint8_t i = 0; i < table->DriveCount(); ++i) {
        table->SelectDrive(i);
        const std::string label = table->DriveLabel();
        if (context.Options().json) {
            list.push_back({{"index", i}, {"label", label}, {"revision", table->FirmwareRevision()}});
        } else {
            context.Out() << static_cast<int>(i) << ": " << CliContext::Escaped(label) << "\n";
        }
    }
    if (context.Options().json) context.PrintJson({{"drives", list}});
    return kExitOk;
}

}  // namespace dravix::cli
