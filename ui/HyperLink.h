#pragma once

#include <QLabel>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

namespace dravix {

// A program and its arguments, started without a shell so that no character of a link target
// is ever interpreted.
struct LaunchCommand {
    QString program;
    QStringList arguments;
};

// Outcome of an attempt to open a link, in the shell's numbering: above 32 the link was opened;
// 32 and below name the failure and select the text of the error report.
constexpr int kLinkOpened = 33;
constexpr int kLinkOutOfResources = 0;
constexpr int kLinkFileNotFound = 2;
constexpr int kLinkPathNotFound = 3;
constexpr int kLinkAccessDenied = 5;
constexpr int kLinkOutOfMemory = 8;
constexpr int kLinkBadExecutable = 11;
constexpr int kLinkNoAssociation = 31;

// The report of a failed opening: "Can't open link:", a blank line, the text for the code.
QString LinkErrorText(int code);
QString LinkErrorMessage(int code);

// Splits a command text into words: blanks separate words; double and single quotes group
// (and are dropped); a backslash outside single quotes keeps the next character as it is.
// An unterminated quote runs to the end of the text.
QStringList SplitCommandLine(const QString& text);

// The browser command used when the desktop cannot open a link: $BROWSER when it is set and
// not blank, else "x-www-browser" when it is on the path; empty when there is neither.
QString BrowserCommandText();

// Builds the fallback command from a browser command text: the text is cut at its "%s"
// placeholder (the quoted form "%s" first, then '%s', then a bare %s; no placeholder keeps the
// whole text), split into program and arguments, and the target appended as one argument.
// Nothing when the text names no program.
std::optional<LaunchCommand> BrowserLaunchCommand(const QString& commandText, const QString& target);

// The failure code for an errno value of a failed start.
int LaunchErrorCode(int error);

// Starts a program detached from this process; the result as for kLinkOpened.
int LaunchDetached(const LaunchCommand& command);

// Starts the fallback command. Tests replace it to see the command without starting anything;
// an empty function restores LaunchDetached.
using LinkLauncher = std::function<int(const LaunchCommand& command)>;
void SetLinkLauncher(LinkLauncher launcher);

// A static text that behaves like a link in a web page: link colours, an underlined font, a hand
// cursor, its target as tool tip, and opening the target when clicked or when space is pressed
// while it has the focus.
class CHyperLink final : public QLabel {
    Q_OBJECT
  public:
    // Style bits.
    static constexpr uint32_t kUnderline = 0x01;       // the link font is underlined
    static constexpr uint32_t kHoverColour = 0x02;     // hover colour while the pointer is over it
    static constexpr uint32_t kResizeToFit = 0x04;     // the control takes the size of its text
    static constexpr uint32_t kOpenOnPress = 0x08;     // open on button press, not on release
    static constexpr uint32_t kFocusOnPress = 0x10;    // a button press takes the keyboard focus
    static constexpr uint32_t kNoHandCursor = 0x20;    // keep the default cursor
    static constexpr uint32_t kNoActiveColour = 0x40;  // never use the active colour
    static constexpr uint32_t kDefaultStyle = kUnderline | kResizeToFit | kFocusOnPress;

    // Colours shared by every link.
    static constexpr QRgb kLinkColour = qRgb(0, 0, 255);
    static constexpr QRgb kVisitedColour = qRgb(128, 0, 128);
    static constexpr QRgb kActiveColour = qRgb(0, 128, 128);
    static constexpr QRgb kHoverColourValue = qRgb(255, 0, 0);

    // The control as a dialog lays it out: its text and, through setGeometry, its place. It
    // becomes a link when attached (explicitly, or at the latest when first shown).
    explicit CHyperLink(const QString& text = QString(), QWidget* parent = nullptr);
    ~CHyperLink() override;
    Q_DISABLE_COPY_MOVE(CHyperLink)

    // Makes the control a link: an empty target takes the text and an empty text the target,
    // the font gets its underline, the control is fitted to its text, cursor and tool tip are set.
    void Attach();
    bool IsAttached() const { return m_attached; }

    void SetTarget(const QString& target);
    QString Target() const { return m_target; }
    void SetLinkText(const QString& text);

    uint32_t LinkStyle() const { return m_style; }
    void SetLinkStyle(uint32_t style);

    bool IsActive() const { return m_active; }
    bool IsHovering() const { return m_hover; }
    bool IsVisited() const { return m_visited; }
    // The colour the text is drawn in now.
    QColor TextColour() const;

    // Opens the target with the desktop's handler, else with the browser command. On failure
    // beeps and reports it; on success the link is drawn as visited from then on.
    bool OpenLink();

  protected:
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void ApplyStyle();
    void ResizeToFit();
    void Refresh();

    bool m_active = false;
    bool m_hover = false;
    bool m_visited = false;
    uint32_t m_style = kDefaultStyle;
    QString m_target;
    bool m_attached = false;
};

}  // namespace dravix
