// Every command's --json output, when it succeeds and when it fails, checked against the schema
// the guide documents: one object, "schema", "command" and "error" first, snake_case keys, each
// value of its documented type, strings trimmed; nothing missing on success and nothing extra.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "emu/Media.h"
#include "export/ImageContainer.h"
#include "probix/ReadTestFile.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

using Json = nlohmann::ordered_json;

// key → type. A type is "int", "number", "string", "bool" or a shape's name; "[]" after it is an
// array of it, "?" at the end allows null.
using Shape = std::vector<std::pair<std::string, std::string>>;

const std::map<std::string, Shape>& Shapes() {
    static const std::map<std::string, Shape> shapes = {
        {"error", {{"code", "int"}, {"message", "string"}}},
        {"drive",
         {{"index", "int"},
          {"vendor", "string"},
          {"product", "string"},
          {"revision", "string"},
          {"label", "string"},
          {"nodes", "string[]"},
          {"adapter", "int?"},
          {"target", "int?"},
          {"location", "string"}}},
        {"report_drive",
         {{"index", "int"},
          {"vendor", "string"},
          {"product", "string"},
          {"revision", "string"},
          {"label", "string"},
          {"nodes", "string[]"},
          {"adapter", "int?"},
          {"target", "int?"},
          {"location", "string"},
          {"node_details", "node[]"},
          {"supported", "bool"},
          {"support", "string"},
          {"features", "int[]?"}}},
        {"node",
         {{"path", "string"}, {"owner", "string"}, {"group", "string"}, {"mode", "int"}, {"opened", "bool"}}},
        {"command",
         {{"drive", "string"},
          {"cdb", "string"},
          {"status", "int"},
          {"sense", "sense"},
          {"os_error", "int?"},
          {"repeated", "int"}}},
        {"disc",
         {{"type", "string?"},
          {"manufacturer_id", "string?"},
          {"media_type_id", "string?"},
          {"capacity_bytes", "int?"},
          {"capacity_mb", "number?"}}},
        {"speed", {{"label", "string"}, {"kbps", "int"}}},
        {"setting", {{"on", "bool?"}, {"temporary", "bool?"}, {"raw", "int"}}},
        {"not_available", {{"key", "string"}, {"reason", "string"}}},
        {"switch", {{"on", "bool?"}, {"raw", "int"}}},
        {"write", {{"written", "bool?"}, {"confirmed", "bool?"}, {"answer_lost", "bool"}}},
        {"region", {{"mask", "int"}, {"playable", "int[]"}}},
        {"row", {{"row", "string"}, {"book_type", "string?"}, {"raw", "int?"}}},
        {"media", {{"kind", "string?"}, {"book_type", "string?"}, {"raw", "int?"}, {"blank", "bool"}}},
        {"learned", {{"count", "int?"}, {"raw", "int"}, {"discs", "string[]"}}},
        {"sense", {{"key", "int"}, {"asc", "int"}, {"ascq", "int"}}},
        {"range", {{"start", "int"}, {"end", "int"}}},
        {"references", {{"te", "int?"}, {"fe", "int?"}}},
        {"limits", {{"te_percent", "int"}, {"fe_percent", "int"}}},
        {"channel",
         {{"over_limit", "int"},
          {"max_percent", "int?"},
          {"max_lba", "int?"},
          {"average_percent", "number?"}}},
        {"part", {{"samples", "int"}, {"te", "channel"}, {"fe", "channel"}}},
        {"statistics", {{"samples", "int"}, {"te", "channel"}, {"fe", "channel"}, {"zones", "part[]"}}},
        {"zone_maxima",
         {{"zone", "int?"},
          {"te_max_percent", "int?[]"},
          {"fe_max_percent", "int?[]"},
          {"te_difference", "int?"},
          {"fe_difference", "int?"}}},
        {"compared",
         {{"file", "string"},
          {"disc", "disc"},
          {"speed", "speed"},
          {"mode", "string"},
          {"date", "string"},
          {"result", "string"},
          {"statistics", "statistics"}}},
        {"sample",
         {{"lba", "int"},
          {"psn", "int"},
          {"te_raw", "int"},
          {"fe_raw", "int"},
          {"te_percent", "int"},
          {"fe_percent", "int"}}},
        {"files", {{"csv", "string?"}, {"image", "string?"}}},
        {"speed_result", {{"speed", "speed"}, {"result", "string?"}, {"text", "string?"}}},
        {"read_disc",
         {{"type", "string?"},
          {"profile", "int"},
          {"last_lba", "int"},
          {"capacity_bytes", "int"},
          {"capacity_mb", "number"},
          {"sessions", "int"},
          {"layers", "int"},
          {"layer_break_lba", "int?"},
          {"tracks", "track[]"},
          {"track_source", "string"},
          {"max_read_speed_x", "number?"},
          {"notes", "string[]"}}},
        {"track",
         {{"number", "int"},
          {"session", "int"},
          {"first_lba", "int"},
          {"last_lba", "int"},
          {"data", "bool"}}},
        {"read_speed",
         {{"requested", "string"},
          {"method", "string"},
          {"kbps", "int"},
          {"text", "string"},
          {"answer_lost", "bool"},
          {"reported_x", "number?"}}},
        {"sector_counts",
         {{"planned", "int"}, {"read", "int"}, {"recovered", "int"}, {"failed", "int"}, {"skipped", "int"}}},
        {"sectors", {{"first", "int"}, {"last", "int"}, {"sectors", "int"}}},
        {"failed_sectors",
         {{"first", "int"}, {"last", "int"}, {"sectors", "int"}, {"timed_out", "bool"}, {"sense", "sense"}}},
        {"transfer",
         {{"start_x", "number"},
          {"end_x", "number"},
          {"average_x", "number"},
          {"minimum_x", "number"},
          {"minimum_lba", "int"},
          {"read_mode", "string"},
          {"start_rpm", "number"},
          {"end_rpm", "number"},
          {"max_rpm", "number"}}},
        {"verify",
         {{"image_sectors", "int"},
          {"compared_sectors", "int"},
          {"differing_sectors", "int"},
          {"unread_sectors", "int"},
          {"differences", "sectors[]"},
          {"length", "string?"},
          {"length_difference", "int"},
          {"image_read_failed", "bool"},
          {"complete", "bool"},
          {"matches", "bool?"},
          {"image", "string"}}},
        {"access_series", {{"reads", "int"}, {"average_ms", "number"}, {"worst_ms", "number"}}},
        {"access",
         {{"random", "access_series"},
          {"one_third", "access_series"},
          {"full_stroke", "access_series"},
          {"average_ms", "number"},
          {"worst_ms", "number"},
          {"failed_reads", "int"}}},
        {"point", {{"lba", "int"}, {"position_gb", "number"}, {"speed_x", "number"}, {"rpm", "number"}}},
        {"write_point", {{"lba", "int"}, {"speed_x", "number"}, {"buffer", "number"}, {"rpm", "number"}}},
        {"write_summary",
         {{"start_x", "number"},
          {"end_x", "number"},
          {"average_x", "number"},
          {"minimum_x", "number"},
          {"mode", "string"},
          {"full_disc_seconds", "number"}}},
        {"benchmark_test",
         {{"test", "string"}, {"value", "number?"}, {"unit", "string"}, {"note", "string?"}}},
        {"read_compared",
         {{"file", "string"},
          {"disc_type", "string?"},
          {"last_lba", "int"},
          {"test", "string"},
          {"speed", "string"},
          {"date", "string"},
          {"result", "string"},
          {"failed_sectors", "int"},
          {"transfer", "transfer?"}}},
        {"speed_zone", {{"zone", "int?"}, {"speed_x", "number?[]"}, {"difference", "number?"}}},
        {"write_compared",
         {{"file", "string"},
          {"disc_type", "string?"},
          {"last_lba", "int"},
          {"speed_kbps", "int"},
          {"date", "string"},
          {"end", "string"},
          {"written_sectors", "int"},
          {"lowest_buffer", "number?"},
          {"summary", "write_summary?"}}},
        // compare of two write tests.
        {"compare_write", {{"results", "write_compared[]"}, {"zones", "speed_zone[]"}, {"all", "speed_zone"}}},
        // compare of two read tests.
        {"compare_read", {{"results", "read_compared[]"}, {"zones", "speed_zone[]"}, {"all", "speed_zone"}}},
        // The commands' results, after "schema", "command" and "error".
        {"drives", {{"drives", "drive[]"}}},
        {"diagnose",
         {{"version", "string"},
          {"kernel", "string"},
          {"distribution", "string"},
          {"transport", "string"},
          {"sr_loaded", "bool?"},
          {"sg_loaded", "bool?"},
          {"refused_nodes", "string[]"},
          {"drives", "report_drive[]"},
          {"diagnosis", "string?"},
          {"commands", "command[]"}}},
        {"probe",
         {{"drive", "drive"}, {"supported", "bool"}, {"features", "int[]?"}, {"pages", "string[]?"}}},
        {"info",
         {{"drive", "drive"},
          {"buffer_size_mb", "int?"},
          {"connection_interface", "string?"},
          {"region", "region?"},
          {"disc", "disc?"},
          {"status", "string?"},
          {"unread", "string[]"},
          {"not_available", "not_available[]"}}},
        {"booktype",
         {{"drive", "drive"},
          {"rows", "row[]?"},
          {"writes_dvd_plus_r_dl", "bool?"},
          {"media", "media?"},
          {"write", "write?"}}},
        {"overspeed", {{"drive", "drive"}, {"overspeed", "setting?"}, {"write", "write?"}}},
        {"lumard",
         {{"drive", "drive"},
          {"supported_disc", "setting?"},
          {"unknown_disc", "setting?"},
          {"overspeed", "setting?"},
          {"learned", "learned?"},
          {"write", "write?"}}},
        {"testwrite", {{"drive", "drive"}, {"test_write", "switch?"}, {"write", "write?"}}},
        {"wopc", {{"drive", "drive"}, {"wopc", "switch?"}, {"write", "write?"}}},
        {"scan",
         {{"drive", "drive"},
          {"disc", "disc"},
          {"speed", "speed"},
          {"mode", "string"},
          {"range", "range"},
          {"last_lba", "int"},
          {"references", "references"},
          {"limits", "limits"},
          {"statistics", "statistics"},
          {"elapsed_seconds", "int"},
          {"result", "string"},
          {"text", "string"},
          {"samples", "sample[]"},
          {"files", "files"}}},
        {"smart",
         {{"drive", "drive"},
          {"disc", "disc"},
          {"speeds", "speed_result[]"},
          {"recommended_speed", "speed?"},
          {"result", "string"},
          {"csv", "string?"}}},
        {"writetest",
         {{"drive", "drive"},
          {"end", "string"},
          {"profile", "int"},
          {"simulation", "string"},
          {"start_lba", "int"},
          {"planned_sectors", "int"},
          {"written_sectors", "int"},
          {"speed_kbps", "int"},
          {"write_speeds_kbps", "int[]"},
          {"points", "write_point[]"},
          {"summary", "write_summary?"},
          {"setting_restored", "bool"},
          {"simulation_left_on", "bool"},
          {"blank_after", "bool?"},
          {"message", "string?"},
          {"files", "files"}}},
        {"readtest",
         {{"drive", "drive"},
          {"disc", "read_disc"},
          {"mode", "string"},
          {"quick", "bool"},
          {"speed", "read_speed"},
          {"range", "range"},
          {"request_sectors", "int"},
          {"sectors", "sector_counts"},
          {"failed", "failed_sectors[]"},
          {"skipped", "sectors[]"},
          {"audio_tracks_skipped", "sectors[]"},
          {"transfer", "transfer?"},
          {"verify", "verify?"},
          {"access", "access?"},
          {"points", "point[]"},
          {"benchmark", "benchmark_test[]?"},
          {"elapsed_seconds", "number"},
          {"end", "string"},
          {"end_lba", "int?"},
          {"result", "string"},
          {"verdict", "string[]"},
          {"files", "files"}}},
        {"compare", {{"results", "compared[]"}, {"zones", "zone_maxima[]"}, {"all", "zone_maxima"}}},
        {"report", {{"inputs", "string[]"}, {"output", "string"}}},
        {"convert", {{"input", "string"}, {"output", "string"}, {"format", "string?"}, {"saved", "bool"}}},
        {"raw",
         {{"drive", "drive"},
          {"cdb", "string"},
          {"status", "int"},
          {"sense", "sense"},
          {"os_error", "int?"},
          {"refused_by_kernel", "bool"},
          {"transferred", "int?"},
          {"data", "string?"}}},
        {"help", {{"text", "string"}}},
        {"version", {{"version", "string"}}},
    };
    return shapes;
}

