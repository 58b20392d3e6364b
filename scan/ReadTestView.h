#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

#include "base/Result.h"
#include "chart/LabelledChart.h"
#include "probix/ReadTestFile.h"

class QBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace dravix {

class AppServices;
class CScanChart;

// A legend as rich text on the chart's black, one "—— text" per entry in the entry's colour.
QString LegendHtml(const std::vector<LegendEntry>& legend);

// What the read test's and the write test's views lay out alike. A chart of the views' size named
// `name`, in `old`'s place in `layout` (the old one deleted), or at `at` when there is none: the
// chart keeps what it drew as its only record, and its series once added, so a new run or result
// gets a chart of its own. The legend's label on the chart's black; the figures' label, plain and
// selectable; the end's message, bold, shown in the ok colour or the warning colour.
CScanChart* ReplaceTestChart(QWidget& parent, QBoxLayout& layout, CScanChart* old, const QString& name,
                             int at = 0);
QLabel* NewLegendLabel(QWidget& parent, const QString& name);
QLabel* NewFiguresLabel(QWidget& parent, const QString& name);
QLabel* NewVerdictLabel(QWidget& parent, const QString& name);
void ShowVerdict(QLabel& verdict, const QString& text, bool ok);
// Saving from a test window: the results file ("Save Scan Results", `shortName`.csv offered) or the
// chart's picture ("Save Chart Picture", `shortName`.png); the name chosen, empty when the user
// cancels. Then what the save came to: true when written, else false after the message that says
// why.
enum class TestSave { Results, Picture };
// A test window's bottom row: Save Results… and Save Chart Picture… (off until there is something
// to save, named `prefix`SaveResults and `prefix`SavePicture), then Close at the right.
struct TestWindowButtons {
    QPushButton* saveResults = nullptr;
    QPushButton* savePicture = nullptr;
    QPushButton* close = nullptr;
};
TestWindowButtons AddTestWindowButtons(QWidget& window, QBoxLayout& layout, const QString& prefix);
QString AskTestSaveName(QWidget& owner, TestSave what, const std::string& shortName);
bool ToldSaved(const AppServices& services, QWidget* owner, const Result<void>& written);

// What the read test's and the write test's views hold alike: a layout (no margins) of the chart, its
// legend, the figures and the end's message; a chart named `chartName`, made anew at `chartAt` in
// the layout for each run and each result.
class TestView : public QWidget {
    Q_OBJECT
  public:
    ~TestView() override;
    Q_DISABLE_COPY_MOVE(TestView)

  protected:
    TestView(QWidget* parent, QString chartName, int chartAt);
    void NewChart();

    QVBoxLayout* m_layout = nullptr;
    CScanChart* m_chart = nullptr;
    QLabel* m_legend = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_verdict = nullptr;

  private:
    QString m_chartName;
    int m_chartAt = 0;
};

// The read test's chart with its legend, and what a run came to: its figures and its verdict. The
// Read Test window shows a run in it while the run goes, the results window a saved one. Before
// either, the chart has the empty axes of a run over a single-layer DVD. Object names:
// "readTestChart", "readTestLegend", "readTestSummary", "readTestVerdict".
class ReadTestView final : public TestView {
    Q_OBJECT
  public:
    explicit ReadTestView(QWidget* parent = nullptr);
    ~ReadTestView() override;
    Q_DISABLE_COPY_MOVE(ReadTestView)

    // An empty chart for a run over `layout`'s disc, its speed axis up to `topX`, its position
    // axis over the sectors the run is to read (`planned`; without it the whole disc); no figures
    // yet.
    void Begin(const DiscLayout& layout, double topX, std::optional<SectorRange> planned = std::nullopt);
    // The next point of the running curve; `startsLine` after sectors that were not read.
    void AddPoint(const SpeedPoint& point, bool startsLine);
    // Sectors the running test could not read.
    void AddUnread(const SectorRange& range);
    // A whole result, drawn anew, with its figures and verdict; `compared`, when given, laid over
    // its chart dashed (its figures are the caller's to show).
    void Show(const ReadTestRecord& record, const ReadTestRecord* compared = nullptr);

  private:
    // The running curve's last point had no rotation: the next one with a rotation starts anew.
    bool m_rotationGap = true;
};

// The top of the speed axis of a run over `layout`'s disc at `speedX` (0: as fast as the drive
// reads).
double ReadTestAxisTop(const DiscLayout& layout, double speedX);

// The figures of a result, one line each: the sectors read, the speeds and read mode, the access
// times, the unreadable, skipped and differing ranges (the first few of each).
std::vector<QString> ReadTestFigureLines(const ReadTestResult& result);

// A result's figures as named cells, for a table that sets two runs side by side: the test and its
// outcome, the sectors, the speeds and read mode, the access times, the benchmark's figures.
struct ReadTestFigureCell {
    QString name;
    QString value;
};
std::vector<ReadTestFigureCell> ReadTestFigureCells(const ReadTestRecord& record);
// The cells of a speed summary: the start, end, average and minimum speed, and the mode as
// `modeName` ("Read mode", "Write mode").
void AddTransferCells(std::vector<ReadTestFigureCell>& cells, const TransferSummary& t, const char* modeName);

}  // namespace dravix
