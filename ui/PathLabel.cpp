#include "ui/PathLabel.h"

#include <QEvent>
#include <QFontMetrics>
#include <algorithm>

namespace dravix {

PathLabel::PathLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

PathLabel::~PathLabel() = default;

void PathLabel::SetPath(const QString& lead, const QString& path) {
    m_lead = lead;
    m_path = path;
    setToolTip(path);
    Fit();
}

QSize PathLabel::minimumSizeHint() const {
    // A few letters' room: the window sets the width, not the path.
    const QFontMetrics metrics = fontMetrics();
    const QMargins margins = contentsMargins();
    return {4 * metrics.horizontalAdvance(QChar(0x2026)) + margins.left() + margins.right() + 2 * margin(),
            metrics.height() + margins.top() + margins.bottom() + 2 * margin()};
}

QSize PathLabel::sizeHint() const {
    return minimumSizeHint();
}

void PathLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    Fit();
}

void PathLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) Fit();
}

void PathLabel::Fit() {
    const QFontMetrics metrics = fontMetrics();
    const int room = contentsRect().width() - 2 * margin() - metrics.horizontalAdvance(m_lead);
    setText(m_lead + metrics.elidedText(m_path, Qt::ElideMiddle, std::max(room, 0)));
}

}  // namespace dravix
