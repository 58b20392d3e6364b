// How many commands, how much time and how much processor the window spends before the user sees
// what a slow drive has to say. The real program's window runs offscreen on the virtual drive's
// ASPI library (as `dravix --virtual` does), every command class taking --latency-ms (1000), the
// disc already spun up. Two paths are timed, each from the user's action to the values on the
// screen:
//   start:  OK on the start-up warning -> the Information page's values filled in;
//   probix: a click on the Probix tab  -> its Disc Speed list filled in.
// Each path prints the commands sent beside the commands its sequence needs (the transport's
// INQUIRY per drive and per window, the probe's ready-wait, vendor mode on, feature list and off,
// the Information page's ready-wait and reads; for the Probix tab the Information page's read as it is
// left, the Probix page's own drive list and vendor mode on, and the first disc poll), the wall
// time, and the processor time the waits cost: the difference to the same path without latencies,
// in per cent of one core. Then the start with --many-drives (8) drives. With --spinup-ms the disc
// is loaded as the program starts and takes that long to become ready.
//
// Each session runs in a process of its own (the program's state is process-wide); --trace FILE
// writes the commands of the sessions with latencies, with their times, to FILE.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/MainDialog.h"
#include "app/PageRegistry.h"
#include "bench/support/SlowVirtualDrives.h"
#include "drive/Trace.h"
#include "emu/Scenario.h"
#include "emu/VirtualSetup.h"
#include "ui/DriveSequence.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

extern char** environ;

namespace {

using namespace dravix;
using Clock = std::chrono::steady_clock;

constexpr int kInformationDialog = 154;
constexpr int kFirmwareField = 1046;
constexpr int kCapacityField = 1055;
constexpr int kProbixDialog = 136;
constexpr int kSpeedCombo = 1005;
constexpr int kStartButton = 1009;

// What one path of one session measured.
struct PathFigures {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int commands = 0;
};

// What one session measured; a line of numbers between the session's process and the bench.
struct SessionFigures {
    PathFigures start;
    PathFigures probix;
    int startUntilIdle = 0;  // every command of the start, the second read of the page included

    std::string Line() const {
        std::ostringstream out;
        out << start.wallSeconds << ' ' << start.cpuSeconds << ' ' << start.commands << ' ' << startUntilIdle
            << ' ' << probix.wallSeconds << ' ' << probix.cpuSeconds << ' ' << probix.commands;
        return out.str();
    }
    static std::optional<SessionFigures> Parse(const std::string& line) {
        std::istringstream in(line);
        SessionFigures f;
        if (in >> f.start.wallSeconds >> f.start.cpuSeconds >> f.start.commands >> f.startUntilIdle >>
            f.probix.wallSeconds >> f.probix.cpuSeconds >> f.probix.commands)
            return f;
        return std::nullopt;
    }
};

// --- the session, in its own process ------------------------------------------------------------

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The commands the program sends, with when they ended.
class CommandLog {
  public:
    void Add(const CommandTrace& trace) {
        std::lock_guard lock(m_mutex);
        m_lines.push_back({Clock::now(), FormatTrace(trace)});
    }
    int Count() {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_lines.size());
    }
    void Mark(const std::string& text) {
        std::lock_guard lock(m_mutex);
        m_lines.push_back({Clock::now(), "--- " + text});
        ++m_marks;
    }
    int Marks() const { return m_marks; }
    void Write(const std::string& path, Clock::time_point origin) {
        std::lock_guard lock(m_mutex);
        std::ofstream out(path, std::ios::app);
        for (const Line& line : m_lines) {
            const double at = std::chrono::duration<double>(line.at - origin).count();
            char prefix[24];
            std::snprintf(prefix, sizeof prefix, "%8.3f ", at);
            out << prefix << line.text << '\n';
        }
    }

  private:
    struct Line {
        Clock::time_point at;
        std::string text;
    };
    std::mutex m_mutex;
    std::vector<Line> m_lines;
    int m_marks = 0;
};

class OkPrompter final : public Prompter {
  public:
    PromptAnswer Show(QWidget*, const PromptRecord& record) override {
        if (!record.text.startsWith(QStringLiteral("\n                  +++  Warning")))
            std::fprintf(stderr, "box: %s\n", record.text.toLocal8Bit().constData());
        return PromptAnswer::Ok;
    }
};

// Runs the event loop until `done` holds, looking every 20 ms (the loop sleeps in between): often
// enough to time a path of seconds, seldom enough to add next to nothing to the processor time.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 600'000) {
    if (done()) return true;
    QEventLoop loop;
    QTimer look;
    look.setInterval(20);
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, [&] { loop.exit(1); });
    look.start();
    return loop.exec() == 0;
}

PropertyPage* PageOf(CMainDialog& window, int dialogId) {
    for (int i = 0; i < window.Sheet()->PageCount(); ++i) {
        if (window.Sheet()->Page(i)->DialogId() == dialogId) return window.Sheet()->Page(i);
    }
    return nullptr;
}

