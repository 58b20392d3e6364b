#include "scan/WriteTestWindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "chart/ScanChart.h"
#include "chart/WriteTestChart.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "picture/WriteTestPicture.h"
#include "probix/DiscLayout.h"
#include "probix/ReadTest.h"
#include "probix/ResultsFile.h"
#include "probix/ScanEngine.h"
#include "scan/ReadTestView.h"
#include "scan/WriteTestView.h"
#include "turns/SharedDrive.h"
#include "turns/StoppableDrive.h"
#include "ui/DriveSequence.h"
#include "ui/GuidePage.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

namespace {

constexpr int kStatusWidth = 640;  // the chart's
constexpr int kProgressSteps = 1000;
constexpr int kDefaultLengthMB = 100;
constexpr uint64_t kLargestLengthMB = 20000;  // beyond any disc
enum LengthEntry { kWholeDisc, kFirstMB };

double KBpsAt1X(uint16_t profile) {
    DiscLayout layout;
    layout.dvd = profile != 0x09 && profile != 0x0A;
    return layout.KBpsAt1X();
}

const char* SimulationText(SimulationMethod method) {
    switch (method) {
        case SimulationMethod::ModePage:
            return "simulated through the Write Parameters page";
        case SimulationMethod::MakerSwitch:
            return "simulated through the maker's Test Write";
        case SimulationMethod::None:
            break;
    }
    return "";
}

// The drive a marker names, found by its label among the table's drives; the chosen drive when
// none has it. False when neither can be selected.
bool SelectMarkedDrive(const AppState& state, DriveTable& table, const WriteTestMarker& marker) {
    if (table.DriveCount() <= 0 && !state.OpenChosenDrive(table)) return false;
    for (int i = 0; i < table.DriveCount(); ++i) {
        table.SelectDrive(static_cast<uint8_t>(i));
        if (!marker.driveName.empty() && table.DriveLabel() == marker.driveName) return true;
    }
    return state.SelectChosenDrive(table);
}

}  // namespace

void CheckLeftWriteTestMarker(const AppServices& services, QWidget& owner, DriveSequence& sequence,
                              std::function<void(bool cleared)> done) {
    const std::string path = WriteTestMarkerPath();
    const std::optional<WriteTestMarker> marker = ReadWriteTestMarker(path);
    if (!marker) {
        if (done) done(true);
        return;
    }
    if (services.Ask(&owner, QStringLiteral("Warning"), QString::fromLatin1(kWriteTestMarkerQuestion),
                     PromptIcon::Exclamation, PromptButtons::YesNo) != PromptAnswer::Yes) {
        if (done) done(false);
        return;
    }
    auto check = [&sequence, &services, &owner, path, marker = *marker, done] {
        sequence.Step(
            [state = services.state, marker](DriveTable& table, const WorkerContext&) -> std::optional<bool> {
                const std::optional<bool> on =
                    SelectMarkedDrive(*state, table, marker) ? ReadMarkedSimulation(table, marker) : std::nullopt;
                // The table addresses the chosen drive again, as the window's next commands expect.
                state->SelectChosenDrive(table);
                return on;
            },
            [&services, &owner, path, done](const std::optional<bool>& on) {
                const bool off = on.has_value() && !*on;
                if (off) {
                    std::error_code ignored;
                    std::filesystem::remove(path, ignored);
                }
                services.Inform(&owner,
                                QString::fromLatin1(off  ? kWriteTestMarkerOff
                                                    : on ? kWriteTestStillOn
                                                         : kWriteTestMarkerUnknown),
                                off ? PromptIcon::Information : PromptIcon::Exclamation);
                if (done) done(off);
            });
    };
    if (sequence.Running()) {
        check();
    } else {
        sequence.Start(check);
    }
}

struct CWriteTestWindow::DiscRead {
    bool driveFound = false;
    std::string driveLabel;
    WriteTestDisc disc;
};

struct CWriteTestWindow::Ran {
    std::string driveLabel;
    std::string firmware;
    WriteTestResult result;
};

