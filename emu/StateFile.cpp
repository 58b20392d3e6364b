#include "emu/StateFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "base/SafeFile.h"
#include "emu/Media.h"

namespace dravix::emu {

namespace {

using nlohmann::json;

constexpr const char* kFormatName = "dravix-vdrive-state";
constexpr int kFormatVersion = 1;

// A problem in the file's content, with the place where it was found.
class FormatError final : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::string Errno(int error) {
    return std::strerror(error);
}

// --- writing ---------------------------------------------------------------------------------

json OptionToJson(const OptionSetting& option) {
    return json{{"permanent", option.permanent},
                {"temporary", option.temporary ? json(*option.temporary) : json(nullptr)}};
}

json FaultToJson(const FaultRule& rule) {
    json bytes = json::object();
    for (const auto& [index, value] : rule.bytes) bytes[std::to_string(index)] = value;
    json out{{"opcode", rule.opcode},
             {"subCode", rule.subCode ? json(*rule.subCode) : json(nullptr)},
             {"function", rule.function ? json(*rule.function) : json(nullptr)},
             {"bytes", bytes},
             {"after", rule.after},
             {"once", rule.once},
             {"action", std::string(FaultActionName(rule.action))},
             {"sense", json::array({rule.sense.key, rule.sense.asc, rule.sense.ascq})},
             {"answerByte0", rule.answerByte0},
             {"reply", rule.reply},
             {"seen", rule.seen},
             {"spent", rule.spent}};
    return out;
}

json DriveToJson(const DriveState& s) {
    json options = json::object();
    for (size_t i = 0; i < s.options.size(); ++i) {
        options[std::string(OptionKindName(static_cast<OptionKind>(i)))] = OptionToJson(s.options[i]);
    }
    json bookTypes = json::object();
    for (size_t i = 0; i < s.bookTypes.size(); ++i) {
        bookTypes[std::string(BookTypeRowName(static_cast<BookTypeRow>(i)))] = s.bookTypes[i];
    }
    json latency = json::object();
    for (size_t i = 0; i < s.latencyMs.size(); ++i) {
        latency[std::string(LatencyClassName(static_cast<LatencyClass>(i)))] = s.latencyMs[i];
    }
    json faults = json::array();
    for (const FaultRule& rule : s.faults) faults.push_back(FaultToJson(rule));
    json out{
        {"kind", std::string(DriveKindName(s.kind))},
        {"vendor", s.vendor},
        {"product", s.product},
        {"revision", s.revision},
        {"features", s.featureCodes},
        {"bufferKiB", s.bufferKiB},
        {"regionMask", s.regionMask},
        {"writesDvdPlusRDl", s.writesDvdPlusRDl},
        {"bookTypes", bookTypes},
        {"options", options},
        {"learnedDiscs", s.learnedDiscs},
        {"testWrite", s.testWrite},
        {"wopcDisabled", s.wopcDisabled},
        {"vendorMode", s.vendorMode},
        {"tray", s.trayOpen ? "open" : "closed"},
        {"disc", s.disc ? json{{"media", s.disc->media}, {"bookType", s.disc->bookType}} : json(nullptr)},
        {"pendingAttention", s.pendingAttention},
        {"readyAtMs", s.readyAtMs},
        {"becomingReady", s.becomingReadyCount},
        {"latencyMs", latency},
        {"faults", faults},
    };
    if (s.target) out["target"] = *s.target;
    // The read model, speed and damage appear only when they differ from a new drive's, so that
    // a file that never used them reads as before.
    if (s.readModel != FactoryState(s.kind).readModel)
        out["readModel"] = std::string(ReadSpeedModelName(s.readModel));
    if (s.readSpeedLimitKBps != 0) out["readSpeedKBps"] = s.readSpeedLimitKBps;
    if (s.interfaceKBps != FactoryState(s.kind).interfaceKBps) out["interfaceKBps"] = s.interfaceKBps;
    if (s.mediumLocked) out["mediumLocked"] = true;
    if (s.disc && s.disc->recordedSectors != 0) out["disc"]["recordedSectors"] = s.disc->recordedSectors;
    if (s.writeStrategy != WriteStrategy::Auto) out["writeStrategy"] = std::string(WriteStrategyName(s.writeStrategy));
    if (s.ignoresSimulation) out["ignoresSimulation"] = true;
    if (s.writeParameters != WriteParameters{})
        out["writeParameters"] = json{{"testWrite", s.writeParameters.testWrite},
                                      {"writeType", s.writeParameters.writeType},
                                      {"dataBlockType", s.writeParameters.dataBlockType}};
    if (s.writeSpeedLimitKBps != 0) out["writeSpeedKBps"] = s.writeSpeedLimitKBps;
    // Where a run of writes stands (writeDoneUs, writeNextLba) changes with every WRITE and is
    // no firmware setting: it stays out of the file, which would otherwise be rewritten (and
    // synced) once per request and slow the host down to below the disc's speed.
    if (s.discStopped) out["discStopped"] = true;
    if (!s.damage.empty()) {
        json damage = json::array();
        for (const DamagedSpot& spot : s.damage)
            damage.push_back(json{{"lba", spot.firstLba}, {"count", spot.count}});
        out["damage"] = damage;
    }
    return out;
}

// --- reading ---------------------------------------------------------------------------------

// Walks one JSON object: every key must be known, every value of the right type and range.
class ObjectReader final {
  public:
    ObjectReader(const json& value, std::string where) : m_value(value), m_where(std::move(where)) {
        if (!m_value.is_object()) Fail(m_where, "expected an object");
    }

