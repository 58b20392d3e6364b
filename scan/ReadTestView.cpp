#include "scan/ReadTestView.h"

#include <QColor>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>

#include "chart/ReadTestChart.h"
#include "chart/ScanChart.h"
#include "picture/ReadTestPicture.h"
#include "probix/BenchmarkTable.h"
#include "probix/MeasuredRange.h"
#include "probix/Rotation.h"
#include "probix/ScanEngine.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"

namespace dravix {

namespace {

constexpr int kChartWidth = 640;
constexpr int kChartHeight = 300;
// Ranges listed by name; the rest are counted.
constexpr size_t kListedRanges = 8;
// Lines the figures show without scrolling: reads, speed, unreadable, skipped and differing ranges.
constexpr int kFigureLines = 5;
// The verdict's colours: the ok verdict and the warnings of the Probix page.
constexpr QRgb kOkColour = 0xFF008200;
constexpr QRgb kWarningColour = 0xFFFF0000;
// The top of the rotation axis while a test over `first`..`last` of `layout`'s disc runs with its
// speed axis up to `topX`: the fastest rotation that speed gives in that range, which is at its
// innermost track, at one end of the range (layer 1 of an opposite track path runs back inward).
// A drive that reads at constant angular velocity stays well below it; the finished result is
// drawn again to its own fastest rotation.
double LiveRotationTop(const DiscLayout& layout, double topX, uint32_t first, uint32_t last) {
    return read_chart::RotationAxisTop(
        std::max(RotationRpm(layout, first, topX), RotationRpm(layout, last, topX)));
}

QString RangesText(const std::vector<SectorRange>& ranges) {
    QStringList listed;
    for (size_t i = 0; i < ranges.size() && i < kListedRanges; ++i) {
        const SectorRange& r = ranges[i];
        listed << (r.first == r.last ? QString::number(r.first)
                                     : QStringLiteral("%1-%2").arg(r.first).arg(r.last));
    }
    if (ranges.size() > kListedRanges)
        listed << QStringLiteral("and %1 more").arg(ranges.size() - kListedRanges);
    return listed.join(QStringLiteral(", "));
}

}  // namespace

QString LegendHtml(const std::vector<LegendEntry>& legend) {
    QStringList entries;
    for (const LegendEntry& entry : legend) {
        // An entry never breaks inside: a line may only break between entries (word joiners take
        // away the breaks the dashes would offer after them).
        entries << QStringLiteral(
                       "<span style=\"color:%1\">%2</span>&nbsp;<span style=\"color:white\">%3</span>")
                       .arg(QColor::fromRgb(entry.colour).name(),
                            entry.dotted ? QStringLiteral("&middot;&middot;&middot;&middot;")
                            : entry.dashed
                                ? QStringLiteral("&ndash;&#8288;&nbsp;&ndash;&#8288;&nbsp;&ndash;&#8288;")
                                : QStringLiteral("&mdash;&mdash;"),
                            entry.text.toHtmlEscaped().replace(QLatin1Char(' '), QStringLiteral("&nbsp;")));
    }
    return entries.join(QStringLiteral("&nbsp;&nbsp;&nbsp; "));
}

CScanChart* ReplaceTestChart(QWidget& parent, QBoxLayout& layout, CScanChart* old, const QString& name, int at) {
    auto* chart = new CScanChart;
    chart->setObjectName(name);
    chart->Create(&parent, QRect(0, 0, kChartWidth, kChartHeight));
    chart->setFixedSize(kChartWidth, kChartHeight);
    if (old != nullptr) {
        // The layout hands back the old chart's item, which is ours to delete.
        delete layout.replaceWidget(old, chart);
        delete old;
    } else {
        layout.insertWidget(at, chart);
    }
    return chart;
}

QLabel* NewLegendLabel(QWidget& parent, const QString& name) {
    auto* legend = new QLabel(&parent);
    legend->setObjectName(name);
    legend->setTextFormat(Qt::RichText);
    legend->setWordWrap(true);
    legend->setMaximumWidth(kChartWidth);
    legend->setStyleSheet(QStringLiteral("QLabel { background: black; padding: 4px; }"));
    return legend;
}

QLabel* NewFiguresLabel(QWidget& parent, const QString& name) {
    auto* figures = new QLabel(&parent);
    figures->setObjectName(name);
    figures->setTextFormat(Qt::PlainText);
    figures->setWordWrap(true);
    figures->setMaximumWidth(kChartWidth);
    figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    return figures;
}

TestWindowButtons AddTestWindowButtons(QWidget& window, QBoxLayout& layout, const QString& prefix) {
    TestWindowButtons b;
    auto* row = new QHBoxLayout;
    b.saveResults = new QPushButton(QStringLiteral("Save Results\u2026"), &window);
    b.saveResults->setObjectName(prefix + QStringLiteral("SaveResults"));
    b.savePicture = new QPushButton(QStringLiteral("Save Chart Picture\u2026"), &window);
    b.savePicture->setObjectName(prefix + QStringLiteral("SavePicture"));
    b.saveResults->setEnabled(false);
    b.savePicture->setEnabled(false);
    b.close = new QPushButton(QStringLiteral("Close"), &window);
    row->addWidget(b.saveResults);
    row->addWidget(b.savePicture);
    row->addStretch(1);
    row->addWidget(b.close);
    layout.addLayout(row);
    return b;
}

QLabel* NewVerdictLabel(QWidget& parent, const QString& name) {
    auto* verdict = new QLabel(&parent);
    verdict->setObjectName(name);
    verdict->setTextFormat(Qt::PlainText);
    verdict->setWordWrap(true);
    verdict->setMaximumWidth(kChartWidth);
    QFont bold = verdict->font();
    bold.setBold(true);
    verdict->setFont(bold);
    verdict->setMinimumHeight(QFontMetrics(bold).lineSpacing());
    return verdict;
}

void ShowVerdict(QLabel& verdict, const QString& text, bool ok) {
    verdict.setText(text);
    QPalette palette = verdict.palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(ok ? kOkColour : kWarningColour));
    verdict.setPalette(palette);
}