CWriteTestWindow::CWriteTestWindow(const AppServices& services, QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_drive(std::make_shared<StoppableDrive>(services.drives)),
      m_runHold(services.state) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("writeTestWindow"));
    setWindowTitle(QString::fromLatin1(kWriteTestTitle));
    SetGuidePage(*this, QStringLiteral("writetest.html"));
    Build();
    m_sequence = new DriveSequence(*m_settings, services, m_drive, m_driveStatus);
    ReadDisc();
}

CWriteTestWindow::~CWriteTestWindow() {
    // The run goes on without the window until it has put the setting back; it only stops early.
    if (m_stop) m_stop->store(true);
    if (m_running) m_services.State().writeTestRunning = 0;
}

void CWriteTestWindow::Build() {
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    auto* discBox = new QGroupBox(QStringLiteral("Disc "), this);
    auto* discLayout = new QVBoxLayout(discBox);
    m_discText = new QLabel(QStringLiteral("N/A"), discBox);
    m_discText->setObjectName(QStringLiteral("writeTestDisc"));
    m_discText->setTextFormat(Qt::PlainText);
    m_discText->setWordWrap(true);
    discLayout->addWidget(m_discText);
    layout->addWidget(discBox);

    m_settings = new QGroupBox(QStringLiteral("Test "), this);
    auto* grid = new QGridLayout(m_settings);
    m_speed = new QComboBox(m_settings);
    m_speed->setObjectName(QStringLiteral("writeTestSpeed"));
    m_speed->addItem(QStringLiteral("Max"), 0.0);
    m_speed->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_length = new QComboBox(m_settings);
    m_length->setObjectName(QStringLiteral("writeTestLength"));
    m_length->addItems({QStringLiteral("Whole disc"), QStringLiteral("The first MB")});
    m_lengthMB = new QLineEdit(QString::number(kDefaultLengthMB), m_settings);
    m_lengthMB->setObjectName(QStringLiteral("writeTestLengthMB"));
    m_lengthMB->setEnabled(false);
    m_lengthMB->setMaximumWidth(m_lengthMB->fontMetrics().horizontalAdvance(QStringLiteral("000000")) * 2);
    grid->addWidget(new QLabel(QStringLiteral("Write speed:"), m_settings), 0, 0);
    grid->addWidget(m_speed, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Length:"), m_settings), 0, 2);
    grid->addWidget(m_length, 0, 3);
    grid->addWidget(m_lengthMB, 0, 4);
    grid->addWidget(new QLabel(QStringLiteral("MB"), m_settings), 0, 5);
    grid->setColumnStretch(6, 1);
    m_driveStatus = NewDriveStatusLine(*m_settings, QStringLiteral("writeTestDriveStatus"));
    grid->addWidget(m_driveStatus, 1, 0, 1, 7);
    layout->addWidget(m_settings);

    auto* run = new QHBoxLayout;
    m_start = new QPushButton(QStringLiteral("START"), this);
    m_start->setObjectName(QStringLiteral("writeTestStart"));
    m_start->setEnabled(false);
    m_stopButton = new QPushButton(QStringLiteral("STOP"), this);
    m_stopButton->setObjectName(QStringLiteral("writeTestStop"));
    m_stopButton->setEnabled(false);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("writeTestProgress"));
    m_progress->setRange(0, kProgressSteps);
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("0 MB"));
    run->addWidget(m_start);
    run->addWidget(m_stopButton);
    run->addWidget(m_progress, 1);
    layout->addLayout(run);
    auto* figures = new QHBoxLayout;
    m_elapsedText = new QLabel(QStringLiteral("Elapsed: 0:00"), this);
    m_elapsedText->setObjectName(QStringLiteral("writeTestElapsed"));
    m_buffer = new QLabel(QStringLiteral("Buffer: -"), this);
    m_buffer->setObjectName(QStringLiteral("writeTestBuffer"));
    figures->addWidget(m_elapsedText);
    figures->addWidget(m_buffer);
    figures->addStretch(1);
    layout->addLayout(figures);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("writeTestStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    m_status->setMaximumWidth(kStatusWidth);
    layout->addWidget(m_status);
    m_tick = new QTimer(this);
    m_tick->setInterval(1000);
    connect(m_tick, &QTimer::timeout, this, &CWriteTestWindow::ShowElapsed);

    m_view = new WriteTestView(this);
    layout->addWidget(m_view);

    const TestWindowButtons buttons = AddTestWindowButtons(*this, *layout, QStringLiteral("writeTest"));
    m_saveResults = buttons.saveResults;
    m_savePicture = buttons.savePicture;
    QPushButton* close = buttons.close;

    connect(m_length, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_lengthMB->setEnabled(index == kFirstMB); });
    connect(m_start, &QPushButton::clicked, this, &CWriteTestWindow::Start);
    connect(m_stopButton, &QPushButton::clicked, this, &CWriteTestWindow::Stop);
    connect(m_saveResults, &QPushButton::clicked, this, &CWriteTestWindow::AskSaveResults);
    connect(m_savePicture, &QPushButton::clicked, this, &CWriteTestWindow::AskSaveChartPicture);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

