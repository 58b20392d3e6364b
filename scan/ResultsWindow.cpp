#include "scan/ResultsWindow.h"

#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "chart/ChartStyle.h"
#include "chart/ScanChart.h"
#include "picture/ReadTestPicture.h"
#include "picture/ResultsPicture.h"
#include "picture/WriteTestPicture.h"
#include "probix/MeasuredRange.h"
#include "probix/ResultsFileReader.h"
#include "probix/SpeedList.h"
#include "scan/MakeReport.h"
#include "scan/ReadTestView.h"
#include "scan/SaveClash.h"
#include "scan/WriteTestView.h"
#include "ui/GuidePage.h"
#include "ui/PathLabel.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

namespace {

constexpr int kChartWidth = 640;
constexpr int kChartMinimumWidth = 320;
constexpr int kChartMinimumHeight = 160;
constexpr int kSmartMaximumWidth = 900;
constexpr int kRebuildDelayMs = 60;
const char* const kResultsFilter = "Dravix results (*.csv);;All files (*)";

QString FigureText(const PartStatistics& part, const ChannelStatistics& c) {
    if (part.samples == 0) return QStringLiteral("-");
    return QStringLiteral("%1 % at %2, avg %3 %, %4 over")
        .arg(c.maxPercent)
        .arg(c.maxLba)
        .arg(c.averagePercent, 0, 'f', 1)
        .arg(c.overLimit);
}

// A figure of two results in one cell: this run's, then the compared run's.
QString BothFigures(const PartStatistics& a, const PartStatistics& b,
                    const std::function<QString(const PartStatistics&)>& figure) {
    const auto one = [&](const PartStatistics& p) {
        return p.samples == 0 ? QStringLiteral("-") : figure(p);
    };
    return QStringLiteral("%1 / %2").arg(one(a), one(b));
}

QString MaximumAt(const PartStatistics& part, const ChannelStatistics& c) {
    if (part.samples == 0) return QStringLiteral("no samples");
    return QStringLiteral("%1 % at LBA %2").arg(c.maxPercent).arg(c.maxLba);
}

// What a results file held: a scan's or Smart report's results, a read test or a write test.
struct AnyResults {
    std::optional<ScanResults> results;
    std::optional<ReadTestRecord> readTest;
    std::optional<WriteTestRecord> writeTest;
    std::string error;
};

// Reads a results file of any kind on a thread of `workers` and hands the outcome back on the UI
// thread. The program's end never waits for the reading.
void ReadAnyOnWorker(Workers* workers, const QString& path, std::function<void(AnyResults)> done) {
    const std::string file = QFile::encodeName(path).toStdString();
    workers->StartUnjoined([file, done = std::move(done)](const WorkerContext& context) {
        AnyResults any;
        WriteTestRead writeTest = ReadWriteTestFile(file);
        if (!writeTest.otherKind) {
            any.writeTest = std::move(writeTest.record);
            any.error = std::move(writeTest.error);
        } else if (ReadTestRead readTest = ReadReadTestFile(file); !readTest.otherKind) {
            any.readTest = std::move(readTest.record);
            any.error = std::move(readTest.error);
        } else {
            ResultsRead read = ReadResultsFile(file);
            any.results = std::move(read.results);
            any.error = std::move(read.error);
        }
        context.Post([done, any = std::move(any)]() mutable { done(std::move(any)); });
    });
}

}  // namespace

CResultsWindow::CResultsWindow(const AppServices& services, ScanResults results, QString path,
                               QWidget* parent)
    : CResultsWindow(services, std::move(results), std::nullopt, std::nullopt, std::move(path), parent) {}

CResultsWindow::CResultsWindow(const AppServices& services, ReadTestRecord readTest, QString path,
                               QWidget* parent)
    : CResultsWindow(services, ScanResults{}, std::move(readTest), std::nullopt, std::move(path), parent) {}

CResultsWindow::CResultsWindow(const AppServices& services, WriteTestRecord writeTest, QString path,
                               QWidget* parent)
    : CResultsWindow(services, ScanResults{}, std::nullopt, std::move(writeTest), std::move(path), parent) {}

