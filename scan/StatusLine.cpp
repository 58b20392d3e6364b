#include "scan/StatusLine.h"

#include <qdrawutil.h>
#include <QPainter>

#include "ui/ScreenPicture.h"
#include "ui/TextColour.h"

namespace dravix {

namespace {
// Between an edge line and the window colour, for the edge to be seen at all.
constexpr double kMinimumEdgeContrast = 1.3;
}  // namespace

StatusLine::StatusLine(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
}

StatusLine::~StatusLine() = default;

void StatusLine::Show(const QString& text, const QColor& colour) {
    m_text = text;
    m_pending = colour;
    update();
}

void StatusLine::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    // A sunken edge: shadow at the top and left, highlight at the bottom and right. Where the
    // highlight is about the window colour (a light theme's white on near-white) the bottom and
    // right edges would vanish, so they take the mid tone instead.
    QPalette edges = palette();
    const QColor back = edges.color(backgroundRole());
    if (ContrastRatio(edges.color(QPalette::Light), back) < kMinimumEdgeContrast)
        edges.setColor(QPalette::Light, edges.color(QPalette::Mid));
    qDrawShadePanel(&painter, rect(), edges, true, lineWidth());
    // A picture of the window shows the colour the screen shows, and uses nothing up.
    if (ScreenPicture::Taking(*this)) {
        painter.setPen(m_drawn);
        painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, m_text);
        return;
    }
    // The page's colours were chosen for a light window; on a dark one they are made readable.
    m_drawn = FixedColourOn(m_pending, palette().color(backgroundRole()));
    painter.setPen(m_drawn);
    painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, m_text);
    m_painted = m_pending;
    m_pending = Qt::black;
}

}  // namespace dravix
