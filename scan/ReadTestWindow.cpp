#include "scan/ReadTestWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/MediumChanges.h"
#include "picture/ReadTestPicture.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsRecords.h"
#include "scan/DiscWatcher.h"
#include "scan/ReadTestView.h"
#include "scan/SaveClash.h"
#include "turns/AppState.h"
#include "turns/SharedDrive.h"
#include "turns/StoppableDrive.h"
#include "ui/DriveSequence.h"
#include "ui/GuidePage.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

namespace {

// Entries of the test and range lists, in this order.
constexpr ReadTestKind kKinds[] = {ReadTestKind::Transfer, ReadTestKind::Errors, ReadTestKind::Seek,
                                   ReadTestKind::Benchmark};
const char* const kKindTexts[] = {"Transfer rate", "Read errors", "Access time", "Benchmark"};
enum RangeEntry { kWholeDisc, kQuick, kLbaRange };
// Speeds offered up to the drive's fastest for the disc (all of them when it does not say).
constexpr double kDvdSpeeds[] = {1, 2, 2.4, 4, 6, 8, 12, 16, 20, 24};
constexpr double kCdSpeeds[] = {4, 8, 10, 16, 24, 32, 40, 48, 52};
// The progress bar counts in thousandths.
constexpr int kProgressSteps = 1000;
constexpr CountTexts kLayerCount{"%llu layer", "%llu layers"};
constexpr CountTexts kTrackCount{"%llu track", "%llu tracks"};

std::optional<uint32_t> Lba(const QLineEdit& edit) {
    bool ok = false;
    const qulonglong value = edit.text().trimmed().toULongLong(&ok);
    if (!ok || value > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

struct CReadTestWindow::DiscRead {
    bool driveFound = false;
    std::string driveLabel;
    LayoutReading layout;
    DriveIdentity drive;
    uint64_t changes = 0;  // the drive's medium changes once the disc was read
};

struct CReadTestWindow::Ran {
    bool driveFound = false;
    ReadTestRecord record;
};

CReadTestWindow::CReadTestWindow(const AppServices& services, QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_drive(std::make_shared<StoppableDrive>(services.drives)),
      m_runHold(services.state) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("readTestWindow"));
    setWindowTitle(QString::fromLatin1(kReadTestTitle));
    SetGuidePage(*this, QStringLiteral("readtest.html"));
    Build();
    // The settings wait while the drive works; STOP stays usable. The sequence says
    // "Drive activating..." on a line of its own under the settings; the status line below is the
    // run's.
    m_sequence = new DriveSequence(*m_settings, services, m_drive, m_driveStatus);
    ReadDisc();
}

CReadTestWindow::~CReadTestWindow() {
    StopRun();
}

void CReadTestWindow::Build() {
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    auto* discBox = new QGroupBox(QStringLiteral("Disc "), this);
    auto* discLayout = new QVBoxLayout(discBox);
    m_disc = new QLabel(QStringLiteral("N/A"), discBox);
    m_disc->setObjectName(QStringLiteral("readTestDisc"));
    m_disc->setTextFormat(Qt::PlainText);
    m_disc->setWordWrap(true);
    discLayout->addWidget(m_disc);
    layout->addWidget(discBox);

    m_settings = new QGroupBox(QStringLiteral("Test "), this);
    auto* grid = new QGridLayout(m_settings);
    m_kind = new QComboBox(m_settings);
    m_kind->setObjectName(QStringLiteral("readTestKind"));
    for (const char* text : kKindTexts) m_kind->addItem(QString::fromLatin1(text));
    m_speed = new QComboBox(m_settings);
    m_speed->setObjectName(QStringLiteral("readTestSpeed"));
    m_speed->addItem(QStringLiteral("Max"), 0.0);
    m_range = new QComboBox(m_settings);
    m_range->setObjectName(QStringLiteral("readTestRange"));
    m_range->addItems({QStringLiteral("Whole disc"), QStringLiteral("Quick (100 zones of 4 MiB)"),
                       QStringLiteral("From LBA to LBA")});
    m_firstLba = new QLineEdit(m_settings);
    m_firstLba->setObjectName(QStringLiteral("readTestFirstLba"));
    m_lastLba = new QLineEdit(m_settings);
    m_lastLba->setObjectName(QStringLiteral("readTestLastLba"));
    m_image = new QLineEdit(m_settings);
    m_image->setObjectName(QStringLiteral("readTestImage"));
    m_image->setPlaceholderText(QStringLiteral("(none)"));
    m_browse = new QPushButton(QStringLiteral("Browse..."), m_settings);
    m_browse->setObjectName(QStringLiteral("readTestBrowse"));
    grid->addWidget(new QLabel(QStringLiteral("Test:"), m_settings), 0, 0);
    grid->addWidget(m_kind, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("Speed:"), m_settings), 0, 2);
    grid->addWidget(m_speed, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("Range:"), m_settings), 1, 0);
    grid->addWidget(m_range, 1, 1);
    auto* lbas = new QHBoxLayout;
    lbas->addWidget(new QLabel(QStringLiteral("LBA"), m_settings));
    lbas->addWidget(m_firstLba);
    lbas->addWidget(new QLabel(QStringLiteral("to"), m_settings));
    lbas->addWidget(m_lastLba);
    grid->addLayout(lbas, 1, 2, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Verify against:"), m_settings), 2, 0);
    grid->addWidget(m_image, 2, 1, 1, 2);
    grid->addWidget(m_browse, 2, 3);
    m_loadEject = new QCheckBox(QStringLiteral("Load and eject"), m_settings);
    m_loadEject->setObjectName(QStringLiteral("readTestLoadEject"));
    grid->addWidget(m_loadEject, 3, 0, 1, 4);
    m_driveStatus = NewDriveStatusLine(*m_settings, QStringLiteral("readTestDriveStatus"));
    grid->addWidget(m_driveStatus, 4, 0, 1, 4);
    layout->addWidget(m_settings);

    auto* run = new QHBoxLayout;
    m_start = new QPushButton(QStringLiteral("START"), this);
    m_start->setObjectName(QStringLiteral("readTestStart"));
    m_stopButton = new QPushButton(QStringLiteral("STOP"), this);
    m_stopButton->setObjectName(QStringLiteral("readTestStop"));
    m_stopButton->setEnabled(false);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("readTestProgress"));
    m_progress->setRange(0, kProgressSteps);
    m_progress->setValue(0);
    run->addWidget(m_start);
    run->addWidget(m_stopButton);
    run->addWidget(m_progress, 1);
    layout->addLayout(run);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("readTestStatus"));
    m_status->setTextFormat(Qt::PlainText);
    layout->addWidget(m_status);
    m_retryTick = new QTimer(this);
    m_retryTick->setInterval(1000);
    connect(m_retryTick, &QTimer::timeout, this, &CReadTestWindow::ShowRetryText);

    m_view = new ReadTestView(this);
    layout->addWidget(m_view);

    const TestWindowButtons buttons = AddTestWindowButtons(*this, *layout, QStringLiteral("readTest"));
    m_saveResults = buttons.saveResults;
    m_savePicture = buttons.savePicture;
    QPushButton* close = buttons.close;

    connect(m_range, &QComboBox::currentIndexChanged, this, &CReadTestWindow::OnRangeChosen);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &CReadTestWindow::OnRangeChosen);
    connect(m_browse, &QPushButton::clicked, this, &CReadTestWindow::BrowseImage);
    connect(m_start, &QPushButton::clicked, this, &CReadTestWindow::Start);
    connect(m_stopButton, &QPushButton::clicked, this, &CReadTestWindow::Stop);
    connect(m_saveResults, &QPushButton::clicked, this, &CReadTestWindow::AskSaveResults);
    connect(m_savePicture, &QPushButton::clicked, this, &CReadTestWindow::AskSaveChartPicture);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    OnRangeChosen();
}