void CWriteTestWindow::ReadDisc() {
    m_sequence->Start([this] {
        m_sequence->Step(
            [state = m_services.state](DriveTable& table, const WorkerContext&) {
                DiscRead read;
                read.driveFound = state->OpenChosenDrive(table);
                if (!read.driveFound) return read;
                read.driveLabel = table.DriveLabel();
                read.disc = ReadWriteTestDisc(table);
                return read;
            },
            [this](const DiscRead& read) { ShowDisc(read); });
    });
}

void CWriteTestWindow::ShowDisc(const DiscRead& read) {
    m_disc.reset();
    if (!read.driveFound) {
        m_discText->setText(QStringLiteral("No Device found!"));
        m_start->setEnabled(false);
        return;
    }
    m_driveLabel = ProgramText(read.driveLabel);
    setWindowTitle(QStringLiteral("%1 - %2").arg(QString::fromLatin1(kWriteTestTitle), m_driveLabel));
    const WriteTestDisc& disc = read.disc;
    m_disc = disc;
    if (!disc.ready) {
        m_discText->setText(QStringLiteral("No disc in the drive."));
    } else {
        QString text = ProgramText(DiscTypeOfProfile(disc.profile).name);
        if (disc.method != SimulationMethod::None) {
            text += disc.blank ? QStringLiteral(", blank") : QStringLiteral(", not blank");
            if (disc.Testable())
                text += QStringLiteral(", ") + QString::fromLatin1(SimulationText(disc.method));
        }
        m_discText->setText(text);
    }
    FillSpeeds(disc);
    // What cannot be write-tested is said, and START stays off.
    const char* refusal = WriteTestDiscRefusal(disc);
    if (!m_running) {
        m_start->setEnabled(disc.Testable());
        if (*refusal != '\0') ShowStatus(QString::fromLatin1(refusal));
    }
}

void CWriteTestWindow::FillSpeeds(const WriteTestDisc& disc) {
    const double chosen = m_speed->currentData().toDouble();
    m_speed->clear();
    m_speed->addItem(QStringLiteral("Max"), 0.0);
    const double at1X = KBpsAt1X(disc.profile);
    for (const uint32_t kbps : disc.writeSpeedsKBps) {
        const double x = std::round(kbps / at1X * 10.0) / 10.0;
        m_speed->addItem(QStringLiteral("%1X (%2 kB/s)").arg(x).arg(kbps), x);
    }
    m_speed->setCurrentIndex(std::max(m_speed->findData(chosen), 0));
}

