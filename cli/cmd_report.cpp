// report: one HTML file, readable offline in any browser, holding each result given
// (probix/ResultsReport.h); the windows' "Make Report…" writes the same page.

#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "picture/ResultsReportPage.h"

namespace dravix::cli {

int RunReport(CliContext& context, const CommandArgs& args) {
    const std::vector<std::string>& inputs = args.words;
    const std::string output = args.Value("--output").value_or("");
    if (inputs.empty()) return UsageError(context, "report needs at least one results file");
    if (output.empty()) return UsageError(context, "report needs -o FILE");
    std::vector<ActionFile> files;
    for (const std::string& input : inputs) files.push_back({input, FileRole::Input});
    files.push_back({output, FileRole::Output});
    if (const int status = CheckCommandFiles(context, std::move(files)); status != kExitOk) return status;

    // Each input is a read test or a scan's or Smart report's results file.
    const Result<std::vector<ReportResult>> results = ReadReportResults(inputs);
    if (!results) return context.Fail(kExitFailed, results.Failure().text);
    if (const FileResult written = WriteFileSafely(output, ResultsReportPage(*results)); !written.Ok())
        return FailedWrite(context, output, written);
    PutNames(context.Result(), "inputs", inputs);
    PutName(context.Result(), "output", output);
    if (!context.Json()) context.Out() << "written: " << CliContext::Escaped(output) << std::endl;
    return kExitOk;
}

}  // namespace dravix::cli
