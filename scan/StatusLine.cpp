#include "scan/StatusLine.h"

#include <QPainter>

namespace dravix {

StatusLine::StatusLine(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
}

StatusLine::~StatusLine() = default;

void StatusLine::Show(const QString& text, const QColor& colour) {
    m_text = text;
    m_pending = colour;
    update();
}

void StatusLine::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setPen(m_pending);
    painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, m_text);
    m_painted = m_pending;
    m_pending = Qt::black;
}

}  // namespace dravix
