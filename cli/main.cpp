#include <iostream>

#include "cli/Cli.h"

int main(int argc, char** argv) {
    return dravix::cli::RunCli(argc, argv, std::cout, std::cerr, std::cin);
}
