#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>
#include <optional>

#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/WriteTestFile.h"
#include "scan/ReadTestView.h"

class QLabel;
class QPushButton;
class QTableWidget;
class QWidget;

namespace dravix {

class AppServices;
class CScanChart;
class PathLabel;
class WriteTestView;
class Workers;

// A saved result in a window of its own: the run's header, the chart (as the page draws it, with
// both criterion lines), its legend and the statistics per zone; a Smart report shows its speeds.
// It needs no drive and sends nothing to one. Results not yet in a file (an empty path: a run
// whose drive went) can be saved from it. "Compare with…" lays a second TE/FE result over the
// first, dashed in the same colours. A read test shows its speed curve, its unread ranges, its figures and
// verdict; "Compare with…" lays another read test's curve over it, and the figures of both runs
// stand side by side in a table; a write test shows its write speed, buffer level and rotation, its
// figures and its end's message, and compares with another write test alike. The chart and the table grow
// with the window. Files are read on a worker, so a big one does not hold up the window.
class CResultsWindow final : public QDialog {
    Q_OBJECT
  public:
    // `path`: the file the results were read from or saved as; empty for a run not saved yet.
    CResultsWindow(const AppServices& services, ScanResults results, QString path, QWidget* parent = nullptr);
    CResultsWindow(const AppServices& services, ReadTestRecord readTest, QString path,
                   QWidget* parent = nullptr);
    CResultsWindow(const AppServices& services, WriteTestRecord writeTest, QString path,
                   QWidget* parent = nullptr);
    ~CResultsWindow() override;
    Q_DISABLE_COPY_MOVE(CResultsWindow)

    // Reads `path` on a worker, then shows it in a new window (deleted when closed), or tells
    // what is wrong with the file in a message box on `parent`. `opened`, when given, gets the
    // window.
    static void Open(const AppServices& services, QWidget* parent, const QString& path,
                     std::function<void(CResultsWindow*)> opened = {});
    // File > Open Scan Results…: asks for the file, then Open.
    static void AskAndOpen(const AppServices& services, QWidget* parent);

    // Writes the results file (Save Scan Results...); from then on the window names it. Empty when
    // written, else why not.
    QString SaveResults(const QString& path);

    // Lays `other` over the chart (a TE/FE result; a Smart report is refused).
    bool Compare(const ScanResults& other, const QString& path);
    void AskAndCompare();
    // "Make Report…": the report of the results shown (and of those laid over them).
    void MakeReport();
    void CompareFile(const QString& path, std::function<void(bool)> done = {});
    // Lays another read test over the read test shown.
    bool CompareReadTest(const ReadTestRecord& other, const QString& path);
    // Lays another write test over the write test shown.
    bool CompareWriteTest(const WriteTestRecord& other, const QString& path);

    const ScanResults& Results() const { return m_results; }
    const std::optional<ScanResults>& Compared() const { return m_compared; }
    const std::optional<ReadTestRecord>& ComparedReadTest() const { return m_comparedReadTest; }
    const std::optional<WriteTestRecord>& ComparedWriteTest() const { return m_comparedWriteTest; }
    CScanChart* Chart() const { return m_chart; }
    QLabel* Legend() const { return m_legend; }
    QLabel* Header() const { return m_header; }
    QTableWidget* Figures() const { return m_figures; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    CResultsWindow(const AppServices& services, ScanResults results, std::optional<ReadTestRecord> readTest,
                   std::optional<WriteTestRecord> writeTest, QString path, QWidget* parent);
    // A read test or a write test, whose view shows its chart and figures.
    bool IsTest() const { return m_readTest || m_writeTest; }
    void Build();
    void RebuildChart();
    void Redraw();
    void FillFigures();
    // The figures of the test shown and of the one laid over it, side by side.
    void FillTestFigures(const std::vector<ReadTestFigureCell>& a, const std::vector<ReadTestFigureCell>& b);
    // The header's "Compared with: " line for `text`, in place of any before.
    void NameCompared(const QString& text, const QString& path);
    void UpdateLegend();
    void SavePicture();
    void AskAndSaveResults();
    // The window's title and the file line, for the file the results are in (or none).
    void NameFile();
    // The file's name without its folder and extension, or the name a new file would get.
    QString BaseName() const;

    const AppServices& m_services;
    ScanResults m_results;
    QString m_path;  // the file the results are in; empty while they are in none
    std::optional<ReadTestRecord> m_readTest;
    std::optional<ScanResults> m_compared;
    std::optional<ReadTestRecord> m_comparedReadTest;
    ReadTestView* m_readTestView = nullptr;
    std::optional<WriteTestRecord> m_writeTest;
    std::optional<WriteTestRecord> m_comparedWriteTest;
    WriteTestView* m_writeTestView = nullptr;
    QString m_comparedPath;
    Workers* m_workers;

    QLabel* m_header = nullptr;
    // The lines that end in a path, below the header: each path shortened in its middle to fit.
    PathLabel* m_file = nullptr;
    PathLabel* m_comparedWith = nullptr;  // the compared file, once a result is laid over the chart
    QWidget* m_chartArea = nullptr;  // the chart's place; it grows with the window
    CScanChart* m_chart = nullptr;   // made again at each new size of its place
    QTimer m_rebuildChart;
    QLabel* m_legend = nullptr;
    QTableWidget* m_figures = nullptr;
    QPushButton* m_compare = nullptr;
};

}  // namespace dravix
