// info: the Information page's fields for the chosen drive and its disc.

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"

namespace dravix::cli {

namespace {

struct Line {
    const char* label;
    const char* key;
    const std::optional<std::string>* value;
};

nlohmann::json JsonOf(const std::optional<std::string>& value) {
    return value ? nlohmann::json(CliContext::Escaped(*value)) : nlohmann::json(nullptr);
}

}  // namespace

int RunInfo(CliContext& context, const std::vector<std::string>& args) {
    if (!args.empty()) return UsageError(context, "info takes no arguments");
    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;

    table->WaitUntilReady();
    const InfoFill fill = FillInfo(*table);

    // A field the fill did not reach keeps the page's initial empty text.
    const Line lines[] = {
        {kLabelFirmwareVersion, "firmwareVersion", &fill.firmwareVersion},
        {kLabelBufferSize, "bufferSize", &fill.bufferSize},
        {kLabelConnectionInterface, "connectionInterface", &fill.connectionInterface},
        {kLabelRegionSetting, "regionSetting", &fill.regionSetting},
        {kLabelDiscType, "discType", &fill.discType},
        {kLabelManufactureId, "manufactureId", &fill.manufactureId},
        {kLabelMediaTypeId, "mediaTypeId", &fill.mediaTypeId},
        {kLabelBlankDiscCapacity, "blankDiscCapacity", &fill.blankDiscCapacity},
        {"Status:", "status", &fill.status},
    };

    if (context.Options().json) {
        nlohmann::json object = {{"drive", CliContext::Escaped(table->DriveLabel())}};
        for (const Line& line : lines) object[line.key] = JsonOf(*line.value);
        context.PrintJson(object);
        return fill.discReadFailed ? kExitFailed : kExitOk;
    }
    for (const Line& line : lines) {
        const std::string value = line.value->value_or("");
        // The status line is a single blank while all is well; it has nothing to say then.
        if (value.find_first_not_of(' ') == std::string::npos) {
            if (line.value == &fill.status) continue;
            context.Out() << line.label << "\n";
            continue;
        }
        context.Out() << line.label << " " << CliContext::Escaped(value) << "\n";
    }
    // What the page shows for a disc it could not read is no success of the command.
    return fill.discReadFailed ? kExitFailed : kExitOk;
}

}  // namespace dravix::cli
