// The read test's read path on a zero-latency virtual drive: 256 MiB read in requests of 32
// sectors with a verify against an image in memory, through the engine, the drive layer and the
// real pass-through code, in this thread's processor time. The drive model's own time per request (making the
// sectors' data) is measured alone, so that the program's own cost per request (command building, timing,
// bookkeeping, verify compare) can be told apart from it.

#include <benchmark/benchmark.h>


#include <cstring>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/ReadCommands.h"
#include "emu/Media.h"
#include "probix/ReadTest.h"
#include "bench/probix/ThreadSeconds.h"
#include "tests/support/VirtualBus.h"
#include "turns/SharedDrive.h"

namespace {

using namespace dravix;

using bench::ThreadSeconds;

constexpr uint32_t kSectors = 131072;  // 256 MiB
constexpr uint32_t kRequests = kSectors / kDefaultRequestSectors;
constexpr const char* kMedia = "dvd-rom";

class MemoryImage final : public VerifyImage {
  public:
    MemoryImage() : m_data(size_t{kSectors} * kSectorSize) {
        for (uint32_t lba = 0; lba < kSectors; ++lba)
            emu::FillSector(*emu::FindMedia(kMedia), lba, &m_data[size_t{lba} * kSectorSize]);
    }
    uint64_t SectorCount() const override { return kSectors; }
    bool Read(uint64_t sector, uint32_t count, uint8_t* out) override {
        std::memcpy(out, &m_data[sector * kSectorSize], size_t{count} * kSectorSize);
        return true;
    }

  private:
    std::vector<uint8_t> m_data;
};

// The drive model alone: READ(10) of 32 sectors, no transport.
double DriveMicrosecondsPerRequest(emu::VirtualDrive& drive) {
    uint8_t cdb[12];
    std::vector<uint8_t> data(kDefaultRequestSectors * kSectorSize);
    constexpr int kRounds = 4000;
    const double start = ThreadSeconds();
    for (int i = 0; i < kRounds; ++i) {
        BuildReadCdb(cdb, ReadCommand::Read10, static_cast<uint32_t>(i) * kDefaultRequestSectors % kSectors,
                     kDefaultRequestSectors);
        drive.Execute(cdb, sizeof cdb, 2, data.data(), static_cast<uint32_t>(data.size()), 30);
    }
    return (ThreadSeconds() - start) * 1e6 / kRounds;
}

void BM_ReadTestVerify256MiB(benchmark::State& state) {
    test::VirtualBus bus;
    emu::VirtualDrive& vdrive = bus.AddDrive();
    vdrive.SetReadModel(emu::ReadSpeedModel::Clv);
    vdrive.SetMicrosecondSleeper([](uint64_t) {});  // zero latency: the medium takes no time
    vdrive.Insert(kMedia);
    DriveTable table{bus.Drives()};
    table.InitTransport();
    table.EnumerateDrives();
    TestUnitReady(table);
    SharedDrive drive(table);
    MemoryImage image;
    ReadTestSettings settings;
    settings.startLba = 0;
    settings.endLba = kSectors - 1;
    settings.image = &image;
    double seconds = 0;
    for (auto _ : state) {
        ReadTestObserver observer;
        const double start = ThreadSeconds();
        const ReadTestResult result = RunReadTest(drive, settings, observer, [] { return false; });
        seconds += ThreadSeconds() - start;
        if (result.end != ReadTestEnd::Finished || result.readSectors != kSectors || !result.verify ||
            VerifyMatches(result) != true)
            state.SkipWithError("wrong run");
        bus.ClearCommands();
    }
    const double perRun = seconds / static_cast<double>(state.iterations());
    const double perRequestUs = perRun * 1e6 / kRequests;
    const double driveUs = DriveMicrosecondsPerRequest(vdrive);
    const double ownUs = perRequestUs - driveUs;
    const double bytesPerRequest = double{kDefaultRequestSectors} * kSectorSize;
    state.counters["pipeline_GBps"] = bytesPerRequest / perRequestUs / 1e3;
    state.counters["us_per_request"] = perRequestUs;
    state.counters["drive_us_per_request"] = driveUs;
    state.counters["program_us_per_request"] = ownUs;
    // What the program alone would sustain if the drive took no time.
    state.counters["program_GBps"] = bytesPerRequest / ownUs / 1e3;
}
BENCHMARK(BM_ReadTestVerify256MiB)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
