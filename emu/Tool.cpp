#include "emu/Tool.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "base/CommandLine.h"
#include "base/Result.h"
#include "base/SafeFile.h"
#include "base/Version.h"
#include "emu/Media.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace dravix::emu {

namespace {

using Examples = const char* const[];

constexpr CommandOption kGlobalOptions[] = {
    {"--file", "FILE",
     "the state file (default: $DRAVIX_VDRIVE_STATE, else $XDG_STATE_HOME/dravix/vdrive.json)",
     kCompleteFiles},
    {"--drive", "N", "the drive the command changes (default 0)"},
    {"-h, --help", "", "show the help (of the command, when one is given) and end"},
    {"--version", "", "show the version and end"},
};

constexpr CommandOption kInitOptions[] = {
    {"FILE", "", "the state file to create (default: as --file)", kCompleteFiles},
    {"--preset", "NAME", "demo (default), minimal or two-drives", "demo minimal two-drives"},
    {"--force", "", "replace a state file that cannot be read"},
};
constexpr CommandOption kAddDriveOptions[] = {
    {"KIND", "",
     "the kind: maker (the maker's drive), other-maker (refuses vendor mode) or old-firmware (a feature "
     "list without the signature)",
     "maker other-maker old-firmware"},
};
constexpr CommandOption kSetOptions[] = {
    {"booktype ROW BYTE", "", "the book type the drive writes on ROW media (dvd+rw, dvd+r, dvd+r-dl)",
     "booktype option testwrite wopc region buffer interface lock features learned read-model "
     "write-strategy ignores-simulation"},
    {"option OPTION STATE", "",
     "unknown-disc, supported-disc or overspeed: 0 to 3 (bit 1 on, bit 0 temporary)"},
    {"testwrite on|off", "", "the Test Write switch"},
    {"wopc on|off", "", "the Walking OPC switch"},
    {"region MASK", "", "the region mask (a hexadecimal byte)"},
    {"buffer KB", "", "the buffer size (the cache that a repeated read is answered from)"},
    {"interface KBPS", "",
     "how fast the cache's data goes to the computer, in kB/s (150 to 1000000; a new drive: 33000)"},
    {"lock on|off", "",
     "hold the disc in as another program would (PREVENT ALLOW MEDIUM REMOVAL): the tray refuses to open"},
    {"features CODE...", "", "the feature codes the drive announces"},
    {"learned ID...", "", "the learned discs (at most 20, 12 characters each)"},
    {"read-model cav|p-cav|z-clv|clv", "", "how the drive's read speed grows across the disc"},
    {"write-strategy auto|clv|z-clv|p-cav|cav|marginal", "",
     "how the drive writes a blank disc: auto by the medium and speed (CLV up to 4X DVD and 16X CD; faster "
     "z-clv on DVD+R DL, p-cav on DVD, cav on CD); marginal writes p-cav and halves its speed on the outer "
     "40 per cent"},
    {"ignores-simulation on|off", "",
     "a fault: the drive records although simulation (the Test Write bit or switch) is on"},
};
constexpr CommandOption kFaultOptions[] = {
    {"add OPCODE[:SUB[:FUNCTION]] ACTION", "",
     "a rule: commands that match it get ACTION instead of their answer",
     "add clear check timeout busy bad-answer reply applied-timeout applied-check adapter-error "
     "becoming-ready"},
    {"ACTION", "",
     "check KEY/ASC/ASCQ, timeout, busy, bad-answer [BYTE], reply HEXBYTES..., or applied-timeout or "
     "applied-check KEY/ASC/ASCQ (the command is carried out, then its status is lost or a failure), or "
     "adapter-error (the adapter fails the request, the drive gives no status)"},
    {"add becoming-ready N", "", "answer the next N TEST UNIT READYs with 02/04/01"},
    {"clear", "", "remove every fault of the drive"},
    {"--after", "N", "only after N matching commands"},
    {"--once", "", "only once"},
    {"--always", "", "every time (the default)"},
    {"--byte", "I=V", "CDB byte I must be V (hexadecimal); may be given more than once"},
};
constexpr CommandOption kLatencyOptions[] = {
    {"CLASS MS", "",
     "how long commands of CLASS take, at most 120000 ms: command, tray (the tray opening or closing), "
     "vendor, tefe, spinup (a disc coming up to speed after a load, a start or a read of a stopped "
     "disc), spindown (a disc stopping)",
     "command tray vendor tefe spinup spindown"},
};

constexpr Examples kInitExamples = {"dravix-vdrive init", "dravix-vdrive init --preset two-drives --force"};
constexpr Examples kShowExamples = {"dravix-vdrive show"};
constexpr Examples kMediaExamples = {"dravix-vdrive media"};
constexpr Examples kInsertExamples = {"dravix-vdrive insert dvd+r-marginal",
                                      "dravix-vdrive --drive 1 insert cd-r"};
constexpr Examples kRemoveExamples = {"dravix-vdrive remove"};
constexpr Examples kEjectExamples = {"dravix-vdrive eject"};
constexpr Examples kLoadExamples = {"dravix-vdrive load"};
constexpr Examples kRestartExamples = {"dravix-vdrive restart"};
constexpr Examples kAddDriveExamples = {"dravix-vdrive add-drive other-maker"};
constexpr Examples kRemoveDriveExamples = {"dravix-vdrive --drive 1 remove-drive"};
constexpr Examples kSetExamples = {"dravix-vdrive set testwrite on", "dravix-vdrive set features 1 2 3 5 6 7",
                                   "dravix-vdrive set interface 66000", "dravix-vdrive set lock on"};
constexpr Examples kFaultExamples = {
    "dravix-vdrive fault add --after 10 --once fd:fb:05 --byte 11=00 check 02/3A/00",
    "dravix-vdrive fault add becoming-ready 5", "dravix-vdrive fault clear"};
constexpr Examples kLatencyExamples = {"dravix-vdrive latency tefe 150",
                                       "dravix-vdrive latency spindown 900"};
constexpr CommandOption kDamageOptions[] = {
    {"LBA [COUNT]", "", "make COUNT sectors (default 1) from LBA unreadable (MEDIUM ERROR 03/11/00)",
     "clear"},
    {"clear", "", "make every sector readable again"},
};
constexpr Examples kDamageExamples = {"dravix-vdrive damage 120000 16", "dravix-vdrive damage clear"};
constexpr CommandOption kImageOptions[] = {
    {"MEDIA FILE", "", "a recorded medium that 'media' lists, and the file to write its data to",
     kCompleteFiles},
};
constexpr Examples kImageExamples = {"dravix-vdrive image dvd-rom disc.iso"};

constexpr ExitStatusSpec kExitStatuses[] = {
    {kToolOk, "done"},
    {kToolBadFile,
     "the state file is missing, unreadable, malformed or not writable, or standard output could not be "
     "written"},
    {kToolUsage, "usage error"},
};

std::optional<uint64_t> ParseDecimal(std::string_view text, uint64_t max) {
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > max)
        return std::nullopt;
    return value;
}