    [[noreturn]] static void Fail(const std::string& where, const std::string& what) {
        throw FormatError(where.empty() ? what : where + ": " + what);
    }

    const json* Find(const char* key) {
        m_known.insert(key);
        auto it = m_value.find(key);
        return it == m_value.end() ? nullptr : &*it;
    }
    std::string Where(const std::string& key) const { return m_where.empty() ? key : m_where + "." + key; }

    template <typename T>
    void Number(const char* key, T& out, int64_t low, int64_t high) {
        if (const json* v = Find(key)) out = static_cast<T>(ReadNumber(*v, Where(key), low, high));
    }
    void Bool(const char* key, bool& out) {
        if (const json* v = Find(key)) {
            if (!v->is_boolean()) Fail(Where(key), "expected true or false");
            out = v->get<bool>();
        }
    }
    void String(const char* key, std::string& out) {
        if (const json* v = Find(key)) {
            if (!v->is_string()) Fail(Where(key), "expected a text");
            out = v->get<std::string>();
        }
    }
    // Call last: reports a key that nothing asked for (most likely a misspelling).
    void NoOtherKeys() const {
        for (auto it = m_value.begin(); it != m_value.end(); ++it) {
            if (!m_known.count(it.key())) Fail(Where(it.key()), "unknown key");
        }
    }

    static int64_t ReadNumber(const json& v, const std::string& where, int64_t low, int64_t high) {
        if (!v.is_number_integer()) Fail(where, "expected a whole number");
        const int64_t n = v.is_number_unsigned() && v.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)
                              ? INT64_MAX
                              : v.get<int64_t>();
        if (n < low || n > high) {
            Fail(where, "expected a number from " + std::to_string(low) + " to " + std::to_string(high));
        }
        return n;
    }