CResultsWindow::CResultsWindow(const AppServices& services, ScanResults results,
                               std::optional<ReadTestRecord> readTest,
                               std::optional<WriteTestRecord> writeTest, QString path, QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_results(std::move(results)),
      m_path(std::move(path)),
      m_readTest(std::move(readTest)),
      m_writeTest(std::move(writeTest)),
      m_workers(new Workers(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("resultsWindow"));
    SetGuidePage(*this, m_writeTest                                  ? QStringLiteral("writetest.html")
                        : m_readTest                                 ? QStringLiteral("readtest.html")
                        : m_results.kind == ScanResults::Kind::Smart ? QStringLiteral("smart-report.html")
                                                                     : QStringLiteral("results-file.html"));
    Build();
    NameFile();
}

CResultsWindow::~CResultsWindow() = default;

void CResultsWindow::Build() {
    auto* layout = new QVBoxLayout(this);
    m_header = new QLabel(this);
    m_header->setObjectName(QStringLiteral("resultsHeader"));
    m_header->setTextFormat(Qt::PlainText);
    m_header->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_header->setWordWrap(true);
    // The image a read test was verified against is named on a line of its own, with the file's.
    const std::string imageLine =
        m_readTest && !m_readTest->imageName.empty() ? "Image: " + m_readTest->imageName : std::string();
    QStringList lines;
    for (const std::string& line : m_writeTest  ? WriteTestHeaderLines(*m_writeTest)
                                   : m_readTest ? ReadTestHeaderLines(*m_readTest)
                                                : ResultsHeaderLines(m_results)) {
        if (imageLine.empty() || line != imageLine) lines << ProgramText(line);
    }
    m_header->setText(lines.join(QLatin1Char('\n')));
    layout->addWidget(m_header);
    // Paths in a word-wrapped label would break at their first "/": each has a line of its own.
    const auto pathLine = [&](const char* name) {
        auto* label = new PathLabel(this);
        label->setObjectName(QLatin1String(name));
        layout->addWidget(label);
        return label;
    };
    if (!imageLine.empty())
        pathLine("resultsImage")->SetPath(QStringLiteral("Image: "), ProgramText(m_readTest->imageName));
    m_file = pathLine("resultsFile");  // NameFile
    m_comparedWith = pathLine("resultsComparedWith");
    m_comparedWith->hide();
    const bool scan = !IsTest() && m_results.kind == ScanResults::Kind::Scan;
    if (m_readTest) {
        m_readTestView = new ReadTestView(this);
        m_readTestView->Show(*m_readTest);
        layout->addWidget(m_readTestView);
    }
    if (m_writeTest) {
        m_writeTestView = new WriteTestView(this);
        m_writeTestView->Show(m_writeTest->result);
        layout->addWidget(m_writeTestView);
    }
    if (scan) {
        // The chart grows with the window; its layers are made anew at each new size.
        m_chartArea = new QWidget(this);
        m_chartArea->setObjectName(QStringLiteral("resultsChartArea"));
        m_chartArea->setMinimumSize(kChartMinimumWidth, kChartMinimumHeight);
        m_chartArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        m_chartArea->installEventFilter(this);
        layout->addWidget(m_chartArea, 3);
        m_legend = new QLabel(this);
        m_legend->setObjectName(QStringLiteral("resultsLegend"));
        m_legend->setTextFormat(Qt::RichText);
        m_legend->setWordWrap(true);
        m_legend->setStyleSheet(QStringLiteral("QLabel { background: black; padding: 4px; }"));
        layout->addWidget(m_legend);
        m_rebuildChart.setSingleShot(true);
        connect(&m_rebuildChart, &QTimer::timeout, this, &CResultsWindow::RebuildChart);
    }

    {
        m_figures = new QTableWidget(this);
        m_figures->setObjectName(QStringLiteral("resultsFigures"));
        m_figures->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_figures->verticalHeader()->setVisible(false);
        m_figures->setWordWrap(true);
        m_figures->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_figures->setMinimumHeight(scan ? 150 : 120);
        layout->addWidget(m_figures, 2);
        // A test shows its figures under its chart; the table comes with a compared run.
        if (IsTest()) m_figures->hide();
    }

    auto* buttons = new QHBoxLayout;
    if (scan || IsTest()) {
        m_compare = new QPushButton(QStringLiteral("Compare with..."), this);
        m_compare->setObjectName(QStringLiteral("compareWith"));
        connect(m_compare, &QPushButton::clicked, this, &CResultsWindow::AskAndCompare);
        buttons->addWidget(m_compare);
    }
    if (!IsTest() && m_path.isEmpty()) {
        auto* save = new QPushButton(QStringLiteral("Save Scan Results..."), this);
        save->setObjectName(QStringLiteral("saveScanResults"));
        connect(save, &QPushButton::clicked, this, &CResultsWindow::AskAndSaveResults);
        buttons->addWidget(save);
    }
    if (scan || IsTest()) {
        auto* picture = new QPushButton(QStringLiteral("Save Chart Picture..."), this);
        connect(picture, &QPushButton::clicked, this, &CResultsWindow::SavePicture);
        buttons->addWidget(picture);
    }
    auto* report = new QPushButton(QStringLiteral("Make Report\u2026"), this);
    report->setObjectName(QStringLiteral("makeReport"));
    connect(report, &QPushButton::clicked, this, &CResultsWindow::MakeReport);
    buttons->addWidget(report);
    buttons->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    if (!IsTest()) FillFigures();
    if (scan) {
        RebuildChart();
        resize(kChartWidth + 2 * layout->contentsMargins().left(), 680);
    } else if (!IsTest()) {
        // A Smart report opens wide enough for its table and its header's longest line.
        int width = m_figures->verticalHeader()->width() + 2 * m_figures->frameWidth() + 24;
        for (int c = 0; c < m_figures->columnCount(); ++c) width += m_figures->columnWidth(c);
        for (const QString& line : lines)
            width = std::max(width, m_header->fontMetrics().horizontalAdvance(line) + 8);
        width = std::min(width + 2 * layout->contentsMargins().left(), kSmartMaximumWidth);
        resize(width, std::max(sizeHint().height(), 420));
    }
}

bool CResultsWindow::eventFilter(QObject* watched, QEvent* event) {
    // Resizing by dragging brings many sizes; the chart is made again once they settle.
    if (watched == m_chartArea && event->type() == QEvent::Resize) m_rebuildChart.start(kRebuildDelayMs);
    return QDialog::eventFilter(watched, event);
}

void CResultsWindow::RebuildChart() {
    const QSize size = m_chartArea->size();
    if (m_chart != nullptr && m_chart->size() == size) return;
    // The chart's layers are made once at its size: a new size takes a new chart.
    delete m_chart;
    m_chart = new CScanChart;
    m_chart->Create(m_chartArea, QRect(QPoint(0, 0), size));
    chart_style::AddScanSeries(m_chart->Canvas());
    chart_style::AddCompareSeries(m_chart->Canvas());
    m_chart->show();
    Redraw();
}

void CResultsWindow::Redraw() {
    CScanChart& chart = *m_chart;
    // What was measured, as the saved picture shows it.
    const LbaSpan axis = ChartAxisLbas(m_results, m_compared ? &*m_compared : nullptr);
    chart.SetRange(chart_style::kYLowerPercent, chart_style::kYUpperPercent, axis.first, axis.last, 0);
    chart.ResetCurves();
    chart.DrawLimitLine(chart_style::kFeLimitSeries, kFeLimitPercent, 1);
    chart.DrawLimitLine(chart_style::kTeLimitSeries, kTeLimitPercent, 1);
    chart_style::PlotCurves(chart.Canvas(), CurvesOf(m_results), chart_style::kTeCurve);
    if (m_compared)
        chart_style::PlotCurves(chart.Canvas(), CurvesOf(*m_compared), chart_style::kCompareTeCurve);
    chart.UpdateCurves();
    UpdateLegend();
}

void CResultsWindow::UpdateLegend() {
    m_legend->setText(LegendHtml(ResultsLegend(m_compared ? &*m_compared : nullptr)));
}

void CResultsWindow::FillFigures() {
    if (m_results.kind == ScanResults::Kind::Smart) {
        m_figures->setColumnCount(3);
        m_figures->setHorizontalHeaderLabels(
            {QStringLiteral("Speed"), QStringLiteral("kB/s"), QStringLiteral("Result")});
        m_figures->setRowCount(static_cast<int>(m_results.speeds.size()));
        m_figures->horizontalHeader()->setStretchLastSection(true);
        for (int i = 0; i < m_figures->rowCount(); ++i) {
            const SmartRow& row = m_results.speeds[static_cast<size_t>(i)];
            m_figures->setItem(i, 0,
                               new QTableWidgetItem(QString::fromLatin1(ShortSpeedLabel(row.speedCode))));
            m_figures->setItem(i, 1, new QTableWidgetItem(QString::number(row.kbps)));
            m_figures->setItem(i, 2,
                               new QTableWidgetItem(row.result == SpeedResult::Stopped
                                                        ? QStringLiteral("(not measured)")
                                                        : QString::fromLatin1(SpeedResultText(row.result))));
        }
        m_figures->resizeColumnsToContents();
        return;
    }
    m_figures->clear();
    m_figures->setRowCount(kScanZoneCount + 1);
    const auto partOf = [](const ScanStatistics& statistics, int row) -> const PartStatistics& {
        return row == 0 ? statistics.all : statistics.zones[static_cast<size_t>(row - 1)];
    };
    const auto zoneName = [](int row) { return row == 0 ? QStringLiteral("all") : QString::number(row - 1); };
    QHeaderView* header = m_figures->horizontalHeader();
    if (!m_compared) {
        m_figures->setColumnCount(4);
        m_figures->setHorizontalHeaderLabels(
            {QStringLiteral("Zone"), QStringLiteral("Samples"), QStringLiteral("TE"), QStringLiteral("FE")});
        for (int row = 0; row <= kScanZoneCount; ++row) {
            const PartStatistics& a = partOf(m_results.statistics, row);
            m_figures->setItem(row, 0, new QTableWidgetItem(zoneName(row)));
            m_figures->setItem(row, 1, new QTableWidgetItem(QString::number(a.samples)));
            m_figures->setItem(row, 2, new QTableWidgetItem(FigureText(a, a.te)));
            m_figures->setItem(row, 3, new QTableWidgetItem(FigureText(a, a.fe)));
        }
    } else {
        // Two results: each figure has a column of its own holding this run's value and the
        // compared run's, so that no cell needs a second line; where a maximum lies is told in
        // the cell's tool tip.
        const QString order = QStringLiteral("This run / the compared run");
        struct Column {
            QString title;
            QString tip;
        };
        const std::vector<Column> columns = {
            {QStringLiteral("Zone"), QString()},
            {QStringLiteral("Samples"), order},
            {QStringLiteral("TE max %"), order},
            {QStringLiteral("TE avg %"), order},
            {QStringLiteral("TE over"),
             order + QStringLiteral(": samples over the TE limit of %1 %").arg(kTeLimitPercent)},
            {QStringLiteral("FE max %"), order},
            {QStringLiteral("FE avg %"), order},
            {QStringLiteral("FE over"),
             order + QStringLiteral(": samples over the FE limit of %1 %").arg(kFeLimitPercent)},
        };
        m_figures->setColumnCount(static_cast<int>(columns.size()));
        for (size_t c = 0; c < columns.size(); ++c) {
            auto* item = new QTableWidgetItem(columns[c].title);
            item->setToolTip(columns[c].tip);
            m_figures->setHorizontalHeaderItem(static_cast<int>(c), item);
        }
        for (int row = 0; row <= kScanZoneCount; ++row) {
            const PartStatistics& a = partOf(m_results.statistics, row);
            const PartStatistics& b = partOf(m_compared->statistics, row);
            const auto put = [&](int column, const QString& text, const QString& tip = QString()) {
                auto* item = new QTableWidgetItem(text);
                if (!tip.isEmpty()) item->setToolTip(tip);
                m_figures->setItem(row, column, item);
            };
            put(0, zoneName(row));
            put(1, QStringLiteral("%1 / %2").arg(a.samples).arg(b.samples));
            int column = 2;
            for (ChannelStatistics PartStatistics::*channel : {&PartStatistics::te, &PartStatistics::fe}) {
                put(column++,
                    BothFigures(a, b,
                                [channel](const PartStatistics& p) {
                                    return QString::number((p.*channel).maxPercent);
                                }),
                    QStringLiteral("This run: %1\nCompared run: %2")
                        .arg(MaximumAt(a, a.*channel), MaximumAt(b, b.*channel)));
                put(column++, BothFigures(a, b, [channel](const PartStatistics& p) {
                        return QString::number((p.*channel).averagePercent, 'f', 1);
                    }));
                put(column++, BothFigures(a, b, [channel](const PartStatistics& p) {
                        return QString::number((p.*channel).overLimit);
                    }));
            }
        }
    }
    // The zone and its samples as wide as they need; the figures share the rest (and wrap only
    // when the window is made too narrow for them).
    for (int c = 0; c < m_figures->columnCount(); ++c)
        header->setSectionResizeMode(c, c < 2 ? QHeaderView::ResizeToContents : QHeaderView::Stretch);
    m_figures->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
}

bool CResultsWindow::Compare(const ScanResults& other, const QString& path) {
    if (m_chart == nullptr) return false;
    if (other.kind != ScanResults::Kind::Scan) {
        m_services.Inform(this,
                          QStringLiteral("%1: a Smart Mode report has no curves to compare.").arg(path));
        return false;
    }
    m_compared = other;
    m_comparedPath = path;
    FillFigures();
    Redraw();
    NameCompared(QStringLiteral("%1 (%2)").arg(ProgramText(ResultsShortName(other)), ProgramText(other.verdictText)),
                 path);
    return true;
}

void CResultsWindow::NameCompared(const QString& text, const QString& path) {
    // What it is in the header (as the picture names it), its file on a line of its own.
    QStringList lines = m_header->text().split(QLatin1Char('\n'));
    lines.erase(
        std::remove_if(lines.begin(), lines.end(),
                       [](const QString& l) { return l.startsWith(QStringLiteral("Compared with: ")); }),
        lines.end());
    lines << QStringLiteral("Compared with: ") + text;
    m_header->setText(lines.join(QLatin1Char('\n')));
    m_comparedWith->SetPath(QStringLiteral("Compared file: "), path);
    m_comparedWith->show();
}

bool CResultsWindow::CompareReadTest(const ReadTestRecord& other, const QString& path) {
    if (!m_readTest || m_readTestView == nullptr) return false;
    m_comparedReadTest = other;
    m_comparedPath = path;
    m_readTestView->Show(*m_readTest, &*m_comparedReadTest);
    FillTestFigures(ReadTestFigureCells(*m_readTest), ReadTestFigureCells(*m_comparedReadTest));
    NameCompared(QStringLiteral("%1 (%2)").arg(ProgramText(ReadTestShortName(other)),
                                               ProgramText(ReadTestOutcomeText(other.result))),
                 path);
    return true;
}

bool CResultsWindow::CompareWriteTest(const WriteTestRecord& other, const QString& path) {
    if (!m_writeTest || m_writeTestView == nullptr) return false;
    m_comparedWriteTest = other;
    m_comparedPath = path;
    m_writeTestView->Show(m_writeTest->result, &*m_comparedWriteTest);
    FillTestFigures(WriteTestFigureCells(*m_writeTest), WriteTestFigureCells(*m_comparedWriteTest));
    NameCompared(QStringLiteral("%1 (%2)").arg(ProgramText(WriteTestShortName(other)),
                                               ProgramText(WriteTestOutcomeText(other.result))),
                 path);
    return true;
}

void CResultsWindow::FillTestFigures(const std::vector<ReadTestFigureCell>& a,
                                     const std::vector<ReadTestFigureCell>& b) {
    // A row per figure either run has, in the order the runs give them; "-" where a run has none.
    std::vector<QString> names;
    for (const auto* cells : {&a, &b}) {
        for (const ReadTestFigureCell& cell : *cells) {
            if (std::find(names.begin(), names.end(), cell.name) == names.end()) names.push_back(cell.name);
        }
    }
    const auto valueOf = [](const std::vector<ReadTestFigureCell>& cells, const QString& name) {
        for (const ReadTestFigureCell& cell : cells) {
            if (cell.name == name) return cell.value;
        }
        return QStringLiteral("-");
    };
    m_figures->clear();
    m_figures->setColumnCount(3);
    m_figures->setRowCount(static_cast<int>(names.size()));
    m_figures->setHorizontalHeaderLabels(
        {QStringLiteral("Figure"), QStringLiteral("This run"), QStringLiteral("Compared run")});
    for (size_t row = 0; row < names.size(); ++row) {
        const int r = static_cast<int>(row);
        m_figures->setItem(r, 0, new QTableWidgetItem(names[row]));
        m_figures->setItem(r, 1, new QTableWidgetItem(valueOf(a, names[row])));
        m_figures->setItem(r, 2, new QTableWidgetItem(valueOf(b, names[row])));
    }
    QHeaderView* header = m_figures->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    m_figures->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_figures->show();
}

void CResultsWindow::CompareFile(const QString& path, std::function<void(bool)> done) {
    if (m_compare != nullptr) m_compare->setEnabled(false);
    ReadAnyOnWorker(m_workers, path, [this, path, done = std::move(done)](AnyResults read) {
        if (m_compare != nullptr) m_compare->setEnabled(true);
        bool compared = false;
        // Write tests compare with write tests, read tests with read tests, scans with scans.
        if (!read.writeTest && !read.readTest && !read.results) {
            m_services.Inform(this, ProgramText(read.error), PromptIcon::Exclamation);
        } else if (m_writeTest && read.writeTest) {
            compared = CompareWriteTest(*read.writeTest, path);
        } else if (m_writeTest || read.writeTest) {
            m_services.Inform(
                this, QStringLiteral("%1: %2.").arg(path, QString::fromLatin1(kWriteTestComparesOnly)));
        } else if (m_readTest && read.readTest) {
            compared = CompareReadTest(*read.readTest, path);
        } else if (m_readTest && read.results) {
            m_services.Inform(
                this, QStringLiteral("%1: a read test compares only with another read test.").arg(path));
        } else if (read.readTest) {
            m_services.Inform(this,
                              QStringLiteral("%1: a read test has no TE/FE curves to compare.").arg(path));
        } else {
            compared = Compare(*read.results, path);
        }
        if (done) done(compared);
    });
}

void CResultsWindow::AskAndCompare() {
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Compare with"),
                                                      m_path.isEmpty() ? QString() : QFileInfo(m_path).path(),
                                                      QString::fromLatin1(kResultsFilter));
    if (!path.isEmpty()) CompareFile(path);
}

