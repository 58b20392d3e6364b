#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "base/SafeFile.h"
#include "cli/Cli.h"

// The files the command line reads and writes (--csv, --image, --verify, -o, the inputs of compare,
// report and convert): checked as one before the first drive command or file read, written
// through base/SafeFile.h.
namespace dravix::cli {

// Fails the command with what FailedWrite says unless a file can be written at `path`; kExitOk
// when it can. Nothing is left behind.
int CheckOutputFile(CliContext& context, const std::string& path);

// Fails the command for a file that could not be written: a name that stands for a FIFO, a device
// or a folder is a wrong command line ("'PATH' is not a regular file; choose another name.",
// kExitUsage); anything else is kExitFailed with "cannot write 'PATH': why".
int FailedWrite(CliContext& context, const std::string& path, const FileResult& result);

// Every file a command names, before it reads one or sends a drive command: an output that is one
// of its inputs or another of its outputs is a wrong command line (kExitUsage, OutputClash's
// text); then each output must be one that can be written (CheckOutputFile). The virtual drive's
// state file counts as an input while the virtual drive is used. kExitOk when all is well.
int CheckCommandFiles(CliContext& context, std::vector<ActionFile> files);

// One results file of a measuring command: its key in the JSON ("csv", "image"), its name (empty
// when not asked for), and how it is written (done, or why it could not be).
struct ResultsFile {
    const char* key;
    std::string path;
    std::function<Result<void>(const std::string& path)> write;
};

// The results files of a run, written by one rule however the run ended (finished, failed,
// Ctrl+C, a signal, a reader of standard output that went away): a run that measured something
// writes each file with what it measured; one that measured nothing writes none, so an older file
// of that name stays as it was ("'PATH' was not written: nothing was NOTHING" is noted). `json`
// gets each key: the name written, or null. False, with the failure recorded, when one could not
// be written.
bool WriteResultsFiles(CliContext& context, const std::vector<ResultsFile>& files, bool measured,
                       const char* nothing, schema::Json& json);

}  // namespace dravix::cli
