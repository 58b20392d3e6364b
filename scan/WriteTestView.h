#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "chart/WriteTestChart.h"
#include "probix/WriteTestFile.h"
#include "scan/ReadTestView.h"

namespace dravix {

// The end's message of a run that ended without one of its own.
inline constexpr const char* kWriteTestFinished =
    "Finished: the disc is still blank and the drive's simulation setting is as it was.";
inline constexpr const char* kWriteTestStopped =
    "Stopped: the disc is still blank and the drive's simulation setting is as it was.";

// The write test's chart with its legend, and what a run came to: its figures and the end's
// message. The Write Test window shows a run in it while the run goes, the results window a saved
// one. Object names: "writeTestChart", "writeTestLegend", "writeTestSummary", "writeTestVerdict".
class WriteTestView final : public TestView {
    Q_OBJECT
  public:
    explicit WriteTestView(QWidget* parent = nullptr);
    ~WriteTestView() override;
    Q_DISABLE_COPY_MOVE(WriteTestView)

    // An empty chart over LBA `first`..`last` with `axes`; no figures.
    void Begin(int first, int last, const write_chart::Axes& axes);
    // The next point of the running curves.
    void Append(const WritePoint& point);
    // What a run came to: its curves drawn anew (a run that wrote nothing leaves the chart as it
    // is), with `compared`'s laid over them dashed, its figures and its end's message.
    void Show(const WriteTestResult& result, const WriteTestRecord* compared = nullptr);
    void ClearFigures();
};

// The figures of a result, one line each: what was written, the speeds and write mode, the time a
// real burn would take, the run's notes.
std::vector<QString> WriteTestFigureLines(const WriteTestResult& result);
// The end's message, and whether it is the ok one.
struct WriteTestVerdict {
    QString text;
    bool ok = false;
};
WriteTestVerdict WriteTestVerdictOf(const WriteTestResult& result);
// A result's figures as named cells, for the table that sets two runs side by side.
std::vector<ReadTestFigureCell> WriteTestFigureCells(const WriteTestRecord& record);
// Sectors in megabytes; seconds as "m:ss".
double WrittenMB(uint64_t sectors);
QString MinutesText(double seconds);

}  // namespace dravix
