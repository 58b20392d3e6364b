#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"

namespace dravix::test {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs dravix-cli in this process with the given arguments and standard input.
inline CliRun RunCliCapture(std::vector<std::string> args, const std::string& input = "",
                            const cli::CliEnvironment& environment = {}) {
    args.insert(args.begin(), "dravix-cli");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::ostringstream out, err;
    std::istringstream in(input);
    CliRun run;
    run.status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err, in, environment);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// The same run, its drives reached through `drives` (a VirtualBus's or a LibraryDrives' Drives()).
inline CliRun RunCliCapture(const DriveServices& drives, std::vector<std::string> args,
                            const std::string& input = "", cli::CliEnvironment environment = {}) {
    environment.platform = drives.platform;
    return RunCliCapture(std::move(args), input, environment);
}

}  // namespace dravix::test
