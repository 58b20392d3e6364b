#include "chart/ScanChart.h"

#include <qdrawutil.h>
#include <QPaintEvent>
#include <QPainter>

namespace dravix {

namespace {
// The sunken look: a two-pixel client edge with a one-pixel static edge inside it.
constexpr int kClientEdge = 2;
constexpr int kStaticEdge = 1;
constexpr int kEdge = kClientEdge + kStaticEdge;
// Where the client area starts.
constexpr QPoint kClientOrigin(kEdge, kEdge);
}  // namespace

CScanChart::CScanChart() {
    setContentsMargins(kEdge, kEdge, kEdge, kEdge);
    // paintEvent covers every pixel, so Qt need not clear the window first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CScanChart::~CScanChart() = default;

bool CScanChart::Create(QWidget* parent, const QRect& rect) {
    if (parent == nullptr || m_created) return false;
    setParent(parent);
    setGeometry(rect);
    m_created = true;
    // The layers are made at the client size of this moment, as the window's first size
    // notification left it, in the device pixels of the screen the window is on.
    m_clientSize = contentsRect().size();
    m_canvas.Create(m_clientSize.width(), m_clientSize.height(), devicePixelRatioF());
    show();
    return true;
}

int CScanChart::SetRange(double yLower, double yUpper, int xLower, int xUpper, int yDecimals) {
    const int result = m_canvas.SetRange(yLower, yUpper, xLower, xUpper, yDecimals);
    ShowChanges();
    return result;
}

bool CScanChart::AddSeries(QRgb colour) {
    if (!m_canvas.AddSeries(colour)) return false;
    ShowChanges();
    return true;
}

double CScanChart::AppendPoint(int index, double y, double x) {
    return m_canvas.AppendPoint(index, y, x);
}

void CScanChart::UpdateCurves() {
    m_canvas.UpdateCurves();
    ShowChanges();
}

void CScanChart::ResetCurves() {
    m_canvas.ResetCurves();
    ShowChanges();
}

void CScanChart::DrawLimitLine(int index, int value, int on) {
    m_canvas.DrawLimitLine(index, value, on);
    ShowChanges();
}

void CScanChart::DrawRangeMarker(int which, int x, int on) {
    m_canvas.DrawRangeMarker(which, x, on);
    ShowChanges();
}

void CScanChart::ShowChanges() {
    // Only what changed is repainted: during a scan that is the newest segments, not the window.
    // Empty when paints have already shown every change.
    const QRect changed = m_canvas.PendingRepaint().translated(kClientOrigin);
    if (!changed.isEmpty()) update(changed);
}

void CScanChart::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    OnSize();
}

void CScanChart::OnSize() {
    // Qt also delivers a resize when a widget sized while hidden is first shown; only a real change
    // of the client size is a size notification for the chart.
    const QSize client = contentsRect().size();
    if (client == m_clientSize) return;
    m_clientSize = client;
    m_canvas.OnSize(client.width(), client.height());
}

void CScanChart::paintEvent(QPaintEvent* event) {
    OnPaint(event->region());
}

void CScanChart::OnPaint(const QRegion& exposed) {
    QPainter painter(this);
    // Only the exposed part reaches the screen; the rest of what changed stays pending.
    m_canvas.Paint(painter, kClientOrigin, exposed.translated(-kClientOrigin));
    qDrawWinPanel(&painter, rect(), palette(), true);
    qDrawShadePanel(&painter, rect().adjusted(kClientEdge, kClientEdge, -kClientEdge, -kClientEdge),
                    palette(), true, kStaticEdge);
}

}  // namespace dravix