// Problems of `value` against `type`, each with where it was found.
void Check(const Json& value, std::string type, const std::string& where, std::vector<std::string>& problems);

// `complete`: every key of the shape is there (a failed command may stop before some of them).
void CheckObject(const Json& value, const Shape& shape, bool complete, const std::string& where,
                 std::vector<std::string>& problems) {
    if (!value.is_object()) {
        problems.push_back(where + ": not an object");
        return;
    }
    static const std::regex kSnakeCase("[a-z][a-z0-9_]*");
    for (const auto& [key, item] : value.items()) {
        if (!std::regex_match(key, kSnakeCase)) problems.push_back(where + "." + key + ": not snake_case");
        const auto entry =
            std::find_if(shape.begin(), shape.end(), [&](const auto& e) { return e.first == key; });
        // A file name that is not valid UTF-8 has its bytes beside it: "output_hex".
        const std::string named = key.size() > 4 ? key.substr(0, key.size() - 4) : std::string();
        if (entry == shape.end() && key.ends_with("_hex") && value.contains(named)) {
            Check(item, item.is_array() ? "string?[]" : "string", where + "." + key, problems);
        } else if (entry == shape.end()) {
            problems.push_back(where + "." + key + ": not in the schema");
        } else {
            Check(item, entry->second, where + "." + key, problems);
        }
    }
    if (!complete) return;
    for (const auto& [key, type] : shape) {
        if (!value.contains(key)) problems.push_back(where + "." + key + ": missing");
    }
}

