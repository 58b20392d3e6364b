#include "emu/Tool.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>

#include "emu/Media.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace dravix::emu {

namespace {

// A mistake in the command line (exit 2) or a state file that cannot be used (exit 1).
struct UsageError {
    std::string message;
    bool showUsage = false;  // the whole usage text, not just a pointer to it
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

void Describe(std::ostream& out, size_t index, const DriveState& s) {
    out << "Drive " << index << ": \"" << s.vendor << "\" \"" << s.product << "\" \"" << s.revision << "\" ("
        << DriveKindName(s.kind) << ")\n";
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
        try {
            return Dispatch(args);
        } catch (const UsageError& error) {
            m_err << "dravix-vdrive: " << error.message << "\n";
            if (error.showUsage) {
                m_err << "\n" << VdriveToolUsage();
            } else {
                m_err << "Run \"dravix-vdrive --help\" for the usage.\n";
            }
            return kToolUsage;
        } catch (const FileError& error) {
            m_err << "dravix-vdrive: " << error.message << "\n";
            return kToolBadFile;
        }
    }

  private:
    int Dispatch(const std::vector<std::string>& all) {
        std::vector<std::string> args;
        for (size_t i = 0; i < all.size(); ++i) {
            const std::string& arg = all[i];
            if (arg == "--help" || arg == "-h") {
                m_out << VdriveToolUsage();
                return kToolOk;
            }
            if ((arg == "--file" || arg == "--drive") && i + 1 >= all.size())
                throw UsageError{arg + " needs a value"};
            if (arg == "--file") {
                m_file = all[++i];
            } else if (arg == "--drive") {
                m_drive = DecimalOrThrow(all[++i], 255, "--drive");
            } else {
                args.push_back(arg);
            }
        }
        if (args.empty()) throw UsageError{"no command given", true};
        const std::string command = args[0];
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (command == "init") return Init(rest);
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
        if (command == "fault") return Fault(rest);
        if (command == "latency") return Latency(rest);
        if (command == "damage") return Damage(rest);
        if (command == "image") return Image(rest);
        throw UsageError{"unknown command \"" + command + "\"", true};
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

    int Init(const std::vector<std::string>& args) {
        Preset preset = Preset::Demo;
        bool force = false;
        std::string file = m_file;
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "--preset") {
                if (i + 1 >= args.size()) throw UsageError{"--preset needs demo, minimal or two-drives"};
                const auto chosen = PresetFromName(args[++i]);
                if (!chosen)
                    throw UsageError{"unknown preset \"" + args[i] + "\" (demo, minimal, two-drives)"};
                preset = *chosen;
            } else if (args[i] == "--force") {
                force = true;
            } else if (!args[i].empty() && args[i][0] == '-') {
                throw UsageError{"unknown option \"" + args[i] + "\" for init"};
            } else if (file.empty() || file == m_file) {
                file = args[i];
            } else {
                throw UsageError{"init takes one FILE"};
            }
        }
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
            throw UsageError{"unknown media \"" + args[0] + "\" (see: dravix-vdrive media)"};
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
        scenario->AddDrive(*kind);
        m_out << "Added drive " << scenario->DriveCount() - 1 << ".\n";
        return Finish(*scenario);
    }

