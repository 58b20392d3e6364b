#include "cli/Schema.h"

#include <cmath>
#include <cstring>

#include "cli/Cli.h"
#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/OptionCommands.h"
#include "probix/ScanStatistics.h"
#include "probix/WriteTest.h"

namespace dravix::cli::schema {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A fixed-size INQUIRY field of the entry, up to its first NUL.
std::string Field(const char* data, size_t size) {
    return std::string(data, strnlen(data, size));
}

// The drive's device nodes (pass-through), block node first; empty on the ASPI path.
Json Nodes(const DriveEntry& entry) {
    Json nodes = Json::array();
    for (const DriveNode& node : entry.nodes) nodes.push_back(node.path);
    return nodes;
}

}  // namespace

Json Text(const std::string& text) {
    return CliContext::Escaped(Trimmed(text));
}

Json TextOrNull(const std::string& text) {
    if (text == kTextNotAvailable || text == kTextNoIdentifier) return nullptr;
    return Text(text);
}

Json Drive(const DriveTable& table, uint8_t index) {
    const DriveEntry& entry = table.Entry(index);
    // The product name holds INQUIRY's vendor (8 bytes) and product (16 bytes) fields.
    const std::string identity = Field(entry.productName, sizeof entry.productName);
    const std::string revision = Field(entry.revision, sizeof entry.revision);
    return {
        {"index", index},
        {"vendor", Text(identity.substr(0, 8))},
        {"product", Text(identity.size() > 8 ? identity.substr(8) : std::string())},
        {"revision", Text(revision)},
        {"label", Text(identity + revision)},
        {"nodes", Nodes(entry)},
        {"adapter", entry.nodes.empty() && entry.nodeName.empty() ? Json(entry.adapterId) : Json(nullptr)},
        {"target", entry.nodes.empty() && entry.nodeName.empty() ? Json(entry.targetId) : Json(nullptr)},
        {"location", DriveNodesText(entry)}};
}

Json Disc(const Json& type, const Json& manufacturerId, const Json& mediaTypeId,
          std::optional<int32_t> endLba) {
    Json bytes = nullptr;
    Json megabytes = nullptr;
    if (endLba && *endLba >= 0) {
        const int64_t sectors = static_cast<int64_t>(*endLba) + 1;
        bytes = sectors * 2048;
        megabytes = std::round(static_cast<double>(sectors) * 2048.0 / 1048576.0 * 10.0) / 10.0;
    }
    return {{"type", type},
            {"manufacturer_id", manufacturerId},
            {"media_type_id", mediaTypeId},
            {"capacity_bytes", bytes},
            {"capacity_mb", megabytes}};
}

Json Speed(const std::string& label, uint32_t kbps) {
    return {{"label", label}, {"kbps", kbps}};
}

Json Setting(uint8_t raw) {
    const std::optional<bool> on = OptionStateIsOn(raw);
    if (!on) return {{"on", nullptr}, {"temporary", nullptr}, {"raw", raw}};
    return {{"on", *on}, {"temporary", OptionStateScope(raw) == SettingScope::Temporary}, {"raw", raw}};
}

Json Switch(std::optional<bool> on, uint8_t raw) {
    return {{"on", on ? Json(*on) : Json(nullptr)}, {"raw", raw}};
}

Json Write(const WriteFacts& facts) {
    const auto orNull = [](std::optional<bool> value) { return value ? Json(*value) : Json(nullptr); };
    return {{"written", orNull(facts.written)},
            {"confirmed", orNull(facts.confirmed)},
            {"answer_lost", facts.answerLost}};
}

Json Part(const PartStatistics& part) {
    auto channel = [&part](const ChannelStatistics& c) -> Json {
        if (part.samples == 0)
            return {{"over_limit", 0},
                    {"max_percent", nullptr},
                    {"max_lba", nullptr},
                    {"average_percent", nullptr}};
        return {{"over_limit", c.overLimit},
                {"max_percent", c.maxPercent},
                {"max_lba", c.maxLba},
                {"average_percent", std::round(c.averagePercent * 100.0) / 100.0}};
    };
    return {{"samples", part.samples}, {"te", channel(part.te)}, {"fe", channel(part.fe)}};
}

Json Statistics(const ScanStatistics& statistics) {
    Json zones = Json::array();
    for (const PartStatistics& zone : statistics.zones) zones.push_back(Part(zone));
    Json json = Part(statistics.all);
    json["zones"] = zones;
    return json;
}

Json WriteSummary(const WriteTestResult& r) {
    if (!r.summary) return nullptr;
    const auto rounded = [](double value) { return std::round(value * 1000.0) / 1000.0; };
    return {{"start_x", rounded(r.summary->startX)},     {"end_x", rounded(r.summary->endX)},
            {"average_x", rounded(r.summary->averageX)}, {"minimum_x", rounded(r.summary->minimumX)},
            {"mode", ReadModeName(r.summary->mode)},     {"full_disc_seconds", rounded(r.fullDiscSeconds)}};
}

}  // namespace dravix::cli::schema
