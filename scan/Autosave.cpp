#include "scan/Autosave.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "ui/Services.h"

namespace dravix {

namespace {

const char* const kEnabledKey = "autosave/enabled";
const char* const kFolderKey = "autosave/folder";
const char* const kTemplateKey = "autosave/name_template";

const char* const kOrganisation = "Dravix";
const char* const kApplication = "dravix";

QString DefaultFolder() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        .filePath(QStringLiteral("Dravix results"));
}

}  // namespace

AutosaveSettings LoadAutosaveSettings() {
    const QSettings settings(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    AutosaveSettings s;
    s.enabled = settings.value(kEnabledKey, false).toBool();
    s.folder = settings.value(kFolderKey, DefaultFolder()).toString();
    s.nameTemplate = settings.value(kTemplateKey, QString::fromLatin1(kDefaultNameTemplate)).toString();
    if (s.nameTemplate.trimmed().isEmpty()) s.nameTemplate = QString::fromLatin1(kDefaultNameTemplate);
    return s;
}

void StoreAutosaveSettings(const AutosaveSettings& s) {
    QSettings settings(QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    settings.setValue(kEnabledKey, s.enabled);
    settings.setValue(kFolderKey, s.folder);
    settings.setValue(kTemplateKey, s.nameTemplate);
}

AutosaveOutcome AutosaveResults(const ScanResults& results) {
    const AutosaveSettings s = LoadAutosaveSettings();
    AutosaveOutcome outcome;
    if (!s.enabled) return outcome;
    outcome.attempted = true;
    if (!QDir().mkpath(s.folder)) {
        outcome.error = QStringLiteral("Autosave: the folder '%1' cannot be made.").arg(s.folder);
        return outcome;
    }
    const std::string stem = ExpandNameTemplate(s.nameTemplate.toStdString(), results);
    const Result<std::string> written =
        SaveResultsFileNew(QFile::encodeName(s.folder).toStdString(), stem, results);
    if (!written) {
        outcome.error = QStringLiteral("Autosave: ") + QString::fromStdString(written.ErrorText());
    } else {
        outcome.path = QFile::decodeName(QByteArray::fromStdString(*written));
    }
    return outcome;
}

CSettingsDialog::CSettingsDialog(const AppServices& services, QWidget* parent)
    : QDialog(parent), m_services(services) {
    setWindowTitle(QStringLiteral("Settings"));
    const AutosaveSettings s = LoadAutosaveSettings();
    m_enabled = new QCheckBox(QStringLiteral("Save every finished or stopped scan and Smart report"), this);
    m_enabled->setObjectName(QStringLiteral("autosaveEnabled"));
    m_enabled->setChecked(s.enabled);
    m_folder = new QLineEdit(s.folder, this);
    m_folder->setObjectName(QStringLiteral("autosaveFolder"));
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString folder =
            QFileDialog::getExistingDirectory(this, QStringLiteral("Autosave folder"), m_folder->text());
        if (!folder.isEmpty()) m_folder->setText(folder);
    });
    m_template = new QLineEdit(s.nameTemplate, this);
    m_template->setObjectName(QStringLiteral("autosaveTemplate"));
    auto* hint = new QLabel(
        QStringLiteral(
            "Fields: {date} {time} {drive} {mid} {speed} {mode} {verdict}. A name that is taken gets "
            "a number; no file is replaced."),
        this);
    hint->setWordWrap(true);

    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Folder:"), folderRow);
    form->addRow(QStringLiteral("File name:"), m_template);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    auto* group = new QLabel(QStringLiteral("<b>Autosave of results</b>"), this);
    layout->addWidget(group);
    layout->addWidget(m_enabled);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(buttons);
    setMinimumWidth(460);
}

CSettingsDialog::~CSettingsDialog() = default;

void CSettingsDialog::accept() {
    AutosaveSettings s;
    s.enabled = m_enabled->isChecked();
    s.folder = m_folder->text().trimmed();
    s.nameTemplate = m_template->text().trimmed();
    if (s.enabled && s.folder.isEmpty()) {
        m_services.Inform(this, QStringLiteral("Please choose a folder for the results."));
        return;
    }
    if (s.nameTemplate.isEmpty()) s.nameTemplate = QString::fromLatin1(kDefaultNameTemplate);
    StoreAutosaveSettings(s);
    QDialog::accept();
}

}  // namespace dravix