void CReadTestWindow::OnRangeChosen() {
    // The benchmark reads the quick zones of the whole disc and verifies nothing; only it opens
    // the tray.
    const bool benchmark = kKinds[std::max(0, m_kind->currentIndex())] == ReadTestKind::Benchmark;
    m_range->setEnabled(!benchmark);
    m_loadEject->setEnabled(benchmark);
    const bool lbas = !benchmark && m_range->currentIndex() == kLbaRange;
    m_firstLba->setEnabled(lbas);
    m_lastLba->setEnabled(lbas);
    // Access times are measured over the range; only reads of every sector are verified.
    const bool seek = kKinds[std::max(0, m_kind->currentIndex())] == ReadTestKind::Seek;
    const bool verifies = !seek && !benchmark && m_range->currentIndex() != kQuick;
    m_image->setEnabled(verifies);
    m_browse->setEnabled(verifies);
}

void CReadTestWindow::ReadDisc() {
    m_sequence->Start([this] {
        m_sequence->Step(
            [state = m_services.state](DriveTable& table, const WorkerContext&) {
                DiscRead read;
                read.driveFound = state->OpenChosenDrive(table);
                if (!read.driveFound) return read;
                read.driveLabel = table.DriveLabel();
                read.layout = ReadDiscLayout(table);
                read.drive = IdentityOf(table, table.SelectedIndex());
                read.changes = MediumChangesOf(read.drive);
                return read;
            },
            [this](const DiscRead& read) { ShowDisc(read); });
    });
}