QString AskTestSaveName(QWidget& owner, TestSave what, const std::string& shortName) {
    const bool results = what == TestSave::Results;
    return QFileDialog::getSaveFileName(
        &owner, results ? QStringLiteral("Save Scan Results") : QStringLiteral("Save Chart Picture"),
        QString::fromStdString(shortName) + (results ? QStringLiteral(".csv") : QStringLiteral(".png")),
        results ? QStringLiteral("Dravix results (*.csv);;All files (*)")
                : QStringLiteral("Pictures (*.png *.bmp *.jpg *.gif *.pcx *.tif)"));
}

bool ToldSaved(const AppServices& services, QWidget* owner, const Result<void>& written) {
    if (!written) services.Inform(owner, ProgramText(written.Failure().text), PromptIcon::Exclamation);
    return written.Ok();
}

std::vector<QString> ReadTestFigureLines(const ReadTestResult& r) {
    std::vector<QString> lines;
    if (r.kind != ReadTestKind::Seek && r.plannedSectors > 0) {
        const QString recovered =
            r.recoveredSectors > 0
                ? QStringLiteral(" (%1)").arg(ProgramText(CountText(kReadAfterRetries, r.recoveredSectors)))
                : QString();
        lines.push_back(QStringLiteral("Read %1 of %2%3, %4 unreadable, %5 skipped.")
                            .arg(r.readSectors)
                            .arg(ProgramText(CountText(kSectorCount, r.plannedSectors)), recovered)
                            .arg(r.failedSectors)
                            .arg(r.skippedSectors));
    }
    if (r.transfer) {
        const TransferSummary& t = *r.transfer;
        lines.push_back(
            QStringLiteral("Speed: start %1X, end %2X, average %3X, minimum %4X at LBA %5. Read mode: %6.")
                .arg(t.startX, 0, 'f', 2)
                .arg(t.endX, 0, 'f', 2)
                .arg(t.averageX, 0, 'f', 2)
                .arg(t.minimumX, 0, 'f', 2)
                .arg(t.minimumLba)
                .arg(QString::fromLatin1(ReadModeName(t.mode))));
    }
    if (r.access) {
        const AccessSummary& a = *r.access;
        lines.push_back(QStringLiteral("Access time: random %1 ms, one third %2 ms, full stroke %3 ms; "
                                       "average %4 ms, worst %5 ms.")
                            .arg(a.random.averageMs, 0, 'f', 1)
                            .arg(a.oneThird.averageMs, 0, 'f', 1)
                            .arg(a.fullStroke.averageMs, 0, 'f', 1)
                            .arg(a.averageMs, 0, 'f', 1)
                            .arg(a.worstMs, 0, 'f', 1));
    }
    // A benchmark's other figures, as the command line's table gives them; the transfer rate and
    // the access times have their lines above.
    for (const BenchmarkRow& row : BenchmarkRows(r)) {
        const std::string test = row.test;
        if (test == "transfer_rate" || test.starts_with("access_")) continue;
        QString label = QString::fromLatin1(row.label);
        label[0] = label[0].toUpper();
        lines.push_back(QStringLiteral("%1: %2").arg(label, ProgramText(BenchmarkFigureText(row))));
    }
    std::vector<SectorRange> failed;
    for (const FailedRange& f : r.failures) failed.push_back(f.range);
    if (!failed.empty())
        lines.push_back(QStringLiteral("Unreadable: ") + RangesText(failed) + QLatin1Char('.'));
    if (!r.skipped.empty())
        lines.push_back(QStringLiteral("Skipped: ") + RangesText(r.skipped) + QLatin1Char('.'));
    if (r.verify && !r.verify->differences.empty())
        lines.push_back(QStringLiteral("Differs from the image: ") + RangesText(r.verify->differences) +
                        QLatin1Char('.'));
    return lines;
}

