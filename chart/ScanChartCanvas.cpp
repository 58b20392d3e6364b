#include "chart/ScanChartCanvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>

#include "chart/Raster.h"

namespace dravix {

namespace {

constexpr QRgb kMarkerColour = 0xFF606060;  // RGB(96, 96, 96)
constexpr int kLabelCellHeight = 14;
constexpr int kLabelWeight = 300;
constexpr int kLabelGap = 4;  // between the plot and the Y labels, and below the plot to the X labels
// Layout distances in client pixels; the layers use them times the device pixel ratio.
constexpr int kPlotLeft = 20;
constexpr int kPlotTop = 10;
constexpr int kPlotRightMargin = 10;
constexpr int kPlotBottomMargin = 25;
constexpr int kMarginPerDigit = 6;
// A pixel rule, like the dotted pen's runs: the grid has a dot every kGridPitch device pixels.
constexpr int kGridPitch = 4;
// A compared curve's dashes and gaps, in client pixels along the curve.
constexpr int kDashOn = 6;
constexpr int kDashOff = 4;

// Values far outside the plot map to pixels far outside the layers; saturating there keeps the int
// arithmetic defined (and NaN harmless) without changing anything that can be seen.
constexpr double kPixelLimit = 1 << 28;

int TruncSaturated(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::clamp(v, -kPixelLimit, kPixelLimit));  // the cast truncates toward zero
}

// Number of integer digits the margin makes room for: |trunc(log10 |v|)|, 0 for a bound of 0.
int MarginDigits(double v) {
    if (v == 0.0 || std::isnan(v)) return 0;
    return std::abs(TruncSaturated(std::log10(std::fabs(v))));
}

QString FormatY(double v, int decimals) {
    char text[512];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return QString::fromLatin1(text);
}

// The label font: a GDI font height is the height of the text cell (ascent + descent), not the em
// size, so take the largest pixel size whose cell still fits `cellHeight` device pixels. The text is
// thus rendered at the layers' own resolution.
QFont LabelFont(int cellHeight) {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setWeight(static_cast<QFont::Weight>(kLabelWeight));
    for (int size = cellHeight; size > 1; --size) {
        font.setPixelSize(size);
        const QFontMetrics metrics(font);
        if (metrics.ascent() + metrics.descent() <= cellHeight) break;
    }
    return font;
}

// The rows never overlap; saying so lets the compiler vectorise the loop.
void OrRow(QRgb* __restrict out, const QRgb* __restrict grid, const QRgb* __restrict plot, int count) {
    for (int i = 0; i < count; ++i) out[i] = grid[i] | plot[i];
}

}  // namespace

ScanChartCanvas::ScanChartCanvas() = default;
ScanChartCanvas::~ScanChartCanvas() = default;

void ScanChartCanvas::Create(int clientWidth, int clientHeight, double devicePixelRatio) {
    const std::lock_guard lock(m_mutex);
    if (!m_created && std::isfinite(devicePixelRatio) && devicePixelRatio > 0.0 && devicePixelRatio <= 16.0)
        m_ratio = devicePixelRatio;
    OnSizeLocked(clientWidth, clientHeight);
    m_created = true;
    DrawFrameLocked();
}

void ScanChartCanvas::OnSize(int clientWidth, int clientHeight) {
    const std::lock_guard lock(m_mutex);
    OnSizeLocked(clientWidth, clientHeight);
}

int ScanChartCanvas::Device(int clientPixels) const {
    return static_cast<int>(std::lround(clientPixels * m_ratio));
}

void ScanChartCanvas::OnSizeLocked(int clientWidth, int clientHeight) {
    const int width = Device(std::clamp(clientWidth, 0, 1 << 16));
    const int height = Device(std::clamp(clientHeight, 0, 1 << 16));
    if (width != m_clientWidth || height != m_clientHeight) m_allChanged = true;
    m_clientWidth = width;
    m_clientHeight = height;
    m_plotLeft = Device(kPlotLeft);
    PlaceLocked();
}

