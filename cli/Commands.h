#pragma once

#include <string>
#include <vector>

#include "cli/Cli.h"

// One function per command; each lives in its own cmd_<name>.cpp and is listed in Commands.cpp.
namespace dravix::cli {

int RunDrives(CliContext& context, const CommandArgs& args);
int RunDiagnose(CliContext& context, const CommandArgs& args);
int RunProbe(CliContext& context, const CommandArgs& args);
int RunRaw(CliContext& context, const CommandArgs& args);
int RunOverSpeed(CliContext& context, const CommandArgs& args);
int RunLumard(CliContext& context, const CommandArgs& args);
int RunTestWrite(CliContext& context, const CommandArgs& args);
int RunWopc(CliContext& context, const CommandArgs& args);
int RunInfo(CliContext& context, const CommandArgs& args);
int RunBookType(CliContext& context, const CommandArgs& args);
int RunConvert(CliContext& context, const CommandArgs& args);
int RunScan(CliContext& context, const CommandArgs& args);
int RunSmart(CliContext& context, const CommandArgs& args);
int RunCompare(CliContext& context, const CommandArgs& args);
int RunReport(CliContext& context, const CommandArgs& args);
int RunReadTest(CliContext& context, const CommandArgs& args);
int RunWriteTest(CliContext& context, const CommandArgs& args);

// "`dravix-cli --virtual --drive 1 testwrite`": the command line that reads again what `command`
// (its name and arguments) reads, on the drive this one works on.
std::string ReadAgainCommand(const CliContext& context, const std::string& command);

}  // namespace dravix::cli