  private:
    const json& m_value;
    std::string m_where;
    std::set<std::string> m_known;
};

std::vector<uint8_t> ByteArray(const json& v, const std::string& where) {
    if (!v.is_array()) ObjectReader::Fail(where, "expected a list of numbers");
    std::vector<uint8_t> out;
    for (size_t i = 0; i < v.size(); ++i) {
        out.push_back(static_cast<uint8_t>(
            ObjectReader::ReadNumber(v[i], where + "[" + std::to_string(i) + "]", 0, 255)));
    }
    return out;
}

std::optional<uint8_t> OptionalByte(ObjectReader& r, const char* key) {
    const json* v = r.Find(key);
    if (!v || v->is_null()) return std::nullopt;
    return static_cast<uint8_t>(ObjectReader::ReadNumber(*v, r.Where(key), 0, 255));
}

FaultRule FaultFromJson(const json& v, const std::string& where) {
    ObjectReader r(v, where);
    FaultRule rule;
    if (!r.Find("opcode")) ObjectReader::Fail(r.Where("opcode"), "missing");
    r.Number("opcode", rule.opcode, 0, 255);
    rule.subCode = OptionalByte(r, "subCode");
    rule.function = OptionalByte(r, "function");
    if (const json* bytes = r.Find("bytes")) {
        if (!bytes->is_object()) ObjectReader::Fail(r.Where("bytes"), "expected an object of index: value");
        for (auto it = bytes->begin(); it != bytes->end(); ++it) {
            const std::string at = r.Where("bytes") + "." + it.key();
            char* end = nullptr;
            const long index = std::strtol(it.key().c_str(), &end, 10);
            if (it.key().empty() || *end != '\0' || index < 0 || index > 15) {
                ObjectReader::Fail(at, "a CDB byte index must be a number from 0 to 15");
            }
            rule.bytes[static_cast<uint8_t>(index)] =
                static_cast<uint8_t>(ObjectReader::ReadNumber(it.value(), at, 0, 255));
        }
    }
    r.Number("after", rule.after, 0, UINT32_MAX);
    r.Bool("once", rule.once);
    std::string action = std::string(FaultActionName(rule.action));
    r.String("action", action);
    const auto parsed = FaultActionFromName(action);
    if (!parsed)
        ObjectReader::Fail(r.Where("action"),
                           "expected check, timeout, busy, bad-answer, reply, applied-timeout, applied-check "
                           "or adapter-error");
    rule.action = *parsed;
    if (const json* sense = r.Find("sense")) {
        const std::vector<uint8_t> bytes = ByteArray(*sense, r.Where("sense"));
        if (bytes.size() != 3) ObjectReader::Fail(r.Where("sense"), "expected [key, ASC, ASCQ]");
        if (bytes[0] > 0x0F) ObjectReader::Fail(r.Where("sense"), "a sense key is a number from 0 to 15");
        rule.sense = SenseCode{bytes[0], bytes[1], bytes[2]};
    }
    r.Number("answerByte0", rule.answerByte0, 0, 255);
    if (const json* reply = r.Find("reply")) rule.reply = ByteArray(*reply, r.Where("reply"));
    r.Number("seen", rule.seen, 0, UINT32_MAX);
    r.Bool("spent", rule.spent);
    r.NoOtherKeys();
    return rule;
}

DriveState DriveFromJson(const json& v, const std::string& where) {
    ObjectReader r(v, where);
    std::string kindName = "maker";
    r.String("kind", kindName);
    const auto kind = DriveKindFromName(kindName);
    if (!kind) ObjectReader::Fail(r.Where("kind"), "expected maker, other-maker or old-firmware");
    DriveState s = FactoryState(*kind);
    if (r.Find("target")) {
        uint8_t target = 0;
        r.Number("target", target, 0, kTargetCount - 1);
        s.target = target;
    }
    r.String("vendor", s.vendor);
    r.String("product", s.product);
    r.String("revision", s.revision);
    if (const json* features = r.Find("features")) s.featureCodes = ByteArray(*features, r.Where("features"));
    r.Number("bufferKiB", s.bufferKiB, 0, 65535);
    r.Number("regionMask", s.regionMask, 0, 255);
    r.Bool("writesDvdPlusRDl", s.writesDvdPlusRDl);
    if (const json* books = r.Find("bookTypes")) {
        ObjectReader b(*books, r.Where("bookTypes"));
        for (size_t i = 0; i < s.bookTypes.size(); ++i) {
            b.Number(std::string(BookTypeRowName(static_cast<BookTypeRow>(i))).c_str(), s.bookTypes[i], 0,
                     255);
        }
        b.NoOtherKeys();
    }
    if (const json* options = r.Find("options")) {
        ObjectReader o(*options, r.Where("options"));
        for (size_t i = 0; i < s.options.size(); ++i) {
            const std::string name(OptionKindName(static_cast<OptionKind>(i)));
            if (const json* option = o.Find(name.c_str())) {
                ObjectReader one(*option, o.Where(name));
                one.Number("permanent", s.options[i].permanent, 0, 3);
                s.options[i].temporary = OptionalByte(one, "temporary");
                one.NoOtherKeys();
            }
        }
        o.NoOtherKeys();
    }
    if (const json* learned = r.Find("learnedDiscs")) {
        if (!learned->is_array()) ObjectReader::Fail(r.Where("learnedDiscs"), "expected a list of texts");
        s.learnedDiscs.clear();
        for (const json& id : *learned) {
            if (!id.is_string()) ObjectReader::Fail(r.Where("learnedDiscs"), "expected a list of texts");
            s.learnedDiscs.push_back(id.get<std::string>());
        }
    }
    r.Bool("testWrite", s.testWrite);
    r.Bool("wopcDisabled", s.wopcDisabled);
    r.Bool("vendorMode", s.vendorMode);
    std::string tray = "closed";
    r.String("tray", tray);
    if (tray != "open" && tray != "closed") ObjectReader::Fail(r.Where("tray"), "expected open or closed");
    s.trayOpen = tray == "open";
    if (const json* disc = r.Find("disc"); disc && !disc->is_null()) {
        ObjectReader d(*disc, r.Where("disc"));
        Disc loaded;
        d.String("media", loaded.media);
        const MediaInfo* media = FindMedia(loaded.media);
        if (!media) ObjectReader::Fail(d.Where("media"), "unknown media \"" + loaded.media + "\"");
        loaded.bookType = media->bookType;
        d.Number("bookType", loaded.bookType, 0, 255);
        d.Number("recordedSectors", loaded.recordedSectors, 0, media->endLba + 1);
        d.NoOtherKeys();
        s.disc = loaded;
    }
    r.Number("pendingAttention", s.pendingAttention, 0, 255);
    r.Number("readyAtMs", s.readyAtMs, 0, INT64_MAX);
    r.Number("becomingReady", s.becomingReadyCount, 0, UINT32_MAX);
    if (const json* latency = r.Find("latencyMs")) {
        ObjectReader l(*latency, r.Where("latencyMs"));
        for (size_t i = 0; i < s.latencyMs.size(); ++i) {
            l.Number(std::string(LatencyClassName(static_cast<LatencyClass>(i))).c_str(), s.latencyMs[i], 0,
                     kMaxLatencyMs);
        }
        l.NoOtherKeys();
    }
    if (const json* faults = r.Find("faults")) {
        if (!faults->is_array()) ObjectReader::Fail(r.Where("faults"), "expected a list");
        for (size_t i = 0; i < faults->size(); ++i) {
            s.faults.push_back(
                FaultFromJson((*faults)[i], r.Where("faults") + "[" + std::to_string(i) + "]"));
        }
    }
    std::string modelName(ReadSpeedModelName(s.readModel));
    r.String("readModel", modelName);
    const auto model = ReadSpeedModelFromName(modelName);
    if (!model) ObjectReader::Fail(r.Where("readModel"), "expected cav, p-cav, z-clv or clv");
    s.readModel = *model;
    r.Number("readSpeedKBps", s.readSpeedLimitKBps, 0, UINT32_MAX);
    r.Number("interfaceKBps", s.interfaceKBps, kMinInterfaceKBps, kMaxInterfaceKBps);
    r.Bool("mediumLocked", s.mediumLocked);
    r.Bool("discStopped", s.discStopped);
    std::string strategyName(WriteStrategyName(s.writeStrategy));
    r.String("writeStrategy", strategyName);
    const auto strategy = WriteStrategyFromName(strategyName);
    if (!strategy) ObjectReader::Fail(r.Where("writeStrategy"), "expected auto, clv, z-clv, p-cav, cav or marginal");
    s.writeStrategy = *strategy;
    r.Bool("ignoresSimulation", s.ignoresSimulation);
    if (const json* page = r.Find("writeParameters")) {
        ObjectReader w(*page, r.Where("writeParameters"));
        w.Bool("testWrite", s.writeParameters.testWrite);
        w.Number("writeType", s.writeParameters.writeType, 0, 3);
        w.Number("dataBlockType", s.writeParameters.dataBlockType, 0, 15);
        w.NoOtherKeys();
    }
    r.Number("writeSpeedKBps", s.writeSpeedLimitKBps, 0, UINT32_MAX);
    // Files written before the run's position stayed out of them may still carry it.
    r.Number("writeDoneUs", s.writeDoneUs, 0, INT64_MAX);
    r.Number("writeNextLba", s.writeNextLba, 0, UINT32_MAX);
    if (const json* damage = r.Find("damage")) {
        if (!damage->is_array()) ObjectReader::Fail(r.Where("damage"), "expected a list");
        for (size_t i = 0; i < damage->size(); ++i) {
            ObjectReader d((*damage)[i], r.Where("damage") + "[" + std::to_string(i) + "]");
            DamagedSpot spot;
            d.Number("lba", spot.firstLba, 0, UINT32_MAX);
            d.Number("count", spot.count, 1, UINT32_MAX);
            d.NoOtherKeys();
            s.damage.push_back(spot);
        }
    }
    r.NoOtherKeys();
    if (std::string problem = ValidateState(s); !problem.empty()) ObjectReader::Fail(where, problem);
    return s;
}

// The text that nlohmann puts before its parse messages ("[json.exception.parse_error.101] ").
std::string WithoutExceptionTag(const std::string& message) {
    if (!message.empty() && message[0] == '[') {
        const size_t end = message.find("] ");
        if (end != std::string::npos) return message.substr(end + 2);
    }
    return message;
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return ".";
}

}  // namespace