void CWriteTestWindow::Start() {
    if (m_running || m_sequence->Running() || !m_disc || !m_disc->Testable()) return;
    // A Probix scan or a read test goes on at the drive: the write test would have to hold it up.
    if (m_services.State().scanIdle.load() == 0) {
        ShowStatus(QString::fromLatin1(kWriteTestScanRunning));
        return;
    }
    WriteTestSettings settings;
    settings.speedX = m_speed->currentData().toDouble();
    if (m_length->currentIndex() == kFirstMB) {
        bool ok = false;
        const qulonglong mb = m_lengthMB->text().trimmed().toULongLong(&ok);
        if (!ok || mb == 0 || mb > kLargestLengthMB) {
            m_services.Inform(this, QString::fromLatin1(kWriteTestBadLength));
            return;
        }
        settings.lengthSectors = static_cast<uint32_t>(mb * 1048576 / kSectorSize);
    }
    // Nothing goes to the drive before the user has agreed.
    if (m_services.Ask(this, QString::fromLatin1(kWriteTestTitle), QString::fromLatin1(kWriteTestQuestion),
                       PromptIcon::Question, PromptButtons::OkCancel) != PromptAnswer::Ok)
        return;
    settings.markerPath = WriteTestMarkerPath();
    settings.driveName = m_driveLabel.toStdString();
    // A marker of a run that did not end: its setting would be read as the earlier one and put back.
    CheckLeftWriteTestMarker(m_services, *this, *m_sequence, [this, settings](bool cleared) {
        if (cleared) {
            Launch(settings);
        } else {
            ShowStatus(QString::fromLatin1(kWriteTestMarkerStands));
        }
    });
}

void CWriteTestWindow::Launch(WriteTestSettings settings) {
    if (m_running) return;
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_chartBegun = false;
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("0 MB"));
    m_buffer->setText(QStringLiteral("Buffer: -"));
    m_view->ClearFigures();
    m_record.reset();
    m_saveResults->setEnabled(false);
    m_savePicture->setEnabled(false);
    SetRunning(true);
    ShowStatus(QStringLiteral("Checking the disc and switching simulation on\u2026"));
    // Not a step of the window's sequence: a step's commands end when the window goes, and so would
    // the flush and the setting put back. The engine takes the drive's turn for the whole run.
    m_sequence->Run(
        [this, state = m_services.state, settings, stop = m_stop](SharedDrive& drive,
                                                                  const WorkerContext& context) {
            Ran ran;
            WriteTestHooks hooks;
            hooks.stopRequested = [&] { return stop->load() || context.StopRequested(); };
            hooks.onPoint = [&](const WritePoint& point, uint64_t written, uint64_t planned) {
                context.Post([this, point, written, planned] { OnPoint(point, written, planned); });
            };
            const bool selected = drive.Locked([&](DriveTable& table) {
                if (!state->SelectChosenDrive(table)) return false;
                ran.driveLabel = table.DriveLabel();
                ran.firmware = table.FirmwareRevision();
                ran.result = RunWriteTest(drive, settings, hooks);
                return true;
            });
            if (!selected) ran.result.message = "No Device found!";
            return ran;
        },
        [this](const Ran& ran) { OnRunEnded(ran); });
}

void CWriteTestWindow::OnPoint(const WritePoint& point, uint64_t written, uint64_t planned) {
    if (!m_chartBegun) {
        // The first point lies at the start of the writing, where a given speed turns the disc
        // fastest: the rotation axis reaches what the speed axis allows there.
        m_chartBegun = true;
        double topX = std::max(point.speedX, m_speed->currentData().toDouble());
        if (m_disc && !m_disc->writeSpeedsKBps.empty())
            topX = std::max(topX, m_disc->writeSpeedsKBps.front() / KBpsAt1X(m_disc->profile));
        topX = read_chart::SpeedAxisTop(topX);
        const double topRpm =
            read_chart::RotationAxisTop(point.speedX > 0 ? point.rpm * topX / point.speedX : 0.0);
        const auto first = static_cast<int>(std::min<uint64_t>(point.lba, INT32_MAX));
        const auto last =
            static_cast<int>(std::min<uint64_t>(point.lba + std::max<uint64_t>(planned, 1), INT32_MAX));
        m_view->Begin(first, last, {topX, topRpm});
        ShowStatus(QStringLiteral("Writing in simulation\u2026"));
    }
    m_view->Append(point);
    const double part = planned > 0 ? static_cast<double>(written) / static_cast<double>(planned) : 0.0;
    m_progress->setValue(std::clamp(static_cast<int>(part * kProgressSteps), 0, kProgressSteps));
    m_progress->setFormat(
        QStringLiteral("%1 of %2 MB").arg(WrittenMB(written), 0, 'f', 1).arg(WrittenMB(planned), 0, 'f', 1));
    m_buffer->setText(QStringLiteral("Buffer: %1 %").arg(std::lround(point.bufferFill * 100)));
    ShowElapsed();
}

