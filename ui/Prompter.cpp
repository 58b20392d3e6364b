#include "ui/Prompter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace dravix {

namespace {

class MessageBoxPrompter final : public Prompter {
  public:
    PromptAnswer Show(QWidget* owner, const PromptRecord& r) override {
        QMessageBox box(owner);
        box.setWindowTitle(r.caption);
        box.setText(r.text);
        switch (r.icon) {
            case PromptIcon::None:
                box.setIcon(QMessageBox::NoIcon);
                break;
            case PromptIcon::Information:
                box.setIcon(QMessageBox::Information);
                break;
            case PromptIcon::Exclamation:
                box.setIcon(QMessageBox::Warning);
                break;
            case PromptIcon::Error:
                box.setIcon(QMessageBox::Critical);
                break;
            case PromptIcon::Question:
                box.setIcon(QMessageBox::Question);
                break;
        }
        switch (r.buttons) {
            case PromptButtons::Ok:
                box.setStandardButtons(QMessageBox::Ok);
                break;
            case PromptButtons::OkCancel:
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                break;
            case PromptButtons::YesNo:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                break;
        }
        switch (box.exec()) {
            case QMessageBox::Ok:
                return PromptAnswer::Ok;
            case QMessageBox::Yes:
                return PromptAnswer::Yes;
            case QMessageBox::No:
                return PromptAnswer::No;
            default:
                return r.buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
        }
    }
};

}  // namespace

std::shared_ptr<Prompter> MakeMessageBoxPrompter() {
    return std::make_shared<MessageBoxPrompter>();
}

QString AppTitle() {
    const QString path = QCoreApplication::applicationFilePath();
    if (path.isEmpty()) return QStringLiteral("dravix");
    return QFileInfo(path).completeBaseName();
}

}  // namespace dravix
