// How long the window stops answering while the program talks to a slow drive. Offscreen, on
// virtual drives whose every command takes --latency-ms (1000) and whose disc becomes ready
// --ready-ms (3000) after it is loaded, a user opens the program, visits every tab, runs each
// page's Refresh/Check and one write, changes the drive and closes the window; a second user
// starts a scan and walks through the tabs while it runs. A 10 ms timer on the UI thread records
// the longest gap between its ticks in each phase: that is how long the window could not repaint,
// switch a tab or take a click. A window or page shows that it works by the wait cursor over it; the
// walk waits for that to end before the next step. --slow-events names every event the UI thread
// took more than 10 ms over.

#include <benchmark/benchmark.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "tests/support/MainWindowControls.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace {

using namespace dravix;

uint32_t g_latencyMs = 1000;
uint32_t g_readyMs = 3000;
bool g_showSlowEvents = false;

// With --slow-events, every event the UI thread takes more than 10 ms over is named on standard
// error: where a gap comes from.
class TimedApplication final : public QApplication {
  public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (!g_showSlowEvents) return QApplication::notify(receiver, event);
        QElapsedTimer clock;
        clock.start();
        const int type = event->type();
        const QByteArray name = receiver->metaObject()->className();
        const bool result = QApplication::notify(receiver, event);
        if (clock.elapsed() > 10)
            std::fprintf(stderr, "slow event: %s type %d, %lld ms\n", name.constData(), type,
                         clock.elapsed());
        return result;
    }
};

// The longest time between two ticks of a timer on the UI thread, per phase.
class GapProbe {
  public:
    GapProbe() {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_clock.start();
        m_timer.start();
        m_last = m_clock.nsecsElapsed();
    }
    // Ends the current phase under `name` and starts the next one.
    void EndPhase(const std::string& name) {
        Tick();
        m_phases.emplace_back(name, m_worst);
        m_worst = 0;
    }
    const std::vector<std::pair<std::string, double>>& Phases() const { return m_phases; }

  private:
    void Tick() {
        const qint64 now = m_clock.nsecsElapsed();
        m_worst = std::max(m_worst, (now - m_last) / 1e6);
        m_last = now;
    }

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_worst = 0;
    std::vector<std::pair<std::string, double>> m_phases;
};

// Every box is answered as a user who goes on would answer it; asked to empty the tray, the user
// takes the disc out.
class UserPrompter final : public Prompter {
  public:
    explicit UserPrompter(std::function<void()> takeDiscOut) : m_takeDiscOut(std::move(takeDiscOut)) {}
    PromptAnswer Show(QWidget*, const PromptRecord& record) override {
        if (record.text.startsWith(QStringLiteral("Please make sure there is no any media"))) m_takeDiscOut();
        if (record.buttons == PromptButtons::YesNo) return PromptAnswer::Yes;
        return PromptAnswer::Ok;
    }

  private:
    std::function<void()> m_takeDiscOut;
};

// Modal dialogs run as in the program; the setting-scope dialog gets "Temporal Setting" clicked as
// soon as it can be, every other dialog is closed.
int RunDialog(QDialog& dialog) {
    auto* user = new QTimer(&dialog);
    user->setInterval(10);
    QObject::connect(user, &QTimer::timeout, &dialog, [&dialog, user] {
        if (!dialog.isVisible()) return;
        auto* temporary = dialog.findChild<QPushButton*>(ControlName(1010));
        if (temporary == nullptr) {
            user->stop();
            dialog.reject();
        } else if (temporary->isEnabled()) {
            user->stop();
            temporary->click();
        }
    });
    user->start();
    return dialog.exec();
}

// A window or page shows that it works with the wait cursor over it.
bool Busy(QWidget& window) {
    auto waiting = [](QWidget* w) {
        return w->isVisible() && w->testAttribute(Qt::WA_SetCursor) && w->cursor().shape() == Qt::WaitCursor;
    };
    if (waiting(&window)) return true;
    const QList<QWidget*> children = window.findChildren<QWidget*>();
    return std::any_of(children.begin(), children.end(), waiting);
}

// Runs the event loop until `done` holds, looking every 5 ms; the loop sleeps in between, so the
// waiting takes no processor time from the program.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 600'000) {
    if (done()) return true;
    QEventLoop loop;
    QTimer look;
    look.setInterval(5);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, [&] { loop.exit(1); });
    look.start();
    return loop.exec() == 0;
}

void WaitIdle(QWidget& window) {
    // A sequence that has just been started shows its busy state at once; one more round of
    // events lets a continuation start the next step.
    WaitFor([&] { return !Busy(window); });
    QApplication::processEvents();
    WaitFor([&] { return !Busy(window); });
}

PropertyPage* PageOf(CMainDialog& window, int dialogId) {
    for (int i = 0; i < window.Sheet()->PageCount(); ++i) {
        if (window.Sheet()->Page(i)->DialogId() == dialogId) return window.Sheet()->Page(i);
    }
    return nullptr;
}

void Show(CMainDialog& window, int dialogId) {
    window.Sheet()->setCurrentIndex(window.Sheet()->indexOf(PageOf(window, dialogId)));
    WaitIdle(window);
}

