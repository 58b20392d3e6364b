#include "ui/DriveSequence.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "drive/Messages.h"
#include "turns/AppState.h"
#include "turns/WorkerThreads.h"
#include "ui/Services.h"

namespace dravix {

namespace {

// The status text stays readable on a window that is disabled while it works.
void KeepReadableWhenDisabled(QLabel& label) {
    QPalette palette = label.palette();
    palette.setColor(QPalette::Disabled, QPalette::WindowText,
                     palette.color(QPalette::Active, QPalette::WindowText));
    label.setPalette(palette);
}

}  // namespace

QLabel* NewDriveStatusLine(QWidget& parent, const QString& objectName) {
    auto* line = new QLabel(&parent);
    line->setObjectName(objectName);
    QSizePolicy keep = line->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    line->setSizePolicy(keep);
    line->setMinimumHeight(line->fontMetrics().height());
    line->hide();
    return line;
}

DriveSequence::DriveSequence(QWidget& busy, const AppServices& services,
                             std::shared_ptr<StoppableDrive> drive, QLabel* status)
    : QObject(&busy),
      m_busy(busy),
      m_services(services),
      m_drive(std::move(drive)),
      m_status(status),
      m_workers(new Workers(this)) {
    if (m_status == nullptr) {
        m_status = new QLabel(&busy);
        m_status->setObjectName(QStringLiteral("driveStatus"));
        m_status->setAutoFillBackground(true);
        m_status->setMargin(2);
        m_status->hide();
        m_ownStatus = true;
    }
    m_workers->setObjectName(QString::fromLatin1(kWorkersName));
    KeepReadableWhenDisabled(*m_status);
    m_slow = new QTimer(this);
    m_slow->setSingleShot(true);
    m_slow->setInterval(kSlowDriveMs);
    connect(m_slow, &QTimer::timeout, this, [this] {
        // A text the sequence shows (the drive activating, the main window's check) stays.
        if (m_atDrive > 0 && m_status != nullptr && m_status->isHidden())
            ShowStatus(QString::fromUtf8(kStatusReadingDrive));
    });
    connect(m_workers, &Workers::Ended, this, [this](uint64_t id) {
        if (id == m_backgroundWorker) m_background = false;
        m_runs.erase(id);
    });
}

DriveSequence::~DriveSequence() {
    // The workers are asked to stop as their owner goes; what they still post is dropped.
    m_workers->RequestStopAll();
}

void DriveSequence::Start(std::function<void()> begin) {
    if (Running()) {
        if (!m_waiting) m_waiting = std::move(begin);
        return;
    }
    const uint64_t generation = m_generation;
    ++m_depth;
    begin();
    Leave(generation);
}

DriveIdentity DriveSequence::ChosenDrive() const {
    // Before the first listing nothing is chosen by identity yet: the drive the window's table
    // addresses stands for it (the one of the list's index, once a step has selected it).
    DriveIdentity chosen = m_services.State().ChosenDrive();
    return chosen.Empty() ? m_drive->Shared().Drive() : chosen;
}

void DriveSequence::RunStep(ErasedWork<DriveTable> work, bool background) {
    const uint64_t generation = m_generation;
    const uint64_t stepsAsked = background ? m_stepsAsked : ++m_stepsAsked;
    if (!background) {
        ++m_depth;
        if (m_atDrive++ == 0) EnterBusy();
    }
    // The turn is reserved here, on the UI thread, so that steps keep the order in which they
    // were asked for. A window's steps address the drive chosen in the main window.
    m_lastDrive = ChosenDrive();
    auto turn = std::make_shared<DriveTurns::Turn>(DriveTurns::Of(*m_lastDrive).Reserve());
    const uint64_t worker = m_workers->Start([this, drive = m_drive, turn, work = std::move(work), generation,
                                              stepsAsked, background](const WorkerContext& context) {
        std::optional<SharedDrive::Holder> holder =
            drive->Shared().Take(std::move(*turn), context.StopToken());
        if (!holder) return;  // stopped before its turn: nothing was sent
        const StoppableDrive::StopScope stopScope = drive->StopWith(context.StopToken());
        DriveTable& table = holder->Table();
        const ReadyWaitHooks saved = table.ReadyWait();
        ReadyWaitHooks hooks = saved;
        hooks.stop = context.StopToken();
        hooks.becomingReady = [this, &context] {
            context.Post([this] { ShowStatus(QString::fromUtf8(kStatusDriveActivating)); });
        };
        table.SetReadyWaitHooks(hooks);
        // The drive layer's own messages (a transport that cannot be prepared) reach the user
        // as application message boxes before what the step found: the drive layer shows them
        // to its caller, who goes on once they are answered ("Can't load WNASPI32.DLL!!", then
        // "Initial fail.").
        std::vector<std::string> messages;
        Continuation continuation;
        {
            const DriveMessageScope scope([&messages](const std::string& text) { messages.push_back(text); });
            continuation = work(table, context);
        }
        table.SetReadyWaitHooks(saved);
        // The text says that a wait runs: it goes with the step that waited (a poll's too).
        context.Post([this] { EndStatus(QString::fromUtf8(kStatusDriveActivating)); });
        holder.reset();
        context.Post([this, messages = std::move(messages), continuation = std::move(continuation),
                      generation, background,
                      stepsAsked] { Deliver(continuation, messages, generation, background, stepsAsked); });
    });
    if (background) {
        m_background = true;
        m_backgroundWorker = worker;
    }
}

uint64_t DriveSequence::StartRun(ErasedWork<SharedDrive> work) {
    const uint64_t generation = m_generation;
    const uint64_t worker = m_workers->Start(
        [this, drive = m_drive, work = std::move(work), generation](const WorkerContext& context) {
            if (context.StopRequested()) return;  // stopped before it began: nothing was sent
            Continuation continuation = work(drive->Shared(), context);
            context.Post([this, continuation = std::move(continuation), generation] {
                if (generation == m_generation) continuation();
            });
        });
    m_runs.insert(worker);
    return worker;
}

void DriveSequence::StopRun(uint64_t id) {
    if (m_runs.contains(id)) m_workers->RequestStop(id);
}

void DriveSequence::Deliver(const Continuation& continuation, const std::vector<std::string>& messages,
                            uint64_t generation, bool background, uint64_t stepsAsked) {
    const auto showMessages = [this, &messages] {
        for (const std::string& text : messages) m_services.Inform(nullptr, QString::fromStdString(text));
    };
    if (background) {
        m_background = false;
        showMessages();
        // Shown unless a step of a sequence has been asked for since: that step's findings are
        // newer. A sequence that only asks the user something lets it through.
        if (generation == m_generation && stepsAsked == m_stepsAsked && m_atDrive == 0) continuation();
        return;
    }
    if (generation != m_generation) return;
    // The drive's part is done; what the continuation asks or shows is the user's.
    if (--m_atDrive == 0) LeaveBusy();
    showMessages();
    continuation();
    Leave(generation);
}

void DriveSequence::Leave(uint64_t generation) {
    if (generation != m_generation || --m_depth > 0) return;
    if (m_waiting) {
        // The next sequence begins at once.
        std::function<void()> next = std::exchange(m_waiting, {});
        ++m_depth;
        next();
        Leave(generation);
    }
}

void DriveSequence::Finally(std::function<void(DriveTable& table)> work, std::optional<DriveIdentity> drive) {
    const DriveIdentity at = drive ? std::move(*drive) : m_lastDrive ? *m_lastDrive : ChosenDrive();
    auto turn = std::make_shared<DriveTurns::Turn>(DriveTurns::Of(at).Reserve());
    ++*m_finally;
    WorkerThreads::Program().Start(
        [drive = m_drive, turn, work = std::move(work), pending = m_finally](std::stop_token) {
            {
                std::optional<SharedDrive::Holder> holder = drive->Shared().Take(std::move(*turn));
                work(holder->Table());
            }
            --*pending;
        });
}

void DriveSequence::Stop() {
    ++m_generation;
    m_workers->RequestStopAll();
    m_waiting = {};
    m_background = false;
    if (m_atDrive > 0) LeaveBusy();
    m_atDrive = 0;
    m_depth = 0;
}

void DriveSequence::ShowStatus(const QString& text) {
    if (m_status == nullptr) return;
    m_status->setText(text);
    if (m_ownStatus) {
        m_status->adjustSize();
        m_status->move(4, m_busy.height() - m_status->height() - 4);
        m_status->raise();
    }
    m_status->show();
}

void DriveSequence::EndStatus(const QString& text) {
    if (m_status == nullptr || m_status->text() != text) return;
    m_status->hide();
    m_status->clear();
}

void DriveSequence::EnterBusy() {
    m_busyWasEnabled = !m_busy.testAttribute(Qt::WA_ForceDisabled);
    m_busy.setEnabled(false);
    m_busy.setCursor(Qt::WaitCursor);
    m_slow->start();
}

void DriveSequence::LeaveBusy() {
    m_busy.setEnabled(m_busyWasEnabled);
    m_busy.unsetCursor();
    m_slow->stop();
    if (m_status != nullptr) {
        m_status->hide();
        m_status->clear();
    }
}

bool DriveSequence::AnyWorking(const QObject& root) {
    if (const auto* sequence = qobject_cast<const DriveSequence*>(&root); sequence && sequence->Working())
        return true;
    for (const DriveSequence* sequence : root.findChildren<DriveSequence*>()) {
        if (sequence->Working()) return true;
    }
    for (const Workers* workers : root.findChildren<Workers*>()) {
        if (workers->Running() > 0) return true;
    }
    return false;
}

}  // namespace dravix