void Check(const Json& value, std::string type, const std::string& where,
           std::vector<std::string>& problems) {
    if (type.back() == '?') {
        if (value.is_null()) return;
        type.pop_back();
    }
    if (type.size() > 2 && type.compare(type.size() - 2, 2, "[]") == 0) {
        if (!value.is_array()) {
            problems.push_back(where + ": not an array");
            return;
        }
        for (size_t i = 0; i < value.size(); ++i)
            Check(value[i], type.substr(0, type.size() - 2), where + "[" + std::to_string(i) + "]", problems);
        return;
    }
    bool ok = true;
    if (type == "int") {
        ok = value.is_number_integer();
    } else if (type == "number") {
        ok = value.is_number();
    } else if (type == "bool") {
        ok = value.is_boolean();
    } else if (type == "string") {
        const std::string blanks = " \t\r\n";
        ok = value.is_string() && (value.get<std::string>().empty() ||
                                   (blanks.find(value.get<std::string>().front()) == std::string::npos &&
                                    blanks.find(value.get<std::string>().back()) == std::string::npos));
    } else {
        CheckObject(value, Shapes().at(type), true, where, problems);
        return;
    }
    if (!ok) problems.push_back(where + ": not " + type + " but " + value.dump());
}

// The whole output of one run with --json.
std::vector<std::string> Problems(const std::string& out, int status) {
    std::vector<std::string> problems;
    if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1)
        return {"not one line on standard output: " + out};
    const Json object = Json::parse(out, nullptr, false);
    if (!object.is_object()) return {"not a JSON object: " + out};
    auto key = object.begin();
    for (const char* first : {"schema", "command", "error"}) {
        if (key == object.end() || key.key() != first)
            return {std::string("\"") + first + "\" is not where it belongs"};
        ++key;
    }
    if (object["schema"] != 2) problems.push_back("schema is not 2");
    const bool failed = status != 0 && status != 4;
    if (failed) {
        Check(object["error"], "error", "error", problems);
        if (object["error"].value("code", -1) != status)
            problems.push_back("error.code is not the exit status");
        if (object["error"].value("message", "").empty()) problems.push_back("error.message is empty");
    } else if (!object["error"].is_null()) {
        problems.push_back("an error on success");
    }
    Json result = object;
    for (const char* envelope : {"schema", "command", "error"}) result.erase(envelope);
    if (object["command"].is_null()) {
        if (!failed || !result.empty()) problems.push_back("no command, yet a result");
        return problems;
    }
    std::string command = object["command"].get<std::string>();
    if (command == "compare" && result.contains("results") && !result["results"].empty() &&
        result["results"][0].contains("test"))
        command = "compare_read";
    if (command == "compare" && result.contains("results") && !result["results"].empty() &&
        result["results"][0].contains("written_sectors"))
        command = "compare_write";
    const auto shape = Shapes().find(command);
    if (shape == Shapes().end()) return {"unknown command " + object["command"].dump()};
    CheckObject(result, shape->second, !failed, command, problems);
    return problems;
}