void Click(CMainDialog& window, int dialogId, int controlId) {
    PropertyPage* page = PageOf(window, dialogId);
    if (page == nullptr) return;
    auto* button = page->Control<QAbstractButton>(controlId);
    if (button == nullptr) return;
    WaitFor([&] { return button->isEnabled(); }, 30'000);
    button->click();
    WaitIdle(window);
}

bool SpeedsListed(CMainDialog& window) {
    PropertyPage* probix = PageOf(window, 136);
    return probix != nullptr && probix->Control(1009) != nullptr && probix->Control(1009)->isEnabled();
}

struct Bench {
    Bench() {
        services.drives = bus.Drives();
        for (int i = 0; i < 2; ++i) {
            emu::VirtualDrive& drive = bus.AddDrive();
            drive.SetFeatureCodes({1, 2, 3, 5, 6, 7});
            for (auto latency : {emu::LatencyClass::Command, emu::LatencyClass::Vendor,
                                 emu::LatencyClass::Tray, emu::LatencyClass::TeFe}) {
                drive.SetLatency(latency, g_latencyMs);
            }
            drive.SetLatency(emu::LatencyClass::SpinUp, g_readyMs);
            drive.Insert("dvd+r");
        }
        services.prompter = std::make_shared<UserPrompter>([this] { bus.Drive(0).RemoveDisc(); });
        services.dialogRunner = RunDialog;
    }

    void Report(benchmark::State& state, const GapProbe& probe) {
        double worst = 0;
        for (const auto& [name, gap] : probe.Phases()) {
            state.counters[name + "_max_gap_ms"] = gap;
            worst = std::max(worst, gap);
        }
        state.counters["max_gap_ms"] = worst;
    }

    test::VirtualBus bus;
    AppServices services;
};

// One user's session: the program opens, `walk` does what the user does, the window closes. The
// program then waits for the command a worker may still have at the drive (exit_wait_ms: the
// window is gone by then, nothing is left to repaint).
void RunSession(benchmark::State& state, const std::function<void(CMainDialog&, GapProbe&)>& walk) {
    for (auto _ : state) {
        Bench bench;
        auto window = std::make_unique<CMainDialog>(bench.services, DefaultPageFactory(bench.services));
        GapProbe probe;
        window->show();
        window->OnInitDialog();
        WaitIdle(*window);
        probe.EndPhase("open");

        walk(*window, probe);

        window->reject();
        window.reset();
        probe.EndPhase("close");
        QElapsedTimer exit;
        exit.start();
        JoinAllWorkers();
        state.counters["exit_wait_ms"] = static_cast<double>(exit.elapsed());
        bench.Report(state, probe);
    }
}

void BM_WalkThroughEveryPage(benchmark::State& state) {
    RunSession(state, [](CMainDialog& window, GapProbe& probe) {
        for (int dialogId : {154, 104, 136, 105, 106, 177, 178}) Show(window, dialogId);
        probe.EndPhase("tabs");

        Show(window, 154);
        Click(window, 154, 1015);  // Refresh
        probe.EndPhase("information");

        Show(window, 104);
        Click(window, 104, 1016);  // Check Drive
        Click(window, 104, 1019);  // Check Media
        Click(window, 104, 1017);  // the DVD+R row's Modify
        probe.EndPhase("booktype");

        Show(window, 136);
        WaitFor([&] { return SpeedsListed(window); });
        probe.EndPhase("probix");

        Show(window, 105);
        Click(window, 105, 1030);  // Check
        Click(window, 105, 1034);  // Disable
        Click(window, 105, 1031);  // Set
        probe.EndPhase("wopc");

        Show(window, 106);
        Click(window, 106, 1010);  // Check
        Click(window, 106, 1022);  // Enable
        Click(window, 106, 1015);  // Set
        probe.EndPhase("testwrite");

        Show(window, 177);
        Click(window, 177, 1067);  // Check
        Click(window, 177, 1066);  // Supported Disc: Non-Activated
        Click(window, 177, 1068);  // Set, through the setting-scope dialog
        probe.EndPhase("lumard");

        Show(window, 178);
        Click(window, 178, 1073);  // Check
        Click(window, 178, 1075);  // Disable
        Click(window, 178, 1076);  // Set, through the setting-scope dialog and the empty-tray loop
        probe.EndPhase("overspeed");

        test::DriveListOf(window)->setCurrentIndex(1);
        window.OnDriveListChanged(1);
        WaitIdle(window);
        probe.EndPhase("drive_change");
    });
}
BENCHMARK(BM_WalkThroughEveryPage)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_WalkTheTabsDuringAScan(benchmark::State& state) {
    RunSession(state, [](CMainDialog& window, GapProbe& probe) {
        Show(window, 136);
        WaitFor([&] { return SpeedsListed(window); });
        probe.EndPhase("probix");

        Click(window, 136, 1009);  // START, Normal sampling
        for (int dialogId : {154, 104, 105, 106, 177, 178, 136}) Show(window, dialogId);
        probe.EndPhase("tabs_during_scan");

        Click(window, 136, 1010);  // STOP
        probe.EndPhase("stop");
    });
}
BENCHMARK(BM_WalkTheTabsDuringAScan)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // --latency-ms N, --ready-ms N and --slow-events are ours; everything else goes to the
    // benchmark library.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--latency-ms") == 0 && i + 1 < argc) {
            g_latencyMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--ready-ms") == 0 && i + 1 < argc) {
            g_readyMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--slow-events") == 0) {
            g_showSlowEvents = true;
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    TimedApplication app(restCount, rest.data());
    benchmark::Initialize(&restCount, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
