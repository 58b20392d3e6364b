// dravix_command_docs: the manual page or the bash completion of dravix-cli or dravix-vdrive,
// made at build time from the programs' own command tables.
//   dravix_command_docs man PROGRAM SECTIONS-FILE   roff on standard output
//   dravix_command_docs bash PROGRAM                bash completion on standard output

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "base/CommandDocs.h"
#include "base/Version.h"
#include "cli/Cli.h"
#include "emu/Tool.h"

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    const std::string name = argc > 2 ? argv[2] : "";
    const dravix::ProgramSpec* program = name == "dravix-cli"      ? &dravix::cli::CliProgram()
                                         : name == "dravix-vdrive" ? &dravix::emu::VdriveProgram()
                                                                   : nullptr;
    if (program == nullptr || (what != "man" && what != "bash") || (what == "man" && argc != 4)) {
        std::cerr << "usage: dravix_command_docs man dravix-cli|dravix-vdrive SECTIONS-FILE\n"
                     "       dravix_command_docs bash dravix-cli|dravix-vdrive\n";
        return 2;
    }
    if (what == "bash") {
        std::cout << dravix::BashCompletion(*program);
        return std::cout.flush() ? 0 : 1;
    }
    std::ifstream sections(argv[3]);
    std::stringstream text;
    text << sections.rdbuf();
    if (!sections) {
        std::cerr << "dravix_command_docs: cannot read " << argv[3] << "\n";
        return 1;
    }
    dravix::ManPageText page{
        .version = dravix::kVersionText, .sections = text.str(), .seeAlso = {"dravix(1)"}};
    page.seeAlso.push_back(name == "dravix-cli" ? "dravix-vdrive(1)" : "dravix-cli(1)");
    std::cout << dravix::ManPage(*program, page);
    return std::cout.flush() ? 0 : 1;
}