emu::FaultRule Rule(uint8_t opcode, emu::FaultRule::Action action, std::vector<uint8_t> reply = {},
                    std::optional<uint8_t> sub = {}, std::map<uint8_t, uint8_t> bytes = {}) {
    emu::FaultRule rule;
    rule.opcode = opcode;
    rule.subCode = sub;
    rule.bytes = std::move(bytes);
    rule.action = action;
    rule.reply = std::move(reply);
    rule.sense = emu::kInvalidFieldInCdb;
    return rule;
}

struct Case {
    std::vector<std::string> args;
    int status;
    std::function<void(VirtualBus&)> setup;  // the drives; none when empty
};

void PrintTo(const Case& c, std::ostream* out) {
    for (const std::string& arg : c.args) *out << arg << " ";
}

auto Maker(const char* media = nullptr, std::function<void(emu::VirtualDrive&)> more = {}) {
    return [media, more](VirtualBus& bus) {
        emu::VirtualDrive& drive = bus.AddDrive();
        if (media) drive.Insert(media);
        if (more) more(drive);
    };
}

auto OtherMaker() {
    return [](VirtualBus& bus) { bus.AddDrive(emu::DriveKind::OtherMaker).Insert("dvd+r"); };
}

std::string Bitmap() {
    const std::string path = ::testing::TempDir() + "/dravix-schema-in.bmp";
    ImageContainer image;
    if (!image.Create(4, 4, 24) || !image.Save(path, ImageType::kBmp)) ADD_FAILURE() << "no bitmap";
    return path;
}