// "A1", "a1h", "0xA1": one byte in hexadecimal.
std::optional<uint8_t> ParseHexByte(std::string_view text) {
    if (text.size() > 2 && (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")) text.remove_prefix(2);
    if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) text.remove_suffix(1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || text.size() > 2 || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<uint8_t>(value);
}

Result<uint8_t> HexByte(std::string_view text, const std::string& what) {
    const auto value = ParseHexByte(text);
    if (!value) return Error{what + " must be a byte in hexadecimal, not \"" + std::string(text) + "\""};
    return *value;
}

Result<uint64_t> Decimal(std::string_view text, uint64_t max, const std::string& what) {
    const auto value = ParseDecimal(text, max);
    if (!value) {
        return Error{what + " must be a number from 0 to " + std::to_string(max) + ", not \"" +
                     std::string(text) + "\""};
    }
    return *value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) return parts;
        start = at + 1;
    }
}

std::string Hex(uint8_t value) {
    std::ostringstream text;
    text << std::uppercase << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(value)
         << 'h';
    return text.str();
}

std::string SenseText(const SenseCode& sense) {
    std::ostringstream text;
    text << std::uppercase << std::hex << std::setfill('0') << std::setw(2)
         << static_cast<unsigned>(sense.key) << '/' << std::setw(2) << static_cast<unsigned>(sense.asc) << '/'
         << std::setw(2) << static_cast<unsigned>(sense.ascq);
    return text.str();
}

std::string OptionText(const OptionSetting& option) {
    auto word = [](uint8_t state) { return (state & 0x02) ? "on" : "off"; };
    std::string text = std::string(word(option.permanent)) + " (" + std::to_string(option.permanent) + ")";
    if (option.temporary) {
        text += ", until restart " + std::string(word(*option.temporary)) + " (" +
                std::to_string(*option.temporary) + ")";
    }
    return text;
}

std::string FaultText(const FaultRule& rule) {
    std::string text = Hex(rule.opcode);
    if (rule.subCode) text += ":" + Hex(*rule.subCode);
    if (rule.function) text += (rule.subCode ? ":" : ":*:") + Hex(*rule.function);
    for (const auto& [index, value] : rule.bytes) text += " byte " + std::to_string(index) + "=" + Hex(value);
    text += rule.after ? ", after " + std::to_string(rule.after) : std::string();
    text += rule.once ? ", once: " : ", always: ";
    text += FaultActionName(rule.action);
    if (rule.action == FaultRule::Action::CheckCondition || rule.action == FaultRule::Action::AppliedCheck)
        text += " " + SenseText(rule.sense);
    if (rule.action == FaultRule::Action::BadAnswer) text += " " + Hex(rule.answerByte0);
    if (rule.action == FaultRule::Action::Reply) {
        for (uint8_t byte : rule.reply) text += " " + Hex(byte).substr(0, 2);
    }
    text += " (matched " + std::to_string(rule.seen) + (rule.spent ? ", spent)" : ")");
    return text;
}

// Where the drive answers on the virtual host adapter.
std::string TargetText(const DriveState& s) {
    return s.target ? "target " + std::to_string(*s.target) : std::string("no target");
}