QString TextOf(PropertyPage* page, int id) {
    auto* label = page ? page->Control<QLabel>(id) : nullptr;
    return label ? label->text() : QString();
}

bool InformationFilled(CMainDialog& window) {
    PropertyPage* info = PageOf(window, kInformationDialog);
    return !TextOf(info, kFirmwareField).isEmpty() && !TextOf(info, kCapacityField).isEmpty();
}

bool SpeedsListed(CMainDialog& window) {
    PropertyPage* probix = PageOf(window, kProbixDialog);
    if (probix == nullptr) return false;
    auto* speeds = probix->Control<QComboBox>(kSpeedCombo);
    auto* start = probix->Control<QPushButton>(kStartButton);
    return speeds != nullptr && start != nullptr && start->isEnabled() && speeds->count() > 0 &&
           speeds->itemText(0) != QStringLiteral("N/A");
}

// Nothing of the window works, twice in a row 100 ms apart.
void WaitUntilIdle(CMainDialog& window) {
    for (int quiet = 0; quiet < 2;) {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
        quiet = DriveSequence::AnyWorking(window) ? 0 : quiet + 1;
    }
}

bool WriteStateFile(const std::string& path, int drives, uint32_t latencyMs, uint32_t spinUpMs) {
    std::vector<emu::DriveState> states(static_cast<size_t>(drives),
                                        emu::FactoryState(emu::DriveKind::Maker));
    emu::Scenario scenario(states);
    for (int i = 0; i < drives; ++i) {
        emu::VirtualDrive& drive = scenario.Drive(static_cast<size_t>(i));
        drive.SetLatency(emu::LatencyClass::SpinUp, spinUpMs);
        drive.Insert("dvd+r");
    }
    const bench::SlowDrives slow{.classes = {emu::LatencyClass::Command, emu::LatencyClass::Tray,
                                             emu::LatencyClass::Vendor, emu::LatencyClass::TeFe},
                                 .latencyMs = latencyMs,
                                 .ready = spinUpMs == 0};
    return bench::WriteSlowScenario(scenario, slow, path);
}

int RunSession(int argc, char** argv, int drives, uint32_t latencyMs, uint32_t spinUpMs,
               const std::string& statePath, const std::string& tracePath) {
    if (!WriteStateFile(statePath, drives, latencyMs, spinUpMs)) return 1;
    if (const Result<void> prepared = emu::PrepareVirtualDrive(); !prepared) {
        std::fprintf(stderr, "%s\n", prepared.Failure().text.c_str());
        return 1;
    }
    auto log = std::make_shared<CommandLog>();
    SetTraceSink([log](const CommandTrace& trace) { log->Add(trace); });

    QApplication app(argc, argv);
    AppServices services;
    services.prompter = std::make_shared<OkPrompter>();
    services.dialogRunner = [](QDialog&) {
        std::fprintf(stderr, "a dialog was opened\n");
        return 0;
    };
    CMainDialog window(services, DefaultPageFactory(services));
    window.show();
    QApplication::processEvents();

    SessionFigures figures;
    const Clock::time_point origin = Clock::now();
    const auto measure = [&](PathFigures& path, const std::function<void()>& act,
                             const std::function<bool()>& done) {
        const int commandsBefore = log->Count() - log->Marks();
        const double cpuBefore = CpuSeconds();
        const Clock::time_point begin = Clock::now();
        act();
        const bool reached = WaitFor(done);
        path.wallSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
        path.cpuSeconds = CpuSeconds() - cpuBefore;
        path.commands = log->Count() - log->Marks() - commandsBefore;
        return reached;
    };

    log->Mark("OK on the start-up warning");
    if (!measure(
            figures.start, [&] { window.OnInitDialog(); }, [&] { return InformationFilled(window); })) {
        std::fprintf(stderr, "the Information page was not filled in\n");
        return 1;
    }
    log->Mark("Information values filled in");
    const int beforeIdle = log->Count() - log->Marks();
    WaitUntilIdle(window);
    figures.startUntilIdle = figures.start.commands + (log->Count() - log->Marks() - beforeIdle);

    log->Mark("Probix tab clicked");
    const bool listed = measure(
        figures.probix,
        [&] { window.Sheet()->setCurrentIndex(window.Sheet()->indexOf(PageOf(window, kProbixDialog))); },
        [&] { return SpeedsListed(window); });
    if (!listed) {
        std::fprintf(stderr, "the Probix page listed no speed\n");
        return 1;
    }
    log->Mark("Disc Speed list filled in");
    if (!tracePath.empty() && latencyMs > 0) log->Write(tracePath, origin);
    std::printf("%s\n", figures.Line().c_str());
    std::fflush(stdout);
    // What is still at the drive (the poll's next tick, vendor mode off) is not measured: the
    // process ends here, as the virtual drive goes with it.
    std::_Exit(0);
}

