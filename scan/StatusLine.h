#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

namespace dravix {

// The scan page's status line (control 1025): centred text in a sunken frame. Its colour lasts
// for one paint: the next paint after that draws black again, as the page's colour handler does
// with the static control it replaces.
class StatusLine final : public QFrame {
    Q_OBJECT
  public:
    explicit StatusLine(QWidget* parent = nullptr);
    ~StatusLine() override;
    Q_DISABLE_COPY_MOVE(StatusLine)

    // Shows `text`, in `colour` for the next paint.
    void Show(const QString& text, const QColor& colour = Qt::black);
    QString Text() const { return m_text; }
    // The colour the next paint will use, and the one the last paint used, as the page chose them.
    QColor PendingColour() const { return m_pending; }
    QColor PaintedColour() const { return m_painted; }
    // What the last paint drew with: the chosen colour, made readable on the line's background.
    QColor DrawnColour() const { return m_drawn; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString m_text;
    QColor m_pending = Qt::black;
    QColor m_painted = Qt::black;
    QColor m_drawn = Qt::black;
};

}  // namespace dravix