void CReadTestWindow::FollowDisc() {
    if (!m_discWatch || m_running || m_sequence->Running()) return;
    const DiscWatcher::Disc now = m_discWatch->Current();
    // A tray opened shows no medium change until a disc goes in: the drive no longer being ready
    // is a change of what the window shows too.
    const bool readyMoved = now.ready && m_shownReady && *now.ready != *m_shownReady;
    if (now.ready) m_shownReady = now.ready;
    if (now.changes == m_shownChanges && !readyMoved) return;
    ReadDisc();
}

void CReadTestWindow::ShowDisc(const DiscRead& read) {
    if (!read.driveFound) {
        m_disc->setText(QString::fromLatin1(kReadTestNoDrive));
        return;
    }
    if (!m_discWatch || m_discWatch->Drive() != read.drive) {
        m_discWatch = DiscWatcher::Of(m_services.state, read.drive);
        connect(m_discWatch.get(), &DiscWatcher::Changed, this, &CReadTestWindow::FollowDisc);
        m_discWatch->NeedPolls(*m_sequence);
        m_shownReady = m_discWatch->Current().ready;
    }
    m_shownChanges = read.changes;
    // A change told while the disc was read is followed once this read's sequence has ended.
    QTimer::singleShot(0, this, &CReadTestWindow::FollowDisc);
    setWindowTitle(
        QStringLiteral("%1 - %2").arg(QString::fromLatin1(kReadTestTitle), ProgramText(read.driveLabel)));
    if (read.layout.outcome != LayoutOutcome::Ready) {
        m_disc->setText(ProgramText(NotReadableText(NotReadableReasonOf(read.layout.outcome))));
        return;
    }
    ShowDiscLayout(read.layout.layout);
    // The axes the run will show, before it; a run kept stays on the chart, which its saving shows.
    if (!m_record)
        m_view->Begin(read.layout.layout,
                      ReadTestAxisTop(read.layout.layout, m_speed->currentData().toDouble()));
}

void CReadTestWindow::ShowDiscLayout(const DiscLayout& layout) {
    const uint64_t sectors = uint64_t{layout.lastLba} + 1;
    size_t audio = 0;
    for (const LayoutTrack& t : layout.tracks) audio += t.data ? 0 : 1;
    QString text = QStringLiteral("%1, %2 MB (%3), %4, %5")
                       .arg(ProgramText(DiscTypeOfProfile(layout.profile).name))
                       .arg(static_cast<double>(sectors) * kSectorSize / 1048576.0, 0, 'f', 1)
                       .arg(ProgramText(CountText(kSectorCount, sectors)),
                            ProgramText(CountText(kLayerCount, layout.layers)),
                            ProgramText(CountText(kTrackCount, layout.tracks.size())));
    if (audio > 0) text += QStringLiteral(" (%1 audio, not read)").arg(audio);
    if (layout.layerBreakLba) text += QStringLiteral(", layer break at LBA %1").arg(*layout.layerBreakLba);
    m_disc->setText(text);
    FillSpeeds(layout);
}

void CReadTestWindow::FillSpeeds(const DiscLayout& layout) {
    const double chosen = m_speed->currentData().toDouble();
    m_speed->clear();
    m_speed->addItem(QStringLiteral("Max"), 0.0);
    const auto add = [&](std::span<const double> speeds) {
        for (const double x : speeds) {
            if (layout.maxReadSpeedX > 0 && x > layout.maxReadSpeedX * 1.01) break;
            m_speed->addItem(QStringLiteral("%1X").arg(x), x);
        }
    };
    if (layout.dvd) {
        add(kDvdSpeeds);
    } else {
        add(kCdSpeeds);
    }
    const int again = m_speed->findData(chosen);
    m_speed->setCurrentIndex(std::max(again, 0));
}