void Describe(std::ostream& out, size_t index, const DriveState& s) {
    out << "Drive " << index << " (" << TargetText(s) << "): \"" << s.vendor << "\" \"" << s.product
        << "\" \"" << s.revision << "\" (" << DriveKindName(s.kind) << ")\n";
    out << "  tray: " << (s.trayOpen ? "open" : "closed") << ", disc: ";
    if (s.disc) {
        const MediaInfo* media = FindMedia(s.disc->media);
        out << s.disc->media << " (" << (media ? media->description : "?") << ")";
        if (media && media->family == MediaFamily::DvdPlusRw && !media->blank)
            out << ", book type " << Hex(s.disc->bookType);
    } else {
        out << "none";
    }
    out << "\n  features:";
    for (uint8_t code : s.featureCodes) out << ' ' << static_cast<unsigned>(code);
    out << "\n  vendor mode: " << (s.vendorMode ? "on" : "off")
        << ", writes DVD+R DL: " << (s.writesDvdPlusRDl ? "yes" : "no") << "\n  book types: DVD+RW "
        << Hex(s.bookTypes[0]) << ", DVD+R " << Hex(s.bookTypes[1]) << ", DVD+R DL " << Hex(s.bookTypes[2])
        << "\n";
    for (size_t i = 0; i < s.options.size(); ++i) {
        out << "  " << OptionKindName(static_cast<OptionKind>(i)) << ": " << OptionText(s.options[i]) << "\n";
    }
    out << "  Test Write: " << (s.testWrite ? "on" : "off")
        << ", WOPC: " << (s.wopcDisabled ? "disabled" : "enabled") << "\n  region mask: " << Hex(s.regionMask)
        << ", buffer: " << s.bufferKiB << " KB, interface: " << s.interfaceKBps
        << " kB/s\n  medium lock: " << (s.mediumLocked ? "on" : "off")
        << ", disc: " << (s.discStopped ? "stopped" : "spinning") << "\n  learned discs ("
        << s.learnedDiscs.size() << "):";
    for (const std::string& id : s.learnedDiscs) out << " \"" << id << "\"";
    out << "\n  latency (ms):";
    for (size_t i = 0; i < s.latencyMs.size(); ++i) {
        out << ' ' << LatencyClassName(static_cast<LatencyClass>(i)) << ' ' << s.latencyMs[i];
    }
    out << "\n  write strategy: " << WriteStrategyName(s.writeStrategy)
        << (s.ignoresSimulation ? " (ignores simulation)" : "")
        << ", Test Write bit of the write parameters: " << (s.writeParameters.testWrite ? "on" : "off");
    if (s.disc && s.disc->recordedSectors) out << "\n  recorded sectors: " << s.disc->recordedSectors;
    out << "\n  read model: " << ReadSpeedModelName(s.readModel) << ", read speed: ";
    if (s.readSpeedLimitKBps) {
        out << s.readSpeedLimitKBps << " kB/s";
    } else {
        out << "max";
    }
    out << "\n  damaged sectors:";
    if (s.damage.empty()) out << " none";
    for (const DamagedSpot& spot : s.damage) {
        out << ' ' << spot.firstLba;
        if (spot.count > 1) out << '-' << static_cast<uint64_t>(spot.firstLba) + spot.count - 1;
    }
    out << "\n";
    if (s.becomingReadyCount)
        out << "  becoming ready for " << s.becomingReadyCount << " more TEST UNIT READY\n";
    if (s.faults.empty()) out << "  faults: none\n";
    for (size_t i = 0; i < s.faults.size(); ++i)
        out << "  fault " << i << ": " << FaultText(s.faults[i]) << "\n";
}

// One run of the tool: where its texts go, and the state file and drive its command works on.
// Each command returns its exit status through Usage, FileFailure or Finish.
class ToolContext final {
  public:
    ToolContext(const ProgramSpec& program, const CommandSpec* command, std::ostream& out, std::ostream& err)
        : m_program(program), m_command(command), m_out(out), m_err(err) {}

    std::ostream& Out() { return m_out; }
    const ProgramSpec& Program() const { return m_program; }

    // A mistake in the command line: exit status 2, with the pointer to the command's help.
    int Usage(const std::string& problem) {
        m_err << "dravix-vdrive: " << UsageProblem(m_program, m_command, problem) << "\n";
        return kToolUsage;
    }
    template <typename T>
    int Usage(const Result<T>& failed) {
        return Usage(failed.Failure().text);
    }
    // A state file (or an image file) that cannot be used: exit status 1.
    int FileFailure(const std::string& message) {
        m_err << "dravix-vdrive: " << message << "\n";
        return kToolBadFile;
    }
    template <typename T>
    int FileFailure(const Result<T>& failed) {
        return FileFailure(failed.Failure().text);
    }

    void SetFile(std::string file) { m_file = std::move(file); }
    // The file given with --file; empty for the default.
    const std::string& GivenFile() const { return m_file; }
    std::string FilePath() const { return m_file.empty() ? StateFilePath() : m_file; }
    void SetDrive(size_t drive) { m_drive = drive; }
    size_t DriveIndex() const { return m_drive; }

    Result<std::unique_ptr<Scenario>> OpenFile() const { return Scenario::Open(FilePath()); }

    // The drive --drive names; a usage error when the file has no such drive.
    Result<VirtualDrive*> SelectedDrive(Scenario& scenario) {
        const size_t count = scenario.DriveCount();
        if (m_drive >= count) {
            return Error{"there is no drive " + std::to_string(m_drive) + " (" + FilePath() + " has " +
                         std::to_string(count) + ")"};
        }
        return &scenario.Drive(m_drive);
    }

    // The status of a command that changed the file: 1 when the change could not be written.
    int Finish(Scenario& scenario) {
        if (std::string error = scenario.LastError(); !error.empty()) return FileFailure(error);
        return kToolOk;
    }

    // Opens the file, makes the change to the selected drive and writes the file.
    int ChangeDrive(const std::function<void(VirtualDrive&)>& change) {
        Result<std::unique_ptr<Scenario>> opened = OpenFile();
        if (!opened) return FileFailure(opened);
        Scenario& scenario = *opened.Value();
        const Result<VirtualDrive*> drive = SelectedDrive(scenario);
        if (!drive) return Usage(drive);
        change(**drive);
        return Finish(scenario);
    }

  private:
    const ProgramSpec& m_program;
    const CommandSpec* m_command;
    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_file;
    size_t m_drive = 0;
};

Result<void> ExpectCount(const std::vector<std::string>& args, size_t count, const std::string& synopsis) {
    if (args.size() != count) return Error{"usage: dravix-vdrive " + synopsis};
    return {};
}

Result<bool> OnOff(const std::string& text, const std::string& what) {
    if (text == "on") return true;
    if (text == "off") return false;
    return Error{what + " must be on or off"};
}

