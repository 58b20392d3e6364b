#include "base/CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <memory>
#include <sstream>

namespace dravix {

const CommandSpec* ProgramSpec::Find(const std::string& command) const {
    for (const CommandSpec* spec : commands) {
        if (command == spec->name) return spec;
    }
    return nullptr;
}

std::string LongName(const CommandOption& option) {
    const std::string name = option.name;
    const size_t comma = name.rfind(", ");
    return comma == std::string::npos ? name : name.substr(comma + 2);
}

bool ParsedLine::Has(std::string_view option) const {
    return m_given.find(option) != m_given.end();
}

std::optional<std::string> ParsedLine::Value(std::string_view option) const {
    const auto found = m_given.find(option);
    if (found == m_given.end() || found->second.empty()) return std::nullopt;
    return found->second.back();
}

std::vector<std::string> ParsedLine::Values(std::string_view option) const {
    const auto found = m_given.find(option);
    return found == m_given.end() ? std::vector<std::string>{} : found->second;
}

void ParsedLine::Set(const std::string& option, std::vector<std::string> values) {
    m_given[option] = std::move(values);
}

namespace {

constexpr const char* kHelpCommand = "help";
constexpr const char* kWords = "words";

// "-o, --output" as CLI11 spells it.
std::string ParserName(const CommandOption& option) {
    std::string name = option.name;
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

void AddOptions(CLI::App& app, std::span<const CommandOption> options) {
    for (const CommandOption& option : options) {
        if (!option.IsOption()) continue;
        if (option.TakesValue()) {
            app.add_option(ParserName(option))
                ->expected(1)
                ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        } else {
            app.add_flag(ParserName(option));
        }
    }
    // Every argument that is no option, in order; the command judges them.
    app.add_option(kWords)->expected(0, -1)->allow_extra_args();
}

void Collect(const CLI::App& app, std::span<const CommandOption> options, ParsedLine& line) {
    for (const CommandOption& option : options) {
        if (!option.IsOption()) continue;
        const CLI::Option* parsed = app.get_option_no_throw(LongName(option));
        if (parsed == nullptr || parsed->count() == 0) continue;
        line.Set(LongName(option), option.TakesValue() ? parsed->results() : std::vector<std::string>{});
    }
}

// "--speed: 1 required TEXT missing": the option's name; empty for another error.
std::string MissingValueOf(const CLI::Error& error) {
    const std::string what = error.what();
    const size_t colon = what.find(':');
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) == nullptr || colon == std::string::npos ||
        !what.ends_with(" missing")) {
        return {};
    }
    return what.substr(0, colon);
}

}  // namespace

ParsedLine ReadCommandLine(const ProgramSpec& program, const std::vector<std::string>& args) {
    ParsedLine line;
    // Everything after the first "--" belongs to the command, whatever it looks like.
    const auto mark = std::find(args.begin(), args.end(), "--");
    const std::vector<std::string> before(args.begin(), mark);
    const std::vector<std::string> after(mark == args.end() ? mark : mark + 1, args.end());

    CLI::App app("", program.name);
    app.set_help_flag();
    app.require_subcommand(0, 1);
    app.allow_extras();
    AddOptions(app, program.globalOptions);
    std::vector<std::pair<const CommandSpec*, CLI::App*>> commands;
    for (const CommandSpec* spec : program.commands) {
        CLI::App* command = app.add_subcommand(spec->name);
        command->fallthrough();
        AddOptions(*command, spec->options);
        commands.emplace_back(spec, command);
    }
    CLI::App* help = app.add_subcommand(kHelpCommand);
    help->fallthrough();
    AddOptions(*help, {});

    // CLI11 takes the arguments in reverse order.
    std::vector<std::string> reversed(before.rbegin(), before.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::Error& error) {
        line.missingValue = MissingValueOf(error);
        line.problem = line.missingValue.empty() ? error.what() : line.missingValue + " takes a value";
    }

    Collect(app, program.globalOptions, line);
    CLI::App* chosen = nullptr;
    for (const auto& [spec, command] : commands) {
        if (command->parsed()) {
            line.command = spec;
            line.commandName = spec->name;
            chosen = command;
            Collect(*command, spec->options, line);
        }
    }
    if (help->parsed()) {
        line.commandName = kHelpCommand;
        chosen = help;
    }
    if (chosen != nullptr) line.words = chosen->get_option(kWords)->results();
    line.words.insert(line.words.end(), after.begin(), after.end());

    // Words before any command: the first is a command this program does not have.
    const std::vector<std::string> stray = app.get_option(kWords)->results();
    std::vector<std::string> remaining = app.remaining();
    if (line.problem.empty() && !remaining.empty()) {
        const std::string& first = remaining.front();
        line.problem = (first.size() > 1 && first[0] == '-' ? "unknown option '" : "unexpected argument '") +
                       first + "'";
    }
    if (line.problem.empty() && !stray.empty()) {
        line.problem = chosen == nullptr ? "unknown command '" + stray.front() + "'"
                                         : "unexpected argument '" + stray.front() + "'";
    }
    if (chosen == nullptr && line.words.empty() && !stray.empty()) line.commandName = stray.front();
    if (line.problem.empty() && chosen == nullptr && !after.empty())
        line.problem = "unknown command '" + after.front() + "'";
    return line;
}