    int RemoveDrive(const std::vector<std::string>& args) {
        ExpectCount(args, 0, "[--drive N] remove-drive");
        auto scenario = OpenFile();
        SelectedDrive(*scenario);  // names the file's drive count when there is no such drive
        scenario->RemoveDrive(m_drive);
        m_out << "Removed drive " << m_drive << ".\n";
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

    static FaultRule ParseFaultRule(const std::vector<std::string>& args) {
        FaultRule rule;
        std::vector<std::string> words;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (arg == "--once") {
                rule.once = true;
            } else if (arg == "--always") {
                rule.once = false;
            } else if (arg == "--after" || arg == "--byte") {
                if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
                const std::string& value = args[++i];
                if (arg == "--after") {
                    rule.after = static_cast<uint32_t>(DecimalOrThrow(value, UINT32_MAX, "--after"));
                } else {
                    const auto parts = Split(value, '=');
                    if (parts.size() != 2) throw UsageError{"--byte takes INDEX=VALUE, as in 11=03"};
                    const auto index = DecimalOrThrow(parts[0], 15, "the CDB byte index");
                    rule.bytes[static_cast<uint8_t>(index)] = HexByteOrThrow(parts[1], "the CDB byte value");
                }
            } else {
                words.push_back(arg);
            }
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
                             "\" (check, timeout, busy, bad-answer, reply, applied-timeout, applied-check)"};
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

    int Fault(const std::vector<std::string>& args) {
        if (args.empty()) throw UsageError{"usage: dravix-vdrive fault add ... | fault clear"};
        const std::vector<std::string> rest(args.begin() + 1, args.end());
        if (args[0] == "clear") {
            ExpectCount(rest, 0, "fault clear");
            auto scenario = OpenFile();
            SelectedDrive(*scenario).ClearFaults();
            return Finish(*scenario);
        }
        if (args[0] != "add") throw UsageError{"fault takes add or clear"};
        if (!rest.empty() && rest[0] == "becoming-ready") {
            ExpectCount(rest, 2, "fault add becoming-ready N");
            const auto count =
                static_cast<uint32_t>(DecimalOrThrow(rest[1], UINT32_MAX, "the number of TEST UNIT READYs"));
            auto scenario = OpenFile();
            SelectedDrive(*scenario).SetBecomingReady(count);
            return Finish(*scenario);
        }
        const FaultRule rule = ParseFaultRule(rest);
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
        const std::filesystem::path target(args[1]);
        // Written beside the target under a name of its own, and renamed over it only when whole.
        const std::filesystem::path temporary =
            target.parent_path() / ("." + target.filename().string() + ".tmp." + std::to_string(::getpid()));
        {
            std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
            constexpr uint32_t kChunkSectors = 512;
            std::vector<uint8_t> chunk(kChunkSectors * kSectorBytes);
            const uint64_t sectors = static_cast<uint64_t>(media->endLba) + 1;
            for (uint64_t lba = 0; file && lba < sectors; lba += kChunkSectors) {
                const auto count = static_cast<uint32_t>(std::min<uint64_t>(kChunkSectors, sectors - lba));
                for (uint32_t i = 0; i < count; ++i)
                    FillSector(*media, static_cast<uint32_t>(lba + i),
                               &chunk[static_cast<size_t>(i) * kSectorBytes]);
                file.write(reinterpret_cast<const char*>(chunk.data()),
                           static_cast<std::streamsize>(count) * kSectorBytes);
            }
            file.close();
            if (!file) {
                std::error_code ignored;
                std::filesystem::remove(temporary, ignored);
                throw FileError{args[1] + ": cannot write"};
            }
        }
        std::error_code error;
        std::filesystem::rename(temporary, target, error);
        if (error) {
            std::filesystem::remove(temporary, error);
            throw FileError{args[1] + ": cannot write"};
        }
        m_out << "Wrote " << (static_cast<uint64_t>(media->endLba) + 1) << " sectors of " << media->name
              << " to " << args[1] << ".\n";
        return kToolOk;
    }

    std::ostream& m_out;
    std::ostream& m_err;
    std::string m_file;
    size_t m_drive = 0;
};

}  // namespace

std::string VdriveToolUsage() {
    return "Usage: dravix-vdrive [--file FILE] [--drive N] COMMAND [ARGUMENTS]\n"
           "\n"
           "Manages the virtual drives that `dravix --virtual` and `dravix-cli --virtual` use.\n"
           "The state file is FILE, else $DRAVIX_VDRIVE_STATE, else $XDG_STATE_HOME/dravix/vdrive.json\n"
           "(~/.local/state/dravix/vdrive.json). --drive picks the drive (default 0).\n"
           "--help shows this text, --version the version.\n"
           "\n"
           "Commands:\n"
           "  init [--preset demo|minimal|two-drives] [--force] [FILE]\n"
           "                            create the state file (default preset: demo)\n"
           "  show                      show every drive\n"
           "  media                     list the media that can be inserted\n"
           "  insert MEDIA              put a disc in (with a closed tray: open, swap, close)\n"
           "  remove                    take the disc out\n"
           "  eject | load              open or close the tray\n"
           "  restart                   power-cycle the drive\n"
           "  add-drive maker|other-maker|old-firmware\n"
           "  remove-drive              take the drive out (with --drive N, that one; later drives move up)\n"
           "  set booktype dvd+rw|dvd+r|dvd+r-dl BYTE | set option unknown-disc|supported-disc|overspeed "
           "0-3\n"
           "      | set testwrite on|off | set wopc on|off | set region MASK | set buffer KB\n"
           "      | set features CODE... | set learned ID...\n"
           "  fault add [--after N] [--once|--always] [--byte I=V]... OPCODE[:SUB[:FUNCTION]] ACTION\n"
           "      ACTION: check KEY/ASC/ASCQ | timeout | busy | bad-answer [BYTE] | reply HEXBYTES...\n"
           "      | applied-timeout | applied-check KEY/ASC/ASCQ  (the command is done, then its status\n"
           "        is lost or a failure)\n"
           "  fault add becoming-ready N  answer the next N TEST UNIT READYs with 02/04/01\n"
           "  fault clear               remove every fault of the drive\n"
           "  latency command|tray|vendor|tefe|spinup MS\n"
           "                            how long a command class takes (at most 120000 ms)\n"
           "  set read-model cav|p-cav|z-clv|clv\n"
           "                            how the drive's read speed grows across the disc\n"
           "  damage LBA [COUNT]        make COUNT sectors from LBA unreadable (MEDIUM ERROR 03/11/00)\n"
           "  damage clear              make every sector readable again\n"
           "  image MEDIA FILE          write the data a recorded MEDIA holds to FILE\n"
           "\n"
           "Bytes are hexadecimal. SUB is CDB byte 1, FUNCTION byte 6 (\"*\" leaves SUB open).\n"
           "Example: dravix-vdrive fault add --after 10 --once fd:fb:05 --byte 11=00 check 02/3A/00\n"
           "Exit status: 0 done, 1 state file missing, unreadable, malformed or not writable, 2 usage "
           "error.\n";
}

int RunVdriveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return ToolRun(out, err).Run(args);
}

}  // namespace dravix::emu