int RunInit(ToolContext& context, const ParsedLine& line) {
    Preset preset = Preset::Demo;
    const bool force = line.Has("--force");
    std::string file = context.GivenFile();
    if (const std::optional<std::string> name = line.Value("--preset")) {
        const auto chosen = PresetFromName(*name);
        if (!chosen) return context.Usage("unknown preset \"" + *name + "\" (demo, minimal, two-drives)");
        preset = *chosen;
    }
    if (line.words.size() > 1) return context.Usage("init takes one FILE");
    if (!line.words.empty()) file = line.words[0];
    if (file.empty()) file = StateFilePath();
    std::error_code ignored;
    if (!force && std::filesystem::exists(file, ignored)) {
        // Replacing a good file is what init is for; a damaged one may hold work worth repairing.
        if (const Result<std::unique_ptr<Scenario>> opened = Scenario::Open(file); !opened)
            return context.FileFailure(opened.Failure().text + " (not replaced; use --force to replace it)");
    }
    Scenario scenario(preset);
    if (const Result<void> written = scenario.BindToFile(file); !written) return context.FileFailure(written);
    context.Out() << "Created " << file << " with " << scenario.DriveCount() << " drive(s).\n";
    return kToolOk;
}

int RunMedia(ToolContext& context, const ParsedLine& line) {
    if (const Result<void> counted = ExpectCount(line.words, 0, "media"); !counted)
        return context.Usage(counted);
    // The names in one column, two spaces wider than the longest, so no name runs into its text.
    size_t width = 0;
    for (const MediaInfo& media : MediaCatalogue()) width = std::max(width, std::string(media.name).size());
    for (const MediaInfo& media : MediaCatalogue()) {
        context.Out() << std::left << std::setw(static_cast<int>(width + 2)) << media.name
                      << media.description << "\n";
    }
    return kToolOk;
}

int RunShow(ToolContext& context, const ParsedLine& line) {
    if (const Result<void> counted = ExpectCount(line.words, 0, "show"); !counted)
        return context.Usage(counted);
    Result<std::unique_ptr<Scenario>> opened = context.OpenFile();
    if (!opened) return context.FileFailure(opened);
    Scenario& scenario = *opened.Value();
    const std::vector<DriveState> states = scenario.States();
    context.Out() << "State file: " << scenario.Path() << "\n";
    for (size_t i = 0; i < states.size(); ++i) Describe(context.Out(), i, states[i]);
    if (states.empty()) context.Out() << "No drives.\n";
    return kToolOk;
}

int RunInsert(ToolContext& context, const ParsedLine& line) {
    const std::vector<std::string>& args = line.words;
    if (const Result<void> counted = ExpectCount(args, 1, "insert MEDIA"); !counted)
        return context.Usage(counted);
    if (!FindMedia(args[0]))
        return context.Usage("unknown media \"" + args[0] + "\"; dravix-vdrive media lists them");
    return context.ChangeDrive([&](VirtualDrive& d) { d.Insert(args[0]); });
}

// A command without arguments that makes one change to the drive.
template <void (VirtualDrive::*kAction)()>
int RunPlain(ToolContext& context, const ParsedLine& line) {
    if (const Result<void> counted = ExpectCount(line.words, 0, line.command->name); !counted)
        return context.Usage(counted);
    return context.ChangeDrive([](VirtualDrive& d) { (d.*kAction)(); });
}

int RunAddDrive(ToolContext& context, const ParsedLine& line) {
    const std::vector<std::string>& args = line.words;
    if (const Result<void> counted = ExpectCount(args, 1, "add-drive maker|other-maker|old-firmware");
        !counted)
        return context.Usage(counted);
    const auto kind = DriveKindFromName(args[0]);
    if (!kind)
        return context.Usage("unknown drive kind \"" + args[0] + "\" (maker, other-maker, old-firmware)");
    Result<std::unique_ptr<Scenario>> opened = context.OpenFile();
    if (!opened) return context.FileFailure(opened);
    Scenario& scenario = *opened.Value();
    if (scenario.DriveCount() >= kTargetCount) {
        return context.Usage("the virtual host adapter has " + std::to_string(kTargetCount) +
                             " targets, and every one has a drive");
    }
    const VirtualDrive& added = scenario.AddDrive(*kind);
    context.Out() << "Added drive " << scenario.DriveCount() - 1 << " (" << TargetText(added.State())
                  << ").\n";
    return context.Finish(scenario);
}

int RunRemoveDrive(ToolContext& context, const ParsedLine& line) {
    if (const Result<void> counted = ExpectCount(line.words, 0, "[--drive N] remove-drive"); !counted)
        return context.Usage(counted);
    Result<std::unique_ptr<Scenario>> opened = context.OpenFile();
    if (!opened) return context.FileFailure(opened);
    Scenario& scenario = *opened.Value();
    // Names the file's drive count when there is no such drive.
    const Result<VirtualDrive*> drive = context.SelectedDrive(scenario);
    if (!drive) return context.Usage(drive);
    const std::string target = TargetText((*drive)->State());
    scenario.RemoveDrive(context.DriveIndex());
    context.Out() << "Removed drive " << context.DriveIndex() << " (" << target
                  << "); the drives after it move up in the list and keep their targets.\n";
    return context.Finish(scenario);
}

using DriveChange = std::function<void(VirtualDrive&)>;

