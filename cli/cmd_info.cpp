// info: the Information page's fields for the chosen drive and its disc.

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string_view>

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

    // A field whose command failed shows no stand-in value: the command fails instead.
    // By text: two uses of one label constant need not be one string in memory.
    auto unread = [&fill](const Line& line) {
        return std::any_of(fill.unread.begin(), fill.unread.end(),
                           [&line](const char* label) { return std::string_view(label) == line.label; });
    };
    const int status = fill.unread.empty() ? kExitOk : kExitFailed;
    if (context.Options().json) {
        nlohmann::json object = {{"drive", CliContext::Escaped(table->DriveLabel())}};
        for (const Line& line : lines)
            object[line.key] = unread(line) ? nlohmann::json(nullptr) : JsonOf(*line.value);
        object["unread"] = fill.unread;
        context.PrintJson(object);
        return status;
    }
    for (const Line& line : lines) {
        if (unread(line)) {
            context.Out() << line.label << " (not read)\n";
            continue;
        }
        const std::string value = line.value->value_or("");
        // The status line is a single blank while all is well; it has nothing to say then.
        if (value.find_first_not_of(' ') == std::string::npos) {
            if (line.value == &fill.status) continue;
            context.Out() << line.label << "\n";
            continue;
        }
        context.Out() << line.label << " " << CliContext::Escaped(value) << "\n";
    }
    return status;
}

}  // namespace dravix::cli