void CResultsWindow::NameFile() {
    // A run not saved yet (shown from the Probix page) is named by its disc, speed and date.
    const QString name = !m_path.isEmpty() ? QFileInfo(m_path).fileName()
                         : m_writeTest     ? ProgramText(WriteTestShortName(*m_writeTest))
                                           : ProgramText(ResultsShortName(m_results));
    setWindowTitle((m_writeTest  ? QStringLiteral("Write Test Results - %1")
                    : m_readTest ? QStringLiteral("Read Test Results - %1")
                                 : QStringLiteral("Scan Results - %1"))
                       .arg(name));
    if (m_path.isEmpty()) {
        m_file->SetPath(QStringLiteral("File: not saved"), QString());
    } else {
        m_file->SetPath(QStringLiteral("File: "), m_path);
    }
}

QString CResultsWindow::BaseName() const {
    if (!m_path.isEmpty() || IsTest()) return QFileInfo(m_path).completeBaseName();
    return ProgramText(ExpandNameTemplate(kDefaultNameTemplate, m_results));
}

QString CResultsWindow::SaveResults(const QString& path) {
    if (const QString clash = SaveClash({{m_comparedPath, FileRole::Input}}, path, FileRole::ResultsFile);
        !clash.isEmpty())
        return clash;
    if (const Result<void> written = SaveResultsFile(QFile::encodeName(path).toStdString(), m_results); !written)
        return ProgramText(written.Failure().text);
    m_path = QFileInfo(path).absoluteFilePath();
    NameFile();
    return {};
}