// The change "set SETTING VALUE..." makes.
Result<DriveChange> SettingChange(const std::vector<std::string>& args) {
    if (args.empty()) return Error{"usage: dravix-vdrive set SETTING VALUE..."};
    const std::string& what = args[0];
    auto count = [&](size_t expected, const std::string& synopsis) {
        return ExpectCount(args, expected, synopsis);
    };
    if (what == "booktype") {
        if (const Result<void> counted = count(3, "set booktype dvd+rw|dvd+r|dvd+r-dl BYTE"); !counted)
            return counted.Failure();
        std::optional<BookTypeRow> row;
        for (BookTypeRow r : {BookTypeRow::PlusRw, BookTypeRow::PlusR, BookTypeRow::PlusRDl}) {
            if (BookTypeRowName(r) == args[1]) row = r;
        }
        if (!row) return Error{"the book type row is dvd+rw, dvd+r or dvd+r-dl"};
        const Result<uint8_t> value = HexByte(args[2], "the book type");
        if (!value) return value.Failure();
        return DriveChange([row = *row, value = *value](VirtualDrive& d) { d.SetBookType(row, value); });
    }
    if (what == "option") {
        if (const Result<void> counted = count(3, "set option unknown-disc|supported-disc|overspeed STATE");
            !counted)
            return counted.Failure();
        std::optional<OptionKind> option;
        for (OptionKind o : {OptionKind::UnknownDisc, OptionKind::SupportedDisc, OptionKind::OverSpeed}) {
            if (OptionKindName(o) == args[1]) option = o;
        }
        if (!option) return Error{"the option is unknown-disc, supported-disc or overspeed"};
        const Result<uint64_t> state = Decimal(args[2], 3, "the option state");
        if (!state) return state.Failure();
        return DriveChange([option = *option, state = static_cast<uint8_t>(*state)](VirtualDrive& d) {
            d.SetOption(option, state);
        });
    }
    if (what == "testwrite" || what == "wopc") {
        const bool testWrite = what == "testwrite";
        if (const Result<void> counted = count(2, testWrite ? "set testwrite on|off" : "set wopc on|off");
            !counted)
            return counted.Failure();
        const Result<bool> on = OnOff(args[1], testWrite ? "Test Write" : "WOPC");
        if (!on) return on.Failure();
        if (testWrite) return DriveChange([on = *on](VirtualDrive& d) { d.SetTestWrite(on); });
        return DriveChange([on = *on](VirtualDrive& d) { d.SetWopcDisabled(!on); });
    }
    if (what == "region") {
        if (const Result<void> counted = count(2, "set region MASK"); !counted) return counted.Failure();
        const Result<uint8_t> mask = HexByte(args[1], "the region mask");
        if (!mask) return mask.Failure();
        return DriveChange([mask = *mask](VirtualDrive& d) { d.SetRegionMask(mask); });
    }
    if (what == "buffer") {
        if (const Result<void> counted = count(2, "set buffer KB"); !counted) return counted.Failure();
        const Result<uint64_t> kib = Decimal(args[1], 65535, "the buffer size");
        if (!kib) return kib.Failure();
        return DriveChange([kib = static_cast<uint16_t>(*kib)](VirtualDrive& d) { d.SetBufferKiB(kib); });
    }
    if (what == "interface") {
        if (const Result<void> counted = count(2, "set interface KBPS"); !counted) return counted.Failure();
        const Result<uint64_t> kbps = Decimal(args[1], kMaxInterfaceKBps, "the interface rate in kB/s");
        if (!kbps) return kbps.Failure();
        if (*kbps < kMinInterfaceKBps) return Error{"the interface rate is at least 150 kB/s"};
        return DriveChange(
            [kbps = static_cast<uint32_t>(*kbps)](VirtualDrive& d) { d.SetInterfaceKBps(kbps); });
    }
    if (what == "lock") {
        if (const Result<void> counted = count(2, "set lock on|off"); !counted) return counted.Failure();
        const Result<bool> on = OnOff(args[1], "the medium lock");
        if (!on) return on.Failure();
        return DriveChange([on = *on](VirtualDrive& d) { d.SetMediumLocked(on); });
    }
    if (what == "read-model") {
        if (const Result<void> counted = count(2, "set read-model cav|p-cav|z-clv|clv"); !counted)
            return counted.Failure();
        const auto model = ReadSpeedModelFromName(args[1]);
        if (!model) return Error{"the read model is cav, p-cav, z-clv or clv"};
        return DriveChange([model = *model](VirtualDrive& d) { d.SetReadModel(model); });
    }
    if (what == "write-strategy") {
        if (const Result<void> counted = count(2, "set write-strategy auto|clv|z-clv|p-cav|cav|marginal");
            !counted)
            return counted.Failure();
        const auto strategy = WriteStrategyFromName(args[1]);
        if (!strategy) return Error{"the write strategy is auto, clv, z-clv, p-cav, cav or marginal"};
        return DriveChange([strategy = *strategy](VirtualDrive& d) {
            d.Update([strategy](DriveState& s) { s.writeStrategy = strategy; });
        });
    }
    if (what == "ignores-simulation") {
        if (const Result<void> counted = count(2, "set ignores-simulation on|off"); !counted)
            return counted.Failure();
        const Result<bool> on = OnOff(args[1], "the simulation fault");
        if (!on) return on.Failure();
        return DriveChange([on = *on](VirtualDrive& d) {
            d.Update([on](DriveState& s) { s.ignoresSimulation = on; });
        });
    }
    if (what == "features") {
        if (args.size() - 1 > kMaxFeatureCodes) return Error{"the drive announces at most 64 feature codes"};
        std::vector<uint8_t> codes;
        for (size_t i = 1; i < args.size(); ++i) {
            const Result<uint64_t> code = Decimal(args[i], 255, "a feature code");
            if (!code) return code.Failure();
            codes.push_back(static_cast<uint8_t>(*code));
        }
        return DriveChange([codes](VirtualDrive& d) { d.SetFeatureCodes(codes); });
    }
    if (what == "learned") {
        std::vector<std::string> ids(args.begin() + 1, args.end());
        if (ids.size() > kMaxLearnedDiscs) return Error{"the drive keeps at most 20 learned discs"};
        for (const std::string& id : ids) {
            if (id.size() > kLearnedIdLength) return Error{"a learned disc id has at most 12 characters"};
        }
        return DriveChange([ids](VirtualDrive& d) { d.SetLearnedDiscs(ids); });
    }
    return Error{"unknown setting \"" + what + "\""};
}

int RunSet(ToolContext& context, const ParsedLine& line) {
    const Result<DriveChange> change = SettingChange(line.words);
    if (!change) return context.Usage(change);
    return context.ChangeDrive(*change);
}