// A drive whose reads take a hundredth of their modelled time.
auto QuickReader(const char* media, std::function<void(emu::VirtualDrive&)> more = {}) {
    return Maker(media, [more](emu::VirtualDrive& d) {
        d.SetMicrosecondSleeper(
            [](uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 100)); });
        if (more) more(d);
    });
}

// The first thousand sectors of a DVD-ROM as an image file.
std::string DvdRomImage() {
    const std::string path = ::testing::TempDir() + "/dravix-schema-dvd-rom.iso";
    std::ofstream file(path, std::ios::binary);
    std::vector<uint8_t> sector(2048);
    for (uint32_t lba = 0; lba < 1000; ++lba) {
        emu::FillSector(*emu::FindMedia("dvd-rom"), lba, sector.data());
        file.write(reinterpret_cast<const char*>(sector.data()), 2048);
    }
    return path;
}

// A read test's results file with a few points.
std::string ReadTestFile(const char* name, double speedX) {
    const std::string path = ::testing::TempDir() + "/" + name;
    ReadTestRecord record;
    record.discType = "DVD ROM";
    record.date = "2026-12-08T11:00:00Z";
    ReadTestResult& r = record.result;
    r.end = ReadTestEnd::Finished;
    r.layout.lastLba = 9999;
    r.layout.tracks = {{1, 1, 0, 9999, true}};
    r.range = {0, 9999};
    r.plannedSectors = r.readSectors = 10000;
    r.points = {{0, speedX}, {5000, speedX + 1}, {9968, speedX + 2}};
    r.transfer = TransferSummary{speedX, speedX + 2, speedX + 1, speedX, 0, ReadMode::Cav};
    if (const Result<void> saved = SaveReadTestFile(path, record); !saved)
        ADD_FAILURE() << "no read test file: " << saved.Failure().text;
    return path;
}

