#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace dravix {

// Dialog units of a dialog font: x = average character width / 4, y = character height / 8.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

  private:
    double m_baseX;
    double m_baseY;
};

// The dialog font of the program's windows: Arial (Liberation Sans here) at 8 points.
QFont DialogFont();

// Places a child at a rectangle given in dialog units.
void PlaceDlu(QWidget* widget, const DialogUnits& units, int x, int y, int width, int height);

}  // namespace dravix