void ScanChartCanvas::PlaceLocked() {
    m_plotTop = Device(kPlotTop);
    m_plotRight = m_clientWidth - Device(kPlotRightMargin);
    if (m_rightAxis) {
        // A row for the title above the labels, and the labels' width (sized by their digits as
        // the left margin is) beside the frame.
        m_plotTop += Device(kLabelCellHeight);
        const int digits = std::max(MarginDigits(m_rightUpper), MarginDigits(m_rightLower));
        const double margin = std::round(kMarginPerDigit * (digits + 3) * m_ratio) + Device(kLabelGap);
        m_plotRight = m_clientWidth - static_cast<int>(std::clamp(margin, -kPixelLimit, kPixelLimit));
    }
    m_plotBottom = m_clientHeight - Device(kPlotBottomMargin);
    m_plotHeight = m_plotBottom - m_plotTop;
    m_plotWidth = m_plotRight - m_plotLeft;
    m_yFactor = m_plotHeight / m_yRange;
    m_xFactor = m_plotWidth / m_xRange;
}

void ScanChartCanvas::DrawFrame() {
    const std::lock_guard lock(m_mutex);
    DrawFrameLocked();
}

void ScanChartCanvas::DrawFrameLocked() {
    if (!m_created) return;
    if (!m_layersCreated) {
        // Both layers keep this size for the life of the chart, whatever sizes follow.
        m_grid = QImage(m_clientWidth, m_clientHeight, QImage::Format_RGB32);
        m_plot = QImage(m_clientWidth, m_clientHeight, QImage::Format_RGB32);
        m_layersCreated = true;
    }
    // The whole layer, not just today's client area: after the window shrank, pixels beyond it
    // would come back into view when it grows again.
    raster::FillRect(m_grid, 0, 0, m_grid.width(), m_grid.height(), m_backColour);

    const int digits = std::max(MarginDigits(m_yUpper), MarginDigits(m_yLower));
    const double margin =
        std::round(kMarginPerDigit * (static_cast<double>(digits) + m_yDecimals + 3) * m_ratio);
    m_plotLeft = static_cast<int>(std::clamp(margin, -kPixelLimit, kPixelLimit));
    m_plotWidth = m_plotRight - m_plotLeft;
    m_xFactor = m_plotWidth / m_xRange;

    const raster::Pen framePen{raster::PenStyle::Solid, m_gridColour, m_backColour};
    const QPoint corners[] = {{m_plotLeft, m_plotTop},
                              {m_plotRight + 1, m_plotTop},
                              {m_plotRight + 1, m_plotBottom + 1},
                              {m_plotLeft, m_plotBottom + 1},
                              {m_plotLeft, m_plotTop}};
    for (int i = 0; i + 1 < 5; ++i)
        raster::DrawLine(m_grid, corners[i].x(), corners[i].y(), corners[i + 1].x(), corners[i + 1].y(),
                         framePen);

    const int mid = (m_plotTop + m_plotBottom) / 2;
    const int quarter = m_plotHeight / 4;
    for (int x = m_plotLeft; x < m_plotRight; x += kGridPitch) {
        raster::SetPixel(m_grid, x, mid - quarter, m_gridColour);
        raster::SetPixel(m_grid, x, mid, m_gridColour);
        raster::SetPixel(m_grid, x, mid + quarter, m_gridColour);
    }

    DrawLabelsLocked(mid, quarter);

    raster::FillRect(m_plot, 0, 0, m_plot.width(), m_plot.height(), m_backColour);
    m_allChanged = true;
}

