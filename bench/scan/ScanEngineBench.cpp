// A Full scan of a DVD+R DL (254 samples) on a zero-latency virtual drive, through the engine
// and through the command line, and what the drive model alone costs per command, so that the
// software's own cost per sample can be told apart from the drive's.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "cli/Cli.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "probix/ScanEngine.h"
#include "tests/support/VirtualBus.h"
#include "turns/SharedDrive.h"

namespace {

using namespace dravix;

constexpr int32_t kDualLayerLastLba = 4173823;
constexpr int kFullDualLayerSamples = 254;

// The drive's own time for one TE/FE measurement, without any transport.
double DriveMicrosecondsPerMeasurement(emu::VirtualDrive& drive) {
    uint8_t cdb[12];
    BuildMeasureCdb(cdb, 15, 0x100000);
    uint8_t answer[8];
    constexpr int kRounds = 2000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kRounds; ++i) drive.Execute(cdb, sizeof cdb, 2, answer, sizeof answer, 30);
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
           kRounds;
}

struct Bench {
    test::VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();

    Bench() {
        drive.Insert("dvd+r-dl");
        DriveTable table(bus.Drives());
        table.InitTransport();
        table.EnumerateDrives();
        TestUnitReady(table);  // takes the unit attention of the load
        table.SetVendorMode(true);
    }
};

void SetCounters(benchmark::State& state, double secondsPerScan, double driveMicroseconds) {
    const double perSampleMs = secondsPerScan * 1000.0 / kFullDualLayerSamples;
    // Each sample is one command; the two reference reads are spread over the samples.
    const double commandsPerSample = (kFullDualLayerSamples + 2.0) / kFullDualLayerSamples;
    state.counters["ms_per_sample"] = perSampleMs;
    state.counters["drive_ms_per_sample"] = driveMicroseconds * commandsPerSample / 1000.0;
    state.counters["software_ms_per_sample"] = perSampleMs - driveMicroseconds * commandsPerSample / 1000.0;
}

void BM_EngineFullScanDualLayer(benchmark::State& state) {
    Bench bench;
    DriveTable table(bench.bus.Drives());
    table.InitTransport();
    table.EnumerateDrives();
    SharedDrive drive(table);
    ScanSettings settings;
    settings.discTypeCode = kScanDvdPlusRDl;
    settings.lastLba = kDualLayerLastLba;
    settings.mode = SamplingMode::Full;
    settings.baseStep = BaseStepOf(SamplingMode::Full);
    settings.speedCode = 15;
    const StopRequested never = [] { return false; };
    double seconds = 0;
    for (auto _ : state) {
        ScanCallbacks observer;
        int samples = 0;
        observer.onSample = [&](const ScanSample&) { ++samples; };
        const auto start = std::chrono::steady_clock::now();
        const ScanResult result = RunTeFeScan(drive, settings, observer, never);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (samples != kFullDualLayerSamples || result.end != ScanEnd::Finished)
            state.SkipWithError("wrong scan");
    }
    bench.bus.ClearCommands();
    SetCounters(state, seconds / static_cast<double>(state.iterations()),
                DriveMicrosecondsPerMeasurement(bench.drive));
}
BENCHMARK(BM_EngineFullScanDualLayer)->Unit(benchmark::kMillisecond);

void BM_CliFullScanDualLayer(benchmark::State& state) {
    Bench bench;
    unsetenv("DRAVIX_ASPI_LIBRARY");
    char csvPath[] = "/tmp/dravix-scan-bench-XXXXXX";
    const int fd = mkstemp(csvPath);
    if (fd >= 0) close(fd);
    std::vector<std::string> args = {"dravix-cli", "scan", "--speed", "6X",
                                     "--mode",     "full", "--csv",   csvPath};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    double seconds = 0;
    for (auto _ : state) {
        std::ostringstream out, err;
        std::istringstream in;
        const auto start = std::chrono::steady_clock::now();
        const int status = cli::RunCli(static_cast<int>(argv.size()), argv.data(), out, err, in);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (status != cli::kExitOk) state.SkipWithError(err.str().c_str());
        bench.bus.ClearCommands();
    }
    std::remove(csvPath);
    SetCounters(state, seconds / static_cast<double>(state.iterations()),
                DriveMicrosecondsPerMeasurement(bench.drive));
}
BENCHMARK(BM_CliFullScanDualLayer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