void CReadTestWindow::BrowseImage() {
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Verify against"), m_image->text(),
                                     QStringLiteral("Disc images (*.iso *.img *.bin);;All files (*)"));
    if (!path.isEmpty()) m_image->setText(path);
}

void CReadTestWindow::Start() {
    // A write test holds the drive from its first command to its last, in simulation (the disc
    // read of a window opened meanwhile waits for it).
    if (!m_running && m_services.State().writeTestRunning.load() != 0) {
        ShowStatus(QString::fromLatin1(kReadTestWriteTestRunning));
        return;
    }
    if (m_running || m_sequence->Running()) return;
    // A Probix scan of this program holds the drive; the read test would hold it up.
    if (m_services.State().scanIdle.load() == 0) {
        ShowStatus(QString::fromLatin1(kReadTestScanRunning));
        return;
    }
    ReadTestSettings settings;
    settings.kind = kKinds[std::max(0, m_kind->currentIndex())];
    settings.speed.x = m_speed->currentData().toDouble();
    const bool benchmark = settings.kind == ReadTestKind::Benchmark;
    settings.quick = !benchmark && m_range->currentIndex() == kQuick;
    settings.loadEject = benchmark && m_loadEject->isChecked();
    if (!benchmark && m_range->currentIndex() == kLbaRange) {
        settings.startLba = Lba(*m_firstLba);
        settings.endLba = Lba(*m_lastLba);
        if (!settings.startLba || !settings.endLba || *settings.startLba > *settings.endLba) {
            m_services.Inform(this, QString::fromLatin1(kReadTestBadRange));
            return;
        }
    }
    // The image is opened here, so that a wrong name is told before the drive is touched.
    std::shared_ptr<VerifyImage> image;
    const QString imagePath = m_image->text().trimmed();
    if (settings.kind != ReadTestKind::Seek && !benchmark && !settings.quick && !imagePath.isEmpty()) {
        Result<std::unique_ptr<VerifyImage>> opened = OpenImageFile(QFile::encodeName(imagePath).toStdString());
        if (!opened) {
            m_services.Inform(this,
                              QStringLiteral("Cannot read the image %1").arg(ProgramText(opened.Failure().text)),
                              PromptIcon::Exclamation);
            return;
        }
        image = std::move(opened).Value();
    }

    // The tray opens only with the user's leave, asked before the drive is touched.
    if (settings.loadEject &&
        m_services.Ask(this, QString::fromLatin1(kReadTestTitle), QString::fromUtf8(kLoadEjectQuestion),
                       PromptIcon::Question, PromptButtons::YesNo) != PromptAnswer::Yes)
        return;

    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_handover = std::make_shared<ReadTestHandover>();
    m_runHeader = ReadTestRecord{};
    m_stopShown = false;
    // The last run stays savable until this one shows a disc of its own: a START that finds no
    // drive (pulled out) or no readable disc leaves it on the chart, and so in the window's hands.
    m_saveResults->setEnabled(false);
    m_savePicture->setEnabled(false);
    m_progress->setValue(0);
    SetRunning(true);
    ShowStatus(QStringLiteral("Reading the disc\u2026"));
    const std::string imageName = image ? QFile::encodeName(imagePath).toStdString() : std::string();
    m_sequence->Start([this, settings, image, imageName, stop = m_stop, handover = m_handover] {
        m_sequence->Step(
            [this, drive = m_drive, state = m_services.state, settings, image, imageName, stop, handover](
                DriveTable& table, const WorkerContext& context) {
                Ran ran;
                ran.driveFound = state->OpenChosenDrive(table);
                if (!ran.driveFound) return ran;
                const RecordDrive recordDrive{table.DriveLabel(), table.FirmwareRevision()};
                // The run's header as the window shows it while the run reads.
                ReadTestRecord record = ReadTestRecordOf(recordDrive, imageName, {}, {});
                ReadTestSettings run = settings;
                run.image = image.get();

                // What the run finds goes to the window as it comes; the chart grows on the UI
                // thread, a line for each stretch the run reads.
                std::optional<CurveBreaks> breaks;
                int shownSteps = -1;
                ReadTestCallbacks observer;
                observer.onLayout = [&](const DiscLayout& layout, const SpeedSetting& speed) {
                    record.discType = DiscTypeOfProfile(layout.profile).name;
                    const SectorRange planned = ReadTestRange(layout, run);
                    breaks.emplace(ReadStretches(layout, planned, run.quick));
                    // The chart spans the sectors to be read; an access-time run draws no curve
                    // and keeps the whole disc, as its results will.
                    const std::optional<SectorRange> axis =
                        run.kind == ReadTestKind::Seek ? std::nullopt : std::optional<SectorRange>(planned);
                    const double top = ReadTestAxisTop(layout, run.speed.x);
                    const QString speedText = ProgramText(speed.text);
                    context.Post([this, layout, axis, top, speedText, header = record] {
                        if (m_stopShown) return;
                        m_runHeader = header;
                        m_record.reset();
                        ShowDiscLayout(layout);
                        m_view->Begin(layout, top, axis);
                        ShowStatus(QStringLiteral("Reading the disc at %1\u2026").arg(speedText));
                    });
                };
                observer.onPoint = [&](const SpeedPoint& point) {
                    const bool startsLine = !breaks || breaks->StartsLine(point.lba);
                    context.Post([this, point, startsLine] {
                        if (!m_stopShown) m_view->AddPoint(point, startsLine);
                    });
                };
                observer.onFailure = [&](const FailedRange& failure) {
                    context.Post([this, range = failure.range] {
                        if (!m_stopShown) m_view->AddUnread(range);
                    });
                };
                bool retrying = false;
                observer.onProgress = [&](const ReadTestProgress& p) {
                    if (p.step != nullptr) {
                        // A benchmark's step: the status line names it; the bar stays.
                        context.Post([this, text = QString::fromUtf8(p.step)] {
                            if (!m_stopShown) ShowStatus(text);
                        });
                        return;
                    }
                    if (p.retrying || retrying) {
                        retrying = p.retrying;
                        context.Post([this, lba = p.retrying ? std::optional<uint32_t>(p.lba) : std::nullopt,
                                      failed = p.failedSectors] {
                            if (!m_stopShown) ShowRetry(lba, failed);
                        });
                    }
                    const double part = p.seeksPlanned > 0 ? static_cast<double>(p.seeksDone) / p.seeksPlanned
                                        : p.plannedSectors > 0
                                            ? static_cast<double>(p.doneSectors) / p.plannedSectors
                                            : 0.0;
                    const int steps = std::clamp(static_cast<int>(part * kProgressSteps), 0, kProgressSteps);
                    if (steps == shownSteps) return;
                    shownSteps = steps;
                    context.Post([this, steps] {
                        if (!m_stopShown) m_progress->setValue(steps);
                    });
                };
                // The step holds the drive's turn: every request of the run goes out under it.
                ReadTestHooks hooks;
                hooks.stopRequested = [&] { return stop->load() || context.StopRequested(); };
                hooks.handover = handover.get();
                ran.record = ReadTestRecordOf(recordDrive, imageName, RunReadTest(drive->Shared(), run, observer, hooks),
                                              UtcTimestamp());
                return ran;
            },
            [this](const Ran& ran) { OnRunEnded(ran); });
    });
}

