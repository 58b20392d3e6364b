#include "scan/WriteTestView.h"

#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "chart/ReadTestChart.h"
#include "chart/ScanChart.h"
#include "picture/WriteTestPicture.h"
#include "probix/Rotation.h"
#include "probix/ScanEngine.h"
#include "probix/WriteTestSetup.h"
#include "ui/ProgramText.h"

namespace dravix {

double WrittenMB(uint64_t sectors) {
    return static_cast<double>(sectors) * kSectorSize / 1048576.0;
}

QString MinutesText(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    return QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0'));
}

std::vector<QString> WriteTestFigureLines(const WriteTestResult& r) {
    std::vector<QString> lines;
    if (r.end != WriteTestEnd::Refused) {
        lines.push_back(
            QStringLiteral("Written %1 of %2 sectors (%3 MB) from LBA %4 at %5.")
                .arg(r.writtenSectors)
                .arg(r.plannedSectors)
                .arg(WrittenMB(r.writtenSectors), 0, 'f', 1)
                .arg(r.startLba)
                .arg(r.speedKBps > 0 ? QStringLiteral("%1 kB/s").arg(r.speedKBps) : QStringLiteral("Max")));
    }
    if (r.summary) {
        lines.push_back(QStringLiteral("Speed: start %1X, end %2X, average %3X. Write mode: %4.")
                            .arg(r.summary->startX, 0, 'f', 2)
                            .arg(r.summary->endX, 0, 'f', 2)
                            .arg(r.summary->averageX, 0, 'f', 2)
                            .arg(QString::fromLatin1(ReadModeName(r.summary->mode))));
        lines.push_back(QStringLiteral("A real burn of the whole disc at this speed: %1.")
                            .arg(MinutesText(r.fullDiscSeconds)));
    }
    for (const std::string& note : r.notes)
        if (!note.empty()) lines.push_back(ProgramText(note));
    return lines;
}

WriteTestVerdict WriteTestVerdictOf(const WriteTestResult& r) {
    WriteTestVerdict verdict{ProgramText(r.message), r.end == WriteTestEnd::Finished && r.message.empty()};
    if (verdict.text.isEmpty()) {
        if (r.end == WriteTestEnd::Finished) verdict.text = QString::fromLatin1(kWriteTestFinished);
        if (r.end == WriteTestEnd::Stopped) verdict.text = QString::fromLatin1(kWriteTestStopped);
        if (r.end == WriteTestEnd::DriveFailed) verdict.text = QString::fromLatin1(kWriteTestDriveFailed);
    }
    return verdict;
}

std::vector<ReadTestFigureCell> WriteTestFigureCells(const WriteTestRecord& record) {
    const WriteTestResult& r = record.result;
    std::vector<ReadTestFigureCell> cells;
    const auto add = [&](const char* name, const QString& value) {
        cells.push_back({QString::fromLatin1(name), value});
    };
    add("Test", QStringLiteral("write test"));
    add("Speed setting",
        r.speedKBps > 0 ? QStringLiteral("%1 kB/s").arg(r.speedKBps) : QStringLiteral("Max"));
    add("Date", ProgramText(record.date));
    add("Result", ProgramText(WriteTestOutcomeText(r)));
    add("Sectors written", QStringLiteral("%1 of %2").arg(r.writtenSectors).arg(r.plannedSectors));
    if (r.summary) {
        AddTransferCells(cells, *r.summary, "Write mode");
        add("A whole disc", MinutesText(r.fullDiscSeconds));
    }
    if (!r.points.empty()) {
        const auto lowest = std::min_element(
            r.points.begin(), r.points.end(),
            [](const WritePoint& a, const WritePoint& b) { return a.bufferFill < b.bufferFill; });
        add("Lowest buffer level",
            QStringLiteral("%1 % at LBA %2").arg(std::lround(lowest->bufferFill * 100)).arg(lowest->lba));
    }
    return cells;
}

WriteTestView::WriteTestView(QWidget* parent) : TestView(parent, QStringLiteral("writeTestChart"), 0) {
    m_legend = NewLegendLabel(*this, QStringLiteral("writeTestLegend"));
    m_legend->setText(LegendHtml(WriteTestLegend()));
    m_layout->addWidget(m_legend);
    m_summary = NewFiguresLabel(*this, QStringLiteral("writeTestSummary"));
    m_summary->setMinimumHeight(m_summary->fontMetrics().lineSpacing() * 3);
    m_layout->addWidget(m_summary);
    m_verdict = NewVerdictLabel(*this, QStringLiteral("writeTestVerdict"));
    m_layout->addWidget(m_verdict);
    // Before a disc is read: a DVD's, its rotation axis up to what 16X turns at the innermost track.
    DiscLayout unknown;
    unknown.dvd = true;
    unknown.lastLba = static_cast<uint32_t>(kDefaultLastLba);
    constexpr double kTopX = 16.0;
    Begin(0, static_cast<int>(kDefaultLastLba), {kTopX, read_chart::RotationAxisTop(RotationRpm(unknown, 0, kTopX))});
}

WriteTestView::~WriteTestView() = default;

void WriteTestView::Begin(int first, int last, const write_chart::Axes& axes) {
    NewChart();
    write_chart::Begin(m_chart->Canvas(), first, last, axes);
    m_chart->ShowChanges();
}

void WriteTestView::Append(const WritePoint& point) {
    write_chart::Append(m_chart->Canvas(),
                        {static_cast<double>(point.lba), point.speedX, point.bufferFill, point.rpm}, false);
    m_chart->ShowChanges();
}

void WriteTestView::Show(const WriteTestResult& result, const WriteTestRecord* compared) {
    if (!result.points.empty()) {
        NewChart();
        DrawWriteTest(m_chart->Canvas(), result, compared != nullptr ? &compared->result : nullptr);
        m_chart->ShowChanges();
    }
    m_legend->setText(LegendHtml(WriteTestLegend(compared)));
    QStringList lines;
    for (const QString& line : WriteTestFigureLines(result)) lines << line;
    m_summary->setText(lines.join(QLatin1Char('\n')));
    const WriteTestVerdict verdict = WriteTestVerdictOf(result);
    ShowVerdict(*m_verdict, verdict.text, verdict.ok);
}

void WriteTestView::ClearFigures() {
    m_summary->clear();
    m_verdict->clear();
}

}  // namespace dravix
