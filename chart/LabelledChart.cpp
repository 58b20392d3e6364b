#include "chart/LabelledChart.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>

#include <algorithm>

#include "chart/ScanChartCanvas.h"

namespace dravix {

namespace {

constexpr int kMargin = 10;
constexpr int kSwatchWidth = 28;
constexpr int kLegendGap = 18;
constexpr QRgb kPaper = 0xFFFFFFFF;
constexpr QRgb kInk = 0xFF000000;
// The legend sits on the chart's own black so that its colours look as they do on the plot.
constexpr QRgb kLegendBack = 0xFF000000;
constexpr QRgb kLegendText = 0xFFFFFFFF;

QImage RenderChart(const LabelledChart& picture, int width, int height) {
    ScanChartCanvas canvas;
    canvas.Create(width, height);
    chart_style::AddScanSeries(canvas);
    if (!picture.compared.empty()) chart_style::AddCompareSeries(canvas);
    canvas.SetRange(chart_style::kYLowerPercent, chart_style::kYUpperPercent, picture.xLower,
                    std::max(picture.xUpper, picture.xLower + 1), 0);
    if (picture.feLimit > 0) canvas.DrawLimitLine(chart_style::kFeLimitSeries, picture.feLimit, 1);
    if (picture.teLimit > 0) canvas.DrawLimitLine(chart_style::kTeLimitSeries, picture.teLimit, 1);
    chart_style::PlotCurves(canvas, picture.curves, chart_style::kTeCurve);
    if (!picture.compared.empty())
        chart_style::PlotCurves(canvas, picture.compared, chart_style::kCompareTeCurve);
    return canvas.Render();
}

}  // namespace

QImage RenderLabelledChart(const LabelledChart& picture, int chartWidth, int chartHeight) {
    if (!picture.chart.isNull()) {
        chartWidth = picture.chart.width();
        chartHeight = picture.chart.height();
    }
    const QImage chart =
        picture.chart.isNull() ? RenderChart(picture, chartWidth, chartHeight) : picture.chart;

    QFont headerFont(QStringLiteral("Arial"));
    headerFont.setStyleHint(QFont::SansSerif);
    headerFont.setPixelSize(13);
    const QFontMetrics headerMetrics(headerFont);
    const int lineHeight = headerMetrics.height();
    // A header line wider than the chart wraps between words rather than running off the picture.
    constexpr int kHeaderFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    std::vector<int> headerLineHeights;
    int headerHeight = kMargin;
    for (const QString& line : picture.header) {
        const int h = std::max(
            lineHeight,
            headerMetrics.boundingRect(QRect(0, 0, chartWidth, 1 << 20), kHeaderFlags, line).height());
        headerLineHeights.push_back(h);
        headerHeight += h;
    }

    // Legend entries flow left to right and wrap at the chart's width.
    struct Placed {
        const LegendEntry* entry;
        int x;
        int row;
    };
    std::vector<Placed> placed;
    int x = kMargin;
    int row = 0;
    for (const LegendEntry& entry : picture.legend) {
        const int width = kSwatchWidth + 6 + headerMetrics.horizontalAdvance(entry.text);
        if (x > kMargin && x + width > kMargin + chartWidth) {
            x = kMargin;
            ++row;
        }
        placed.push_back({&entry, x, row});
        x += width + kLegendGap;
    }
    const int legendRows = picture.legend.empty() ? 0 : row + 1;
    const int legendHeight = legendRows * (lineHeight + 4) + (legendRows ? 8 : 0);

    const int width = chartWidth + 2 * kMargin;
    const int chartTop = headerHeight + 6;
    const int legendTop = chartTop + chartHeight;
    const int height = legendTop + legendHeight + kMargin;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kPaper);

    QPainter painter(&image);
    painter.setFont(headerFont);
    painter.setPen(QColor::fromRgb(kInk));
    int headerTop = kMargin;
    for (int i = 0; i < picture.header.size(); ++i) {
        const int h = headerLineHeights[static_cast<size_t>(i)];
        painter.drawText(QRect(kMargin, headerTop, chartWidth, h), kHeaderFlags, picture.header[i]);
        headerTop += h;
    }
    painter.drawImage(QPoint(kMargin, chartTop), chart);
    if (legendRows > 0) {
        painter.fillRect(QRect(kMargin, legendTop, chartWidth, legendHeight), QColor::fromRgb(kLegendBack));
        for (const Placed& p : placed) {
            const int top = legendTop + 4 + p.row * (lineHeight + 4);
            const int mid = top + lineHeight / 2;
            QPen pen(QColor::fromRgb(p.entry->colour));
            pen.setWidth(p.entry->dotted ? 1 : 2);
            if (p.entry->dotted) pen.setStyle(Qt::DotLine);
            // Dashes of 6 and gaps of 4 pixels (in pen widths), as the compared curve has.
            if (p.entry->dashed) pen.setDashPattern({3.0, 2.0});
            painter.setPen(pen);
            painter.drawLine(p.x, mid, p.x + kSwatchWidth, mid);
            painter.setPen(QColor::fromRgb(kLegendText));
            painter.drawText(QPoint(p.x + kSwatchWidth + 6, top + headerMetrics.ascent()), p.entry->text);
        }
    }
    painter.end();
    return image;
}

}  // namespace dravix
