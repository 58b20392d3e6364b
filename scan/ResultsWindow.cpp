#include "scan/ResultsWindow.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "chart/ChartStyle.h"
#include "chart/ScanChart.h"
#include "probix/ResultsFileReader.h"
#include "probix/SpeedList.h"
#include "scan/ReadTestPicture.h"
#include "scan/ReadTestView.h"
#include "scan/ResultsPicture.h"
#include "ui/GuidePage.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

namespace {

constexpr int kChartWidth = 640;
constexpr int kChartHeight = 300;
const char* const kResultsFilter = "Dravix results (*.csv);;All files (*)";

QString FigureText(const PartStatistics& part, const ChannelStatistics& c) {
    if (part.samples == 0) return QStringLiteral("-");
    return QStringLiteral("%1 % at %2, avg %3 %, %4 over")
        .arg(c.maxPercent)
        .arg(c.maxLba)
        .arg(c.averagePercent, 0, 'f', 1)
        .arg(c.overLimit);
}

// What a results file held: a scan's or Smart report's results, or a read test.
struct AnyResults {
    std::optional<ScanResults> results;
    std::optional<ReadTestRecord> readTest;
    std::string error;
};

// Reads a results file of any kind on a thread of `workers` and hands the outcome back on the UI
// thread. The program's end never waits for the reading.
void ReadAnyOnWorker(Workers* workers, const QString& path, std::function<void(AnyResults)> done) {
    const std::string file = QFile::encodeName(path).toStdString();
    workers->StartUnjoined([file, done = std::move(done)](const WorkerContext& context) {
        AnyResults any;
        ReadTestRead readTest = ReadReadTestFile(file);
        if (!readTest.otherKind) {
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
    : CResultsWindow(services, std::move(results), std::nullopt, std::move(path), parent) {}

CResultsWindow::CResultsWindow(const AppServices& services, ReadTestRecord readTest, QString path,
                               QWidget* parent)
    : CResultsWindow(services, ScanResults{}, std::move(readTest), std::move(path), parent) {}

CResultsWindow::CResultsWindow(const AppServices& services, ScanResults results,
                               std::optional<ReadTestRecord> readTest, QString path, QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_results(std::move(results)),
      m_path(std::move(path)),
      m_readTest(std::move(readTest)),
      m_workers(new Workers(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("resultsWindow"));
    setWindowTitle(
        (m_readTest ? QStringLiteral("Read Test Results - %1") : QStringLiteral("Scan Results - %1"))
            .arg(QFileInfo(m_path).fileName()));
    SetGuidePage(*this, m_readTest                                   ? QStringLiteral("readtest.html")
                        : m_results.kind == ScanResults::Kind::Smart ? QStringLiteral("smart-report.html")
                                                                     : QStringLiteral("results-file.html"));
    Build();
}

CResultsWindow::~CResultsWindow() = default;

void CResultsWindow::Build() {
    auto* layout = new QVBoxLayout(this);
    // The chart keeps its size; the window grows with a longer header or legend instead of
    // squeezing it.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    m_header = new QLabel(this);
    m_header->setObjectName(QStringLiteral("resultsHeader"));
    m_header->setTextFormat(Qt::PlainText);
    m_header->setMaximumWidth(kChartWidth + 40);
    m_header->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_header->setWordWrap(true);
    QStringList lines;
    for (const std::string& line :
         m_readTest ? ReadTestHeaderLines(*m_readTest) : ResultsHeaderLines(m_results))
        lines << ProgramText(line);
    lines << QStringLiteral("File: %1").arg(m_path);
    m_header->setText(lines.join(QLatin1Char('\n')));
    layout->addWidget(m_header);
    const bool scan = !m_readTest && m_results.kind == ScanResults::Kind::Scan;
    if (m_readTest) {
        auto* view = new ReadTestView(this);
        view->Show(*m_readTest);
        layout->addWidget(view);
    }
    if (scan) {
        m_chart = new CScanChart;
        m_chart->Create(this, QRect(0, 0, kChartWidth, kChartHeight));
        m_chart->setFixedSize(kChartWidth, kChartHeight);
        chart_style::AddScanSeries(m_chart->Canvas());
        chart_style::AddCompareSeries(m_chart->Canvas());
        layout->addWidget(m_chart);
        m_legend = new QLabel(this);
        m_legend->setObjectName(QStringLiteral("resultsLegend"));
        m_legend->setTextFormat(Qt::RichText);
        m_legend->setWordWrap(true);
        m_legend->setMaximumWidth(kChartWidth + 40);
        m_legend->setStyleSheet(QStringLiteral("QLabel { background: black; padding: 4px; }"));
        layout->addWidget(m_legend);
    }

    if (!m_readTest) {
        m_figures = new QTableWidget(this);
        m_figures->setObjectName(QStringLiteral("resultsFigures"));
        m_figures->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_figures->verticalHeader()->setVisible(false);
        m_figures->horizontalHeader()->setStretchLastSection(true);
        m_figures->setMinimumHeight(scan ? 180 : 120);
        layout->addWidget(m_figures, 1);
    }

    auto* buttons = new QHBoxLayout;
    if (scan) {
        m_compare = new QPushButton(QStringLiteral("Compare with..."), this);
        m_compare->setObjectName(QStringLiteral("compareWith"));
        connect(m_compare, &QPushButton::clicked, this, &CResultsWindow::AskAndCompare);
        buttons->addWidget(m_compare);
    }
    if (scan || m_readTest) {
        auto* picture = new QPushButton(QStringLiteral("Save Chart Picture..."), this);
        connect(picture, &QPushButton::clicked, this, &CResultsWindow::SavePicture);
        buttons->addWidget(picture);
    }
    buttons->addStretch(1);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    buttons->addWidget(close);
    layout->addLayout(buttons);

    if (!m_readTest) FillFigures();
    if (scan) Redraw();
}

void CResultsWindow::Redraw() {
    CScanChart& chart = *m_chart;
    const int xUpper = std::max({m_results.lastLba, m_compared ? m_compared->lastLba : 0, 1});
    chart.SetRange(chart_style::kYLowerPercent, chart_style::kYUpperPercent, 0, xUpper, 0);
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
        return;
    }
    const bool both = m_compared.has_value();
    QStringList columns{QStringLiteral("Zone"), QStringLiteral("Samples"), QStringLiteral("TE"),
                        QStringLiteral("FE")};
    if (both) columns << QStringLiteral("TE compared") << QStringLiteral("FE compared");
    m_figures->clear();
    m_figures->setColumnCount(static_cast<int>(columns.size()));
    m_figures->setHorizontalHeaderLabels(columns);
    m_figures->setRowCount(kScanZoneCount + 1);
    auto fill = [&](int row, const QString& name, const PartStatistics& a, const PartStatistics* b) {
        m_figures->setItem(row, 0, new QTableWidgetItem(name));
        m_figures->setItem(row, 1, new QTableWidgetItem(QString::number(a.samples)));
        m_figures->setItem(row, 2, new QTableWidgetItem(FigureText(a, a.te)));
        m_figures->setItem(row, 3, new QTableWidgetItem(FigureText(a, a.fe)));
        if (b != nullptr) {
            m_figures->setItem(row, 4, new QTableWidgetItem(FigureText(*b, b->te)));
            m_figures->setItem(row, 5, new QTableWidgetItem(FigureText(*b, b->fe)));
        }
    };
    fill(0, QStringLiteral("all"), m_results.statistics.all, both ? &m_compared->statistics.all : nullptr);
    for (int z = 0; z < kScanZoneCount; ++z) {
        fill(z + 1, QString::number(z), m_results.statistics.zones[static_cast<size_t>(z)],
             both ? &m_compared->statistics.zones[static_cast<size_t>(z)] : nullptr);
    }
    m_figures->resizeColumnsToContents();
    m_figures->setMaximumWidth(kChartWidth + 40);
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
    QStringList lines = m_header->text().split(QLatin1Char('\n'));
    lines.erase(
        std::remove_if(lines.begin(), lines.end(),
                       [](const QString& l) { return l.startsWith(QStringLiteral("Compared with: ")); }),
        lines.end());
    lines << QStringLiteral("Compared with: %1 (%2) - %3")
                 .arg(ProgramText(ResultsShortName(other)), ProgramText(other.verdictText), path);
    m_header->setText(lines.join(QLatin1Char('\n')));
    adjustSize();
    return true;
}

void CResultsWindow::CompareFile(const QString& path, std::function<void(bool)> done) {
    if (m_compare != nullptr) m_compare->setEnabled(false);
    ReadAnyOnWorker(m_workers, path, [this, path, done = std::move(done)](AnyResults read) {
        if (m_compare != nullptr) m_compare->setEnabled(true);
        bool compared = false;
        if (read.readTest) {
            m_services.Inform(this,
                              QStringLiteral("%1: a read test has no TE/FE curves to compare.").arg(path));
        } else if (!read.results) {
            m_services.Inform(this, ProgramText(read.error), PromptIcon::Exclamation);
        } else {
            compared = Compare(*read.results, path);
        }
        if (done) done(compared);
    });
}

void CResultsWindow::AskAndCompare() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Compare with"), QFileInfo(m_path).path(), QString::fromLatin1(kResultsFilter));
    if (!path.isEmpty()) CompareFile(path);
}

void CResultsWindow::SavePicture() {
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Chart Picture"),
                                     QFileInfo(m_path).completeBaseName() + QStringLiteral(".png"),
                                     QStringLiteral("Pictures (*.png *.bmp *.jpg *.gif *.pcx *.tif)"));
    if (path.isEmpty()) return;
    const std::string file = QFile::encodeName(path).toStdString();
    const std::string problem =
        m_readTest ? SaveReadTestPicture(file, *m_readTest)
                   : SaveResultsPicture(file, m_results, m_compared ? &*m_compared : nullptr);
    if (!problem.empty()) m_services.Inform(this, ProgramText(problem), PromptIcon::Exclamation);
}

void CResultsWindow::Open(const AppServices& services, QWidget* parent, const QString& path,
                          std::function<void(CResultsWindow*)> opened) {
    // The reading belongs to the parent window: it ends with it.
    auto* workers = new Workers(parent);
    ReadAnyOnWorker(
        workers, path, [&services, parent, path, workers, opened = std::move(opened)](AnyResults read) {
            workers->deleteLater();
            if (!read.results && !read.readTest) {
                services.Inform(parent, ProgramText(read.error), PromptIcon::Exclamation);
                return;
            }
            auto* window = read.readTest
                               ? new CResultsWindow(services, std::move(*read.readTest), path, parent)
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