void CReadTestWindow::OnRunEnded(const Ran& ran) {
    SetRunning(false);
    m_handover.reset();
    // STOP has shown this run already.
    if (std::exchange(m_stopShown, false)) return;
    ShowRun(ran);
}

void CReadTestWindow::ShowRun(const Ran& ran) {
    const ReadTestResult& r = ran.record.result;
    if (!ran.driveFound || r.end == ReadTestEnd::NotReadable) {
        const QString why = !ran.driveFound ? QString::fromLatin1(kReadTestNoDrive)
                                            : ProgramText(NotReadableText(r.notReadable));
        m_disc->setText(why);
        ShowStatus(why);
        EnableSaving();
        return;
    }
    m_view->Show(ran.record);
    ShowStatus(ProgramText(ReadTestOutcomeText(r)));
    if (r.end == ReadTestEnd::Finished) m_progress->setValue(kProgressSteps);
    const bool measured =
        !r.points.empty() || !r.failures.empty() || r.access.has_value() || r.benchmark.has_value();
    m_record.reset();
    if (measured) m_record = ran.record;
    EnableSaving();
    // A disc changed under the run is shown once the run's sequence has ended.
    QTimer::singleShot(0, this, &CReadTestWindow::FollowDisc);
}

void CReadTestWindow::EnableSaving() {
    m_saveResults->setEnabled(m_record.has_value());
    m_savePicture->setEnabled(m_record.has_value() && m_record->result.kind != ReadTestKind::Seek);
}

