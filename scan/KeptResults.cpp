#include "scan/KeptResults.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QToolTip>
#include <algorithm>

#include "picture/ResultsPicture.h"
#include "probix/ResultsRecords.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"
#include "scan/Autosave.h"
#include "scan/ResultsWindow.h"
#include "scan/SaveClash.h"
#include "scan/SmartReport.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

namespace {

QAction* Command(QWidget& page, const QString& text, const char* name) {
    auto* action = new QAction(text, &page);
    action->setObjectName(QString::fromLatin1(name));
    action->setEnabled(false);  // until a run is kept
    return action;
}

}  // namespace

KeptResults::KeptResults(QWidget& page, const AppServices& services)
    : m_page(page),
      m_services(services),
      m_workers(new Workers(&page)),
      m_saveResults(Command(page, QStringLiteral("Save Scan Res&ults..."), kSaveResultsName)),
      m_savePicture(Command(page, QStringLiteral("Save Chart &Picture..."), kSavePictureName)),
      m_showResults(Command(page, QStringLiteral("Show in Results &Window"), kShowResultsName)) {
    QObject::connect(m_saveResults, &QAction::triggered, &page, [this] { AskAndSaveResults(); });
    QObject::connect(m_savePicture, &QAction::triggered, &page, [this] { AskAndSavePicture(); });
    QObject::connect(m_showResults, &QAction::triggered, &page, [this] { ShowInResultsWindow(); });
}

QList<QAction*> KeptResults::Commands() const {
    return {m_saveResults, m_savePicture, m_showResults};
}

void KeptResults::WriteOnWorker(std::function<AutosaveOutcome()> write, QPointer<QWidget> owner,
                                std::function<void(const QString& path)> written) {
    // A full scan's file takes a while to write; the page stays responsive, and says so once the
    // file exists. The end of the program waits for a write that has begun.
    m_workers->Start(
        [this, write = std::move(write), owner, written = std::move(written)](const WorkerContext& context) {
            AutosaveOutcome outcome = write();
            context.Post([this, outcome = std::move(outcome), owner, written] {
                if (!outcome.error.isEmpty()) {
                    m_services.Inform(owner != nullptr ? owner.data() : &m_page, outcome.error);
                } else if (!outcome.path.isEmpty() && written) {
                    written(outcome.path);
                } else if (!outcome.path.isEmpty()) {
                    m_savedAs = outcome.path;
                    if (m_last) ShowFigures(!m_stale);
                }
            });
        });
}

void KeptResults::SetDrive(std::string label, std::string firmware) {
    m_driveLabel = std::move(label);
    m_firmware = std::move(firmware);
}

void KeptResults::DiscGone() {
    m_discIds = {};
    if (m_last) m_discGone = true;
}

void KeptResults::Keep(const ScanResult& result, std::vector<ScanSample> samples, uint16_t teReference,
                       uint16_t feReference, const ScanSettings& settings, uint32_t kbps) {
    // A run that measured nothing leaves nothing to keep (the last results stay as they were).
    if (samples.empty()) return;
    m_last = ScanResultsOf({m_driveLabel, m_firmware}, {m_discIds.manufacturerId, m_discIds.mediaTypeId},
                           settings, kbps, {result, std::move(samples), teReference, feReference}, UtcTimestamp());
    m_customStart = settings.customStart;
    m_customEnd = settings.customEnd;
    m_stale = false;
    m_discGone = false;
    for (QAction* command : Commands()) command->setEnabled(true);
    // The run's own controls were locked: its settings are still the page's.
    ShowFigures(true);

    m_savedAs.clear();
    WriteOnWorker([results = *m_last] { return AutosaveResults(results); });
}

void KeptResults::ShowSummary(const PageSettings& now) {
    if (!m_last) return;
    const ScanResults& r = *m_last;
    // The results belong to the page's settings while the disc, its speed, the mode and (in
    // Customize) the range are those of the run. The status line keeps its text: the grey figures
    // say that they are a previous run's.
    bool current = !m_discGone && now.speedsKnown && r.speedCode == now.speedCode && r.mode == now.mode;
    if (current && now.mode == SamplingMode::Customize)
        current = now.customStart == m_customStart && now.customEnd == m_customEnd;
    if (now.runGoing) current = true;  // the run's own controls are locked
    ShowFigures(current);
}

void KeptResults::ShowFigures(bool current) {
    m_stale = !current;
    if (m_figuresOn == nullptr) return;
    const ScanResults& r = *m_last;
    const PartStatistics& all = r.statistics.all;
    auto channel = [](const char* name, const ChannelStatistics& c) {
        return QStringLiteral("%1 max %2 % @ %3, avg %4 %, %5 over")
            .arg(ProgramText(name))
            .arg(c.maxPercent)
            .arg(c.maxLba)
            .arg(c.averagePercent, 0, 'f', 1)
            .arg(c.overLimit);
    };
    QStringList lines;
    lines << QStringLiteral("%1: %2 %3")
                 .arg(ProgramText(current ? kLastRunPrefix : kPreviousRunPrefix),
                      ProgramText(ShortSpeedLabel(r.speedCode)), ProgramText(SamplingModeName(r.mode)));
    lines << channel("TE", all.te) << channel("FE", all.fe);
    if (!m_savedAs.isEmpty()) lines << ProgramText(scan_texts::kSavedAs) + m_savedAs;
    for (QString& line : lines) line = line.toHtmlEscaped();
    QString tip = lines.join(QStringLiteral("<br>"));
    if (!current) {
        // Grey: what the page shows now is not what these figures were measured with. Half-way
        // between the tip's text and its background, so it reads as grey under any palette.
        const QPalette palette = QToolTip::palette();
        const QColor text = palette.color(QPalette::ToolTipText);
        const QColor base = palette.color(QPalette::ToolTipBase);
        const QColor grey((text.red() + base.red()) / 2, (text.green() + base.green()) / 2,
                          (text.blue() + base.blue()) / 2);
        tip = QStringLiteral("<span style=\"color:%1\">%2</span>").arg(grey.name(), tip);
    }
    m_figuresOn->setToolTip(QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(tip));
}

