#pragma once

#include <QVariant>
#include <QWidget>

namespace dravix {

// While a window is rendered into a picture (QWidget::grab paints it again), its controls draw
// what the screen shows: a colour that lasts for one paint is not used up by the picture.
class ScreenPicture final {
  public:
    explicit ScreenPicture(QWidget& window) : m_window(window) { m_window.setProperty(kProperty, true); }
    ~ScreenPicture() { m_window.setProperty(kProperty, QVariant()); }
    ScreenPicture(const ScreenPicture&) = delete;
    ScreenPicture& operator=(const ScreenPicture&) = delete;

    // `control` is being painted into a picture of its window.
    static bool Taking(const QWidget& control) {
        for (const QWidget* w = &control; w != nullptr; w = w->parentWidget()) {
            if (w->property(kProperty).toBool()) return true;
        }
        return false;
    }

  private:
    static constexpr const char* kProperty = "dravixScreenPicture";
    QWidget& m_window;
};

}  // namespace dravix