void ScanChartCanvas::DrawLabelsLocked(int mid, int quarter) {
    m_labels.clear();
    const double span = m_yUpper - m_yLower;
    const int yLabelX = m_plotLeft - Device(kLabelGap);
    const int xLabelY = m_plotBottom + Device(kLabelGap);
    // Integer X labels; the step is computed wide so no X range can overflow it.
    const int64_t xStep = (int64_t{m_xUpper} - m_xLower) / 5;
    const int xPitch = (m_plotRight - m_plotLeft) / 5;

    using Align = ChartLabel::Align;
    m_labels.push_back({FormatY(m_yUpper, m_yDecimals), {yLabelX, m_plotTop}, Align::Right, false, {}});
    m_labels.push_back(
        {FormatY(m_yLower + 0.75 * span, m_yDecimals), {yLabelX, mid - quarter}, Align::Right, true, {}});
    m_labels.push_back(
        {FormatY((m_yLower + m_yUpper) / 2, m_yDecimals), {yLabelX, mid}, Align::Right, true, {}});
    m_labels.push_back(
        {FormatY(m_yLower + 0.25 * span, m_yDecimals), {yLabelX, mid + quarter}, Align::Right, true, {}});
    m_labels.push_back({FormatY(m_yLower, m_yDecimals), {yLabelX, m_plotBottom}, Align::Right, true, {}});
    m_labels.push_back({QString::number(m_xLower), {m_plotLeft, xLabelY}, Align::Left, false, {}});
    for (int i = 1; i <= 4; ++i)
        m_labels.push_back({QString::number(m_xLower + i * xStep),
                            {m_plotLeft + i * xPitch, xLabelY},
                            Align::Centre,
                            false,
                            {}});
    m_labels.push_back({QString::number(m_xUpper), {m_plotRight, xLabelY}, Align::Right, false, {}});

    m_rightLabels.clear();
    if (m_rightAxis) {
        const double rightSpan = m_rightUpper - m_rightLower;
        const int rightX = m_plotRight + 1 + Device(kLabelGap);
        m_rightLabels.push_back({FormatY(m_rightUpper, 0), {rightX, m_plotTop}, Align::Left, false, {}});
        m_rightLabels.push_back(
            {FormatY(m_rightLower + 0.75 * rightSpan, 0), {rightX, mid - quarter}, Align::Left, true, {}});
        m_rightLabels.push_back(
            {FormatY(m_rightLower + 0.5 * rightSpan, 0), {rightX, mid}, Align::Left, true, {}});
        m_rightLabels.push_back(
            {FormatY(m_rightLower + 0.25 * rightSpan, 0), {rightX, mid + quarter}, Align::Left, true, {}});
        m_rightLabels.push_back({FormatY(m_rightLower, 0), {rightX, m_plotBottom}, Align::Left, true, {}});
        m_rightLabels.push_back(
            {m_rightTitle, {rightX, m_plotTop - Device(kLabelGap)}, Align::Left, true, {}});
    }

    if (m_grid.isNull()) return;
    const QFont font = LabelFont(Device(kLabelCellHeight));
    const QFontMetrics metrics(font);
    QPainter painter(&m_grid);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(m_gridColour));
    for (std::vector<ChartLabel>* labels : {&m_labels, &m_rightLabels}) {
        for (ChartLabel& label : *labels) {
        const int advance = metrics.horizontalAdvance(label.text);
        int left = label.anchor.x();
        if (label.align == Align::Right) left -= advance;
        if (label.align == Align::Centre) left -= advance / 2;
        const int top = label.baseline ? label.anchor.y() - metrics.ascent() : label.anchor.y();
        label.cell = QRect(left, top, advance, metrics.ascent() + metrics.descent());
        // Opaque text: the cell is painted in the background colour first.
        raster::FillRect(m_grid, left, top, left + advance, label.cell.bottom() + 1, m_backColour);
        painter.drawText(QPoint(left, top + metrics.ascent()), label.text);
        }
    }
}

void ScanChartCanvas::SetRightAxis(double lower, double upper, const QString& title) {
    const std::lock_guard lock(m_mutex);
    m_rightAxis = true;
    m_rightLower = lower;
    m_rightUpper = upper;
    m_rightTitle = title;
    PlaceLocked();
    DrawFrameLocked();
}

std::vector<ChartLabel> ScanChartCanvas::RightLabels() const {
    const std::lock_guard lock(m_mutex);
    return m_rightLabels;
}

double ScanChartCanvas::FromRightAxis(double value) const {
    const std::lock_guard lock(m_mutex);
    const double span = m_rightUpper - m_rightLower;
    if (!m_rightAxis || span == 0.0) return m_yLower;
    return m_yLower + (value - m_rightLower) / span * m_yRange;
}

