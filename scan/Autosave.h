#pragma once

#include <QDialog>
#include <QString>

#include "probix/ResultsFile.h"

class QCheckBox;
class QLineEdit;

namespace dravix {

class AppServices;

// Autosave: every finished or stopped run and Smart report written as a results file into one
// folder, under a name made from a template. Off until the user switches it on; kept with
// QSettings.
struct AutosaveSettings {
    bool enabled = false;
    QString folder;
    QString nameTemplate = QString::fromLatin1(kDefaultNameTemplate);
};

AutosaveSettings LoadAutosaveSettings();
void StoreAutosaveSettings(const AutosaveSettings& settings);

struct AutosaveOutcome {
    bool attempted = false;  // autosave is on
    QString path;            // the file written
    QString error;           // why it was not written
};
// Writes `results` when autosave is on; never replaces a file (a number is appended to the name).
AutosaveOutcome AutosaveResults(const ScanResults& results);

// File > Settings…: the autosave switch, its folder and its name template.
class CSettingsDialog final : public QDialog {
    Q_OBJECT
  public:
    explicit CSettingsDialog(const AppServices& services, QWidget* parent = nullptr);
    ~CSettingsDialog() override;
    Q_DISABLE_COPY_MOVE(CSettingsDialog)

    void accept() override;

  private:
    const AppServices& m_services;
    QCheckBox* m_enabled = nullptr;
    QLineEdit* m_folder = nullptr;
    QLineEdit* m_template = nullptr;
};

}  // namespace dravix
