#pragma once

#include <QString>

#include "ui/DialogUnits.h"

class QDialog;
class QFrame;
class QLabel;
class QPushButton;

namespace dravix {

class AppServices;
class CHyperLink;

// Building blocks of the program's small fixed-size dialogs (the About box and the
// not-supported dialog), placed in dialog units of the dialog font.
class SmallDialogBuilder final {
  public:
    // Gives the dialog its caption, the dialog font, a fixed size and a title bar with only
    // a close box. Its links open through `services`.
    SmallDialogBuilder(QDialog& dialog, const AppServices& services, const QString& caption, int width,
                       int height);

    const DialogUnits& Units() const { return m_units; }

    QFrame* Frame(int x, int y, int width, int height);
    QLabel* Text(const QString& text, int x, int y, int width, int height);
    QLabel* Icon(int iconId, int x, int y);
    // A link as the dialog lays it out: the text "Static" until the dialog sets it.
    CHyperLink* Link(int id, int x, int y, int width, int height);
    // The OK button (id 1): the default button, it accepts the dialog.
    QPushButton* OkButton(int x, int y);

  private:
    QDialog& m_dialog;
    const AppServices& m_services;
    DialogUnits m_units;
};

}  // namespace dravix