int ScanChartCanvas::SetRange(double yLower, double yUpper, int xLower, int xUpper, int yDecimals) {
    const std::lock_guard lock(m_mutex);
    m_yLower = yLower;
    m_yUpper = yUpper;
    m_xLower = xLower;
    m_xUpper = xUpper;
    m_yDecimals = yDecimals;
    m_yRange = yUpper - yLower;
    m_yFactor = m_plotHeight / m_yRange;
    m_xRange = static_cast<double>(xUpper) - xLower;
    DrawFrameLocked();
    return 0;
}

bool ScanChartCanvas::AddSeries(QRgb colour, bool dashed) {
    const std::lock_guard lock(m_mutex);
    try {
        ChartSeries series;
        series.colour = colour;
        series.dashed = dashed;
        m_series.push_back(series);
    } catch (const std::bad_alloc&) {
        return false;  // the series list is as it was and the picture stays
    }
    DrawFrameLocked();
    return true;
}

double ScanChartCanvas::AppendPoint(int index, double y, double x) {
    const std::lock_guard lock(m_mutex);
    if (index < 0 || static_cast<size_t>(index) >= m_series.size()) return 0.0;
    ChartSeries& series = m_series[static_cast<size_t>(index)];
    series.prevY = series.y;
    series.prevX = series.x;
    series.prevDashPhase = series.dashPhase;
    series.y = y;
    series.x = x;
    return series.prevY;
}

void ScanChartCanvas::UpdateCurves() {
    const std::lock_guard lock(m_mutex);
    DrawSegmentsLocked();
}

void ScanChartCanvas::DrawSegmentsLocked() {
    if (!m_layersCreated || m_series.size() <= 2) return;
    // Series 0 and 1 only lend their colours to the criterion lines.
    for (size_t i = 2; i < m_series.size(); ++i) {
        ChartSeries& series = m_series[i];
        const int px1 = PixelX(series.x);
        const int py1 = PixelY(series.y);
        // The first point of a curve is a line to itself, which paints nothing.
        const int px0 = series.hasPrevious == 1 ? PixelX(series.prevX) : px1;
        const int py0 = series.hasPrevious == 1 ? PixelY(series.prevY) : py1;
        raster::Pen pen{raster::PenStyle::Solid, series.colour, m_backColour};
        if (series.dashed) {
            pen.style = raster::PenStyle::Dash;
            pen.dashOn = std::max(Device(kDashOn), 1);
            pen.dashOff = std::max(Device(kDashOff), 1);
            pen.dashPhase = series.prevDashPhase;
            // The next segment goes on where this one's pattern ends, not afresh.
            series.dashPhase =
                (series.prevDashPhase + raster::DashSteps(px0, py0, px1, py1)) % (pen.dashOn + pen.dashOff);
        }
        raster::DrawLine(m_plot, px0, py0, px1, py1, pen);
        MarkChanged(raster::LineBounds(px0, py0, px1, py1));
        series.hasPrevious = 1;

        // The curve may leave the plot vertically: black out what it drew above and below, across
        // the segment's horizontal span (in either direction).
        const int spanLeft = std::min(px0, px1);
        const int spanRight = std::max(px0, px1) + 1;
        if (py0 <= m_plotTop || py1 <= m_plotTop) {
            raster::FillRect(m_plot, spanLeft, 0, spanRight, m_plotTop + 1, m_backColour);
            MarkChanged(QRect(QPoint(spanLeft, 0), QPoint(spanRight - 1, m_plotTop)));
        }
        if (py0 >= m_plotBottom || py1 >= m_plotBottom) {
            raster::FillRect(m_plot, spanLeft, m_plotBottom + 1, spanRight, m_clientHeight + 1, m_backColour);
            MarkChanged(QRect(QPoint(spanLeft, m_plotBottom + 1), QPoint(spanRight - 1, m_clientHeight)));
        }
    }
}

void ScanChartCanvas::ResetCurves() {
    const std::lock_guard lock(m_mutex);
    for (ChartSeries& series : m_series) {
        series.y = series.prevX = series.x = series.prevY = 0.0;
        series.hasPrevious = 0;
        series.prevDashPhase = series.dashPhase = 0;
    }
    DrawFrameLocked();
}

