#pragma once

#include <QColor>
#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "probix/DiscReport.h"
#include "probix/Judgement.h"
#include "probix/ScanEngine.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace dravix {

class AppServices;
class DriveSequence;
class StoppableDrive;

// The Smart Mode Report (dialog 162): the disc's information and, for every speed of the scan
// page's list, whether the disc is fit for writing at it, judged at a few outer-track points.
// The disc information is read first, then the measurement runs on a worker, both through the
// scan page's drive; Exit stops them between commands without waiting for a command at the drive,
// and the worker then ends on its own.
class CSmartReportDlg final : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kDialogId = 162;
    static constexpr int kDiscTypeId = 1006;
    static constexpr int kManufacturerId = 1007;
    static constexpr int kMediaTypeId = 1008;
    static constexpr int kCapacityId = 1012;
    static constexpr int kResultListId = 1028;
    static constexpr int kProgressId = 1029;
    static constexpr int kExitId = 2;
    static constexpr int kSpeedColumnWidth = 60;
    static constexpr int kResultColumnWidth = 155;
    static QColor ListBackground() { return QColor(139, 179, 222); }

    // Reads the disc information through the scan page's `drive`, then lists the speeds and
    // starts the measurement.
    CSmartReportDlg(const AppServices& services, std::shared_ptr<StoppableDrive> drive, uint8_t discTypeCode,
                    std::vector<uint8_t> speedCodes, QWidget* parent = nullptr);
    ~CSmartReportDlg() override;
    Q_DISABLE_COPY_MOVE(CSmartReportDlg)

    // The disc's last LBA as the capacity read found it; none when it was not read.
    std::optional<int32_t> LastLba() const { return m_lastLba; }
    // True once every speed has its result.
    bool MeasurementDone() const { return m_done; }
    // When the last result came (UTC, as a results file dates a run); empty before the first.
    const std::string& EndedAt() const { return m_endedAt; }
    QString ResultText(int row) const;
    QTableWidget* ResultList() const { return m_list; }
    // Each speed's result so far (Stopped: not measured), and the disc information shown.
    const std::vector<SpeedResult>& SpeedResults() const { return m_results; }
    QString DiscType() const;
    QString ManufacturerId() const;
    QString MediaTypeId() const;
    QString Capacity() const;
    // The report's outcome (Judgement.h) from its rows and what is known of the disc; the speeds
    // in kB/s rank the fit ones (the dialog's own line ranks them by the order of the speed codes).
    SmartVerdict Verdict(const std::vector<uint32_t>& speedKbps) const;
    SmartVerdict Verdict() const { return Verdict(SpeedCodesAsRank()); }
    SmartDisc Disc() const { return m_disc; }
    // What the report has measured so far, as the measurement gives it once it ends, and the disc
    // information it read first.
    SmartReportRun Run() const;
    const DiscInformation& Information() const { return m_info; }
    static constexpr const char* kOutcomeName = "smartOutcome";
    QProgressBar* Progress() const { return m_progress; }

    // Shows "Save Results..." beside Exit, usable once every speed has its result; it calls `save`.
    void SetSaveHandler(std::function<void()> save);
    static constexpr const char* kSaveName = "saveSmartResults";
    // Names the file the results were written to, under the outcome line; an empty path names none.
    void ShowSavedAs(const QString& path);
    static constexpr const char* kSavedAsName = "smartSavedAs";

  public slots:
    // Exit, the close box and Escape.
    void reject() override;

  private:
    void BuildControls();
    void OnInitDialog();
    void ShowDiscInformation(const DiscInformation& info);
    void StartMeasurement();
    void SetResult(int row, const QString& text);
    std::vector<uint32_t> SpeedCodesAsRank() const { return {m_speedCodes.begin(), m_speedCodes.end()}; }

    const AppServices& m_services;
    std::shared_ptr<StoppableDrive> m_drive;
    const uint8_t m_discTypeCode;
    const std::vector<uint8_t> m_speedCodes;
    DriveSequence* m_sequence;
    std::optional<int32_t> m_lastLba;
    bool m_done = false;
    std::vector<SpeedResult> m_results;
    std::string m_endedAt;
    std::optional<DiscIdentifiers> m_identifiers;  // read before the measurement
    SmartDisc m_disc;
    DiscInformation m_info;

    QLabel* m_discType = nullptr;
    QLabel* m_manufacturer = nullptr;
    QLabel* m_mediaType = nullptr;
    QLabel* m_capacity = nullptr;
    QTableWidget* m_list = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_outcome = nullptr;
    QLabel* m_savedAs = nullptr;
    QPushButton* m_save = nullptr;
    std::function<void()> m_saveHandler;
};

}  // namespace dravix
