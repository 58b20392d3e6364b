// The write test on a virtual drive whose clock is simulated: a whole blank DVD+R written in
// simulation in requests of 32 sectors, through the guard, the engine, the drive layer and the
// real pass-through code, in this thread's processor time. The drive's time is counted, never
// slept, so what is measured is the program's and the drive model's own cost per request;
// requests per second tells how far that is from the drive's pace (16X DVD is about 340 requests
// of 64 KiB a second).

#include <benchmark/benchmark.h>


#include <string>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "probix/WriteTest.h"
#include "bench/probix/ThreadSeconds.h"
#include "tests/support/VirtualBus.h"
#include "turns/SharedDrive.h"

namespace {

using namespace dravix;

using bench::ThreadSeconds;

void BM_WriteTestWholeDvdPlusR(benchmark::State& state) {
    test::VirtualBus bus;
    emu::VirtualDrive& vdrive = bus.AddDrive();
    // The drive's own clock, moved on by what its commands take but never slept: the model (spin-up,
    // buffer, strategy) runs as on a real run, in no time.
    int64_t nowUs = 1'000'000'000;
    vdrive.SetClock([&nowUs] { return nowUs / 1000; });
    vdrive.SetMicrosecondSleeper([&nowUs](uint64_t us) { nowUs += static_cast<int64_t>(us); });
    vdrive.Insert("dvd+r");
    DriveTable table{bus.Drives()};
    table.InitTransport();
    table.EnumerateDrives();
    TestUnitReady(table);  // the new disc's unit attention
    SharedDrive drive(table);
    WriteTestSettings settings;  // the whole disc, the default request
    double seconds = 0;
    uint64_t requests = 0;
    uint64_t sectors = 0;
    for (auto _ : state) {
        const double start = ThreadSeconds();
        WriteTestHooks hooks;
        hooks.clock = [&nowUs] { return nowUs; };
        const WriteTestResult result = RunWriteTest(drive, settings, hooks);
        seconds += ThreadSeconds() - start;
        if (result.end != WriteTestEnd::Finished || result.writtenSectors != result.plannedSectors ||
            !result.blankAfter || !result.settingRestored)
            state.SkipWithError(("wrong run: " + std::string(WriteTestEndName(result.end)) + " " + result.message).c_str());
        requests += result.writeRequests;
        sectors += result.writtenSectors;
        bus.ClearCommands();
    }
    state.counters["run_s"] = seconds / static_cast<double>(state.iterations());
    state.counters["requests_per_s"] = static_cast<double>(requests) / seconds;
    state.counters["us_per_request"] = seconds * 1e6 / static_cast<double>(requests);
    state.counters["pipeline_MBps"] = static_cast<double>(sectors) * kSectorSize / seconds / 1e6;
}
BENCHMARK(BM_WriteTestWholeDvdPlusR)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
