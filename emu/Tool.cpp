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
     "booktype option testwrite wopc region buffer features learned read-model"},
    {"option OPTION STATE", "",
     "unknown-disc, supported-disc or overspeed: 0 to 3 (bit 1 on, bit 0 temporary)"},
    {"testwrite on|off", "", "the Test Write switch"},
    {"wopc on|off", "", "the Walking OPC switch"},
    {"region MASK", "", "the region mask (a hexadecimal byte)"},
    {"buffer KB", "", "the buffer size"},
    {"features CODE...", "", "the feature codes the drive announces"},
    {"learned ID...", "", "the learned discs (at most 20, 12 characters each)"},
    {"read-model cav|p-cav|z-clv|clv", "", "how the drive's read speed grows across the disc"},
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
     "how long commands of CLASS (command, tray, vendor, tefe, spinup) take, at most 120000 ms",
     "command tray vendor tefe spinup"},
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
constexpr Examples kSetExamples = {"dravix-vdrive set testwrite on",
                                   "dravix-vdrive set features 1 2 3 5 6 7"};
constexpr Examples kFaultExamples = {
    "dravix-vdrive fault add --after 10 --once fd:fb:05 --byte 11=00 check 02/3A/00",
    "dravix-vdrive fault add becoming-ready 5", "dravix-vdrive fault clear"};
constexpr Examples kLatencyExamples = {"dravix-vdrive latency tefe 150"};
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

constexpr CommandSpec kCommands[] = {
    {"init", "[--preset demo|minimal|two-drives] [--force] [FILE]", "create the state file", kInitOptions,
     kInitExamples},
    {"show",
     "",
     "show every drive of the state file, with its target on the virtual adapter",
     {},
     kShowExamples},
    {"media", "", "list the media that can be inserted", {}, kMediaExamples},
    {"insert", "MEDIA", "put a disc in (with a closed tray: open, swap, close)", {}, kInsertExamples},
    {"remove", "", "take the disc out", {}, kRemoveExamples},
    {"eject", "", "open the tray", {}, kEjectExamples},
    {"load", "", "close the tray", {}, kLoadExamples},
    {"restart",
     "",
     "power-cycle the drive (temporary settings and switches are dropped)",
     {},
     kRestartExamples},
    {"add-drive", "maker|other-maker|old-firmware",
     "add a drive after the last one, at the lowest free target", kAddDriveOptions, kAddDriveExamples},
    {"remove-drive",
     "",
     "take the drive out, as a USB burner pulled out (later drives move up in the list but keep their "
     "targets)",
     {},
     kRemoveDriveExamples},
    {"set", "SETTING VALUE...", "change a firmware setting of the drive", kSetOptions, kSetExamples},
    {"fault",
     "add [--after N] [--once|--always] [--byte I=V]... OPCODE[:SUB[:FUNCTION]] ACTION | add "
     "becoming-ready N | clear",
     "make commands of the drive fail, time out or answer wrongly; bytes are hexadecimal, SUB is CDB byte 1, "
     "FUNCTION byte 6 (\"*\" leaves SUB open)",
     kFaultOptions, kFaultExamples},
    {"latency", "command|tray|vendor|tefe|spinup MS", "how long a class of commands takes", kLatencyOptions,
     kLatencyExamples},
    {"damage", "LBA [COUNT] | clear", "make sectors of the disc unreadable, or all readable again",
     kDamageOptions, kDamageExamples},
    {"image", "MEDIA FILE", "write the data a recorded medium holds to a file", kImageOptions,
     kImageExamples},
};