void AddTransferCells(std::vector<ReadTestFigureCell>& cells, const TransferSummary& t,
                      const char* modeName) {
    const auto speed = [](double x) { return QStringLiteral("%1X").arg(x, 0, 'f', 2); };
    cells.push_back({QStringLiteral("Start speed"), speed(t.startX)});
    cells.push_back({QStringLiteral("End speed"), speed(t.endX)});
    cells.push_back({QStringLiteral("Average speed"), speed(t.averageX)});
    cells.push_back({QStringLiteral("Minimum speed"),
                     QStringLiteral("%1 at LBA %2").arg(speed(t.minimumX)).arg(t.minimumLba)});
    cells.push_back({QString::fromLatin1(modeName), QString::fromLatin1(ReadModeName(t.mode))});
}

std::vector<ReadTestFigureCell> ReadTestFigureCells(const ReadTestRecord& record) {
    const ReadTestResult& r = record.result;
    std::vector<ReadTestFigureCell> cells;
    const auto add = [&](const char* name, const QString& value) {
        cells.push_back({QString::fromLatin1(name), value});
    };
    add("Test", QString::fromLatin1(ReadTestKindName(r.kind)));
    add("Speed setting", ProgramText(r.speed.text));
    add("Date", ProgramText(record.date));
    add("Result", ProgramText(ReadTestOutcomeText(r)));
    if (r.kind != ReadTestKind::Seek && r.plannedSectors > 0) {
        add("Sectors read", QStringLiteral("%1 of %2").arg(r.readSectors).arg(r.plannedSectors));
        add("Unreadable sectors", QString::number(r.failedSectors));
    }
    if (r.transfer) AddTransferCells(cells, *r.transfer, "Read mode");
    if (r.access) {
        const auto ms = [](const AccessSeries& a) {
            return a.reads > 0 ? QStringLiteral("%1 ms").arg(a.averageMs, 0, 'f', 1) : QStringLiteral("-");
        };
        add("Access time (random)", ms(r.access->random));
        add("Access time (one third)", ms(r.access->oneThird));
        add("Access time (full stroke)", ms(r.access->fullStroke));
    }
    for (const BenchmarkRow& row : BenchmarkRows(r)) {
        const std::string test = row.test;
        if (test == "transfer_rate" || test.starts_with("access_")) continue;
        QString label = QString::fromLatin1(row.label);
        label[0] = label[0].toUpper();
        cells.push_back({label, ProgramText(BenchmarkFigureText(row))});
    }
    return cells;
}

double ReadTestAxisTop(const DiscLayout& layout, double speedX) {
    double fastest = std::max(layout.maxReadSpeedX, speedX);
    if (fastest <= 0) fastest = layout.dvd ? 16.0 : 48.0;  // the drive did not say
    return read_chart::SpeedAxisTop(fastest);
}

TestView::TestView(QWidget* parent, QString chartName, int chartAt)
    : QWidget(parent), m_chartName(std::move(chartName)), m_chartAt(chartAt) {
    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
}

TestView::~TestView() = default;