std::string DefaultStateFilePath() {
    // The XDG rules ignore a relative XDG_STATE_HOME.
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    const std::string base =
        (stateHome && stateHome[0] == '/') ? std::string(stateHome) : HomeDirectory() + "/.local/state";
    return base + "/dravix/vdrive.json";
}

std::string StateFilePath() {
    if (const char* path = std::getenv(kStateFileVariable); path && *path) return path;
    return DefaultStateFilePath();
}

std::string StateToText(const std::vector<DriveState>& drives) {
    json out{{"format", kFormatName}, {"version", kFormatVersion}, {"drives", json::array()}};
    for (const DriveState& drive : drives) out["drives"].push_back(DriveToJson(drive));
    return out.dump(2) + "\n";
}

Result<std::vector<DriveState>> StateFromText(const std::string& text) {
    try {
        const json root = json::parse(text);
        ObjectReader r(root, "");
        std::string format;
        r.String("format", format);
        if (format != kFormatName)
            ObjectReader::Fail("format", std::string("expected \"") + kFormatName + "\"");
        int version = 0;
        r.Number("version", version, 0, INT32_MAX);
        if (version != kFormatVersion) {
            ObjectReader::Fail("version", "this program reads version " + std::to_string(kFormatVersion));
        }
        const json* list = r.Find("drives");
        if (!list || !list->is_array()) ObjectReader::Fail("drives", "expected a list of drives");
        std::vector<DriveState> parsed;
        for (size_t i = 0; i < list->size(); ++i) {
            parsed.push_back(DriveFromJson((*list)[i], "drives[" + std::to_string(i) + "]"));
            for (size_t j = 0; j < i; ++j) {
                if (parsed[i].target && parsed[i].target == parsed[j].target) {
                    ObjectReader::Fail("drives[" + std::to_string(i) + "].target",
                                       "target " + std::to_string(*parsed[i].target) + " is drive " +
                                           std::to_string(j) + "'s already");
                }
            }
        }
        r.NoOtherKeys();
        return parsed;
    } catch (const json::parse_error& error) {
        return Error{"not valid JSON: " + WithoutExceptionTag(error.what())};
    } catch (const FormatError& error) {
        return Error{error.what()};
    } catch (const json::exception& error) {
        return Error{WithoutExceptionTag(error.what())};
    }
}

