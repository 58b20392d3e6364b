#pragma once

#include <QString>
#include <memory>

class QWidget;

namespace dravix {

enum class PromptIcon { None, Information, Exclamation, Error, Question };
enum class PromptButtons { Ok, OkCancel, YesNo };
enum class PromptAnswer { Ok, Cancel, Yes, No };

// One message box as the program asks for it.
struct PromptRecord {
    QString caption;
    QString text;
    PromptIcon icon = PromptIcon::None;
    PromptButtons buttons = PromptButtons::Ok;
};

// Every message box of the program goes through one prompter (AppServices::Prompt). The
// program's shows a QMessageBox; tests give the windows a scripted one that records what was
// asked and answers it.
class Prompter {
  public:
    virtual ~Prompter() = default;
    // Runs on the UI thread; owner may be null.
    virtual PromptAnswer Show(QWidget* owner, const PromptRecord& record) = 0;
};

// The caption of application message boxes: the executable's file name without extension.
QString AppTitle();

// The production prompter.
std::shared_ptr<Prompter> MakeMessageBoxPrompter();

}  // namespace dravix
