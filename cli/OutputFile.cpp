#include "cli/OutputFile.h"

#include "base/InstallLayout.h"
#include "cli/Names.h"
#include "emu/StateFile.h"

namespace dravix::cli {

int CheckOutputFile(CliContext& context, const std::string& path) {
    const FileResult writable = CheckWritableTarget(path);
    return writable.Ok() ? kExitOk : FailedWrite(context, path, writable);
}

int FailedWrite(CliContext& context, const std::string& path, const FileResult& result) {
    return context.Fail(result.problem == FileProblem::NotRegularFile ? kExitUsage : kExitFailed,
                        result.WriteMessage(path));
}

int CheckCommandFiles(CliContext& context, std::vector<ActionFile> files) {
    // The virtual drive reads and rewrites its state file while the command runs.
    if (UsesVirtualDrive()) files.push_back({emu::StateFilePath(), FileRole::Input});
    if (const std::string clash = OutputClash(files, "command"); !clash.empty())
        return context.Fail(kExitUsage, clash);
    for (const ActionFile& file : files) {
        if (file.path.empty() || file.role == FileRole::Input) continue;
        if (const int status = CheckOutputFile(context, file.path); status != kExitOk) return status;
    }
    return kExitOk;
}

bool WriteResultsFiles(CliContext& context, const std::vector<ResultsFile>& files, bool measured,
                       const char* nothing, schema::Json& json) {
    bool allWritten = true;
    for (const ResultsFile& file : files) {
        json[file.key] = nullptr;
        if (file.path.empty()) continue;
        if (!measured) {
            context.Note("'" + file.path + "' was not written: nothing was " + nothing);
            continue;
        }
        if (const Result<void> written = file.write(file.path); !written) {
            context.Fail(kExitFailed, written.Failure().text);
            allWritten = false;
            continue;
        }
        PutName(json, file.key, file.path);
    }
    return allWritten;
}

}  // namespace dravix::cli
