// info: the Information page's fields for the chosen drive and its disc.

#include <algorithm>
#include <string_view>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "procedures/InfoProcedures.h"

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

int RunInfo(CliContext& context, const CommandArgs& args) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
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
    // By text: two uses of one label constant need not be one string in memory.
    auto unread = [&fill](const Line& line) {
        return std::any_of(fill.unread.begin(), fill.unread.end(),
                           [&line](const char* label) { return std::string_view(label) == line.label; });
    };
    // A field the drive does not offer, or that does not apply to the disc: no value, and no
    // failure either.
    auto notAvailable = [&fill](const Line& line) -> const char* {
        for (const InfoFill::NotAvailable& field : fill.notAvailable) {
            if (std::string_view(field.label) == line.label) return field.reason;
        }
        return nullptr;
    };
    std::vector<std::string> unreadLabels, unreadKeys;
    schema::Json reasons = schema::Json::array();
    for (const Line& line : lines) {
        if (const char* reason = notAvailable(line)) {
            reasons.push_back({{"key", line.key}, {"reason", reason}});
            if (line.key2 != nullptr) reasons.push_back({{"key", line.key2}, {"reason", reason}});
        }
        if (!unread(line)) continue;
        unreadLabels.emplace_back(line.label);
        unreadKeys.emplace_back(line.key);
        if (line.key2 != nullptr) unreadKeys.emplace_back(line.key2);
    }
    auto noValue = [&](const Line& line) { return unread(line) || notAvailable(line) != nullptr; };

    schema::Json& json = context.Result();
    json["buffer_size_mb"] = noValue(lines[1]) ? nullptr : BufferJson(fill.bufferSize);
    json["connection_interface"] = FieldJson(fill.connectionInterface);
    json["region"] = noValue(lines[3]) ? nullptr : RegionJson(fill.regionMask);
    // A disc is there once its type was asked for; without a ready disc the page shows "N/A".
    const bool discPresent = fill.discTypeCode.has_value();
    auto discField = [&](const Line& line) { return noValue(line) ? nullptr : FieldJson(*line.value); };
    json["disc"] = discPresent ? schema::Disc(discField(lines[4]), discField(lines[5]), discField(lines[6]),
                                              noValue(lines[7]) ? std::nullopt : fill.endLba)
                               : schema::Json(nullptr);
    // The status line is a single blank while all is well: nothing to say then.
    const std::string status = fill.status.value_or("");
    json["status"] =
        status.find_first_not_of(' ') == std::string::npos ? schema::Json(nullptr) : schema::Json(status);
    json["unread"] = unreadKeys;
    json["not_available"] = reasons;

    if (!context.Json()) {
        for (const Line& line : lines) {
            if (unread(line)) {
                context.Out() << line.label << " (not read)\n";
                continue;
            }
            if (const char* reason = notAvailable(line)) {
                context.Out() << line.label << " (not available: " << reason << ")\n";
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