// The sense of a check or applied-check action: KEY/ASC/ASCQ in hexadecimal.
Result<SenseCode> FaultSense(const FaultRule& rule, const std::vector<std::string>& values) {
    const auto parts = values.size() == 1 ? Split(values[0], '/') : std::vector<std::string_view>{};
    if (parts.size() != 3) {
        return Error{std::string(FaultActionName(rule.action)) +
                     " takes KEY/ASC/ASCQ in hexadecimal, as in 02/3A/00"};
    }
    const Result<uint8_t> key = HexByte(parts[0], "the sense key");
    if (!key) return key.Failure();
    const Result<uint8_t> asc = HexByte(parts[1], "the ASC");
    if (!asc) return asc.Failure();
    const Result<uint8_t> ascq = HexByte(parts[2], "the ASCQ");
    if (!ascq) return ascq.Failure();
    if (*key > 0x0F) return Error{"the sense key is 0 to F"};
    return SenseCode{*key, *asc, *ascq};
}

// The bytes of a reply action: "07 00 00", "070000" or "0x07".
Result<std::vector<uint8_t>> ReplyBytes(const std::vector<std::string>& values) {
    std::vector<uint8_t> reply;
    for (std::string_view value : values) {
        if (value.size() > 2 && (value.substr(0, 2) == "0x" || value.substr(0, 2) == "0X"))
            value.remove_prefix(2);
        if (value.size() % 2 != 0) return Error{"reply takes hexadecimal bytes, as in 07 00 00"};
        for (size_t at = 0; at < value.size(); at += 2) {
            const Result<uint8_t> byte = HexByte(value.substr(at, 2), "a reply byte");
            if (!byte) return byte.Failure();
            reply.push_back(*byte);
        }
    }
    return reply;
}

// The rule of "fault add": `words` without "add".
Result<FaultRule> ParseFaultRule(const ParsedLine& line, const std::vector<std::string>& words) {
    FaultRule rule;
    if (line.Has("--once") && line.Has("--always")) return Error{"a fault is --once or --always"};
    if (line.Has("--once")) rule.once = true;
    if (line.Has("--always")) rule.once = false;
    if (const std::optional<std::string> after = line.Value("--after")) {
        const Result<uint64_t> count = Decimal(*after, UINT32_MAX, "--after");
        if (!count) return count.Failure();
        rule.after = static_cast<uint32_t>(*count);
    }
    for (const std::string& value : line.Values("--byte")) {
        const auto parts = Split(value, '=');
        if (parts.size() != 2) return Error{"--byte takes INDEX=VALUE, as in 11=03"};
        const Result<uint64_t> index = Decimal(parts[0], 15, "the CDB byte index");
        if (!index) return index.Failure();
        const Result<uint8_t> byte = HexByte(parts[1], "the CDB byte value");
        if (!byte) return byte.Failure();
        rule.bytes[static_cast<uint8_t>(*index)] = *byte;
    }
    if (words.size() < 2)
        return Error{"usage: dravix-vdrive fault add [OPTIONS] OPCODE[:SUB[:FUNCTION]] ACTION"};
    const auto match = Split(words[0], ':');
    if (match.size() > 3) return Error{"the command is OPCODE[:SUB[:FUNCTION]]"};
    const Result<uint8_t> opcode = HexByte(match[0], "the operation code");
    if (!opcode) return opcode.Failure();
    rule.opcode = *opcode;
    if (match.size() > 1 && match[1] != "*") {
        const Result<uint8_t> subCode = HexByte(match[1], "the sub-code");
        if (!subCode) return subCode.Failure();
        rule.subCode = *subCode;
    }
    if (match.size() > 2) {
        const Result<uint8_t> function = HexByte(match[2], "the function");
        if (!function) return function.Failure();
        rule.function = *function;
    }

    const auto action = FaultActionFromName(words[1]);
    if (!action) {
        return Error{"unknown fault action \"" + words[1] +
                     "\" (check, timeout, busy, bad-answer, reply, applied-timeout, applied-check, "
                     "adapter-error)"};
    }
    rule.action = *action;
    const std::vector<std::string> values(words.begin() + 2, words.end());
    switch (rule.action) {
        case FaultRule::Action::CheckCondition:
        case FaultRule::Action::AppliedCheck: {
            const Result<SenseCode> sense = FaultSense(rule, values);
            if (!sense) return sense.Failure();
            rule.sense = *sense;
            break;
        }
        case FaultRule::Action::HostTimeout:
        case FaultRule::Action::Busy:
        case FaultRule::Action::AppliedTimeout:
        case FaultRule::Action::AdapterError:
            if (!values.empty()) return Error{std::string(FaultActionName(rule.action)) + " takes no value"};
            break;
        case FaultRule::Action::BadAnswer:
            if (values.size() > 1) return Error{"bad-answer takes at most one byte"};
            if (!values.empty()) {
                const Result<uint8_t> byte = HexByte(values[0], "the answer's byte 0");
                if (!byte) return byte.Failure();
                rule.answerByte0 = *byte;
            }
            break;
        case FaultRule::Action::Reply: {
            Result<std::vector<uint8_t>> reply = ReplyBytes(values);
            if (!reply) return reply.Failure();
            rule.reply = std::move(reply).Value();
            break;
        }
    }
    return rule;
}