QString KeptResults::SavePicture(const QString& path) const {
    if (!m_last) return QStringLiteral("There are no results to save.");
    // The run's results file, once written, is not replaced by its picture.
    if (const QString clash = SaveClash({{m_savedAs, FileRole::ResultsFile}}, path, FileRole::Picture);
        !clash.isEmpty())
        return clash;
    return QString::fromStdString(SaveResultsPicture(QFile::encodeName(path).toStdString(), *m_last).ErrorText());
}

void KeptResults::AskAndSaveResults() {
    if (!m_last) return;
    const QString name =
        QString::fromStdString(ExpandNameTemplate(kDefaultNameTemplate, *m_last)) + QStringLiteral(".csv");
    const QString path = m_services.AskSaveFileName(
        &m_page, {QStringLiteral("Save Scan Results"), name, QStringLiteral("Dravix results (*.csv)")});
    if (path.isEmpty()) return;
    WriteOnWorker([path, results = *m_last] {
        const Result<void> written = SaveResultsFile(QFile::encodeName(path).toStdString(), results);
        AutosaveOutcome outcome;
        if (written) {
            outcome.path = QFileInfo(path).absoluteFilePath();
        } else {
            outcome.error = QString::fromStdString(written.Failure().text);
        }
        return outcome;
    });
}

void KeptResults::AskAndSavePicture() {
    if (!m_last) return;
    const QString name =
        QString::fromStdString(ExpandNameTemplate(kDefaultNameTemplate, *m_last)) + QStringLiteral(".png");
    const QString path = m_services.AskSaveFileName(
        &m_page, {QStringLiteral("Save Chart Picture"), name,
                  QStringLiteral("Pictures (*.png *.bmp *.jpg *.gif *.pcx *.tif)")});
    if (path.isEmpty()) return;
    if (const QString problem = SavePicture(path); !problem.isEmpty()) m_services.Inform(&m_page, problem);
}

void KeptResults::ShowInResultsWindow() {
    if (!m_last) return;
    // A window of its own beside the main window, which outlives the page (a drive change); its
    // file once the run is saved.
    auto* window = new CResultsWindow(m_services, *m_last, m_savedAs, m_page.window());
    window->setWindowFlag(Qt::Window);
    window->show();
}

void KeptResults::AskAndSaveSmart(CSmartReportDlg& dialog, const std::optional<ScanResults>& results) {
    if (!results) return;
    const QString name = QString::fromStdString(ExpandNameTemplate(kDefaultNameTemplate, *results));
    const QString path = m_services.AskSaveFileName(
        &dialog, {QStringLiteral("Save Scan Results"), name + QStringLiteral(".csv"),
                  QStringLiteral("Dravix results (*.csv)")});
    if (path.isEmpty()) return;
    // Until this file is written the dialog names none: a save that fails claims nothing.
    dialog.ShowSavedAs(QString());
    QPointer<CSmartReportDlg> shownOn(&dialog);
    WriteOnWorker(
        [path, results = *results] {
            AutosaveOutcome outcome;
            const Result<void> written = SaveResultsFile(QFile::encodeName(path).toStdString(), results);
            if (written) {
                outcome.path = QFileInfo(path).absoluteFilePath();
            } else {
                outcome.error = QString::fromStdString(written.Failure().text);
            }
            return outcome;
        },
        &dialog,
        // A Smart report's file is not the page's run: the dialog names it, the figures do not.
        [shownOn](const QString& written) {
            if (shownOn != nullptr) shownOn->ShowSavedAs(written);
        });
}

void KeptResults::Autosave(const std::optional<ScanResults>& results) {
    if (!results) return;
    WriteOnWorker([results = *results] {
        AutosaveOutcome saved = AutosaveResults(results);
        saved.path.clear();  // the page's figures are a run's: a Smart report's file is not named there
        return saved;
    });
}

std::optional<ScanResults> KeptResults::SmartResultsOf(const CSmartReportDlg& dialog, uint8_t discTypeCode,
                                                       const std::vector<uint8_t>& speedCodes,
                                                       const std::vector<uint32_t>& speedKbps) const {
    // Dated by its last result, however long the dialog stays open after it.
    return dravix::SmartResultsOf({m_driveLabel, m_firmware}, discTypeCode, dialog.Information(), speedCodes,
                                  speedKbps, dialog.Run(),
                                  dialog.EndedAt().empty() ? UtcTimestamp() : dialog.EndedAt());
}

}  // namespace dravix
