#include "cli/OutputFile.h"

namespace dravix::cli {

int CheckOutputFile(CliContext& context, const std::string& path) {
    const FileResult writable = CheckWritableTarget(path);
    return writable.Ok() ? kExitOk : FailedWrite(context, path, writable);
}

int FailedWrite(CliContext& context, const std::string& path, const FileResult& result) {
    return context.Fail(result.problem == FileProblem::NotRegularFile ? kExitUsage : kExitFailed,
                        result.WriteMessage(path));
}

}  // namespace dravix::cli
