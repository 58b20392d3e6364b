#include <iostream>

#include "cli/Cli.h"
#include "cli/Terminal.h"

int main(int argc, char** argv) {
    dravix::cli::PrepareProcess();
    // Standard output through a buffer that keeps the reason of a failed write for the end.
    dravix::cli::CheckedOutputBuffer output;
    std::streambuf* const previous = std::cout.rdbuf(&output);
    int status = dravix::cli::RunCli(argc, argv, std::cout, std::cerr, std::cin);
    status = dravix::cli::FinishStandardStreams(status, output);
    std::cout.rdbuf(previous);
    return status;
}
