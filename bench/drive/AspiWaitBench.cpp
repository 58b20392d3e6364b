// What waiting for a slow drive costs on the ASPI path. Runs `dravix-cli --virtual --trace info`
// (the program beside this one) against a virtual drive whose every command takes --latency-ms
// (1000), and once more without latencies, each the median of --runs (3). Reports the wall time,
// the commands sent, the CPU time of the process (user + system) and its voluntary context
// switches (one per wake-up of a sleeping thread); then, from the difference of the two runs, what
// the waits themselves cost: the time each command took beyond its latency, and the CPU they used
// in per cent of one core.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "base/InstallLayout.h"
#include "bench/support/SlowVirtualDrives.h"
#include "emu/Scenario.h"

extern char** environ;

namespace {

using namespace dravix;

struct Run {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long voluntarySwitches = 0;
    int commands = 0;
    int status = -1;
};

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// A state file with one maker's drive holding a blank DVD+R, every command class slowed down, and
// the disc's medium change already reported (so the run holds no ready-wait of its own).
bool WriteStateFile(const std::string& path, uint32_t latencyMs) {
    emu::Scenario scenario(emu::Preset::Minimal);
    const bench::SlowDrives slow{
        .classes = {emu::LatencyClass::Command, emu::LatencyClass::Tray, emu::LatencyClass::Vendor},
        .latencyMs = latencyMs};
    return bench::WriteSlowScenario(scenario, slow, path);
}

int CountLines(const std::string& path, const std::string& prefix) {
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) ++count;
    }
    return count;
}

Run RunCli(const std::string& program, const std::string& tracePath) {
    Run run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, tracePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> args = {program, "--virtual", "--trace", "info"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s: %s\n", program.c_str(), std::strerror(spawned));
        return run;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.voluntarySwitches = usage.ru_nvcsw;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.commands = CountLines(tracePath, "[0] CDB ");
    return run;
}

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t latencyMs = 1000;
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--latency-ms" && i + 1 < argc) {
            latencyMs = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--latency-ms MS] [--runs N]\n", argv[0]);
            return 2;
        }
    }

    const std::string program = ExecutableDirectory() + "/dravix-cli";
    char folderTemplate[] = "/tmp/dravix-wait-bench-XXXXXX";
    const char* folder = ::mkdtemp(folderTemplate);
    if (folder == nullptr) return 1;
    const std::string statePath = std::string(folder) + "/vdrive.json";
    const std::string tracePath = std::string(folder) + "/trace.txt";

    auto measure = [&](uint32_t latency) -> std::optional<Run> {
        std::vector<Run> all;
        for (int i = 0; i < runs; ++i) {
            if (!WriteStateFile(statePath, latency)) return std::nullopt;
            all.push_back(RunCli(program, tracePath));
            if (all.back().status != 0) {
                std::fprintf(stderr, "dravix-cli info ended with status %d (see %s)\n", all.back().status,
                             tracePath.c_str());
                return std::nullopt;
            }
        }
        auto median = [&](auto field) {
            std::vector<std::remove_cvref_t<decltype(all[0].*field)>> values;
            for (const Run& run : all) values.push_back(run.*field);
            return Median(values);
        };
        Run run;
        run.wallSeconds = median(&Run::wallSeconds);
        run.cpuSeconds = median(&Run::cpuSeconds);
        run.voluntarySwitches = median(&Run::voluntarySwitches);
        run.commands = median(&Run::commands);
        run.status = 0;
        return run;
    };
    const std::optional<Run> slow = measure(latencyMs);
    const std::optional<Run> quick = measure(0);
    std::filesystem::remove_all(folder);
    if (!slow || !quick) return 1;

    auto print = [](const char* title, const Run& run) {
        std::printf("%s\n", title);
        std::printf("  commands sent:               %d\n", run.commands);
        std::printf("  wall time:                   %.2f s\n", run.wallSeconds);
        std::printf("  CPU time (user + system):    %.3f s\n", run.cpuSeconds);
        std::printf("  voluntary context switches:  %ld\n", run.voluntarySwitches);
    };
    char title[96];
    std::snprintf(title, sizeof title, "dravix-cli --virtual info, %u ms per command (median of %d runs)",
                  latencyMs, runs);
    print(title, *slow);
    print("the same without latencies", *quick);
    const double waitSeconds = slow->wallSeconds - quick->wallSeconds;
    const int sent = std::max(slow->commands, 1);
    std::printf("the waits (the difference)\n");
    std::printf("  beyond the latencies:        %.2f ms per command\n",
                (waitSeconds * 1000.0 - static_cast<double>(sent) * latencyMs) / sent);
    std::printf("  CPU share of one core:       %.2f %%\n",
                waitSeconds > 0 ? 100.0 * (slow->cpuSeconds - quick->cpuSeconds) / waitSeconds : 0.0);
    std::printf("  wake-ups per second:         %.0f\n",
                waitSeconds > 0
                    ? static_cast<double>(slow->voluntarySwitches - quick->voluntarySwitches) / waitSeconds
                    : 0.0);
    return 0;
}
