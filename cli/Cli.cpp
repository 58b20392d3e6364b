#include "cli/Cli.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "drive/DriveTable.h"
#include "drive/Messages.h"
#include "drive/Support.h"
#include "drive/Trace.h"
#include "emu/VirtualSetup.h"

namespace dravix::cli {

CliContext::CliContext(CliOptions options, std::ostream& out, std::ostream& err, std::istream& in)
    : m_options(options), m_out(out), m_err(err), m_in(in) {}

CliContext::~CliContext() = default;

DriveTable* CliContext::OpenDrive(bool selectChosen) {
    if (m_table) return m_table.get();
    auto table = std::make_unique<DriveTable>();
    if (!table->InitTransport()) {
        m_err << "Initial fail." << std::endl;
        return nullptr;
    }
    const int count = table->EnumerateDrives();
    if (count == 0) {
        m_err << kMsgNoDeviceFound << std::endl;
        const std::string hint = PermissionHint(table->RefusedNodes());
        if (!hint.empty()) m_err << hint << std::endl;
        return nullptr;
    }
    const int index = selectChosen ? m_options.driveIndex : 0;
    if (index < 0 || index >= count || !table->SelectDrive(static_cast<uint8_t>(index))) {
        m_err << "There is no drive " << m_options.driveIndex << " (" << count
              << (count == 1 ? " drive" : " drives") << " found)." << std::endl;
        return nullptr;
    }
    m_table = std::move(table);
    return m_table.get();
}

bool CliContext::Confirm(const std::string& question) {
    if (m_options.yes) return true;
    m_err << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(m_in, answer)) return false;
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return answer == "y" || answer == "yes";
}

void CliContext::PrintJson(const nlohmann::json& object) {
    m_out << object.dump() << std::endl;
}

std::string CliContext::Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string UsageText() {
    std::ostringstream s;
    s << "Usage: dravix-cli [--virtual] [--drive N] [--json] [--trace] [--yes] COMMAND [ARGS...]\n\n"
      << "Options:\n"
      << "  --virtual   use the virtual drive (creates its state file from the demo preset if needed)\n"
      << "  --drive N   the drive to use, by its index in 'drives' (default 0)\n"
      << "  --json      print one JSON object instead of text\n"
      << "  --trace     print every command sent to the drive on standard error\n"
      << "  --yes       answer yes to every confirmation\n"
      << "  --help      show this help and end\n"
      << "  --version   show the version and end\n\n"
      << "Commands:\n";
    for (const CliCommand& c : AllCommands()) {
        s << "  " << c.synopsis << "\n      " << c.summary << "\n";
    }
    s << "\nExit status: 0 success, 1 command failed, 2 usage error, 3 no drive / drive or disc not\n"
      << "supported / not ready, 4 scan verdict \"not recommended\".\n";
    return s.str();
}

int UsageError(CliContext& context, const std::string& message) {
    context.Err() << "dravix-cli: " << message << "\n\n" << UsageText();
    return kExitUsage;
}

namespace {

bool ParseIndex(const std::string& text, int& value) {
    if (text.empty() || text.size() > 3) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::stoi(text);
    return true;
}

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream& in) {
    CliOptions options;
    std::vector<std::string> rest;
    std::string problem;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (endOfOptions) {
            rest.push_back(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "--virtual") {
            options.virtualDrive = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (arg == "--drive") {
            if (i + 1 >= argc || !ParseIndex(argv[i + 1], options.driveIndex)) {
                problem = "--drive takes a drive index";
                break;
            }
            ++i;
        } else if (arg == "--help" || arg == "-h") {
            out << UsageText();
            return kExitOk;
        } else if (arg == "--version") {
            out << "dravix-cli " << DRAVIX_VERSION_TEXT << "\n";
            return kExitOk;
        } else {
            rest.push_back(arg);
        }
    }

    CliContext context(options, out, err, in);
    if (!problem.empty()) return UsageError(context, problem);
    if (rest.empty()) return UsageError(context, "no command given");

    const std::string name = rest.front();
    const std::vector<std::string> args(rest.begin() + 1, rest.end());
    const auto commands = AllCommands();
    const auto command =
        std::find_if(commands.begin(), commands.end(), [&](const CliCommand& c) { return name == c.name; });
    if (command == commands.end()) return UsageError(context, "unknown command '" + name + "'");

    SetDriveMessageHandler([&err](const std::string& text) { err << text << std::endl; });
    if (options.trace) SetTraceSink(MakeStreamTraceSink(err));
    if (options.virtualDrive) {
        const std::string error = emu::PrepareVirtualDrive();
        if (!error.empty()) {
            err << "dravix-cli: " << error << std::endl;
            return kExitFailed;
        }
    }
    const int status = command->run(context, args);
    SetTraceSink(nullptr);
    SetDriveMessageHandler(nullptr);
    return status;
}

}  // namespace dravix::cli
