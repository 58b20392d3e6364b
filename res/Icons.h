#pragma once

#include <QIcon>
#include <QPixmap>

namespace dravix {

// Icon resources by id (128 application, 152/139/142/169/170/185/182 tabs, 172–175 and 180–184
// status icons, 176 About). An unknown id gives a null icon.
QIcon LoadIcon(int id);
QPixmap LoadIconPixmap(int id, int size);

// The banner at the top of the main window.
QPixmap LoadBanner(const QSize& size);

}  // namespace dravix