std::vector<Case> Cases() {
    const std::string bmp = Bitmap();
    const std::string image = DvdRomImage();
    const auto damaged = [](emu::VirtualDrive& d) { d.AddDamage({100, 4}); };
    const std::string png = ::testing::TempDir() + "/dravix-schema-out.png";
    const auto learned = [](emu::VirtualDrive& d) { d.SetLearnedDiscs({"ABCD"}); };
    const auto noFeatures = [](emu::VirtualDrive& d) { d.SetFeatureCodes({1}); };
    return {
        {{"drives"}, 0, Maker()},
        {{"drives"}, 0, {}},
        {{"probe"}, 0, Maker()},
        {{"probe"}, 3, OtherMaker()},
        {{"info"}, 0, Maker("dvd+r")},
        {{"info"}, 0, Maker()},
        {{"info"},
         1,
         Maker("dvd+r", [](auto& d) { d.AddFault(Rule(0xAD, emu::FaultRule::Action::CheckCondition)); })},
        // The drive does not offer REPORT KEY's region format nor write speeds: null, with reasons.
        {{"info"},
         0,
         Maker("dvd+r",
               [](auto& d) {
                   d.AddFault(Rule(0xA4, emu::FaultRule::Action::CheckCondition));
                   d.AddFault(Rule(0xAC, emu::FaultRule::Action::CheckCondition));
               })},
        {{"--drive", "4", "info"}, 3, Maker()},
        {{"booktype"}, 0, Maker("dvd+rw-recorded")},
        {{"--yes", "booktype", "set", "dvd+r", "dvd-rom"}, 0, Maker()},
        {{"--yes", "booktype", "set-media", "dvd-rom"}, 0, Maker("dvd+rw-recorded")},
        {{"booktype"}, 3, Maker(nullptr, noFeatures)},
        {{"overspeed"}, 0, Maker()},
        {{"--yes", "overspeed", "on", "--temporary"}, 0, Maker()},
        {{"--yes", "overspeed", "on", "--temporary"}, 1, Maker("dvd+r")},
        {{"lumard"}, 0, Maker()},
        {{"lumard", "learned"}, 0, Maker(nullptr, learned)},
        {{"--yes", "lumard", "clean"}, 0, Maker(nullptr, learned)},
        {{"--yes", "lumard", "--unknown", "on", "--permanent"},
         1,
         Maker(nullptr, [](auto& d) { d.SetOption(emu::OptionKind::OverSpeed, 2); })},
        {{"testwrite", "on"}, 0, Maker()},
        {{"testwrite"},
         1,
         Maker(nullptr,
               [](auto& d) {
                   d.AddFault(Rule(0xFD, emu::FaultRule::Action::Reply, {0, 2, 0}, 0xFB, {{6, 0}}));
               })},
        {{"wopc"}, 0, Maker()},
        {{"wopc", "off"}, 3, OtherMaker()},
        {{"scan", "--speed", "4X", "--mode", "quick"}, 0, Maker("dvd+r")},
        {{"scan", "--speed", "16X", "--mode", "quick"}, 4, Maker("dvd+r")},
        {{"scan", "--speed", "4X"}, 3, Maker()},
        {{"scan", "--speed", "4X", "--mode", "quick"},
         1,
         Maker("dvd+r",
               [](auto& d) {
                   d.AddFault(Rule(0xFD, emu::FaultRule::Action::CheckCondition, {}, 0xFB, {{11, 0}}));
               })},
        {{"smart"}, 0, Maker("dvd+r")},
        {{"smart"},
         1,
         Maker("dvd+r",
               [](auto& d) {
                   d.AddFault(Rule(0xFD, emu::FaultRule::Action::BadAnswer, {}, 0xFB, {{11, 0}}));
               })},
        {{"readtest", "--start", "0", "--end", "999", "--verify", image}, 0, QuickReader("dvd-rom")},
        {{"readtest", "--start", "0", "--end", "999"}, 4, QuickReader("dvd-rom", damaged)},
        {{"readtest", "--mode", "seek"}, 0, QuickReader("cd-rom")},
        {{"--yes", "readtest", "--mode", "benchmark", "--load-eject"}, 0, QuickReader("cd-rom")},
        {{"readtest"}, 3, QuickReader(nullptr)},
        {{"--yes", "writetest", "--length", "2"}, 0, Maker("dvd+r")},
        {{"--yes", "writetest"}, 3, Maker("dvd+r-recorded")},
        {{"compare", ReadTestFile("schema-a.csv", 4), ReadTestFile("schema-b.csv", 6)}, 0, {}},
        // Two write tests' files, then their compare and report: the cases run in order.
        {{"--yes", "writetest", "--length", "2", "--csv", ::testing::TempDir() + "/schema-wa.csv"}, 0, Maker("dvd+r")},
        {{"--yes", "writetest", "--length", "2", "--csv", ::testing::TempDir() + "/schema-wb.csv"}, 0, Maker("dvd-r")},
        {{"compare", ::testing::TempDir() + "/schema-wa.csv", ::testing::TempDir() + "/schema-wb.csv"}, 0, {}},
        {{"report", ::testing::TempDir() + "/schema-wa.csv", "-o", ::testing::TempDir() + "/dravix-schema-w.html"},
         0,
         {}},
        {{"report", ReadTestFile("schema-a.csv", 4), "-o", ::testing::TempDir() + "/dravix-schema.html"},
         0,
         {}},
        {{"convert", bmp, png}, 0, {}},
        {{"convert", bmp + ".missing", png}, 1, {}},
        {{"raw", "--in", "36", "12 00 00 00 24 00"}, 0, Maker()},
        {{"raw", "00 00 00 00 00 00"}, 1, Maker()},
        {{"diagnose"}, 0, Maker()},
        {{"diagnose"}, 0, {}},
        {{"scan", "--bogus"}, 2, Maker()},
        {{"--bogus"}, 2, Maker()},
        {{"help", "scan"}, 0, {}},
        {{"--version"}, 0, {}},
    };
}

TEST(JsonSchema, EveryCommandAnswersWithTheDocumentedSchema) {
    unsetenv("DRAVIX_ASPI_LIBRARY");
    for (Case& c : Cases()) {
        VirtualBus bus;
        if (c.setup) c.setup(bus);
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        const CliRun run = RunCliCapture(bus.Drives(), args);
        EXPECT_EQ(run.status, c.status) << ::testing::PrintToString(c) << run.out;
        for (const std::string& problem : Problems(run.out, run.status))
            ADD_FAILURE() << ::testing::PrintToString(c) << ": " << problem;
        // The error is in the object, not on standard error.
        const Json object = Json::parse(run.out, nullptr, false);
        if (object.is_object() && object["error"].is_object()) {
            EXPECT_EQ(run.err.find(object["error"]["message"].get<std::string>()), std::string::npos)
                << run.err;
        }
    }
}

}  // namespace
}  // namespace dravix::test
