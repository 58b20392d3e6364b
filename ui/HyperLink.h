#pragma once

#include <QLabel>
#include <QRgb>
#include <QString>
#include <cstdint>

#include "ui/LinkLauncher.h"

namespace dravix {

class AppServices;

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
    // `services` opens the link and reports a failure.
    explicit CHyperLink(const AppServices& services, const QString& text = QString(),
                        QWidget* parent = nullptr);
    ~CHyperLink() override;
    Q_DISABLE_COPY_MOVE(CHyperLink)

    // Makes the control a link: an empty target takes the text and an empty text the target,
    // the font gets its underline, the control is fitted to its text, cursor and tool tip are set.
    void Attach();

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

    const AppServices& m_services;
    bool m_active = false;
    bool m_hover = false;
    bool m_visited = false;
    uint32_t m_style = kDefaultStyle;
    QString m_target;
    bool m_attached = false;
};

}  // namespace dravix