void CReadTestWindow::Stop() {
    if (!m_running || !m_stop) return;
    m_stop->store(true);
    m_stopButton->setEnabled(false);
    // What the run measured is shown now; the request at the drive finishes on the worker, which
    // gives the drive back then (START waits for it).
    const std::optional<ReadTestResult> stopped = m_handover ? m_handover->Stop() : std::nullopt;
    if (!stopped) {
        ShowStatus(QStringLiteral("Stopping\u2026"));
        return;
    }
    Ran ran;
    ran.driveFound = true;
    ran.record = ReadTestRecordOf({m_runHeader.driveLabel, m_runHeader.firmware}, m_runHeader.imageName, *stopped,
                                  UtcTimestamp());
    ShowRun(ran);
    m_stopShown = true;
}

void CReadTestWindow::StopRun() {
    if (m_stop) m_stop->store(true);
    if (m_sequence != nullptr && m_sequence->Running()) m_sequence->Stop();
    if (m_running) SetRunning(false);
}

void CReadTestWindow::closeEvent(QCloseEvent* event) {
    StopRun();
    QDialog::closeEvent(event);
}

void CReadTestWindow::SetRunning(bool running) {
    if (!running) ShowRetry(std::nullopt, 0);
    m_running = running;
    m_runHold.Set(running);
    m_start->setEnabled(!running);
    m_stopButton->setEnabled(running);
    emit RunningChanged(running);
}

void CReadTestWindow::ShowStatus(const QString& text) {
    if (m_retryLba) {
        // What the line says once the retries end.
        m_statusBeforeRetry = text;
        return;
    }
    m_status->setText(text);
}

void CReadTestWindow::ShowRetry(std::optional<uint32_t> lba, uint64_t failedSectors) {
    if (!lba) {
        if (!m_retryLba) return;
        m_retryLba.reset();
        m_retryTick->stop();
        m_status->setText(m_statusBeforeRetry);
        return;
    }
    if (!m_retryLba) {
        m_statusBeforeRetry = m_status->text();
        m_retryTick->start();
    }
    m_retryLba = lba;
    m_retryFailed = failedSectors;
    m_retryRead.start();
    ShowRetryText();
}

void CReadTestWindow::ShowRetryText() {
    if (!m_retryLba) return;
    const QString unreadable = m_retryFailed == 1 ? QStringLiteral("1 sector")
                                                  : QStringLiteral("%1 sectors").arg(m_retryFailed);
    m_status->setText(QStringLiteral("Reading LBA %1 again on its own: %2 unreadable so far; this read %3 s")
                          .arg(*m_retryLba)
                          .arg(unreadable)
                          .arg(m_retryRead.elapsed() / 1000));
}

void CReadTestWindow::AskSaveResults() {
    if (!m_record) return;
    const QString path = AskTestSaveName(*this, TestSave::Results, ReadTestShortName(*m_record));
    if (!path.isEmpty()) SaveResults(path);
}

void CReadTestWindow::AskSaveChartPicture() {
    if (!m_record) return;
    const QString path = AskTestSaveName(*this, TestSave::Picture, ReadTestShortName(*m_record));
    if (!path.isEmpty()) SaveChartPicture(path);
}

namespace {

// The image the run shown was verified against is not replaced by what the window saves: true,
// after telling so, for such a name.
bool SaveOverImageRefused(const AppServices& services, QWidget* owner, const ReadTestRecord& record,
                          const QString& path, FileRole role) {
    const QString clash =
        SaveClash({{QFile::decodeName(record.imageName.c_str()), FileRole::Input}}, path, role);
    if (clash.isEmpty()) return false;
    services.Inform(owner, clash, PromptIcon::Exclamation);
    return true;
}

}  // namespace

bool CReadTestWindow::SaveResults(const QString& path) {
    if (!m_record) {
        m_services.Inform(this, QString::fromLatin1(kReadTestNothingMeasured));
        return false;
    }
    if (SaveOverImageRefused(m_services, this, *m_record, path, FileRole::ResultsFile)) return false;
    return ToldSaved(m_services, this, SaveReadTestFile(QFile::encodeName(path).toStdString(), *m_record));
}

bool CReadTestWindow::SaveChartPicture(const QString& path) {
    if (!m_record) {
        m_services.Inform(this, QString::fromLatin1(kReadTestNothingMeasured));
        return false;
    }
    if (SaveOverImageRefused(m_services, this, *m_record, path, FileRole::Picture)) return false;
    return ToldSaved(m_services, this, SaveReadTestPicture(QFile::encodeName(path).toStdString(), *m_record));
}

}  // namespace dravix