// --- the bench ---------------------------------------------------------------------------------

std::optional<SessionFigures> Spawn(const std::string& self, int drives, uint32_t latencyMs,
                                    uint32_t spinUpMs, const std::string& folder,
                                    const std::string& tracePath) {
    const std::string output = folder + "/session.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> args = {self,
                                     "--session",
                                     std::to_string(drives),
                                     std::to_string(latencyMs),
                                     std::to_string(spinUpMs),
                                     folder + "/vdrive.json",
                                     tracePath.empty() ? "-" : tracePath};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return std::nullopt;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    std::ifstream in(output);
    std::string line;
    std::getline(in, line);
    return SessionFigures::Parse(line);
}

// The commands each path needs, by the number of drives listed.
int StartNeeds(int drives) {
    // The main window's drive list (INQUIRY per drive); the probe: ready-wait, vendor mode on,
    // feature list, and its vendor mode off, which comes before the sheet and its Information
    // page; that page's drive list, its ready-wait, then TEST UNIT READY, MODE SENSE, REPORT KEY,
    // GET CONFIGURATION, READ DVD STRUCTURE, GET PERFORMANCE.
    return drives + 4 + drives + 1 + 6;
}
int ProbixNeeds(int drives) {
    // The Information page's read as it is left (drive list, ready-wait, six reads); the Probix
    // page's drive list and vendor mode on; the first poll: TEST UNIT READY, GET CONFIGURATION,
    // GET PERFORMANCE.
    return (drives + 1 + 6) + (drives + 1) + 3;
}

void PrintPath(const char* name, const PathFigures& slow, const PathFigures& quick, int needs) {
    const double waitSeconds = slow.wallSeconds - quick.wallSeconds;
    const double cpuShare =
        waitSeconds > 0 ? 100.0 * (slow.cpuSeconds - quick.cpuSeconds) / waitSeconds : 0.0;
    std::printf(
        "  %-7s %7.2f s  %3d commands (needs %3d, target %3d)  CPU while waiting %5.2f %% of a core\n", name,
        slow.wallSeconds, slow.commands, needs, needs + 1, cpuShare);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 7 && std::strcmp(argv[1], "--session") == 0) {
        const std::string trace = argv[6];
        return RunSession(1, argv, std::atoi(argv[2]),
                          static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)),
                          static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)), argv[5],
                          trace == "-" ? std::string() : trace);
    }
    uint32_t latencyMs = 1000;
    uint32_t spinUpMs = 0;
    int manyDrives = 8;
    std::string tracePath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--latency-ms" && i + 1 < argc) {
            latencyMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--spinup-ms" && i + 1 < argc) {
            spinUpMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--many-drives" && i + 1 < argc) {
            manyDrives = std::clamp(std::atoi(argv[++i]), 1, 8);
        } else if (arg == "--trace" && i + 1 < argc) {
            tracePath = std::filesystem::absolute(argv[++i]).string();
        } else {
            std::fprintf(stderr,
                         "usage: %s [--latency-ms MS] [--spinup-ms MS] [--many-drives N] [--trace FILE]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!tracePath.empty()) std::ofstream(tracePath, std::ios::trunc);

    char folderTemplate[] = "/tmp/dravix-round-trip-bench-XXXXXX";
    const char* folder = ::mkdtemp(folderTemplate);
    if (folder == nullptr) return 1;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();

    int status = 0;
    std::vector<int> driveCounts = {1};
    if (manyDrives > 1) driveCounts.push_back(manyDrives);
    for (int drives : driveCounts) {
        if (!tracePath.empty()) {
            std::ofstream(tracePath, std::ios::app)
                << "=== " << drives << " drive(s), " << latencyMs << " ms per command\n";
        }
        const std::optional<SessionFigures> slow =
            Spawn(self, drives, latencyMs, spinUpMs, folder, tracePath);
        const std::optional<SessionFigures> quick = Spawn(self, drives, 0, spinUpMs, folder, {});
        if (!slow || !quick) {
            std::fprintf(stderr, "the session with %d drive(s) failed\n", drives);
            status = 1;
            break;
        }
        std::printf(
            "%d drive(s), %u ms per command (the same without latencies: start %.2f s, probix %.2f s)\n",
            drives, latencyMs, quick->start.wallSeconds, quick->probix.wallSeconds);
        if (spinUpMs > 0) {
            std::printf(
                "  the disc is loaded as the program starts and spins up for %u ms: the ready-waits\n"
                "  ask again every 200 ms until it is ready, beyond what the sequences need\n",
                spinUpMs);
        }
        PrintPath("start", slow->start, quick->start, StartNeeds(drives));
        std::printf("          %3d commands until the start is idle (the page's second read included)\n",
                    slow->startUntilIdle);
        PrintPath("probix", slow->probix, quick->probix, ProbixNeeds(drives));
        std::fflush(stdout);
    }
    std::filesystem::remove_all(folder);
    return status;
}
