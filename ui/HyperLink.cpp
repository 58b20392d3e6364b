#include "ui/HyperLink.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <cerrno>

#include "ui/Prompter.h"
#include "ui/TextColour.h"

namespace dravix {

namespace {

LinkLauncher g_launcher;  // used on the UI thread only

int Launch(const LaunchCommand& command) {
    return g_launcher ? g_launcher(command) : LaunchDetached(command);
}

// What the desktop is asked to open: a web address as written, a file name as a file.
QUrl LinkUrl(const QString& target) {
    return QUrl::fromUserInput(target, QDir::currentPath());
}

int OpenWithBrowserCommand(const QString& target) {
    const std::optional<LaunchCommand> command = BrowserLaunchCommand(BrowserCommandText(), target);
    if (!command) return kLinkNoAssociation;
    return Launch(*command);
}

}  // namespace

QString LinkErrorText(int code) {
    switch (code) {
        case 0:
            return QStringLiteral("The operating system is out\nof memory or resources.");
        case 2:
            return QStringLiteral("The specified file was not found.");
        case 3:
            return QStringLiteral("The specified path was not found.");
        case 5:
            return QStringLiteral("The operating system denied\naccess to the specified file.");
        case 8:
            return QStringLiteral("There was not enough memory to complete the operation.");
        case 11:
            return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
        case 26:
            return QStringLiteral("A sharing violation occurred. ");
        case 27:
            return QStringLiteral("The filename association is\nincomplete or invalid.");
        case 28:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because the request timed out.");
        case 29:
            return QStringLiteral("The DDE transaction failed.");
        case 30:
            return QStringLiteral(
                "The DDE transaction could not\nbe completed because other DDE transactions\n"
                "were being processed.");
        case 31:
            return QStringLiteral("There is no application associated\nwith the given filename extension.");
        case 32:
            return QStringLiteral("The specified dynamic-link library was not found.");
        default:
            return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    }
}

QString LinkErrorMessage(int code) {
    return QStringLiteral("Can't open link:\n\n") + LinkErrorText(code);
}

QStringList SplitCommandLine(const QString& text) {
    QStringList words;
    QString word;
    bool inWord = false;
    QChar quote;  // the quote character of the group being read, or null
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (quote == u'\'') {
            if (c == u'\'')
                quote = QChar();
            else
                word += c;
            continue;
        }
        if (quote == u'"') {
            if (c == u'"') {
                quote = QChar();
            } else if (c == u'\\' && i + 1 < size && QStringView(u"\"\\$`").contains(text.at(i + 1))) {
                word += text.at(++i);
            } else {
                word += c;
            }
            continue;
        }
        if (c.isSpace()) {
            if (inWord) words << word;
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;  // also for "" and '', which are empty words
        if (c == u'"' || c == u'\'')
            quote = c;
        else if (c == u'\\' && i + 1 < size)
            word += text.at(++i);
        else
            word += c;
    }
    if (inWord) words << word;
    return words;
}

QString BrowserCommandText() {
    const QString browser = QString::fromLocal8Bit(qgetenv("BROWSER")).trimmed();
    if (!browser.isEmpty()) return browser;
    const QString fallback = QStringLiteral("x-www-browser");
    if (!QStandardPaths::findExecutable(fallback).isEmpty()) return fallback;
    return {};
}

std::optional<LaunchCommand> BrowserLaunchCommand(const QString& commandText, const QString& target) {
    QString head = commandText;
    // The target takes the place of the placeholder; what follows the placeholder is dropped,
    // as the shell's own command templates are treated.
    for (QLatin1StringView placeholder :
         {QLatin1StringView("\"%s\""), QLatin1StringView("'%s'"), QLatin1StringView("%s")}) {
        const qsizetype at = commandText.indexOf(placeholder);
        if (at >= 0) {
            head = commandText.left(at);
            break;
        }
    }
    QStringList words = SplitCommandLine(head);
    if (words.isEmpty() || words.front().isEmpty()) return std::nullopt;
    LaunchCommand command;
    command.program = words.takeFirst();
    command.arguments = words;
    command.arguments << target;
    return command;
}

int LaunchErrorCode(int error) {
    switch (error) {
        case ENOENT:
            return kLinkFileNotFound;
        case ENOTDIR:
            return kLinkPathNotFound;
        case EACCES:
        case EPERM:
            return kLinkAccessDenied;
        case ENOMEM:
            return kLinkOutOfMemory;
        case ENOEXEC:
            return kLinkBadExecutable;
        default:
            return kLinkOutOfResources;
    }
}

int LaunchDetached(const LaunchCommand& command) {
    // QProcess reports little about why a detached start failed, so the usual causes are
    // looked at first and named precisely.
    const bool hasPath = command.program.contains(u'/');
    const QString path = hasPath ? command.program : QStandardPaths::findExecutable(command.program);
    if (path.isEmpty()) return kLinkFileNotFound;
    const QFileInfo info(path);
    if (!info.exists()) return info.absoluteDir().exists() ? kLinkFileNotFound : kLinkPathNotFound;
    if (info.isDir() || !info.isExecutable()) return kLinkAccessDenied;
    errno = 0;
    if (QProcess::startDetached(path, command.arguments)) return kLinkOpened;
    return LaunchErrorCode(errno);
}

void SetLinkLauncher(LinkLauncher launcher) {
    g_launcher = std::move(launcher);
}

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(parent) {
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
    const int result = OpenUrl(LinkUrl(m_target)) ? kLinkOpened : OpenWithBrowserCommand(m_target);
    if (result <= 32) {
        QApplication::beep();
        Inform(window(), LinkErrorMessage(result), PromptIcon::Exclamation);
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