void CResultsWindow::AskAndSaveResults() {
    const QString path = m_services.AskSaveFileName(
        this, {QStringLiteral("Save Scan Results"), BaseName() + QStringLiteral(".csv"),
               QStringLiteral("Dravix results (*.csv)")});
    if (path.isEmpty()) return;
    if (const QString problem = SaveResults(path); !problem.isEmpty())
        m_services.Inform(this, problem, PromptIcon::Exclamation);
}

void CResultsWindow::SavePicture() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save Chart Picture"), BaseName() + QStringLiteral(".png"),
        QStringLiteral("Pictures (*.png *.bmp *.jpg *.gif *.pcx *.tif)"));
    if (path.isEmpty()) return;
    // Neither the file shown nor the one laid over it is replaced by the picture.
    if (const QString clash = SaveClash({{m_path, FileRole::Input}, {m_comparedPath, FileRole::Input}}, path,
                                        FileRole::Picture);
        !clash.isEmpty()) {
        m_services.Inform(this, clash, PromptIcon::Exclamation);
        return;
    }
    const std::string file = QFile::encodeName(path).toStdString();
    const Result<void> written =
        m_writeTest
            ? SaveWriteTestPicture(file, *m_writeTest, m_comparedWriteTest ? &*m_comparedWriteTest : nullptr)
        : m_readTest
            ? SaveReadTestPicture(file, *m_readTest, m_comparedReadTest ? &*m_comparedReadTest : nullptr)
            : SaveResultsPicture(file, m_results, m_compared ? &*m_compared : nullptr);
    if (!written) m_services.Inform(this, ProgramText(written.Failure().text), PromptIcon::Exclamation);
}

