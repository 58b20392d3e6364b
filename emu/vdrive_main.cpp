#include <iostream>

#include "base/Version.h"
#include "emu/Tool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
        std::cout << "dravix-vdrive " << dravix::kVersionText << "\n";
        return 0;
    }
    return dravix::emu::RunVdriveTool(args, std::cout, std::cerr);
}
