#include "app/BusyCursor.h"

#include <QCursor>
#include <QGuiApplication>

namespace dravix {

BusyCursor::BusyCursor() {
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}
BusyCursor::~BusyCursor() {
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace dravix
