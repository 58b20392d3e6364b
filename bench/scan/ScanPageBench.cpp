// The Probix page offscreen during a Full scan of a DVD+R DL on a zero-latency virtual drive: how
// long the UI thread is unavailable at most (a 1 ms timer probe measures how late the event loop
// serves it), and the time per sample with the page drawing. --snapshot FILE saves a picture of
// the page in the middle of the scan.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "chart/ScanChart.h"
#include "scan/TeFe.h"
#include "tests/scan/TeFeControls.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

namespace {

using namespace dravix;

QString g_snapshotPath;

// Message boxes answered at once, so that the verdict does not wait for a user.
class SilentPrompter final : public Prompter {
  public:
    PromptAnswer Show(QWidget*, const PromptRecord&) override { return PromptAnswer::Ok; }
};

// Counts the TE/FE measurements the drive answers.
void CountMeasurements(emu::VirtualDrive& drive, std::atomic<int>& measured) {
    drive.SetTraceHook([&measured](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0) ++measured;
    });
}

// Initialises the page and runs its disc poll by hand until the speed list is built.
void OpenWithSpeedsListed(CTEFE& page) {
    page.EnsureInitialised();
    // The page opens its drive and switches vendor mode on in the background; its chart comes then.
    while (page.findChild<CScanChart*>() == nullptr)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    page.findChild<QTimer*>(QString::fromLatin1(CTEFE::kPollTimerName))->stop();
    page.show();
    page.OnTimer();
    while (test::RunningWorkers(page) > 0 || test::OfferedSpeedCodes(page).empty())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

void BM_PageFullScanUiStall(benchmark::State& state) {
    AppServices services;
    services.prompter = std::make_shared<SilentPrompter>();
    double worstStallMs = 0;
    double totalSeconds = 0;
    for (auto _ : state) {
        services.state = std::make_shared<AppState>();  // each run starts as the program does
        test::VirtualBus bus;
        services.drives = bus.Drives();
        emu::VirtualDrive& drive = bus.AddDrive();
        drive.Insert("dvd+r-dl");
        std::atomic<int> measured{0};
        CountMeasurements(drive, measured);

        CTEFE page(services);
        OpenWithSpeedsListed(page);
        page.findChild<QComboBox*>(ControlName(CTEFE::kSamplingComboId))->setCurrentIndex(1);  // Full
        page.findChild<QComboBox*>(ControlName(CTEFE::kSpeedComboId))->setCurrentIndex(2);     // 6X

        // The probe: a 1 ms timer; how late it fires is how long the event loop was busy.
        QElapsedTimer clock;
        qint64 last = 0;
        double stall = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            stall = std::max(stall, (now - last) / 1e6 - 1.0);
            last = now;
        });

        clock.start();
        probe.start();
        page.findChild<QPushButton*>(ControlName(CTEFE::kStartId))->click();
        auto* stop = page.findChild<QPushButton*>(ControlName(CTEFE::kStopId));
        while (stop->isEnabledTo(&page)) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        totalSeconds += clock.nsecsElapsed() / 1e9;
        probe.stop();
        worstStallMs = std::max(worstStallMs, stall);
        if (measured.load() != 254) state.SkipWithError("the scan did not measure 254 samples");
    }
    state.counters["max_ui_stall_ms"] = worstStallMs;
    state.counters["ms_per_sample"] = totalSeconds * 1000.0 / 254.0 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PageFullScanUiStall)->Unit(benchmark::kMillisecond)->Iterations(5);

// The page in the middle of a Full scan of a DVD+R DL at 8X (where it fails), with both criterion
// lines on: the drive takes 5 ms per measurement so that the picture catches the run going.
void SaveSnapshot(const QString& path) {
    AppServices services;
    services.prompter = std::make_shared<SilentPrompter>();
    test::VirtualBus bus;
    services.drives = bus.Drives();
    emu::VirtualDrive& drive = bus.AddDrive();
    drive.Insert("dvd+r-dl");
    std::atomic<int> measured{0};
    CountMeasurements(drive, measured);
    CTEFE page(services);
    OpenWithSpeedsListed(page);
    drive.SetLatency(emu::LatencyClass::TeFe, 5);
    page.findChild<QComboBox*>(ControlName(CTEFE::kSamplingComboId))->setCurrentIndex(1);
    page.findChild<QComboBox*>(ControlName(CTEFE::kSpeedComboId))->setCurrentIndex(3);
    page.findChild<QCheckBox*>(ControlName(CTEFE::kTeCheckId))->click();
    page.findChild<QCheckBox*>(ControlName(CTEFE::kFeCheckId))->click();
    page.findChild<QPushButton*>(ControlName(CTEFE::kStartId))->click();
    while (measured.load() < 160) QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    QApplication::processEvents();
    page.grab().save(path);
    page.OnStop();
    while (test::RunningWorkers(page) > 0) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // --snapshot FILE is ours; everything else goes to the benchmark library.
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--snapshot") == 0 && i + 1 < argc) {
            g_snapshotPath = QString::fromLocal8Bit(argv[++i]);
        } else {
            rest.push_back(argv[i]);
        }
    }
    int restCount = static_cast<int>(rest.size());
    QApplication app(restCount, rest.data());
    benchmark::Initialize(&restCount, rest.data());
    if (!g_snapshotPath.isEmpty()) SaveSnapshot(g_snapshotPath);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
