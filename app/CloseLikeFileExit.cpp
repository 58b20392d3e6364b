#include <QApplication>
#include <QDialog>

#include "app/CloseOnSignal.h"

namespace dravix {

void CloseLikeFileExit(QDialog& window) {
    // Each box or dialog ends its own modal loop; the window's loop ends once they are unwound.
    // A bounded number: a dialog that refuses to close must not hold the program in this loop.
    for (int i = 0; i < 16; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == &window) break;
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }
    window.reject();
}

}  // namespace dravix
