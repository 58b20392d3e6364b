#include "ui/DialogUnits.h"

#include <QFontMetricsF>
#include <QWidget>
#include <cmath>

namespace dravix {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    // The average width of the Latin letters, as the dialog manager measures it.
    const QString sample = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = metrics.horizontalAdvance(sample) / 52.0;
    m_baseY = metrics.height();
}

int DialogUnits::X(int units) const {
    return static_cast<int>(std::lround(units * m_baseX / 4.0));
}
int DialogUnits::Y(int units) const {
    return static_cast<int>(std::lround(units * m_baseY / 8.0));
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(x + width) - X(x), Y(y + height) - Y(y));
}

QSize DialogUnits::Size(int width, int height) const {
    return QSize(X(width), Y(height));
}

QFont DialogFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void PlaceDlu(QWidget* widget, const DialogUnits& units, int x, int y, int width, int height) {
    widget->setGeometry(units.Rect(x, y, width, height));
}

}  // namespace dravix
