#include "ui/SmallDialog.h"

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "res/Icons.h"
#include "ui/HyperLink.h"
#include "ui/PropertyPage.h"

namespace dravix {

namespace {

constexpr int kIconPixels = 32;  // a dialog icon is drawn at its large size
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;

QFont FontFor(QDialog& dialog) {
    dialog.setFont(DialogFont());
    return dialog.font();
}

}  // namespace

SmallDialogBuilder::SmallDialogBuilder(QDialog& dialog, const AppServices& services, const QString& caption,
                                       int width, int height)
    : m_dialog(dialog), m_services(services), m_units(FontFor(dialog)) {
    dialog.setWindowTitle(caption);
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint);
    dialog.setModal(true);
    dialog.setFixedSize(m_units.Size(width, height));
}

QFrame* SmallDialogBuilder::Frame(int x, int y, int width, int height) {
    auto* frame = new QFrame(&m_dialog);
    frame->setFrameStyle(QFrame::Box | QFrame::Sunken);  // the etched look of a dialog frame
    PlaceDlu(frame, m_units, x, y, width, height);
    return frame;
}

QLabel* SmallDialogBuilder::Text(const QString& text, int x, int y, int width, int height) {
    auto* label = new QLabel(text, &m_dialog);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PlaceDlu(label, m_units, x, y, width, height);
    return label;
}

QLabel* SmallDialogBuilder::Icon(int iconId, int x, int y) {
    auto* label = new QLabel(&m_dialog);
    label->setPixmap(LoadIconPixmap(iconId, kIconPixels));
    label->setGeometry(m_units.X(x), m_units.Y(y), kIconPixels, kIconPixels);
    return label;
}

CHyperLink* SmallDialogBuilder::Link(int id, int x, int y, int width, int height) {
    auto* link = new CHyperLink(m_services, QStringLiteral("Static"), &m_dialog);
    SetControlId(link, id);
    PlaceDlu(link, m_units, x, y, width, height);
    link->Attach();
    return link;
}

QPushButton* SmallDialogBuilder::OkButton(int x, int y) {
    auto* button = new QPushButton(QStringLiteral("OK"), &m_dialog);
    SetControlId(button, 1);
    button->setDefault(true);
    PlaceDlu(button, m_units, x, y, kButtonWidth, kButtonHeight);
    QObject::connect(button, &QPushButton::clicked, &m_dialog, &QDialog::accept);
    button->setFocus();
    return button;
}

}  // namespace dravix