int RunFault(ToolContext& context, const ParsedLine& line) {
    const std::vector<std::string>& args = line.words;
    if (args.empty()) return context.Usage("usage: dravix-vdrive fault add ... | fault clear");
    const bool options =
        line.Has("--once") || line.Has("--always") || line.Has("--after") || line.Has("--byte");
    if (args[0] != "add" && options)
        return context.Usage("only fault add takes --after, --once, --always, --byte");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "clear") {
        if (const Result<void> counted = ExpectCount(rest, 0, "fault clear"); !counted)
            return context.Usage(counted);
        return context.ChangeDrive([](VirtualDrive& d) { d.ClearFaults(); });
    }
    if (args[0] != "add") return context.Usage("fault takes add or clear");
    if (!rest.empty() && rest[0] == "becoming-ready") {
        if (options) return context.Usage("fault add becoming-ready takes no options");
        if (const Result<void> counted = ExpectCount(rest, 2, "fault add becoming-ready N"); !counted)
            return context.Usage(counted);
        const Result<uint64_t> count = Decimal(rest[1], UINT32_MAX, "the number of TEST UNIT READYs");
        if (!count) return context.Usage(count);
        return context.ChangeDrive(
            [count = static_cast<uint32_t>(*count)](VirtualDrive& d) { d.SetBecomingReady(count); });
    }
    const Result<FaultRule> rule = ParseFaultRule(line, rest);
    if (!rule) return context.Usage(rule);
    return context.ChangeDrive([&](VirtualDrive& d) { d.AddFault(*rule); });
}

int RunLatency(ToolContext& context, const ParsedLine& line) {
    const std::vector<std::string>& args = line.words;
    if (const Result<void> counted =
            ExpectCount(args, 2, "latency command|tray|vendor|tefe|spinup|spindown MS");
        !counted)
        return context.Usage(counted);
    const auto latencyClass = LatencyClassFromName(args[0]);
    if (!latencyClass)
        return context.Usage("unknown latency class \"" + args[0] +
                             "\" (command, tray, vendor, tefe, spinup, spindown)");
    const Result<uint64_t> ms = Decimal(args[1], kMaxLatencyMs, "the latency in milliseconds");
    if (!ms) return context.Usage(ms);
    return context.ChangeDrive([latencyClass = *latencyClass, ms = static_cast<uint32_t>(*ms)](
                                   VirtualDrive& d) { d.SetLatency(latencyClass, ms); });
}

int RunDamage(ToolContext& context, const ParsedLine& line) {
    const std::vector<std::string>& args = line.words;
    if (args.size() == 1 && args[0] == "clear")
        return context.ChangeDrive([](VirtualDrive& d) { d.ClearDamage(); });
    if (args.empty() || args.size() > 2)
        return context.Usage("usage: dravix-vdrive damage LBA [COUNT] | damage clear");
    const Result<uint64_t> lba = Decimal(args[0], UINT32_MAX, "the LBA");
    if (!lba) return context.Usage(lba);
    const Result<uint64_t> count =
        args.size() == 2 ? Decimal(args[1], UINT32_MAX, "the sector count") : Result<uint64_t>(uint64_t{1});
    if (!count) return context.Usage(count);
    if (*count == 0) return context.Usage("a damaged spot holds at least one sector");
    if (*lba > UINT32_MAX - (*count - 1)) return context.Usage("the damaged spot ends beyond LBA 4294967295");
    Result<std::unique_ptr<Scenario>> opened = context.OpenFile();
    if (!opened) return context.FileFailure(opened);
    Scenario& scenario = *opened.Value();
    const Result<VirtualDrive*> drive = context.SelectedDrive(scenario);
    if (!drive) return context.Usage(drive);
    if ((*drive)->State().damage.size() >= kMaxDamagedSpots)
        return context.Usage("the drive keeps at most 256 damaged spots");
    (*drive)->AddDamage(DamagedSpot{static_cast<uint32_t>(*lba), static_cast<uint32_t>(*count)});
    return context.Finish(scenario);
}

// The data of a recorded disc as an image file: what a verify of that disc should find.
int RunImage(ToolContext& context, const ParsedLine& line) {
    const std::vector<std::string>& args = line.words;
    if (const Result<void> counted = ExpectCount(args, 2, "image MEDIA FILE"); !counted)
        return context.Usage(counted);
    const MediaInfo* media = FindMedia(args[0]);
    if (!media) return context.Usage("unknown media \"" + args[0] + "\" (see: dravix-vdrive media)");
    if (!IsReadable(*media)) return context.Usage("\"" + args[0] + "\" is blank: it holds no data");
    // Written beside the target under a random name and renamed over it only when whole.
    SafeFile file;
    if (const FileResult begun = file.Begin(args[1]); !begun.Ok())
        return context.FileFailure(begun.WriteMessage(args[1]));
    constexpr uint32_t kChunkSectors = 512;
    std::vector<uint8_t> chunk(kChunkSectors * kSectorBytes);
    const uint64_t sectors = static_cast<uint64_t>(media->endLba) + 1;
    for (uint64_t lba = 0; lba < sectors; lba += kChunkSectors) {
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, sectors - lba));
        for (uint32_t i = 0; i < count; ++i)
            FillSector(*media, static_cast<uint32_t>(lba + i), &chunk[static_cast<size_t>(i) * kSectorBytes]);
        if (!file.Write(chunk.data(), size_t{count} * kSectorBytes)) break;
    }
    if (const FileResult committed = file.Commit(); !committed.Ok())
        return context.FileFailure(committed.WriteMessage(args[1]));
    context.Out() << "Wrote " << (static_cast<uint64_t>(media->endLba) + 1) << " sectors of " << media->name
                  << " to " << args[1] << ".\n";
    return kToolOk;
}

// "help [COMMAND]", "--help" and "COMMAND --help".
int RunHelp(ToolContext& context, const ParsedLine& line) {
    const std::string about = line.command ? line.command->name : line.words.empty() ? "" : line.words[0];
    if (line.words.size() > 1 || (line.command && !line.words.empty()))
        return context.Usage("help takes one command");
    if (about.empty()) {
        context.Out() << ProgramHelp(context.Program());
        return kToolOk;
    }
    const CommandSpec* command = context.Program().Find(about);
    if (command == nullptr) return context.Usage("unknown command \"" + about + "\"");
    context.Out() << CommandHelp(context.Program(), *command);
    return kToolOk;
}

