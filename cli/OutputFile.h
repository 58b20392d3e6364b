#pragma once

#include <string>

#include "base/SafeFile.h"
#include "cli/Cli.h"

// The files the command line writes (--csv, --image, -o, convert's output): checked before the
// first drive command, written through base/SafeFile.h.
namespace dravix::cli {

// Fails the command with what FailedWrite says unless a file can be written at `path`; kExitOk
// when it can. Nothing is left behind.
int CheckOutputFile(CliContext& context, const std::string& path);

// Fails the command for a file that could not be written: a name that stands for a FIFO, a device
// or a folder is a wrong command line ("'PATH' is not a regular file; choose another name.",
// kExitUsage); anything else is kExitFailed with "cannot write 'PATH': why".
int FailedWrite(CliContext& context, const std::string& path, const FileResult& result);

}  // namespace dravix::cli