constexpr ExitStatusSpec kExitStatuses[] = {
    {kToolOk, "done"},
    {kToolBadFile,
     "the state file is missing, unreadable, malformed or not writable, or standard output could not be "
     "written"},
    {kToolUsage, "usage error"},
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

// A mistake in the command line (exit 2) or a state file that cannot be used (exit 1).
struct UsageError {
    std::string message;
};
struct FileError {
    std::string message;
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

uint8_t HexByteOrThrow(std::string_view text, const std::string& what) {
    const auto value = ParseHexByte(text);
    if (!value) throw UsageError{what + " must be a byte in hexadecimal, not \"" + std::string(text) + "\""};
    return *value;
}

uint64_t DecimalOrThrow(std::string_view text, uint64_t max, const std::string& what) {
    const auto value = ParseDecimal(text, max);
    if (!value) {
        throw UsageError{what + " must be a number from 0 to " + std::to_string(max) + ", not \"" +
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
        << ", buffer: " << s.bufferKiB << " KB\n  learned discs (" << s.learnedDiscs.size() << "):";
    for (const std::string& id : s.learnedDiscs) out << " \"" << id << "\"";
    out << "\n  latency (ms):";
    for (size_t i = 0; i < s.latencyMs.size(); ++i) {
        out << ' ' << LatencyClassName(static_cast<LatencyClass>(i)) << ' ' << s.latencyMs[i];
    }
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

class ToolRun final {
  public:
    ToolRun(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

    int Run(const std::vector<std::string>& args) {
        const ProgramSpec& program = VdriveProgram();
        ParsedLine line = ReadCommandLine(program, args);
        m_command = line.command;
        try {
            return Dispatch(program, line);
        } catch (const UsageError& error) {
            m_err << "dravix-vdrive: " << UsageProblem(program, m_command, error.message) << "\n";
            return kToolUsage;
        } catch (const FileError& error) {
            m_err << "dravix-vdrive: " << error.message << "\n";
            return kToolBadFile;
        }
    }

  private:
    int Dispatch(const ProgramSpec& program, const ParsedLine& line) {
        if (!line.problem.empty()) throw UsageError{line.problem};
        if (line.Has("--help") || line.commandName == "help") {
            const std::string about = line.command         ? line.command->name
                                      : line.words.empty() ? ""
                                                           : line.words[0];
            if (line.words.size() > 1 || (line.command && !line.words.empty()))
                throw UsageError{"help takes one command"};
            if (about.empty()) {
                m_out << ProgramHelp(program);
                return kToolOk;
            }
            const CommandSpec* command = program.Find(about);
            if (command == nullptr) throw UsageError{"unknown command \"" + about + "\""};
            m_out << CommandHelp(program, *command);
            return kToolOk;
        }
        if (line.Has("--version")) {
            m_out << "dravix-vdrive " << kVersionText << "\n";
            return kToolOk;
        }
        if (const std::optional<std::string> file = line.Value("--file")) {
            if (file->empty()) throw UsageError{"--file takes a file name"};
            m_file = *file;
        }
        if (const std::optional<std::string> drive = line.Value("--drive"))
            m_drive = DecimalOrThrow(*drive, 255, "--drive");
        if (line.command == nullptr) throw UsageError{"no command given"};
        const std::string command = line.command->name;
        const std::vector<std::string>& rest = line.words;
        if (command == "init") return Init(line);
        if (command == "media") return ListMedia(rest);
        if (command == "show") return Show(rest);
        if (command == "insert") return Insert(rest);
        if (command == "remove") return Simple(rest, "remove", [](VirtualDrive& d) { d.RemoveDisc(); });
        if (command == "eject") return Simple(rest, "eject", [](VirtualDrive& d) { d.Eject(); });
        if (command == "load") return Simple(rest, "load", [](VirtualDrive& d) { d.Load(); });
        if (command == "restart") return Simple(rest, "restart", [](VirtualDrive& d) { d.Restart(); });
        if (command == "add-drive") return AddDrive(rest);
        if (command == "remove-drive") return RemoveDrive(rest);
        if (command == "set") return Set(rest);
        if (command == "fault") return Fault(line);
        if (command == "latency") return Latency(rest);
        if (command == "damage") return Damage(rest);
        if (command == "image") return Image(rest);
        throw UsageError{"unknown command \"" + command + "\""};
    }

    std::string FilePath() const { return m_file.empty() ? StateFilePath() : m_file; }

    std::unique_ptr<Scenario> OpenFile() {
        std::string error;
        auto scenario = Scenario::Open(FilePath(), &error);
        if (!scenario) throw FileError{error};
        return scenario;
    }

    VirtualDrive& SelectedDrive(Scenario& scenario) {
        const size_t count = scenario.DriveCount();
        if (m_drive >= count) {
            throw UsageError{"there is no drive " + std::to_string(m_drive) + " (" + FilePath() + " has " +
                             std::to_string(count) + ")"};
        }
        return scenario.Drive(m_drive);
    }

    int Finish(Scenario& scenario) {
        if (std::string error = scenario.LastError(); !error.empty()) throw FileError{error};
        return kToolOk;
    }

    static void ExpectCount(const std::vector<std::string>& args, size_t count, const std::string& synopsis) {
        if (args.size() != count) throw UsageError{"usage: dravix-vdrive " + synopsis};
    }

    int Init(const ParsedLine& line) {
        Preset preset = Preset::Demo;
        const bool force = line.Has("--force");
        std::string file = m_file;
        if (const std::optional<std::string> name = line.Value("--preset")) {
            const auto chosen = PresetFromName(*name);
            if (!chosen) throw UsageError{"unknown preset \"" + *name + "\" (demo, minimal, two-drives)"};
            preset = *chosen;
        }
        if (line.words.size() > 1) throw UsageError{"init takes one FILE"};
        if (!line.words.empty()) file = line.words[0];
        if (file.empty()) file = StateFilePath();
        std::error_code ignored;
        if (!force && std::filesystem::exists(file, ignored)) {
            // Replacing a good file is what init is for; a damaged one may hold work worth repairing.
            std::string error;
            if (!Scenario::Open(file, &error))
                throw FileError{error + " (not replaced; use --force to replace it)"};
        }
        Scenario scenario(preset);
        std::string error;
        if (!scenario.BindToFile(file, &error)) throw FileError{error};
        m_out << "Created " << file << " with " << scenario.DriveCount() << " drive(s).\n";
        return kToolOk;
    }

    int ListMedia(const std::vector<std::string>& args) {
        ExpectCount(args, 0, "media");
        for (const MediaInfo& media : MediaCatalogue()) {
            m_out << std::left << std::setw(17) << media.name << media.description << "\n";
        }
        return kToolOk;
    }

    int Show(const std::vector<std::string>& args) {
        ExpectCount(args, 0, "show");
        auto scenario = OpenFile();
        const std::vector<DriveState> states = scenario->States();
        m_out << "State file: " << scenario->Path() << "\n";
        for (size_t i = 0; i < states.size(); ++i) Describe(m_out, i, states[i]);
        if (states.empty()) m_out << "No drives.\n";
        return kToolOk;
    }

    int Insert(const std::vector<std::string>& args) {
        ExpectCount(args, 1, "insert MEDIA");
        if (!FindMedia(args[0]))
            throw UsageError{"unknown media \"" + args[0] + "\"; dravix-vdrive media lists them"};
        auto scenario = OpenFile();
        SelectedDrive(*scenario).Insert(args[0]);
        return Finish(*scenario);
    }

    template <typename Action>
    int Simple(const std::vector<std::string>& args, const std::string& name, Action action) {
        ExpectCount(args, 0, name);
        auto scenario = OpenFile();
        action(SelectedDrive(*scenario));
        return Finish(*scenario);
    }

    int AddDrive(const std::vector<std::string>& args) {
        ExpectCount(args, 1, "add-drive maker|other-maker|old-firmware");
        const auto kind = DriveKindFromName(args[0]);
        if (!kind)
            throw UsageError{"unknown drive kind \"" + args[0] + "\" (maker, other-maker, old-firmware)"};
        auto scenario = OpenFile();
        if (scenario->DriveCount() >= kTargetCount) {
            throw UsageError{"the virtual host adapter has " + std::to_string(kTargetCount) +
                             " targets, and every one has a drive"};
        }
        const VirtualDrive& added = scenario->AddDrive(*kind);
        m_out << "Added drive " << scenario->DriveCount() - 1 << " (" << TargetText(added.State()) << ").\n";
        return Finish(*scenario);
    }

    int RemoveDrive(const std::vector<std::string>& args) {
        ExpectCount(args, 0, "[--drive N] remove-drive");
        auto scenario = OpenFile();
        // Names the file's drive count when there is no such drive.
        const std::string target = TargetText(SelectedDrive(*scenario).State());
        scenario->RemoveDrive(m_drive);
        m_out << "Removed drive " << m_drive << " (" << target
              << "); the drives after it move up in the list and keep their targets.\n";
        return Finish(*scenario);
    }

    static bool OnOff(const std::string& text, const std::string& what) {
        if (text == "on") return true;
        if (text == "off") return false;
        throw UsageError{what + " must be on or off"};
    }

    int Set(const std::vector<std::string>& args) {
        if (args.empty()) throw UsageError{"usage: dravix-vdrive set SETTING VALUE..."};
        const std::string& what = args[0];
        std::function<void(VirtualDrive&)> change;
        if (what == "booktype") {
            ExpectCount(args, 3, "set booktype dvd+rw|dvd+r|dvd+r-dl BYTE");
            std::optional<BookTypeRow> row;
            for (BookTypeRow r : {BookTypeRow::PlusRw, BookTypeRow::PlusR, BookTypeRow::PlusRDl}) {
                if (BookTypeRowName(r) == args[1]) row = r;
            }
            if (!row) throw UsageError{"the book type row is dvd+rw, dvd+r or dvd+r-dl"};
            const uint8_t value = HexByteOrThrow(args[2], "the book type");
            change = [=](VirtualDrive& d) { d.SetBookType(*row, value); };
        } else if (what == "option") {
            ExpectCount(args, 3, "set option unknown-disc|supported-disc|overspeed STATE");
            std::optional<OptionKind> option;
            for (OptionKind o : {OptionKind::UnknownDisc, OptionKind::SupportedDisc, OptionKind::OverSpeed}) {
                if (OptionKindName(o) == args[1]) option = o;
            }
            if (!option) throw UsageError{"the option is unknown-disc, supported-disc or overspeed"};
            const auto state = static_cast<uint8_t>(DecimalOrThrow(args[2], 3, "the option state"));
            change = [=](VirtualDrive& d) { d.SetOption(*option, state); };
        } else if (what == "testwrite") {
            ExpectCount(args, 2, "set testwrite on|off");
            const bool on = OnOff(args[1], "Test Write");
            change = [=](VirtualDrive& d) { d.SetTestWrite(on); };
        } else if (what == "wopc") {
            ExpectCount(args, 2, "set wopc on|off");
            const bool on = OnOff(args[1], "WOPC");
            change = [=](VirtualDrive& d) { d.SetWopcDisabled(!on); };
        } else if (what == "region") {
            ExpectCount(args, 2, "set region MASK");
            const uint8_t mask = HexByteOrThrow(args[1], "the region mask");
            change = [=](VirtualDrive& d) { d.SetRegionMask(mask); };
        } else if (what == "buffer") {
            ExpectCount(args, 2, "set buffer KB");
            const auto kib = static_cast<uint16_t>(DecimalOrThrow(args[1], 65535, "the buffer size"));
            change = [=](VirtualDrive& d) { d.SetBufferKiB(kib); };
        } else if (what == "read-model") {
            ExpectCount(args, 2, "set read-model cav|p-cav|z-clv|clv");
            const auto model = ReadSpeedModelFromName(args[1]);
            if (!model) throw UsageError{"the read model is cav, p-cav, z-clv or clv"};
            change = [=](VirtualDrive& d) { d.SetReadModel(*model); };
        } else if (what == "features") {
            if (args.size() - 1 > kMaxFeatureCodes)
                throw UsageError{"the drive announces at most 64 feature codes"};
            std::vector<uint8_t> codes;
            for (size_t i = 1; i < args.size(); ++i) {
                codes.push_back(static_cast<uint8_t>(DecimalOrThrow(args[i], 255, "a feature code")));
            }
            change = [=](VirtualDrive& d) { d.SetFeatureCodes(codes); };
        } else if (what == "learned") {
            std::vector<std::string> ids(args.begin() + 1, args.end());
            if (ids.size() > kMaxLearnedDiscs) throw UsageError{"the drive keeps at most 20 learned discs"};
            for (const std::string& id : ids) {
                if (id.size() > kLearnedIdLength)
                    throw UsageError{"a learned disc id has at most 12 characters"};
            }
            change = [=](VirtualDrive& d) { d.SetLearnedDiscs(ids); };
        } else {
            throw UsageError{"unknown setting \"" + what + "\""};
        }
        auto scenario = OpenFile();
        change(SelectedDrive(*scenario));
        return Finish(*scenario);
    }

    // The rule of "fault add": `words` without "add".
    static FaultRule ParseFaultRule(const ParsedLine& line, const std::vector<std::string>& words) {
        FaultRule rule;
        if (line.Has("--once") && line.Has("--always")) throw UsageError{"a fault is --once or --always"};
        if (line.Has("--once")) rule.once = true;
        if (line.Has("--always")) rule.once = false;
        if (const std::optional<std::string> after = line.Value("--after"))
            rule.after = static_cast<uint32_t>(DecimalOrThrow(*after, UINT32_MAX, "--after"));
        for (const std::string& value : line.Values("--byte")) {
            const auto parts = Split(value, '=');
            if (parts.size() != 2) throw UsageError{"--byte takes INDEX=VALUE, as in 11=03"};
            const auto index = DecimalOrThrow(parts[0], 15, "the CDB byte index");
            rule.bytes[static_cast<uint8_t>(index)] = HexByteOrThrow(parts[1], "the CDB byte value");
        }
        if (words.size() < 2)
            throw UsageError{"usage: dravix-vdrive fault add [OPTIONS] OPCODE[:SUB[:FUNCTION]] ACTION"};
        const auto match = Split(words[0], ':');
        if (match.size() > 3) throw UsageError{"the command is OPCODE[:SUB[:FUNCTION]]"};
        rule.opcode = HexByteOrThrow(match[0], "the operation code");
        if (match.size() > 1 && match[1] != "*") rule.subCode = HexByteOrThrow(match[1], "the sub-code");
        if (match.size() > 2) rule.function = HexByteOrThrow(match[2], "the function");

        const auto action = FaultActionFromName(words[1]);
        if (!action)
            throw UsageError{"unknown fault action \"" + words[1] +
                             "\" (check, timeout, busy, bad-answer, reply, applied-timeout, applied-check, "
                             "adapter-error)"};
        rule.action = *action;
        const std::vector<std::string> values(words.begin() + 2, words.end());
        switch (rule.action) {
            case FaultRule::Action::CheckCondition:
            case FaultRule::Action::AppliedCheck: {
                const auto parts =
                    values.size() == 1 ? Split(values[0], '/') : std::vector<std::string_view>{};
                if (parts.size() != 3)
                    throw UsageError{std::string(FaultActionName(rule.action)) +
                                     " takes KEY/ASC/ASCQ in hexadecimal, as in 02/3A/00"};
                rule.sense =
                    SenseCode{HexByteOrThrow(parts[0], "the sense key"), HexByteOrThrow(parts[1], "the ASC"),
                              HexByteOrThrow(parts[2], "the ASCQ")};
                if (rule.sense.key > 0x0F) throw UsageError{"the sense key is 0 to F"};
                break;
            }
            case FaultRule::Action::HostTimeout:
            case FaultRule::Action::Busy:
            case FaultRule::Action::AppliedTimeout:
            case FaultRule::Action::AdapterError:
                if (!values.empty())
                    throw UsageError{std::string(FaultActionName(rule.action)) + " takes no value"};
                break;
            case FaultRule::Action::BadAnswer:
                if (values.size() > 1) throw UsageError{"bad-answer takes at most one byte"};
                if (!values.empty()) rule.answerByte0 = HexByteOrThrow(values[0], "the answer's byte 0");
                break;
            case FaultRule::Action::Reply:
                for (std::string_view value : values) {
                    // "07 00 00", "070000" or "0x07".
                    if (value.size() > 2 && (value.substr(0, 2) == "0x" || value.substr(0, 2) == "0X"))
                        value.remove_prefix(2);
                    if (value.size() % 2 != 0)
                        throw UsageError{"reply takes hexadecimal bytes, as in 07 00 00"};
                    for (size_t at = 0; at < value.size(); at += 2) {
                        rule.reply.push_back(HexByteOrThrow(value.substr(at, 2), "a reply byte"));
                    }
                }
                break;
        }
        return rule;
    }

    int Fault(const ParsedLine& line) {
        const std::vector<std::string>& args = line.words;
        if (args.empty()) throw UsageError{"usage: dravix-vdrive fault add ... | fault clear"};
        const bool options =
            line.Has("--once") || line.Has("--always") || line.Has("--after") || line.Has("--byte");
        if (args[0] != "add" && options)
            throw UsageError{"only fault add takes --after, --once, --always, --byte"};
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "clear") {
            ExpectCount(rest, 0, "fault clear");
            auto scenario = OpenFile();
            SelectedDrive(*scenario).ClearFaults();
            return Finish(*scenario);
        }
        if (args[0] != "add") throw UsageError{"fault takes add or clear"};
        if (!rest.empty() && rest[0] == "becoming-ready") {
            if (options) throw UsageError{"fault add becoming-ready takes no options"};
            ExpectCount(rest, 2, "fault add becoming-ready N");
            const auto count =
                static_cast<uint32_t>(DecimalOrThrow(rest[1], UINT32_MAX, "the number of TEST UNIT READYs"));
            auto scenario = OpenFile();
            SelectedDrive(*scenario).SetBecomingReady(count);
            return Finish(*scenario);
        }
        const FaultRule rule = ParseFaultRule(line, rest);
        auto scenario = OpenFile();
        SelectedDrive(*scenario).AddFault(rule);
        return Finish(*scenario);
    }

    int Latency(const std::vector<std::string>& args) {
        ExpectCount(args, 2, "latency command|tray|vendor|tefe|spinup MS");
        const auto latencyClass = LatencyClassFromName(args[0]);
        if (!latencyClass)
            throw UsageError{"unknown latency class \"" + args[0] +
                             "\" (command, tray, vendor, tefe, spinup)"};
        const auto ms =
            static_cast<uint32_t>(DecimalOrThrow(args[1], kMaxLatencyMs, "the latency in milliseconds"));
        auto scenario = OpenFile();
        SelectedDrive(*scenario).SetLatency(*latencyClass, ms);
        return Finish(*scenario);
    }

    int Damage(const std::vector<std::string>& args) {
        if (args.size() == 1 && args[0] == "clear") {
            auto scenario = OpenFile();
            SelectedDrive(*scenario).ClearDamage();
            return Finish(*scenario);
        }
        if (args.empty() || args.size() > 2)
            throw UsageError{"usage: dravix-vdrive damage LBA [COUNT] | damage clear"};
        const auto lba = static_cast<uint32_t>(DecimalOrThrow(args[0], UINT32_MAX, "the LBA"));
        const auto count =
            args.size() == 2 ? static_cast<uint32_t>(DecimalOrThrow(args[1], UINT32_MAX, "the sector count"))
                             : 1u;
        if (count == 0) throw UsageError{"a damaged spot holds at least one sector"};
        if (lba > UINT32_MAX - (count - 1)) throw UsageError{"the damaged spot ends beyond LBA 4294967295"};
        auto scenario = OpenFile();
        VirtualDrive& drive = SelectedDrive(*scenario);
        if (drive.State().damage.size() >= kMaxDamagedSpots)
            throw UsageError{"the drive keeps at most 256 damaged spots"};
        drive.AddDamage(DamagedSpot{lba, count});
        return Finish(*scenario);
    }

    // The data of a recorded disc as an image file: what a verify of that disc should find.
    int Image(const std::vector<std::string>& args) {
        ExpectCount(args, 2, "image MEDIA FILE");
        const MediaInfo* media = FindMedia(args[0]);
        if (!media) throw UsageError{"unknown media \"" + args[0] + "\" (see: dravix-vdrive media)"};
        if (!IsReadable(*media)) throw UsageError{"\"" + args[0] + "\" is blank: it holds no data"};
        // Written beside the target under a random name and renamed over it only when whole.
        SafeFile file;
        if (const FileResult begun = file.Begin(args[1]); !begun.Ok())
            throw FileError{begun.WriteMessage(args[1])};
        constexpr uint32_t kChunkSectors = 512;
        std::vector<uint8_t> chunk(kChunkSectors * kSectorBytes);
        const uint64_t sectors = static_cast<uint64_t>(media->endLba) + 1;
        for (uint64_t lba = 0; lba < sectors; lba += kChunkSectors) {
            const auto count = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, sectors - lba));
            for (uint32_t i = 0; i < count; ++i)
                FillSector(*media, static_cast<uint32_t>(lba + i),
                           &chunk[static_cast<size_t>(i) * kSectorBytes]);
            if (!file.Write(chunk.data(), size_t{count} * kSectorBytes)) break;
        }
        if (const FileResult committed = file.Commit(); !committed.Ok())
            throw FileError{committed.WriteMessage(args[1])};
        m_out << "Wrote " << (static_cast<uint64_t>(media->endLba) + 1) << " sectors of " << media->name
              << " to " << args[1] << ".\n";
        return kToolOk;
    }

    std::ostream& m_out;
    std::ostream& m_err;
    const CommandSpec* m_command = nullptr;
    std::string m_file;
    size_t m_drive = 0;
};

}  // namespace

const ProgramSpec& VdriveProgram() {
    static const ProgramSpec program = MakeProgram();
    return program;
}

std::string VdriveToolUsage() {
    return ProgramHelp(VdriveProgram());
}

int RunVdriveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return ToolRun(out, err).Run(args);
}

}  // namespace dravix::emu
