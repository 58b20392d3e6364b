#include "base/CommandDocs.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "base/CommandLine.h"

namespace dravix {

namespace {

// Text as roff reads it literally: backslashes and hyphens escaped, no control line.
std::string Roff(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

std::string Sentence(std::string text) {
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (!text.empty() && text.back() != '.') text += '.';
    return text;
}

// "--speed S" as "\fB\-\-speed\fR \fIS\fR"; arguments ("on|off") in italics.
std::string OptionTerm(const CommandOption& option) {
    if (!option.IsOption()) return "\\fI" + Roff(option.name) + "\\fR";
    std::string term = "\\fB" + Roff(option.name) + "\\fR";
    if (option.TakesValue()) term += " \\fI" + Roff(option.value) + "\\fR";
    return term;
}

void RoffOptions(std::ostream& out, std::span<const CommandOption> options) {
    for (const CommandOption& option : options) {
        out << ".TP\n" << OptionTerm(option) << "\n" << Roff(Sentence(option.text)) << "\n";
    }
}

void RoffParagraphs(std::ostream& out, const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (line.empty()) {
            out << ".PP\n";
        } else {
            out << Roff(line) << "\n";
        }
        first = false;
    }
    (void)first;
}

}  // namespace

std::string ManPage(const ProgramSpec& program, const ManPageText& text) {
    std::ostringstream out;
    const std::string name = program.name;
    out << ".\\\" Made from the command table of " << name << "; do not edit.\n"
        << ".TH " << Roff(Upper(name)) << " 1 \"\" \"Dravix " << Roff(text.version)
        << "\" \"User Commands\"\n"
        << ".SH NAME\n"
        << Roff(name) << " \\- " << Roff(program.summary) << "\n"
        << ".SH SYNOPSIS\n"
        << ".B " << Roff(name) << "\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n"
        << ".SH DESCRIPTION\n";
    RoffParagraphs(out, program.description);
    out << ".PP\nOptions may come before or after the command. An option's value follows it as the next "
           "argument or after an equals sign (\\fB\\-\\-drive=1\\fR); short options can be bundled "
           "(\\fB\\-yq\\fR); after \\fB\\-\\-\\fR every argument is one of the command's, also one that "
           "starts with a dash.\n"
        << ".SH OPTIONS\n";
    RoffOptions(out, program.globalOptions);
    out << ".SH COMMANDS\n";
    for (const CommandSpec* command : program.commands) {
        out << ".SS \"" << Roff(command->name) << "\"\n"
            << ".B " << Roff(name) << "\n[\\fIOPTIONS\\fR] \\fB" << Roff(command->name) << "\\fR";
        if (*command->synopsis != '\0') out << " " << Roff(command->synopsis);
        out << "\n.PP\n" << Roff(Sentence(command->summary)) << "\n";
        RoffOptions(out, command->options);
        if (!command->examples.empty()) {
            out << ".PP\nExamples:\n.RS\n.nf\n";
            for (const char* example : command->examples) out << Roff(example) << "\n";
            out << ".fi\n.RE\n";
        }
    }
    out << ".SS \"help\"\n.B " << Roff(name) << "\n\\fBhelp\\fR [\\fICOMMAND\\fR]\n.PP\n"
        << "Shows the help of the program, or of one command, and ends.\n";
    out << ".SH \"EXIT STATUS\"\n";
    for (const ExitStatusSpec& e : program.exitStatuses) {
        out << ".TP\n.B " << e.status << "\n" << Roff(Sentence(e.text)) << "\n";
    }
    out << text.sections;
    if (!text.sections.empty() && text.sections.back() != '\n') out << "\n";
    out << ".SH EXAMPLES\n";
    for (const CommandSpec* command : program.commands) {
        if (command->examples.empty()) continue;
        out << ".TP\n.B " << Roff(command->examples.front()) << "\n"
            << Roff(Sentence(command->summary)) << "\n";
    }
    if (!text.seeAlso.empty()) {
        out << ".SH \"SEE ALSO\"\n";
        for (size_t i = 0; i < text.seeAlso.size(); ++i) {
            const std::string& page = text.seeAlso[i];
            const size_t paren = page.find('(');
            out << ".BR " << Roff(page.substr(0, paren)) << " " << page.substr(paren)
                << (i + 1 < text.seeAlso.size() ? " ," : "") << "\n";
        }
    }
    return out.str();
}

namespace {

std::string ShellName(const std::string& program) {
    std::string name = "_" + program;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

// Every spelling of the options ("-o --output").
std::string Spellings(std::span<const CommandOption> options, bool valued) {
    std::string list;
    for (const CommandOption& o : options) {
        if (!o.IsOption() || o.TakesValue() != valued) continue;
        std::istringstream names(std::string(o.name));
        std::string name;
        while (std::getline(names, name, ',')) {
            name.erase(0, name.find_first_not_of(' '));
            list += (list.empty() ? "" : " ") + name;
        }
    }
    return list;
}

std::string Pattern(const CommandOption& o) {
    std::string list = Spellings(std::span(&o, 1), true);
    std::replace(list.begin(), list.end(), ' ', '|');
    return list;
}

// What a value or argument completes to.
std::string Offer(const char* choices) {
    if (std::string(choices) == kCompleteFiles) return "_filedir";
    if (*choices == '\0') return ":";
    return std::string("COMPREPLY=($(compgen -W '") + choices + "' -- \"$cur\"))";
}

void ValueCases(std::ostream& out, std::span<const CommandOption> options, const char* indent) {
    for (const CommandOption& o : options) {
        if (!o.TakesValue()) continue;
        out << indent << Pattern(o) << ")\n"
            << indent << "    " << Offer(o.choices) << "\n"
            << indent << "    return\n"
            << indent << "    ;;\n";
    }
}

}  // namespace

std::string BashCompletion(const ProgramSpec& program) {
    std::ostringstream out;
    const std::string function = ShellName(program.name);
    std::string commands;
    for (const CommandSpec* c : program.commands) commands += std::string(c->name) + " ";
    commands += "help";
    std::string valued = Spellings(program.globalOptions, true);
    std::set<std::string> allValued;
    for (const CommandSpec* c : program.commands) {
        std::istringstream words(Spellings(c->options, true));
        std::string w;
        while (words >> w) allValued.insert(w);
    }
    {
        std::istringstream words(valued);
        std::string w;
        while (words >> w) allValued.insert(w);
    }
    std::string skip;
    for (const std::string& w : allValued) skip += (skip.empty() ? "" : "|") + w;

    out << "# bash completion for " << program.name << ", made from its command table.\n"
        << function << "() {\n"
        << "    local cur prev words cword split\n"
        << "    _init_completion -s || return\n"
        << "    local command='' i\n"
        << "    for ((i = 1; i < cword; i++)); do\n"
        << "        case ${words[i]} in\n"
        << "            --) break ;;\n";
    if (!skip.empty()) out << "            " << skip << ") ((i++)) ;;\n";
    out << "            -*) ;;\n"
        << "            *)\n"
        << "                command=${words[i]}\n"
        << "                break\n"
        << "                ;;\n"
        << "        esac\n"
        << "    done\n"
        << "    local global='" << Spellings(program.globalOptions, false)
        << (valued.empty() ? "" : " " + valued) << "'\n"
        << "    case $prev in\n";
    ValueCases(out, program.globalOptions, "        ");
    out << "    esac\n"
        << "    local options='' offer=':'\n"
        << "    case $command in\n";
    for (const CommandSpec* c : program.commands) {
        out << "        " << c->name << ")\n";
        if (std::any_of(c->options.begin(), c->options.end(),
                        [](const CommandOption& o) { return o.TakesValue(); })) {
            out << "            case $prev in\n";
            ValueCases(out, c->options, "                ");
            out << "            esac\n";
        }
        std::string flags = Spellings(c->options, false) + " " + Spellings(c->options, true);
        flags.erase(0, flags.find_first_not_of(' '));
        flags.erase(flags.find_last_not_of(' ') + 1);
        out << "            options='" << flags << "'\n";
        std::string words;
        bool files = false;
        for (const CommandOption& o : c->options) {
            if (o.IsOption()) continue;
            if (std::string(o.choices) == kCompleteFiles) {
                files = true;
            } else if (*o.choices != '\0') {
                words += (words.empty() ? "" : " ") + std::string(o.choices);
            }
        }
        if (files) {
            out << "            offer=_filedir\n";
        } else if (!words.empty()) {
            out << "            offer=\"COMPREPLY=(\\$(compgen -W '" << words << "' -- \\\"\\$cur\\\"))\"\n";
        }
        out << "            ;;\n";
    }
    out << "        help)\n"
        << "            offer=\"COMPREPLY=(\\$(compgen -W '" << commands << "' -- \\\"\\$cur\\\"))\"\n"
        << "            ;;\n"
        << "        '')\n"
        << "            offer=\"COMPREPLY=(\\$(compgen -W '" << commands << "' -- \\\"\\$cur\\\"))\"\n"
        << "            ;;\n"
        << "    esac\n"
        << "    $split && return\n"
        << "    if [[ $cur == -* ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"$options $global\" -- \"$cur\"))\n"
        << "        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace\n"
        << "        return\n"
        << "    fi\n"
        << "    eval \"$offer\"\n"
        << "}\n"
        << "complete -F " << function << " " << program.name << "\n";
    return out.str();
}

}  // namespace dravix