void CWriteTestWindow::OnRunEnded(const Ran& ran) {
    SetRunning(false);
    const WriteTestResult& r = ran.result;
    m_view->Show(r);
    if (!r.points.empty()) m_record = WriteTestRecordOf(ran.driveLabel, ran.firmware, r, UtcTimestamp());
    m_saveResults->setEnabled(m_record.has_value());
    m_savePicture->setEnabled(m_record.has_value());
    ShowStatus(
        QStringLiteral("%1 (%2)").arg(QString::fromLatin1(WriteTestEndName(r.end)),
                                      QStringLiteral("elapsed %1").arg(MinutesText(r.elapsedSeconds))));
    if (r.end == WriteTestEnd::Finished) {
        m_progress->setValue(kProgressSteps);
    }
    if (m_closeWhenEnded) {
        close();
        return;
    }
    // The disc as the run left it (a disc that was recorded is no longer offered).
    ReadDisc();
}

void CWriteTestWindow::AskSaveResults() {
    if (!m_record) return;
    const QString path = AskTestSaveName(*this, TestSave::Results, WriteTestShortName(*m_record));
    if (!path.isEmpty()) SaveResults(path);
}

void CWriteTestWindow::AskSaveChartPicture() {
    if (!m_record) return;
    const QString path = AskTestSaveName(*this, TestSave::Picture, WriteTestShortName(*m_record));
    if (!path.isEmpty()) SaveChartPicture(path);
}

bool CWriteTestWindow::SaveResults(const QString& path) {
    if (!m_record) {
        m_services.Inform(this, QString::fromLatin1(kWriteTestNothingWritten));
        return false;
    }
    return ToldSaved(m_services, this, SaveWriteTestFile(QFile::encodeName(path).toStdString(), *m_record));
}

bool CWriteTestWindow::SaveChartPicture(const QString& path) {
    if (!m_record) {
        m_services.Inform(this, QString::fromLatin1(kWriteTestNothingWritten));
        return false;
    }
    return ToldSaved(m_services, this, SaveWriteTestPicture(QFile::encodeName(path).toStdString(), *m_record));
}

void CWriteTestWindow::Stop() {
    if (!m_running || !m_stop) return;
    // Between two requests; the cache is flushed and the setting put back before the run ends.
    m_stop->store(true);
    m_stopButton->setEnabled(false);
    ShowStatus(QStringLiteral("Stopping: flushing the drive's cache and putting the setting back\u2026"));
}

void CWriteTestWindow::closeEvent(QCloseEvent* event) {
    if (m_running) {
        // The window closes once the run has put the drive's setting back.
        Stop();
        m_closeWhenEnded = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CWriteTestWindow::SetRunning(bool running) {
    if (m_running == running) return;
    m_running = running;
    m_runHold.Set(running);
    m_services.State().writeTestRunning = running ? 1 : 0;
    m_settings->setEnabled(!running);
    m_start->setEnabled(!running && m_disc && m_disc->Testable());
    m_stopButton->setEnabled(running);
    if (running) {
        m_elapsed.start();
        m_tick->start();
        ShowElapsed();
    } else {
        m_tick->stop();
    }
    emit RunningChanged(running);
}

void CWriteTestWindow::ShowElapsed() {
    if (!m_elapsed.isValid()) return;
    m_elapsedText->setText(QStringLiteral("Elapsed: %1").arg(MinutesText(m_elapsed.elapsed() / 1000.0)));
}

void CWriteTestWindow::ShowStatus(const QString& text) {
    m_status->setText(text);
}

}  // namespace dravix