// A command of the tool: its entry of the command table and the function that carries it out.
using ToolCommandFn = int (*)(ToolContext& context, const ParsedLine& line);
struct ToolCommand : CommandSpec {
    ToolCommandFn run;
};

// Every command, in the order the help lists them.
constexpr ToolCommand kCommands[] = {
    ToolCommand{{"init", "[--preset demo|minimal|two-drives] [--force] [FILE]", "create the state file",
                 kInitOptions, kInitExamples},
                RunInit},
    ToolCommand{{"show",
                 "",
                 "show every drive of the state file, with its target on the virtual adapter",
                 {},
                 kShowExamples},
                RunShow},
    ToolCommand{{"media", "", "list the media that can be inserted", {}, kMediaExamples}, RunMedia},
    ToolCommand{
        {"insert", "MEDIA", "put a disc in (with a closed tray: open, swap, close)", {}, kInsertExamples},
        RunInsert},
    ToolCommand{{"remove", "", "take the disc out", {}, kRemoveExamples},
                RunPlain<&VirtualDrive::RemoveDisc>},
    ToolCommand{{"eject", "", "open the tray", {}, kEjectExamples}, RunPlain<&VirtualDrive::Eject>},
    ToolCommand{{"load", "", "close the tray", {}, kLoadExamples}, RunPlain<&VirtualDrive::Load>},
    ToolCommand{{"restart",
                 "",
                 "power-cycle the drive (temporary settings and switches are dropped)",
                 {},
                 kRestartExamples},
                RunPlain<&VirtualDrive::Restart>},
    ToolCommand{
        {"add-drive", "maker|other-maker|old-firmware",
         "add a drive after the last one, at the lowest free target", kAddDriveOptions, kAddDriveExamples},
        RunAddDrive},
    ToolCommand{
        {"remove-drive",
         "",
         "take the drive out, as a USB burner pulled out (later drives move up in the list but keep their "
         "targets)",
         {},
         kRemoveDriveExamples},
        RunRemoveDrive},
    ToolCommand{
        {"set", "SETTING VALUE...", "change a firmware setting of the drive", kSetOptions, kSetExamples},
        RunSet},
    ToolCommand{{"fault",
                 "add [--after N] [--once|--always] [--byte I=V]... OPCODE[:SUB[:FUNCTION]] ACTION | add "
                 "becoming-ready N | clear",
                 "make commands of the drive fail, time out or answer wrongly; bytes are hexadecimal, SUB is "
                 "CDB byte 1, "
                 "FUNCTION byte 6 (\"*\" leaves SUB open)",
                 kFaultOptions, kFaultExamples},
                RunFault},
    ToolCommand{{"latency", "command|tray|vendor|tefe|spinup|spindown MS",
                 "how long a class of commands takes", kLatencyOptions, kLatencyExamples},
                RunLatency},
    ToolCommand{
        {"damage", "LBA [COUNT] | clear", "make sectors of the disc unreadable, or all readable again",
         kDamageOptions, kDamageExamples},
        RunDamage},
    ToolCommand{{"image", "MEDIA FILE", "write the data a recorded medium holds to a file", kImageOptions,
                 kImageExamples},
                RunImage},
};

// The media names of the catalogue, for completion.
std::string MediaNames() {
    std::string names;
    for (const MediaInfo& media : MediaCatalogue())
        names += (names.empty() ? "" : " ") + std::string(media.name);
    return names;
}

ProgramSpec MakeProgram() {
    static const std::string media = MediaNames();
    static const CommandOption insertOptions[] = {{"MEDIA", "", "a name that 'media' lists", media.c_str()}};
    ProgramSpec program{.name = "dravix-vdrive",
                        .summary = "set up the virtual drives of Dravix",
                        .description =
                            "dravix-vdrive manages the virtual drives that dravix --virtual and "
                            "dravix-cli --virtual use: their discs, firmware settings, faults and "
                            "latencies, kept in one state file that the programs re-read when it "
                            "changes.",
                        .globalOptions = kGlobalOptions,
                        .commands = {},
                        .exitStatuses = kExitStatuses};
    static CommandSpec commands[std::size(kCommands)];
    for (size_t i = 0; i < std::size(kCommands); ++i) {
        commands[i] = kCommands[i];
        if (std::string(commands[i].name) == "insert") commands[i].options = insertOptions;
        program.commands.push_back(&commands[i]);
    }
    return program;
}

const ToolCommand* FindToolCommand(std::string_view name) {
    for (const ToolCommand& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

}  // namespace

const ProgramSpec& VdriveProgram() {
    static const ProgramSpec program = MakeProgram();
    return program;
}

std::string VdriveToolUsage() {
    return ProgramHelp(VdriveProgram());
}

int RunVdriveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ProgramSpec& program = VdriveProgram();
    const ParsedLine line = ReadCommandLine(program, args);
    ToolContext context(program, line.command, out, err);
    if (!line.problem.empty()) return context.Usage(line.problem);
    if (line.Has("--help") || line.commandName == "help") return RunHelp(context, line);
    if (line.Has("--version")) {
        out << "dravix-vdrive " << kVersionText << "\n";
        return kToolOk;
    }
    if (const std::optional<std::string> file = line.Value("--file")) {
        if (file->empty()) return context.Usage("--file takes a file name");
        context.SetFile(*file);
    }
    if (const std::optional<std::string> drive = line.Value("--drive")) {
        const Result<uint64_t> index = Decimal(*drive, 255, "--drive");
        if (!index) return context.Usage(index);
        context.SetDrive(static_cast<size_t>(*index));
    }
    if (line.command == nullptr) return context.Usage("no command given");
    const ToolCommand* command = FindToolCommand(line.command->name);
    if (command == nullptr)
        return context.Usage("unknown command \"" + std::string(line.command->name) + "\"");
    return command->run(context, line);
}

}  // namespace dravix::emu