Result<std::optional<std::string>> ReadTextFile(const std::string& path) {
    // Without waiting: opening a FIFO for reading would block until someone writes to it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::optional<std::string>();
        return Error{"cannot open: " + Errno(errno)};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Error{"not a regular file"};
    }
    // A scenario takes a few kilobytes; anything this big is not one.
    constexpr off_t kLargestStateFile = 16 * 1024 * 1024;
    if (info.st_size > kLargestStateFile) {
        ::close(fd);
        return Error{"too large for a state file"};
    }
    std::string content;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return Error{"cannot read: " + Errno(error)};
        }
        if (n == 0) break;
        content.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return std::optional<std::string>(std::move(content));
}

namespace {

// The file a path ends at after its symbolic links: a state file that is a link is written
// through it, so the link stays.
std::filesystem::path WithoutLinks(const std::filesystem::path& path) {
    std::filesystem::path at = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(at, error))) return at;
        const std::filesystem::path target = std::filesystem::read_symlink(at, error);
        if (error) return at;
        at = target.is_absolute() ? target : at.parent_path() / target;
    }
    return at;
}

}  // namespace

Result<void> WriteTextFileAtomically(const std::string& path, const std::string& text) {
    const std::filesystem::path target = WithoutLinks(path);
    std::error_code ignored;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ignored);
    const FileResult written = WriteFileSafely(target.string(), text);
    if (written.Ok()) return {};
    return Error{written.problem == FileProblem::NotRegularFile ? written.detail
                                                                : "cannot write: " + written.detail};
}

StateFileLock::StateFileLock(const std::string& statePath) : m_path(statePath + ".lock") {}

StateFileLock::~StateFileLock() {
    if (m_fd >= 0) ::close(m_fd);
}

void StateFileLock::Acquire() {
    if (m_fd < 0) {
        std::error_code ignored;
        const std::filesystem::path lockPath(m_path);
        if (lockPath.has_parent_path()) std::filesystem::create_directories(lockPath.parent_path(), ignored);
        m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd < 0) return;
    }
    while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void StateFileLock::Release() {
    if (m_fd >= 0) ::flock(m_fd, LOCK_UN);
}

}  // namespace dravix::emu
