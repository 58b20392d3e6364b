#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "probix/ResultsFile.h"
#include "probix/ScanEngine.h"
#include "scan/Autosave.h"

class QAction;

namespace dravix {

class AppServices;
class CSmartReportDlg;
class Workers;

// The disc's identifiers as a run read them ("N/A" until read).
struct DiscIdentifiersText {
    std::string manufacturerId = "N/A";
    std::string mediaTypeId = "N/A";
};

// What the Probix page shows now, against which the kept results are current or a previous run's.
struct PageSettings {
    bool speedsKnown = false;  // a disc with its speeds is in the drive
    uint8_t speedCode = 0;
    SamplingMode mode = SamplingMode::Normal;
    int32_t customStart = 0;  // Customize: the start and end boxes
    int32_t customEnd = 0;
    bool runGoing = false;  // a run owns the page (its settings cannot change)
};

// What the Probix page keeps of its last run: its figures (the tool tip of a control the page
// names), the commands that save its results file and its labelled chart picture or show it in a
// results window, and the autosave of every run and Smart report. It names the files with the
// drive the page opened and the disc identifiers the run read. UI thread only.
class KeptResults final {
  public:
    static constexpr const char* kSaveResultsName = "saveScanResults";
    static constexpr const char* kSavePictureName = "saveChartPicture";
    static constexpr const char* kShowResultsName = "showRunResults";
    static constexpr const char* kPreviousRunPrefix = "Previous run";
    static constexpr const char* kLastRunPrefix = "Last run";

    // `page` owns the commands and the message boxes; `services` asks the user.
    KeptResults(QWidget& page, const AppServices& services);
    KeptResults(const KeptResults&) = delete;
    KeptResults& operator=(const KeptResults&) = delete;

    // The control whose tool tip gives the figures.
    void ShowFiguresOn(QWidget& control) { m_figuresOn = &control; }
    // Save Scan Results..., Save Chart Picture... and Show in Results Window, usable once a run
    // is kept.
    QList<QAction*> Commands() const;

    void SetDrive(std::string label, std::string firmware);
    void SetDiscIds(DiscIdentifiersText ids) { m_discIds = std::move(ids); }
    // The disc was taken out (or the page reset): its identifiers are unknown, and the results
    // kept belong to a disc that is gone.
    void DiscGone();

    // Keeps what a run measured, shows it and autosaves it. A run that measured nothing leaves
    // the last results as they were.
    void Keep(const ScanResult& result, std::vector<ScanSample> samples, uint16_t teReference,
              uint16_t feReference, const ScanSettings& settings, uint32_t kbps);

    // Shows the figures as the current run's or as a previous one's against what the page shows
    // now.
    void ShowSummary(const PageSettings& now);

    // A Smart report as a results file; none when it measured nothing.
    std::optional<ScanResults> SmartResultsOf(const CSmartReportDlg& dialog, uint8_t discTypeCode,
                                              const std::vector<uint8_t>& speedCodes,
                                              const std::vector<uint32_t>& speedKbps) const;
    // Saving and autosaving write on the page's worker; a failure is told on `owner` (the page
    // when none), a file written is named in the figures' tip, a Smart report's in its dialog.
    void AskAndSaveSmart(CSmartReportDlg& dialog, const std::optional<ScanResults>& results);
    void Autosave(const std::optional<ScanResults>& results);
    // Show in Results Window: the last run in a window of its own, beside the main window (it
    // outlives the page). Nothing without a run.
    void ShowInResultsWindow();
    // The file the last run was saved or autosaved as; empty until one exists.
    const QString& SavedAs() const { return m_savedAs; }

  private:
    // The figures, as the current run's or (grey) as a previous one's.
    void ShowFigures(bool current);
    void AskAndSaveResults();
    void AskAndSavePicture();
    // Writes the last run's labelled chart picture. Empty when written.
    QString SavePicture(const QString& path) const;
    // Runs `write` on the page's worker; back on the page, the message it gives is shown, or the
    // path it wrote is given to `written`, or without it named with the figures.
    void WriteOnWorker(std::function<AutosaveOutcome()> write, QPointer<QWidget> owner = {},
                       std::function<void(const QString& path)> written = {});

    QWidget& m_page;
    const AppServices& m_services;
    std::string m_driveLabel;
    std::string m_firmware;
    DiscIdentifiersText m_discIds;
    std::optional<ScanResults> m_last;
    int32_t m_customStart = 0;  // the kept run's Customize range as the user gave it
    int32_t m_customEnd = 0;
    bool m_stale = false;
    bool m_discGone = false;  // the disc of the last run was taken out since

    Workers* m_workers;
    QString m_savedAs;  // the last run's file, once written
    QPointer<QWidget> m_figuresOn;
    QAction* m_saveResults;
    QAction* m_savePicture;
    QAction* m_showResults;
};

}  // namespace dravix
