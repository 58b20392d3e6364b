#include <iostream>

#include "emu/Tool.h"

int main(int argc, char** argv) {
    return dravix::emu::RunVdriveTool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