void ScanChartCanvas::DrawLimitLine(int index, int value, int on) {
    const std::lock_guard lock(m_mutex);
    if (!m_layersCreated) return;
    raster::Pen pen{raster::PenStyle::Dot, m_backColour, m_backColour};
    if (on == 1) {
        // Erasing needs no series; drawing in the colour of a series that does not exist draws nothing.
        if (index < 0 || static_cast<size_t>(index) >= m_series.size()) return;
        pen.colour = m_series[static_cast<size_t>(index)].colour;
    }
    const int py = PixelY(value);
    // From the X value 0; on an axis that starts after 0 that lies left of the plot, where the
    // line would run through the Y labels: there it starts at the plot's left edge.
    const int fromX = m_xLower > 0 ? m_plotLeft : m_plotLeft - TruncSaturated(m_xLower * m_xFactor);
    const int toX = m_plotLeft + TruncSaturated(m_xRange * m_xFactor);
    raster::DrawLine(m_plot, fromX, py, toX, py, pen);
    MarkChanged(raster::LineBounds(fromX, py, toX, py));
}

void ScanChartCanvas::DrawRangeMarker(int which, int x, int on) {
    const std::lock_guard lock(m_mutex);
    int& remembered = which == 0 ? m_startMarkerX : m_endMarkerX;
    raster::Pen pen{raster::PenStyle::Dot, m_backColour, m_backColour};
    if (on == 1) {
        pen = {raster::PenStyle::Solid, kMarkerColour, m_backColour};
        remembered = x;
    }
    if (!m_layersCreated) return;
    const int px = PixelX(remembered);
    raster::DrawLine(m_plot, px, m_plotBottom, px, m_plotTop, pen);
    MarkChanged(raster::LineBounds(px, m_plotBottom, px, m_plotTop));
}

int ScanChartCanvas::PixelX(double x) const {
    return m_plotLeft + TruncSaturated((x - m_xLower) * m_xFactor);
}

int ScanChartCanvas::PixelY(double v) const {
    return m_plotBottom - TruncSaturated((v - m_yLower) * m_yFactor);
}

void ScanChartCanvas::MarkChanged(const QRect& rect) {
    m_changed |= rect;
}

void ScanChartCanvas::ComposeRegionLocked(QImage& target, const QRect& region) const {
    // Grid OR plot where the layers reach; a client area grown past the layers shows background.
    const QRect area = region & target.rect();
    if (area.isEmpty()) return;
    const QRect layers = area & m_grid.rect();
    const QRgb back = raster::Opaque(m_backColour);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        QRgb* out = reinterpret_cast<QRgb*>(target.scanLine(y));
        if (y < layers.top() || y > layers.bottom() || layers.isEmpty()) {
            std::fill(out + area.left(), out + area.right() + 1, back);
            continue;
        }
        OrRow(out + layers.left(), reinterpret_cast<const QRgb*>(m_grid.constScanLine(y)) + layers.left(),
              reinterpret_cast<const QRgb*>(m_plot.constScanLine(y)) + layers.left(), layers.width());
        std::fill(out + area.left(), out + layers.left(), back);
        std::fill(out + layers.right() + 1, out + area.right() + 1, back);
    }
}

void ScanChartCanvas::ForgetPrevious(int index) {
    const std::lock_guard lock(m_mutex);
    if (index >= 0 && static_cast<size_t>(index) < m_series.size()) {
        ChartSeries& series = m_series[static_cast<size_t>(index)];
        series.hasPrevious = 0;
        series.prevDashPhase = series.dashPhase = 0;  // a new curve starts its pattern afresh
    }
}

QImage ScanChartCanvas::Render() const {
    QImage image;
    ComposeInto(image);
    return image;
}

void ScanChartCanvas::ComposeInto(QImage& target) const {
    const std::lock_guard lock(m_mutex);
    if (target.size() != QSize(m_clientWidth, m_clientHeight) || target.format() != QImage::Format_RGB32)
        target = QImage(m_clientWidth, m_clientHeight, QImage::Format_RGB32);
    target.setDevicePixelRatio(m_ratio);
    ComposeRegionLocked(target, target.rect());
}

