#pragma once

#include <string>
#include <vector>

#include "picture/ResultsPictureFile.h"
#include "probix/ResultsReport.h"

namespace dravix {

// The report page of `results` as the command line and the windows write it: the charts as the
// command line draws them (none in a build without the chart), made now.
inline std::string ResultsReportPage(const std::vector<ReportResult>& results) {
    return ResultsReportHtml(
        results, {ResultsPictureDataUri, ReadTestPictureDataUri, WriteTestPictureDataUri}, UtcTimestamp());
}

}  // namespace dravix
