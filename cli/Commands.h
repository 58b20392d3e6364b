#pragma once

#include <string>
#include <vector>

#include "cli/Cli.h"

// One function per command; each lives in its own cmd_<name>.cpp and is listed in Commands.cpp.
namespace dravix::cli {

int RunDrives(CliContext& context, const std::vector<std::string>& args);
int RunDiagnose(CliContext& context, const std::vector<std::string>& args);
int RunProbe(CliContext& context, const std::vector<std::string>& args);
int RunRaw(CliContext& context, const std::vector<std::string>& args);
int RunOverSpeed(CliContext& context, const std::vector<std::string>& args);
int RunLumard(CliContext& context, const std::vector<std::string>& args);
int RunTestWrite(CliContext& context, const std::vector<std::string>& args);
int RunWopc(CliContext& context, const std::vector<std::string>& args);
int RunInfo(CliContext& context, const std::vector<std::string>& args);
int RunBookType(CliContext& context, const std::vector<std::string>& args);
int RunConvert(CliContext& context, const std::vector<std::string>& args);
int RunScan(CliContext& context, const std::vector<std::string>& args);
int RunSmart(CliContext& context, const std::vector<std::string>& args);
int RunCompare(CliContext& context, const std::vector<std::string>& args);
int RunReport(CliContext& context, const std::vector<std::string>& args);

// "`dravix-cli --virtual --drive 1 testwrite`": the command line that reads again what `command`
// (its name and arguments) reads, on the drive this one works on.
std::string ReadAgainCommand(const CliContext& context, const std::string& command);

}  // namespace dravix::cli