void CResultsWindow::MakeReport() {
    // The results shown, and the one laid over them.
    std::vector<ReportResult> shown{{QFile::encodeName(m_path).toStdString(),
                                     IsTest() ? std::nullopt : std::optional<ScanResults>(m_results),
                                     m_readTest, m_writeTest}};
    if (m_compared)
        shown.push_back({QFile::encodeName(m_comparedPath).toStdString(), m_compared, std::nullopt});
    if (m_comparedReadTest)
        shown.push_back({QFile::encodeName(m_comparedPath).toStdString(), std::nullopt, m_comparedReadTest});
    if (m_comparedWriteTest)
        shown.push_back({QFile::encodeName(m_comparedPath).toStdString(), std::nullopt, std::nullopt,
                         m_comparedWriteTest});
    const QString name = BaseName();
    SaveReport(m_services, this, shown,
               (name.isEmpty() ? QStringLiteral("report") : name) + QStringLiteral(".html"));
}

void CResultsWindow::Open(const AppServices& services, QWidget* parent, const QString& path,
                          std::function<void(CResultsWindow*)> opened) {
    // The reading belongs to the parent window: it ends with it.
    auto* workers = new Workers(parent);
    ReadAnyOnWorker(
        workers, path, [&services, parent, path, workers, opened = std::move(opened)](AnyResults read) {
            workers->deleteLater();
            if (!read.results && !read.readTest && !read.writeTest) {
                services.Inform(parent, ProgramText(read.error), PromptIcon::Exclamation);
                return;
            }
            auto* window =
                read.writeTest  ? new CResultsWindow(services, std::move(*read.writeTest), path, parent)
                : read.readTest ? new CResultsWindow(services, std::move(*read.readTest), path, parent)
                                : new CResultsWindow(services, std::move(*read.results), path, parent);
            window->setWindowFlag(Qt::Window);
            window->show();
            if (opened) opened(window);
        });
}

void CResultsWindow::AskAndOpen(const AppServices& services, QWidget* parent) {
    const QString path = QFileDialog::getOpenFileName(parent, QStringLiteral("Open Scan Results"), QString(),
                                                      QString::fromLatin1(kResultsFilter));
    if (!path.isEmpty()) Open(services, parent, path);
}

}  // namespace dravix
