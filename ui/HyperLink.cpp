#include "ui/HyperLink.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "ui/LinkLauncher.h"
#include "ui/Services.h"
#include "ui/TextColour.h"

namespace dravix {

CHyperLink::CHyperLink(const AppServices& services, const QString& text, QWidget* parent)
    : QLabel(parent), m_services(services) {
    // A link's text is shown as written, never as markup.
    setTextFormat(Qt::PlainText);
    setText(text);
    // A plain static text: top left, so that fitting it keeps its top left corner.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMouseTracking(true);
    Refresh();
}

CHyperLink::~CHyperLink() = default;

void CHyperLink::Attach() {
    if (m_attached) return;
    m_attached = true;
    if (m_target.isEmpty()) m_target = text();
    if (text().isEmpty()) setText(m_target);
    ApplyStyle();
    ResizeToFit();
    setToolTip(m_target);
}

void CHyperLink::SetTarget(const QString& target) {
    m_target = target;
    if (!m_attached) return;
    ResizeToFit();
    setToolTip(m_target);
}

void CHyperLink::SetLinkText(const QString& text) {
    setText(text);
    if (m_attached) ResizeToFit();
}

void CHyperLink::SetLinkStyle(uint32_t style) {
    m_style = style;
    if (m_attached) {
        ApplyStyle();
        ResizeToFit();
    }
    Refresh();
}

QColor CHyperLink::TextColour() const {
    if (m_hover && (m_style & kHoverColour)) return QColor(kHoverColourValue);
    if (!(m_style & kNoActiveColour) && m_active) return QColor(kActiveColour);
    if (m_visited) return QColor(kVisitedColour);
    return QColor(kLinkColour);
}

bool CHyperLink::OpenLink() {
    const int result = m_services.OpenLink(m_target);
    if (!LinkOpened(result)) {
        QApplication::beep();
        m_services.Inform(window(), LinkErrorMessage(result), PromptIcon::Exclamation);
        return false;
    }
    m_visited = true;
    Refresh();
    return true;
}

void CHyperLink::ApplyStyle() {
    QFont linkFont = font();
    linkFont.setUnderline((m_style & kUnderline) != 0);
    setFont(linkFont);
    if (m_style & kNoHandCursor)
        unsetCursor();
    else
        setCursor(Qt::PointingHandCursor);
}

void CHyperLink::ResizeToFit() {
    if (!(m_style & kResizeToFit)) return;
    const QRect frame = geometry();
    const int dx = frame.width() - contentsRect().width();
    const int dy = frame.height() - contentsRect().height();
    // The text's advance, as a text extent is measured (a bounding box may add a pixel).
    const QFontMetrics metrics(font());
    const QStringList lines = text().split(u'\n');
    int textWidth = 0;
    for (const QString& line : lines) textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
    const int textHeight = metrics.height() + static_cast<int>(lines.size() - 1) * metrics.lineSpacing();
    const QSize textSize(textWidth, textHeight);

    // Edges as the dialog's coordinates: right and bottom exclusive.
    int left = frame.left();
    int top = frame.top();
    int right = left + frame.width();
    int bottom = top + frame.height();
    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        const int shrink = (bottom - top - textSize.height()) / 2;
        top += shrink;
        bottom -= shrink;
    } else {
        bottom = top + textSize.height();
    }
    if (align & Qt::AlignHCenter) {
        const int shrink = (right - left - textSize.width()) / 2;
        left += shrink;
        right -= shrink;
    } else if (align & Qt::AlignRight) {
        left = right - textSize.width();
    } else {
        right = left + textSize.width();
    }
    setGeometry(left, top, right - left + dx, bottom - top + dy);
    update();
}

void CHyperLink::Refresh() {
    // The link colours assume a light window; on another they are made readable.
    SetReadableTextColour(this, TextColour());
    update();
}

void CHyperLink::showEvent(QShowEvent* event) {
    Attach();
    QLabel::showEvent(event);
}

void CHyperLink::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    if (m_style & kFocusOnPress) setFocus(Qt::MouseFocusReason);
    if (m_style & kOpenOnPress) OpenLink();
    m_active = true;
    Refresh();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    // The press grabbed the mouse, so a release outside arrives here too: letting go outside
    // the link is the user's way of changing their mind.
    const bool inside = rect().contains(event->position().toPoint());
    if (m_active && !(m_style & kOpenOnPress) && inside) OpenLink();
}

void CHyperLink::mouseMoveEvent(QMouseEvent* event) {
    // Qt tells the control when the pointer leaves (leaveEvent), and while a button is held it
    // keeps sending moves from outside; no explicit grab is needed to see the pointer go.
    const bool inside = rect().contains(event->position().toPoint());
    if (m_hover != inside) {
        m_hover = inside;
        Refresh();
    }
    QLabel::mouseMoveEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event) {
    if (m_hover) {
        m_hover = false;
        Refresh();
    }
    QLabel::leaveEvent(event);
}

void CHyperLink::focusInEvent(QFocusEvent* event) {
    m_active = true;
    Refresh();
    QLabel::focusInEvent(event);
}

void CHyperLink::focusOutEvent(QFocusEvent* event) {
    m_hover = false;
    m_active = false;
    Refresh();
    QLabel::focusOutEvent(event);
}

void CHyperLink::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space) {
        QLabel::keyPressEvent(event);
        return;
    }
    // Holding space down would otherwise open the page once per repeat.
    if (!event->isAutoRepeat()) OpenLink();
    event->accept();
}

}  // namespace dravix