void ScanChartCanvas::Paint(QPainter& painter, QPoint origin) {
    Paint(painter, origin, QRegion(0, 0, 1 << 16, 1 << 16));
}

void ScanChartCanvas::Paint(QPainter& painter, QPoint origin, const QRegion& exposed) {
    const std::lock_guard lock(m_mutex);
    const QRect client(0, 0, m_clientWidth, m_clientHeight);
    if (m_composed.size() != client.size()) {
        m_composed = QImage(m_clientWidth, m_clientHeight, QImage::Format_RGB32);
        // Drawn one layer pixel to one device pixel.
        m_composed.setDevicePixelRatio(m_ratio);
        m_allChanged = true;
    }
    if (m_allChanged) {
        ComposeRegionLocked(m_composed, client);
        m_unshown = client;
    } else if (!m_changed.isEmpty()) {
        ComposeRegionLocked(m_composed, m_changed);
        m_unshown |= m_changed & client;
    }
    m_allChanged = false;
    m_changed = QRect();
    painter.drawImage(origin, m_composed);
    m_unshown -= DeviceRegionInside(exposed);
}

QRegion ScanChartCanvas::DeviceRegionInside(const QRegion& client) const {
    if (m_ratio == 1.0) return client;
    QRegion device;
    for (const QRect& r : client) {
        const int left = static_cast<int>(std::ceil(r.left() * m_ratio));
        const int top = static_cast<int>(std::ceil(r.top() * m_ratio));
        const int right = static_cast<int>(std::floor((r.right() + 1) * m_ratio));
        const int bottom = static_cast<int>(std::floor((r.bottom() + 1) * m_ratio));
        if (right > left && bottom > top) device |= QRect(left, top, right - left, bottom - top);
    }
    return device;
}

QRect ScanChartCanvas::PendingRepaint() const {
    const std::lock_guard lock(m_mutex);
    const QRect client(0, 0, m_clientWidth, m_clientHeight);
    const QRect changed = m_allChanged ? client : (m_changed | m_unshown.boundingRect()) & client;
    if (changed.isEmpty() || m_ratio == 1.0) return changed;
    // Every client pixel that holds a changed device pixel.
    const int left = static_cast<int>(std::floor(changed.left() / m_ratio));
    const int top = static_cast<int>(std::floor(changed.top() / m_ratio));
    const int right = static_cast<int>(std::ceil((changed.right() + 1) / m_ratio));
    const int bottom = static_cast<int>(std::ceil((changed.bottom() + 1) / m_ratio));
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

ChartLayout ScanChartCanvas::Layout() const {
    const std::lock_guard lock(m_mutex);
    return {m_clientWidth, m_clientHeight, m_plotLeft, m_plotTop, m_plotRight, m_plotBottom,
            m_plotWidth,   m_plotHeight,   m_yFactor,  m_xFactor, m_ratio};
}

QImage ScanChartCanvas::GridLayer() const {
    const std::lock_guard lock(m_mutex);
    return m_grid.copy();
}

QImage ScanChartCanvas::PlotLayer() const {
    const std::lock_guard lock(m_mutex);
    return m_plot.copy();
}

std::vector<ChartLabel> ScanChartCanvas::Labels() const {
    const std::lock_guard lock(m_mutex);
    return m_labels;
}

int ScanChartCanvas::SeriesCount() const {
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(m_series.size());
}

ChartSeries ScanChartCanvas::Series(int index) const {
    const std::lock_guard lock(m_mutex);
    if (index < 0 || static_cast<size_t>(index) >= m_series.size()) return {};
    return m_series[static_cast<size_t>(index)];
}

int ScanChartCanvas::StartMarkerX() const {
    const std::lock_guard lock(m_mutex);
    return m_startMarkerX;
}

int ScanChartCanvas::EndMarkerX() const {
    const std::lock_guard lock(m_mutex);
    return m_endMarkerX;
}

int ScanChartCanvas::XLower() const {
    const std::lock_guard lock(m_mutex);
    return m_xLower;
}

int ScanChartCanvas::XUpper() const {
    const std::lock_guard lock(m_mutex);
    return m_xUpper;
}

}  // namespace dravix