void TestView::NewChart() {
    m_chart = ReplaceTestChart(*this, *m_layout, m_chart, m_chartName, m_chartAt);
}

ReadTestView::ReadTestView(QWidget* parent) : TestView(parent, QStringLiteral("readTestChart"), 0) {
    m_legend = NewLegendLabel(*this, QStringLiteral("readTestLegend"));
    m_layout->addWidget(m_legend);
    m_summary = NewFiguresLabel(*this, QStringLiteral("readTestSummary"));
    // The figures have room for their usual lines before there are any, and scroll when there are
    // more, so that a window does not change size when a run's figures come.
    auto* figures = new QScrollArea(this);
    figures->setObjectName(QStringLiteral("readTestFigures"));
    figures->setFrameShape(QFrame::NoFrame);
    figures->setWidgetResizable(true);
    figures->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    figures->setWidget(m_summary);
    figures->setFixedHeight(m_summary->fontMetrics().lineSpacing() * kFigureLines + 2 * m_summary->margin() + 2);
    figures->setMaximumWidth(kChartWidth);
    m_layout->addWidget(figures);
    m_verdict = NewVerdictLabel(*this, QStringLiteral("readTestVerdict"));
    m_layout->addWidget(m_verdict);
    DiscLayout unknown;
    unknown.dvd = true;
    unknown.lastLba = static_cast<uint32_t>(kDefaultLastLba);
    Begin(unknown, ReadTestAxisTop(unknown, 0));
}

ReadTestView::~ReadTestView() = default;

void ReadTestView::Begin(const DiscLayout& layout, double topX, std::optional<SectorRange> planned) {
    NewChart();
    ScanChartCanvas& canvas = m_chart->Canvas();
    std::optional<LbaSpan> span;
    if (planned && planned->first <= planned->last)
        span = LbaSpan{static_cast<int32_t>(std::min<uint32_t>(planned->first, INT32_MAX)),
                       static_cast<int32_t>(std::min<uint32_t>(planned->last, INT32_MAX))};
    const LbaSpan axis = ChartAxisLbas(span, layout.lastLba);
    const double topRpm = LiveRotationTop(layout, topX, static_cast<uint32_t>(std::max(axis.first, 0)),
                                          static_cast<uint32_t>(std::max(axis.last, 0)));
    read_chart::SetUp(canvas, axis.first, axis.last, {topX, topRpm});
    m_rotationGap = true;
    if (layout.layerBreakLba)
        read_chart::MarkLayerBreak(canvas,
                                   static_cast<int>(std::min<uint32_t>(*layout.layerBreakLba, INT32_MAX)));
    ReadTestResult shown;
    shown.layout = layout;
    m_legend->setText(LegendHtml(ReadTestLegend(shown, nullptr, axis)));
    m_summary->clear();
    m_verdict->clear();
    m_chart->ShowChanges();
}

void ReadTestView::AddPoint(const SpeedPoint& point, bool startsLine) {
    const read_chart::SpeedSample sample{static_cast<double>(point.lba), point.speedX, startsLine, point.rpm};
    read_chart::AppendRotation(m_chart->Canvas(), read_chart::kRotationCurve, sample,
                               startsLine || m_rotationGap);
    m_rotationGap = !(point.rpm > 0);
    read_chart::AppendSpeed(m_chart->Canvas(), read_chart::kSpeedCurve, sample, startsLine);
    m_chart->ShowChanges();
}

void ReadTestView::AddUnread(const SectorRange& range) {
    read_chart::MarkRange(m_chart->Canvas(), range.first, range.last);
    m_chart->ShowChanges();
}

void ReadTestView::Show(const ReadTestRecord& record, const ReadTestRecord* compared) {
    NewChart();
    DrawReadTest(m_chart->Canvas(), record.result, compared != nullptr ? &compared->result : nullptr);
    m_chart->ShowChanges();
    m_legend->setText(LegendHtml(ReadTestLegend(record.result, compared)));
    QStringList figures;
    for (const QString& line : ReadTestFigureLines(record.result)) figures << line;
    m_summary->setText(figures.join(QLatin1Char('\n')));
    const std::string outcome = ReadTestOutcomeText(record.result);
    const bool ok = std::string(ReadTestOutcomeName(record.result)) == "ok";
    ShowVerdict(*m_verdict, ProgramText(outcome), ok);
}

}  // namespace dravix
