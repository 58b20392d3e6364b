// info: the Information page's fields for the chosen drive and its disc.

#include <algorithm>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"

namespace dravix::cli {

namespace {

struct Line {
    const char* label;
    const std::optional<std::string>* value;
    // Its keys in the JSON, as paths below the result ("disc.type"); the second may be null.
    const char* key;
    const char* key2 = nullptr;
};

// The JSON of a field: null when the page would show a stand-in or nothing.
schema::Json FieldJson(const std::optional<std::string>& value) {
    return value ? schema::TextOrNull(*value) : schema::Json(nullptr);
}

// 8 or 2: the megabytes the page's "8M" / "2M" stand for.
schema::Json BufferJson(const std::optional<std::string>& text) {
    if (!text) return nullptr;
    return *text == kTextBuffer8M ? 8 : 2;
}

schema::Json RegionJson(std::optional<uint8_t> mask) {
    if (!mask) return nullptr;
    schema::Json playable = schema::Json::array();
    for (int region = 1; region <= 8; ++region) {
        if ((*mask & (1u << (region - 1))) == 0) playable.push_back(region);
    }
    return {{"mask", *mask}, {"playable", playable}};
}

}  // namespace

int RunInfo(CliContext& context, const std::vector<std::string>& args) {
    if (!args.empty()) return UnexpectedArgument(context, args.front());
    DriveTable* table = context.UseDrive({});
    if (table == nullptr) return context.FailedStatus();
    const InfoFill fill = FillInfo(*table);

    // A field the fill did not reach keeps the page's initial empty text.
    const Line lines[] = {
        {kLabelFirmwareVersion, &fill.firmwareVersion, "drive.revision"},
        {kLabelBufferSize, &fill.bufferSize, "buffer_size_mb"},
        {kLabelConnectionInterface, &fill.connectionInterface, "connection_interface"},
        {kLabelRegionSetting, &fill.regionSetting, "region"},
        {kLabelDiscType, &fill.discType, "disc.type"},
        {kLabelManufactureId, &fill.manufactureId, "disc.manufacturer_id"},
        {kLabelMediaTypeId, &fill.mediaTypeId, "disc.media_type_id"},
        {kLabelBlankDiscCapacity, &fill.blankDiscCapacity, "disc.capacity_bytes", "disc.capacity_mb"},
        {"Status:", &fill.status, "status"},
    };

    // A field whose command failed shows no stand-in value: the command fails instead.
    auto unread = [&fill](const Line& line) {
        return std::find(fill.unread.begin(), fill.unread.end(), line.label) != fill.unread.end();
    };
    std::vector<std::string> unreadLabels, unreadKeys;
    for (const Line& line : lines) {
        if (!unread(line)) continue;
        unreadLabels.emplace_back(line.label);
        unreadKeys.emplace_back(line.key);
        if (line.key2 != nullptr) unreadKeys.emplace_back(line.key2);
    }

    schema::Json& json = context.Result();
    json["buffer_size_mb"] = unread(lines[1]) ? nullptr : BufferJson(fill.bufferSize);
    json["connection_interface"] = FieldJson(fill.connectionInterface);
    json["region"] = unread(lines[3]) ? nullptr : RegionJson(fill.regionMask);
    // A disc is there once its type was asked for; without a ready disc the page shows "N/A".
    const bool discPresent = fill.discTypeCode.has_value();
    auto discField = [&](const Line& line) { return unread(line) ? nullptr : FieldJson(*line.value); };
    json["disc"] = discPresent ? schema::Disc(discField(lines[4]), discField(lines[5]), discField(lines[6]),
                                              unread(lines[7]) ? std::nullopt : fill.endLba)
                               : schema::Json(nullptr);
    // The status line is a single blank while all is well: nothing to say then.
    const std::string status = fill.status.value_or("");
    json["status"] =
        status.find_first_not_of(' ') == std::string::npos ? schema::Json(nullptr) : schema::Json(status);
    json["unread"] = unreadKeys;

    if (!context.Json()) {
        for (const Line& line : lines) {
            if (unread(line)) {
                context.Out() << line.label << " (not read)\n";
                continue;
            }
            const std::string value = line.value->value_or("");
            if (value.find_first_not_of(' ') == std::string::npos) {
                if (line.value == &fill.status) continue;
                context.Out() << line.label << "\n";
                continue;
            }
            context.Out() << line.label << " " << CliContext::Escaped(value) << "\n";
        }
    }
    if (unreadLabels.empty()) return kExitOk;
    std::string message = "Could not read:";
    for (const std::string& label : unreadLabels) message += " " + label.substr(0, label.size() - 1) + ",";
    message.back() = '.';
    return context.Fail(kExitFailed, message);
}

}  // namespace dravix::cli