std::string UsageProblem(const ProgramSpec& program, const CommandSpec* command, const std::string& problem) {
    std::string help = std::string(program.name) + " help";
    if (command != nullptr) help += std::string(" ") + command->name;
    return problem + " (see " + help + ")";
}

namespace {

constexpr size_t kColumns = 80;

// Words of `text` filled into lines of at most kColumns, the first after `first` (already
// written, `used` columns wide), the others indented by `indent`.
void Wrap(std::ostream& out, const std::string& text, size_t used, size_t indent) {
    std::istringstream words(text);
    std::string word;
    size_t column = used;
    bool lineStart = true;
    while (words >> word) {
        if (!lineStart && column + 1 + word.size() > kColumns) {
            out << "\n" << std::string(indent, ' ');
            column = indent;
            lineStart = true;
        }
        if (!lineStart) {
            out << ' ';
            ++column;
        }
        out << word;
        column += word.size();
        lineStart = false;
    }
    out << "\n";
}

std::string Shown(const CommandOption& option) {
    std::string shown = option.name;
    if (option.TakesValue()) shown += std::string(" ") + option.value;
    return shown;
}

// Two columns; a name too wide for the first column gets a line of its own.
void PrintOptions(std::ostream& out, std::span<const CommandOption> options) {
    constexpr size_t kWidest = 22;
    size_t width = 0;
    for (const CommandOption& o : options) {
        if (Shown(o).size() <= kWidest) width = std::max(width, Shown(o).size());
    }
    const size_t column = 2 + width + 2;
    for (const CommandOption& o : options) {
        const std::string shown = Shown(o);
        out << "  " << shown;
        if (shown.size() > width) {
            out << "\n" << std::string(column, ' ');
        } else {
            out << std::string(width - shown.size() + 2, ' ');
        }
        Wrap(out, o.text, column, column);
    }
}

void PrintCommandList(std::ostream& out, const ProgramSpec& program) {
    size_t width = std::string(kHelpCommand).size();
    for (const CommandSpec* c : program.commands) width = std::max(width, std::string(c->name).size());
    const size_t column = 2 + width + 2;
    auto line = [&](const std::string& name, const std::string& summary) {
        out << "  " << name << std::string(width - name.size() + 2, ' ');
        Wrap(out, summary, column, column);
    };
    for (const CommandSpec* c : program.commands) line(c->name, c->summary);
    line(kHelpCommand, "show this help, or with a command's name its options and examples");
}

}  // namespace

std::string ExitStatusText(const ProgramSpec& program) {
    std::string text = "Exit status:";
    for (size_t i = 0; i < program.exitStatuses.size(); ++i) {
        const ExitStatusSpec& e = program.exitStatuses[i];
        text += (i ? "; " : " ") + std::to_string(e.status) + " " + e.text;
    }
    std::ostringstream out;
    Wrap(out, text + ".", 0, 0);
    return out.str();
}

std::string ProgramHelp(const ProgramSpec& program) {
    std::ostringstream s;
    s << "Usage: " << program.name << " [OPTIONS] COMMAND [ARGS...]\n\n";
    std::istringstream paragraphs(program.description);
    std::string paragraph, lineText;
    while (std::getline(paragraphs, lineText)) {
        if (lineText.empty()) {
            if (!paragraph.empty()) Wrap(s, paragraph, 0, 0), s << "\n";
            paragraph.clear();
        } else {
            paragraph += (paragraph.empty() ? "" : " ") + lineText;
        }
    }
    if (!paragraph.empty()) Wrap(s, paragraph, 0, 0), s << "\n";
    s << "Options (before or after the command):\n";
    PrintOptions(s, program.globalOptions);
    s << "\nCommands:\n";
    PrintCommandList(s, program);
    s << "\nRun '" << program.name << " help COMMAND' for a command's options and examples.\n\n"
      << ExitStatusText(program);
    return s.str();
}

std::string CommandHelp(const ProgramSpec& program, const CommandSpec& command) {
    std::ostringstream s;
    const std::string usage = std::string("Usage: ") + program.name + " [OPTIONS] " + command.name;
    s << usage;
    if (*command.synopsis != '\0') {
        s << " ";
        Wrap(s, command.synopsis, usage.size() + 1, 8);
    } else {
        s << "\n";
    }
    std::string summary = command.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    s << "\n";
    Wrap(s, summary + ".", 0, 0);
    if (!command.options.empty()) {
        const bool arguments = std::any_of(command.options.begin(), command.options.end(),
                                           [](const CommandOption& o) { return !o.IsOption(); });
        s << (arguments ? "\nArguments and options:\n" : "\nOptions:\n");
        PrintOptions(s, command.options);
    }
    if (!command.examples.empty()) {
        s << "\nExamples:\n";
        for (const char* example : command.examples) s << "  " << example << "\n";
    }
    s << "\nThe options of every command (";
    for (size_t i = 0; i < std::min<size_t>(2, program.globalOptions.size()); ++i)
        s << (i ? ", " : "") << Shown(program.globalOptions[i]);
    s << ", ...): " << program.name << " help\n" << ExitStatusText(program);
    return s.str();
}

}  // namespace dravix
