#pragma once

#include <QString>
#include <vector>

#include "probix/ResultsReport.h"

class QWidget;

namespace dravix {

class AppServices;

// "Make Report…" of results a window has: asks where to save the HTML report (`proposedName`
// offered), writes the page `dravix-cli report` writes for the same results, then asks whether to
// open it in the browser. A name that is one of the results' own files is refused, and a write
// that fails is told; in both cases nothing is offered. UI thread.
void SaveReport(const AppServices& services, QWidget* owner, const std::vector<ReportResult>& results,
                const QString& proposedName);

// Tools > "Make Report…": asks for one or more results files (scans, Smart reports, read tests),
// reads them on a worker of `owner`, then SaveReport. A file that cannot be read is told and no
// report is asked for.
void AskAndMakeReport(const AppServices& services, QWidget* owner);

inline constexpr const char* kMakeReportTitle = "Make Report";
inline constexpr const char* kSaveReportTitle = "Save Report";

}  // namespace dravix
