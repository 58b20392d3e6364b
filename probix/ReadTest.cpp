#include "probix/ReadTest.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include <unistd.h>
#include <cerrno>

#include "base/SafeFile.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/Timeouts.h"
#include "probix/Rotation.h"
#include "turns/SharedDrive.h"

namespace dravix {

namespace {

constexpr uint8_t kUnitAttention = 0x06;
constexpr uint8_t kNotReady = 0x02;
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
// A reset or a drive still spinning up is no read error: the request is sent again, this often.
constexpr int kTransientRetries = 3;

int64_t SteadyMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// --- the image file --------------------------------------------------------------------------

class ImageFile final : public VerifyImage {
  public:
    ImageFile(int fd, uint64_t bytes) : m_fd(fd), m_bytes(bytes) {}
    ~ImageFile() override { ::close(m_fd); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    uint64_t SectorCount() const override { return (m_bytes + kSectorSize - 1) / kSectorSize; }

    bool Read(uint64_t sector, uint32_t count, uint8_t* out) override {
        const uint64_t offset = sector * kSectorSize;
        if (offset >= m_bytes) return false;
        const uint64_t wanted = uint64_t{count} * kSectorSize;
        const uint64_t present = std::min(wanted, m_bytes - offset);
        for (uint64_t done = 0; done < present;) {
            const ssize_t got = ::pread(m_fd, out + done, static_cast<size_t>(present - done),
                                        static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;  // a read error, or the file shrank under the run
            done += static_cast<uint64_t>(got);
        }
        std::memset(out + present, 0, wanted - present);  // a last partial sector, padded
        return true;
    }

  private:
    int m_fd;
    uint64_t m_bytes;
};

// --- one run ---------------------------------------------------------------------------------

struct RequestOutcome {
    uint8_t status = kCommandFailed;
    Sense sense;
    int osError = 0;
    bool adapterError = false;  // failed at the adapter, without a status of the drive's own
    bool busy = false;          // the drive answered with a status that says it did not run it
    bool recovered = false;     // RECOVERED ERROR with all the data: a good read
    bool Good() const { return status == kCommandCompleted; }
};

RequestOutcome OutcomeOf(const DriveTable& table, uint8_t status) {
    const DriveTable::Failure failure = table.LastFailure();
    RequestOutcome o;
    o.status = status;
    o.sense = failure.sense;
    o.osError = failure.osError;
    o.adapterError = status == kCommandFailed && failure.adapterError;
    // BUSY (or another status without sense, such as a reservation of another initiator): the
    // command did not run.
    o.busy = status == kCommandFailed && failure.sense == Sense{} && failure.osError == 0 &&
             !failure.adapterError && !failure.shortAnswer;
    return o;
}

enum class Fatal { None, DiscChanged, DriveGone, ConnectionFailed };

Fatal FatalOf(const RequestOutcome& outcome) {
    if (outcome.Good()) return Fatal::None;
    if (MediumChanged(outcome.sense)) return Fatal::DiscChanged;
    if (DriveGone(outcome.status, outcome.sense, outcome.osError)) return Fatal::DriveGone;
    if (outcome.adapterError) return Fatal::ConnectionFailed;
    return Fatal::None;
}

// A run ends early by throwing this out of the loops: a stop, a changed disc, a lost drive or
// connection, a drive that stopped answering.
struct RunEnded {
    ReadTestEnd end;
    RequestOutcome outcome;
    uint32_t lba = 0;
};

}  // namespace

// What a run shares with its handover.
class ReadTestRunAccess {
  public:
    static std::mutex& Mutex(ReadTestHandover& h) { return h.m_mutex; }
    static bool StopAsked(const ReadTestHandover& h) { return h.m_stop.load(); }
    static bool HandedOver(const ReadTestHandover& h) { return h.m_handedOver; }
    // Under the mutex: what Stop hands over while the run goes.
    static void Begin(ReadTestHandover& h, std::function<ReadTestResult()> snapshot) {
        h.m_snapshot = std::move(snapshot);
    }
    // Under the mutex: the run has ended with `result`; returns what the run returns (the result
    // handed over, if one was).
    static ReadTestResult End(ReadTestHandover& h, const ReadTestResult& result) {
        h.m_snapshot = nullptr;
        if (!h.m_result) h.m_result = result;
        h.m_done = true;
        h.m_ended.notify_all();
        return *h.m_result;
    }
};

std::optional<ReadTestResult> ReadTestHandover::Stop() {
    m_stop = true;
    std::lock_guard lock(m_mutex);
    if (!m_result && m_snapshot) {
        m_result = m_snapshot();
        m_handedOver = true;
    }
    return m_result;
}

bool ReadTestHandover::WaitForEnd(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    return m_ended.wait_for(lock, wait, [this] { return m_done; });
}

namespace {

using Access = ReadTestRunAccess;

class Run final {
  public:
    Run(SharedDrive& drive, const ReadTestSettings& settings, ReadTestObserver& observer,
        const ReadTestHooks& hooks)
        : m_drive(drive),
          m_settings(settings),
          m_observer(observer),
          m_hooks(hooks),
          m_handover(hooks.handover),
          m_clock(hooks.clock) {
        if (!m_clock) m_clock = SteadyMicroseconds;
        m_request = std::max<uint32_t>(settings.requestSectors, 1);
        m_command = m_request > 0xFFFF ? ReadCommand::Read12 : ReadCommand::Read10;
    }

    ReadTestResult Execute();

  private:
    bool Stopped() const {
        return (m_handover && Access::StopAsked(*m_handover)) ||
               (m_hooks.stopRequested && m_hooks.stopRequested());
    }
    void Pause(int64_t microseconds) const;
    // Runs `use(table)` with the drive's turn; the run's state is free for a handover meanwhile.
    // Empty when the run was stopped before the drive was free.
    template <typename Use>
    auto AtDrive(Use&& use);
    RequestOutcome Request(uint32_t lba, uint32_t count, uint8_t* data);
    // After requests that timed out: whether the drive still answers TEST UNIT READY.
    bool DriveAnswers(uint32_t lba);
    void EndIfFatal(const RequestOutcome& outcome, uint32_t lba) const;
    void ReadPass(const std::vector<SectorRange>& extents);
    void ReadExtent(const SectorRange& extent);
    // One-sector reads over a failed request; returns the first sector after a burst's skip, or
    // the sector after the request.
    uint32_t Retry(uint32_t lba, uint32_t count, uint32_t extentLast);
    void Good(uint32_t lba, uint32_t count, const uint8_t* data, bool recovered);
    void Failed(uint32_t lba, const RequestOutcome& outcome);
    void Verify(uint32_t lba, uint32_t count, const uint8_t* data);
    void Uncompared(uint32_t first, uint32_t last);
    void AddDifference(uint32_t first, uint32_t last);
    void Timed(uint32_t lba, uint32_t count, int64_t microseconds);
    void FlushPoint();
    void Progress(uint32_t lba, bool retrying = false);
    void AccessTimes();
    // The benchmark's own figures, after its transfer pass and access times.
    void Benchmark();
    void Step(const char* text);
    BenchmarkFigure BurstRate();
    void SpinTimes(BenchmarkFigures& figures);
    void LoadEject(BenchmarkFigures& figures);
    // One command at the drive with its turn; a stop ends the run.
    template <typename Send>
    RequestOutcome Standard(Send&& send);
    // A pause between polls with the run's state free for a handover.
    void PauseUnlocked(int64_t microseconds);
    void CheckSameDisc();
    ReadTestResult Finish(ReadTestEnd end);

    SharedDrive& m_drive;
    const ReadTestSettings& m_settings;
    ReadTestObserver& m_observer;
    const ReadTestHooks& m_hooks;
    ReadTestHandover* m_handover;
    std::unique_lock<std::mutex> m_lock;  // the handover's, while the run works
    MicrosecondClock m_clock;
    int64_t m_startedUs = 0;
    ReadTestResult m_result;
    uint32_t m_request = kDefaultRequestSectors;
    ReadCommand m_command = ReadCommand::Read10;
    std::vector<uint8_t> m_data;
    std::vector<uint8_t> m_image;
    uint32_t m_imageBase = 0;  // the disc LBA of the image's sector 0
    int m_timeoutsInRow = 0;

    // Error bursts.
    uint32_t m_burstSectors = 0;
    int64_t m_lastGoodUs = 0;

    // Speed points: requests that follow the one before on the disc are timed.
    uint64_t m_pointSectors = kDefaultRequestSectors;
    uint32_t m_sequentialLba = UINT32_MAX;  // where a read that needs no seek starts
    uint32_t m_pointLba = 0;
    uint64_t m_pointCovered = 0;
    uint64_t m_pointBytes = 0;
    int64_t m_pointUs = 0;
    uint64_t m_timedBytes = 0;
    int64_t m_timedUs = 0;
};

void Run::Pause(int64_t microseconds) const {
    if (m_hooks.sleep) {
        m_hooks.sleep(microseconds);
    } else {
        std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    }
}

template <typename Use>
auto Run::AtDrive(Use&& use) {
    if (m_lock.owns_lock()) m_lock.unlock();
    auto outcome = m_drive.LockedUnlessStopped([this] { return Stopped(); }, std::forward<Use>(use));
    if (m_handover) {
        m_lock.lock();
        // What the run measured was handed over: nothing more is added or told.
        if (Access::HandedOver(*m_handover)) throw RunEnded{ReadTestEnd::Stopped, {}};
    }
    return outcome;
}

void Run::EndIfFatal(const RequestOutcome& outcome, uint32_t lba) const {
    switch (FatalOf(outcome)) {
        case Fatal::DiscChanged:
            throw RunEnded{ReadTestEnd::DiscChanged, outcome, lba};
        case Fatal::DriveGone:
            throw RunEnded{ReadTestEnd::DriveGone, outcome, lba};
        case Fatal::ConnectionFailed:
            throw RunEnded{ReadTestEnd::ConnectionFailed, outcome, lba};
        case Fatal::None:
            break;
    }
}

RequestOutcome Run::Request(uint32_t lba, uint32_t count, uint8_t* data) {
    const auto outcome = AtDrive([&](DriveTable& table) {
        RequestOutcome o;
        int transient = 0;
        int busy = 0;
        for (;;) {
            const uint8_t status = ReadSectors(table, m_command, lba, count,
                                               std::span<uint8_t>(data, size_t{count} * kSectorSize));
            o = OutcomeOf(table, status);
            if (ReadWasRecovered(table, count)) {
                o.status = kCommandCompleted;
                o.recovered = true;
            }
            if (o.Good()) return o;
            if (o.sense.key == kIllegalRequest && o.sense.asc == kAscInvalidOpcode &&
                m_command == ReadCommand::Read10) {
                m_command = ReadCommand::Read12;  // a drive without READ(10)
                continue;
            }
            if (o.busy && busy < kBusyRetries && !Stopped()) {
                ++busy;
                Pause(kBusyRetryMicroseconds);
                continue;
            }
            if (transient++ >= kTransientRetries) return o;
            // A unit attention other than a medium change (a reset, a changed setting) says
            // nothing of the disc, nor does a drive spinning up again.
            if (o.sense.key == kUnitAttention && !MediumChanged(o.sense)) continue;
            if (o.sense.key == kNotReady && o.sense.asc == kAscBecomingReady &&
                table.WaitForDrive() == ReadyState::Ready)
                continue;
            return o;
        }
    });
    // The answer of a request that was at the drive when the stop came is dropped.
    if (!outcome || Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    EndIfFatal(*outcome, lba);
    if (outcome->status != kCommandTimedOut) {
        m_timeoutsInRow = 0;
    } else if (++m_timeoutsInRow >= kTimeoutsBeforeReadyCheck) {
        m_timeoutsInRow = 0;
        if (!DriveAnswers(lba)) throw RunEnded{ReadTestEnd::DriveNotAnswering, *outcome, lba};
    }
    return *outcome;
}

bool Run::DriveAnswers(uint32_t lba) {
    const auto outcome = AtDrive(
        [](DriveTable& table) { return OutcomeOf(table, TestUnitReady(table, kWrapperTimeoutSeconds)); });
    if (!outcome || Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    EndIfFatal(*outcome, lba);
    // Any status, NOT READY included, is an answer: then the disc is what the reads stumble on.
    return outcome->status != kCommandTimedOut;
}

void Run::Progress(uint32_t lba, bool retrying) {
    ReadTestProgress progress;
    progress.doneSectors = m_result.readSectors + m_result.failedSectors + m_result.skippedSectors;
    progress.plannedSectors = m_result.plannedSectors;
    progress.lba = lba;
    progress.retrying = retrying;
    progress.failedSectors = m_result.failedSectors;
    progress.skippedSectors = m_result.skippedSectors;
    progress.lastSpeedX = m_result.points.empty() ? 0 : m_result.points.back().speedX;
    m_observer.OnProgress(progress);
}

void Run::Step(const char* text) {
    ReadTestProgress progress;
    progress.doneSectors = m_result.readSectors + m_result.failedSectors + m_result.skippedSectors;
    progress.plannedSectors = m_result.plannedSectors;
    progress.lba = m_result.range.first;
    progress.failedSectors = m_result.failedSectors;
    progress.skippedSectors = m_result.skippedSectors;
    progress.step = text;
    m_observer.OnProgress(progress);
}

void Run::FlushPoint() {
    if (m_pointBytes > 0 && m_pointUs > 0) {
        const double speedX =
            static_cast<double>(m_pointBytes) / (m_pointUs / 1e6) / m_result.layout.BytesPerSecondAt1X();
        const SpeedPoint point{m_pointLba, speedX, RotationRpm(m_result.layout, m_pointLba, speedX)};
        m_result.points.push_back(point);
        m_observer.OnPoint(point);
    }
    m_pointBytes = 0;
    m_pointUs = 0;
    m_pointCovered = 0;
}

void Run::Timed(uint32_t lba, uint32_t count, int64_t microseconds) {
    if (m_pointCovered == 0) m_pointLba = lba;
    m_pointBytes += uint64_t{count} * kSectorSize;
    m_pointUs += microseconds;
    m_pointCovered += count;
    m_timedBytes += uint64_t{count} * kSectorSize;
    m_timedUs += microseconds;
    if (m_pointCovered >= m_pointSectors) FlushPoint();
}

void Run::AddDifference(uint32_t first, uint32_t last) {
    VerifySummary& v = *m_result.verify;
    v.differingSectors += uint64_t{last} - first + 1;
    if (!v.differences.empty() && uint64_t{v.differences.back().last} + 1 == first) {
        v.differences.back().last = last;
    } else if (v.differences.size() < kListedDifferences) {
        v.differences.push_back({first, last});
    }
}

void Run::Verify(uint32_t lba, uint32_t count, const uint8_t* data) {
    VerifySummary& v = *m_result.verify;
    if (v.imageReadFailed || lba < m_imageBase) return;
    const uint64_t at = lba - m_imageBase;
    if (at >= v.imageSectors) return;
    const auto inImage = static_cast<uint32_t>(std::min<uint64_t>(count, v.imageSectors - at));
    if (!m_settings.image->Read(at, inImage, m_image.data())) {
        v.imageReadFailed = true;
        return;
    }
    v.comparedSectors += inImage;
    if (std::memcmp(m_image.data(), data, size_t{inImage} * kSectorSize) == 0) return;
    for (uint32_t i = 0; i < inImage; ++i) {
        const size_t offset = size_t{i} * kSectorSize;
        if (std::memcmp(m_image.data() + offset, data + offset, kSectorSize) != 0)
            AddDifference(lba + i, lba + i);
    }
}

void Run::Good(uint32_t lba, uint32_t count, const uint8_t* data, bool recovered) {
    m_result.readSectors += count;
    if (recovered) m_result.recoveredSectors += count;
    m_burstSectors = 0;
    m_lastGoodUs = m_clock();
    if (m_result.verify) Verify(lba, count, data);
}

// Sectors the image holds that the disc did not give: they differ, as far as anyone can tell.
void Run::Uncompared(uint32_t first, uint32_t last) {
    if (!m_result.verify || m_result.verify->imageReadFailed || last < m_imageBase) return;
    VerifySummary& v = *m_result.verify;
    const uint64_t from = std::max(first, m_imageBase) - m_imageBase;
    const uint64_t to = std::min<uint64_t>(uint64_t{last} - m_imageBase, v.imageSectors - 1);
    if (from <= to && from < v.imageSectors) {
        v.uncomparedSectors += to - from + 1;
        v.differingSectors += to - from + 1;
    }
}

void Run::Failed(uint32_t lba, const RequestOutcome& outcome) {
    Uncompared(lba, lba);
    ++m_result.failedSectors;
    ++m_burstSectors;
    std::vector<FailedRange>& failures = m_result.failures;
    if (!failures.empty() && uint64_t{failures.back().range.last} + 1 == lba &&
        failures.back().status == outcome.status && failures.back().sense == outcome.sense) {
        failures.back().range.last = lba;
    } else {
        failures.push_back({{lba, lba}, outcome.status, outcome.sense});
    }
    m_observer.OnFailure(FailedRange{{lba, lba}, outcome.status, outcome.sense});
}

uint32_t Run::Retry(uint32_t lba, uint32_t count, uint32_t extentLast) {
    const uint64_t end = uint64_t{lba} + count;
    for (uint32_t sector = lba; sector < end; ++sector) {
        Progress(sector, true);
        const RequestOutcome outcome = Request(sector, 1, m_data.data());
        if (outcome.Good()) {
            Good(sector, 1, m_data.data(), outcome.recovered);
            Progress(sector, true);
            continue;
        }
        Failed(sector, outcome);
        Progress(sector, true);
        if (m_burstSectors < kBurstSectorLimit && m_clock() - m_lastGoodUs < kBurstMicrosecondsLimit)
            continue;
        // An error burst: leave 4 MiB unread and go on after it.
        m_burstSectors = 0;
        m_lastGoodUs = m_clock();
        if (sector >= extentLast) return extentLast + 1;
        const uint32_t skipFirst = sector + 1;
        const uint32_t skipLast = static_cast<uint32_t>(
            std::min<uint64_t>(extentLast, uint64_t{skipFirst} + kBurstSkipSectors - 1));
        m_result.skipped.push_back({skipFirst, skipLast});
        Uncompared(skipFirst, skipLast);
        m_result.skippedSectors += uint64_t{skipLast} - skipFirst + 1;
        return skipLast + 1;
    }
    return static_cast<uint32_t>(end);
}

void Run::ReadExtent(const SectorRange& extent) {
    uint64_t lba = extent.first;
    while (lba <= extent.last) {
        if (Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
        const auto first = static_cast<uint32_t>(lba);
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(m_request, extent.last - lba + 1));
        const int64_t started = m_clock();
        const RequestOutcome outcome = Request(first, count, m_data.data());
        const int64_t took = m_clock() - started;
        if (outcome.Good()) {
            // A request right after the one before needs no seek: its time is the transfer's.
            if (first == m_sequentialLba) {
                Timed(first, count, took);
            } else {
                FlushPoint();
            }
            Good(first, count, m_data.data(), outcome.recovered);
            m_sequentialLba = first + count;
            lba += count;
        } else {
            FlushPoint();
            m_sequentialLba = UINT32_MAX;
            lba = Retry(first, count, extent.last);
        }
        Progress(first);
    }
}

void Run::ReadPass(const std::vector<SectorRange>& extents) {
    for (const SectorRange& e : extents) m_result.plannedSectors += e.Count();
    // Points at about the chart's resolution, each a whole number of requests.
    const uint64_t perPoint = (m_result.plannedSectors + kTargetPoints - 1) / kTargetPoints;
    m_pointSectors = std::max<uint64_t>(1, (perPoint + m_request - 1) / m_request) * m_request;
    m_data.resize(size_t{m_request} * kSectorSize);
    // Quick zones compare a tenth of the disc at most: no verify.
    if (m_settings.image && !m_result.quick) {
        m_result.verify = VerifySummary{};
        m_result.verify->imageSectors = m_settings.image->SectorCount();
        m_image.resize(m_data.size());
        m_imageBase = ImageBaseLba(m_result.layout);
    }
    m_lastGoodUs = m_clock();
    for (const SectorRange& extent : extents) {
        FlushPoint();
        m_sequentialLba = UINT32_MAX;
        ReadExtent(extent);
    }
    FlushPoint();

    if (!m_result.points.empty()) {
        TransferSummary t;
        const auto& points = m_result.points;
        t.startX = points.front().speedX;
        t.endX = points.back().speedX;
        t.averageX =
            m_timedUs > 0 ? m_timedBytes / (m_timedUs / 1e6) / m_result.layout.BytesPerSecondAt1X() : 0;
        const auto slowest =
            std::min_element(points.begin(), points.end(),
                             [](const SpeedPoint& a, const SpeedPoint& b) { return a.speedX < b.speedX; });
        t.minimumX = slowest->speedX;
        t.minimumLba = slowest->lba;
        // A dual-layer disc is read outwards on layer 0 and back inwards on layer 1: the mode
        // shows on layer 0.
        std::span<const SpeedPoint> curve(points);
        if (const auto layerBreak = m_result.layout.layerBreakLba) {
            const auto firstOfLayer1 = std::find_if(
                points.begin(), points.end(), [&](const SpeedPoint& p) { return p.lba >= *layerBreak; });
            const auto layer0 = static_cast<size_t>(firstOfLayer1 - points.begin());
            if (layer0 >= 8) curve = curve.first(layer0);
        }
        t.mode = RecogniseReadMode(curve, m_result.layout);
        m_result.transfer = t;
    }
}

void Run::AccessTimes() {
    AccessSummary access;
    const uint32_t first = m_result.range.first;
    const uint32_t last = m_result.range.last;
    const uint64_t span = uint64_t{last} - first;
    m_data.resize(kSectorSize);
    const int planned = kRandomSeeks + kOneThirdSeeks + kFullStrokeSeeks;
    int done = 0;
    double totalMs = 0;
    int totalReads = 0;
    auto seek = [&](uint32_t lba, AccessSeries* series) {
        const int64_t started = m_clock();
        const RequestOutcome outcome = Request(lba, 1, m_data.data());
        const double ms = (m_clock() - started) / 1000.0;
        if (!series) return;
        ++done;
        if (outcome.Good()) {
            series->averageMs += ms;  // summed here, divided at the end
            series->worstMs = std::max(series->worstMs, ms);
            ++series->reads;
            totalMs += ms;
            ++totalReads;
            access.worstMs = std::max(access.worstMs, ms);
        } else {
            ++access.failedReads;
        }
        ReadTestProgress progress;
        progress.lba = lba;
        progress.seeksDone = done;
        progress.seeksPlanned = planned;
        m_observer.OnProgress(progress);
    };
    auto finish = [](AccessSeries& series) {
        if (series.reads > 0) series.averageMs /= series.reads;
    };
    auto at = [&](double fraction) {
        return static_cast<uint32_t>(first + static_cast<uint64_t>(span * fraction));
    };

    // The same positions on every run, so that two runs compare.
    std::mt19937_64 random(0x5EEC7E57u);
    std::uniform_int_distribution<uint64_t> anywhere(0, span);
    seek(first, nullptr);
    for (int i = 0; i < kRandomSeeks; ++i)
        seek(static_cast<uint32_t>(first + anywhere(random)), &access.random);
    seek(at(1.0 / 3), nullptr);
    for (int i = 0; i < kOneThirdSeeks; ++i) seek(i % 2 == 0 ? at(2.0 / 3) : at(1.0 / 3), &access.oneThird);
    seek(first, nullptr);
    for (int i = 0; i < kFullStrokeSeeks; ++i) seek(i % 2 == 0 ? last : first, &access.fullStroke);
    finish(access.random);
    finish(access.oneThird);
    finish(access.fullStroke);
    access.averageMs = totalReads > 0 ? totalMs / totalReads : 0;
    m_result.access = access;
}

template <typename Send>
RequestOutcome Run::Standard(Send&& send) {
    const auto outcome = AtDrive([&](DriveTable& table) { return OutcomeOf(table, send(table)); });
    if (!outcome || Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    return *outcome;
}

void Run::PauseUnlocked(int64_t microseconds) {
    if (m_lock.owns_lock()) m_lock.unlock();
    Pause(microseconds);
    if (m_handover) {
        m_lock.lock();
        if (Access::HandedOver(*m_handover)) throw RunEnded{ReadTestEnd::Stopped, {}};
    }
    if (Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
}

// Why a command of a figure failed: a drive without it, or what it answered.
std::string FigureFailure(const RequestOutcome& outcome) {
    constexpr uint8_t kAscInvalidField = 0x24;
    if (outcome.sense.key == kIllegalRequest &&
        (outcome.sense.asc == kAscInvalidOpcode || outcome.sense.asc == kAscInvalidField))
        return kNotSupportedByDrive;
    if (outcome.status == kCommandTimedOut) return "the drive did not answer in time";
    char text[64];
    std::snprintf(text, sizeof text, "the drive failed the command (sense %02X/%02X/%02X)", outcome.sense.key,
                  outcome.sense.asc, outcome.sense.ascq);
    return text;
}

BenchmarkFigure Seconds(int64_t microseconds) {
    return BenchmarkFigure{std::max<int64_t>(microseconds, 0) / 1e6, {}};
}

BenchmarkFigure Run::BurstRate() {
    const uint32_t lba = m_result.range.first;
    const auto count =
        static_cast<uint32_t>(std::min<uint64_t>({kBurstRateSectors, m_result.range.Count(), m_request}));
    m_data.resize(size_t{count} * kSectorSize);
    // The first read brings the range into the cache; the repeated ones come from it.
    RequestOutcome outcome = Request(lba, count, m_data.data());
    if (!outcome.Good()) return {std::nullopt, FigureFailure(outcome)};
    int64_t fastest = INT64_MAX;
    for (int i = 0; i < kBurstRateReads; ++i) {
        const int64_t started = m_clock();
        outcome = Request(lba, count, m_data.data());
        const int64_t took = m_clock() - started;
        if (!outcome.Good()) return {std::nullopt, FigureFailure(outcome)};
        fastest = std::min(fastest, took);
    }
    const double seconds = std::max<int64_t>(fastest, 1) / 1e6;
    return {static_cast<double>(count) * kSectorSize / seconds / 1e6, {}};
}

void Run::SpinTimes(BenchmarkFigures& figures) {
    int64_t started = m_clock();
    RequestOutcome outcome =
        Standard([](DriveTable& table) { return StartStopUnit(table, StartStop::StopDisc); });
    EndIfFatal(outcome, m_result.range.first);
    if (!outcome.Good()) {
        figures.spinDownSeconds.note = FigureFailure(outcome);
        figures.spinUpSeconds.note = kNotStopped;
        return;
    }
    figures.spinDownSeconds = Seconds(m_clock() - started);
    Step(kStepSpinUp);

    // Started again, the disc is up to speed when a read of a sector far from the last ones
    // (which a cache might still hold) completes. A drive that refuses START spins up for the read.
    const uint32_t far = m_result.range.first + static_cast<uint32_t>(m_result.range.Count() / 2);
    started = m_clock();
    outcome = Standard([](DriveTable& table) { return StartStopUnit(table, StartStop::StartDisc); });
    EndIfFatal(outcome, far);
    m_data.resize(kSectorSize);
    const RequestOutcome read = Request(far, 1, m_data.data());
    if (!read.Good()) {
        figures.spinUpSeconds.note = FigureFailure(read);
        return;
    }
    figures.spinUpSeconds = Seconds(m_clock() - started);
}

void Run::LoadEject(BenchmarkFigures& figures) {
    // Once the eject is sent, the tray is closed again whatever comes: no stop is looked at until
    // the close has been sent.
    Step(kStepEject);
    int64_t started = m_clock();
    if (m_lock.owns_lock()) m_lock.unlock();
    const std::optional<RequestOutcome> ejected = m_drive.LockedUnlessStopped(
        [this] { return Stopped(); },
        [](DriveTable& table) { return OutcomeOf(table, StartStopUnit(table, StartStop::OpenTray)); });
    if (m_handover) m_lock.lock();
    if (!ejected) throw RunEnded{ReadTestEnd::Stopped, {}};
    RequestOutcome outcome = *ejected;
    if (DriveGone(outcome.status, outcome.sense, outcome.osError)) EndIfFatal(outcome, m_result.range.first);
    if (!outcome.Good()) {
        constexpr uint8_t kAscRemovalPrevented = 0x53, kAscqRemovalPrevented = 0x02;
        const bool locked = outcome.sense.key == kIllegalRequest &&
                            outcome.sense.asc == kAscRemovalPrevented &&
                            outcome.sense.ascq == kAscqRemovalPrevented;
        figures.ejectSeconds.note = locked ? kEjectRefused : FigureFailure(outcome);
        figures.loadSeconds.note = kTrayNotOpened;
        return;
    }
    figures.ejectSeconds = Seconds(m_clock() - started);
    Step(kStepLoad);

    started = m_clock();
    if (m_lock.owns_lock()) m_lock.unlock();
    outcome = m_drive.Locked(
        [](DriveTable& table) { return OutcomeOf(table, StartStopUnit(table, StartStop::CloseTray)); });
    if (m_handover) {
        m_lock.lock();
        if (Access::HandedOver(*m_handover)) throw RunEnded{ReadTestEnd::Stopped, {}};
    }
    if (Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    if (DriveGone(outcome.status, outcome.sense, outcome.osError)) EndIfFatal(outcome, m_result.range.first);
    // A tray that cannot close by itself may be pushed in meanwhile: the wait below tells.
    const std::string closeFailure = outcome.Good() ? std::string() : FigureFailure(outcome);
    for (;;) {
        outcome = Standard([](DriveTable& table) { return TestUnitReady(table, kWrapperTimeoutSeconds); });
        if (DriveGone(outcome.status, outcome.sense, outcome.osError))
            EndIfFatal(outcome, m_result.range.first);
        if (outcome.Good()) break;
        if (m_clock() - started >= kLoadWaitMicroseconds) {
            figures.loadSeconds.note = closeFailure.empty() ? kNotReadyInTime : closeFailure;
            // The disc is not back: the run cannot judge it any further.
            throw RunEnded{ReadTestEnd::DiscChanged, outcome, m_result.range.first};
        }
        // The unit attention of the loaded disc comes once it is ready: ask again at once.
        if (outcome.sense.key != kUnitAttention) PauseUnlocked(kLoadPollMicroseconds);
    }
    // Recognised: the drive tells the disc's capacity, and it is the disc that was read.
    const auto capacity = AtDrive([](DriveTable& table) {
        Capacity c;
        const uint8_t status = ReadCapacity(table, c);
        return std::make_pair(OutcomeOf(table, status), c);
    });
    if (!capacity || Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    EndIfFatal(capacity->first, m_result.range.first);
    if (capacity->first.Good() && capacity->second.lastLba != m_result.layout.lastLba)
        throw RunEnded{ReadTestEnd::DiscChanged, capacity->first};
    figures.loadSeconds = Seconds(m_clock() - started);
}

void Run::Benchmark() {
    BenchmarkFigures figures;
    for (BenchmarkFigure* f : {&figures.burstMBps, &figures.spinDownSeconds, &figures.spinUpSeconds,
                               &figures.ejectSeconds, &figures.loadSeconds})
        f->note = kNotMeasured;
    figures.loadEjectRun = m_settings.loadEject;
    const double topX = m_result.layout.maxReadSpeedX;
    double fastestPoint = 0;
    for (const SpeedPoint& p : m_result.points) fastestPoint = std::max(fastestPoint, p.speedX);
    figures.topReadMBps = (topX > 0 ? topX : fastestPoint) * m_result.layout.BytesPerSecondAt1X() / 1e6;
    // Measured into the result itself, so that what a stopped run hands over has the figures
    // measured until then.
    m_result.benchmark = figures;
    BenchmarkFigures& measured = *m_result.benchmark;
    Step(kStepBurstRate);
    measured.burstMBps = BurstRate();
    Step(kStepAccessTimes);
    AccessTimes();
    Step(kStepSpinDown);
    SpinTimes(measured);
    if (m_settings.loadEject) LoadEject(measured);
}

void Run::CheckSameDisc() {
    // The sectors judge one disc only if the disc did not change under them.
    const auto outcome = AtDrive([](DriveTable& table) {
        Capacity capacity;
        const uint8_t status = ReadCapacity(table, capacity);
        return std::make_pair(OutcomeOf(table, status), capacity);
    });
    if (!outcome || Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    const auto& [o, capacity] = *outcome;
    EndIfFatal(o, m_result.range.last);
    if (o.Good() && capacity.lastLba != m_result.layout.lastLba) throw RunEnded{ReadTestEnd::DiscChanged, o};
}

ReadTestResult Run::Finish(ReadTestEnd end) {
    if (m_handover && Access::HandedOver(*m_handover)) return Access::End(*m_handover, {});
    m_result.end = end;
    m_result.elapsedSeconds = (m_clock() - m_startedUs) / 1e6;
    m_observer.OnEnd(m_result);
    return m_handover ? Access::End(*m_handover, m_result) : m_result;
}

ReadTestResult Run::Execute() {
    if (m_handover) {
        m_lock = std::unique_lock(Access::Mutex(*m_handover));
        Access::Begin(*m_handover, [this] {
            ReadTestResult stopped = m_result;
            stopped.end = ReadTestEnd::Stopped;
            stopped.elapsedSeconds = (m_clock() - m_startedUs) / 1e6;
            return stopped;
        });
    }
    m_startedUs = m_clock();
    m_result.kind = m_settings.kind;
    // A benchmark's transfer pass reads the quick zones.
    m_result.quick = m_settings.quick || m_settings.kind == ReadTestKind::Benchmark;
    m_result.requestSectors = m_request;
    try {
        if (Stopped()) return Finish(ReadTestEnd::Stopped);
        const auto reading = AtDrive([&](DriveTable& table) {
            std::pair<LayoutReading, SpeedSetting> out{ReadDiscLayout(table), SpeedSetting{}};
            if (out.first.outcome == LayoutOutcome::Ready)
                out.second = ApplyReadSpeed(table, out.first.layout, m_settings.speed);
            return out;
        });
        if (!reading || Stopped()) return Finish(ReadTestEnd::Stopped);
        const LayoutReading& layout = reading->first;
        m_result.layout = layout.layout;
        m_result.speed = reading->second;
        if (layout.outcome != LayoutOutcome::Ready) {
            m_result.endStatus = layout.status;
            m_result.endSense = layout.sense;
            if (layout.outcome == LayoutOutcome::DiscChanged) return Finish(ReadTestEnd::DiscChanged);
            if (layout.outcome == LayoutOutcome::DriveFailed &&
                DriveGone(layout.status, layout.sense, layout.osError))
                return Finish(ReadTestEnd::DriveGone);
            m_result.notReadable = NotReadableReasonOf(layout.outcome);
            return Finish(ReadTestEnd::NotReadable);
        }
        if (m_result.speed.discChanged) {
            m_result.endStatus = m_result.speed.status;
            m_result.endSense = m_result.speed.sense;
            return Finish(ReadTestEnd::DiscChanged);
        }
        m_observer.OnLayout(m_result.layout, m_result.speed);

        uint32_t lastData = 0;
        for (const LayoutTrack& track : m_result.layout.tracks) {
            if (!track.data) {
                m_result.audioTracks.push_back({track.firstLba, track.lastLba});
                continue;
            }
            lastData = std::max(lastData, track.lastLba);
        }
        m_result.range = ReadTestRange(m_result.layout, m_settings);
        const std::vector<SectorRange> extents =
            m_result.range.first <= m_result.range.last
                ? ReadStretches(m_result.layout, m_result.range, m_result.quick)
                : std::vector<SectorRange>{};
        if (extents.empty()) {
            m_result.notReadable = NotReadableReason::EmptyRange;
            return Finish(ReadTestEnd::NotReadable);
        }

        if (m_settings.kind == ReadTestKind::Seek) {
            AccessTimes();
        } else if (m_settings.kind == ReadTestKind::Benchmark) {
            ReadPass(extents);
            Benchmark();
        } else {
            ReadPass(extents);
            // Over every sector of the data, the lengths of disc and image are known.
            VerifySummary* v = m_result.verify ? &*m_result.verify : nullptr;
            const bool whole = !m_result.quick && !m_settings.startLba && !m_settings.endLba;
            if (v && whole && !v->imageReadFailed) {
                const uint64_t discSectors = uint64_t{lastData} - m_imageBase + 1;
                if (discSectors == v->imageSectors) {
                    v->length = LengthMatch::Same;
                } else if (discSectors < v->imageSectors) {
                    // The image's sectors the disc lacks cannot match.
                    v->length = LengthMatch::DiscShorter;
                    v->lengthDifference = v->imageSectors - discSectors;
                    const uint64_t lastImageLba =
                        std::min<uint64_t>(m_imageBase + v->imageSectors - 1, UINT32_MAX);
                    AddDifference(lastData + 1, static_cast<uint32_t>(lastImageLba));
                } else {
                    v->length = LengthMatch::DiscLonger;
                    v->lengthDifference = discSectors - v->imageSectors;
                }
            }
        }
        CheckSameDisc();
    } catch (const RunEnded& ended) {
        m_result.endStatus = ended.outcome.status;
        m_result.endSense = ended.outcome.sense;
        m_result.endLba = ended.lba;
        return Finish(ended.end);
    }
    return Finish(ReadTestEnd::Finished);
}

// The speed the drive could give around each point: the upper quartile of a window of points.
// A request that came back late (another program, the drive's own retries) makes a point slower,
// never faster, so the upper part of its neighbourhood tells the curve; steps stay steps.
std::vector<double> UpperEnvelope(std::span<const SpeedPoint> points, size_t window) {
    std::vector<double> out(points.size());
    std::vector<double> values;
    for (size_t i = 0; i < points.size(); ++i) {
        const size_t from = i >= window / 2 ? i - window / 2 : 0;
        const size_t to = std::min(points.size(), i + window / 2 + 1);
        values.clear();
        for (size_t j = from; j < to; ++j) values.push_back(points[j].speedX);
        const auto quartile = values.begin() + static_cast<long>(values.size() * 3 / 4);
        std::nth_element(values.begin(), quartile, values.end());
        out[i] = *quartile;
    }
    return out;
}

}  // namespace

Result<std::unique_ptr<VerifyImage>> OpenImageFile(const std::string& path) {
    // Opened without waiting: a FIFO or a device is refused at once instead of hanging the run.
    FileResult opened;
    off_t size = 0;
    const int fd = OpenFileForReading(path, &opened, &size);
    if (fd < 0) return Error{path + ": " + opened.detail};
    if (size <= 0) {
        ::close(fd);
        return Error{path + ": empty"};
    }
    return std::unique_ptr<VerifyImage>(std::make_unique<ImageFile>(fd, static_cast<uint64_t>(size)));
}

const char* ReadTestKindName(ReadTestKind kind) {
    switch (kind) {
        case ReadTestKind::Errors:
            return "errors";
        case ReadTestKind::Seek:
            return "seek";
        case ReadTestKind::Benchmark:
            return "benchmark";
        case ReadTestKind::Transfer:
            break;
    }
    return "transfer";
}

double PositionGigabytes(uint32_t lba) {
    return static_cast<double>(lba) * kSectorSize / 1e9;
}

const char* ReadModeName(ReadMode mode) {
    switch (mode) {
        case ReadMode::Clv:
            return "CLV";
        case ReadMode::Cav:
            return "CAV";
        case ReadMode::PartialCav:
            return "P-CAV";
        case ReadMode::ZonedClv:
            return "Z-CLV";
        case ReadMode::Unknown:
            break;
    }
    return "unknown";
}

double RadialFraction(const DiscLayout& layout, uint32_t lba) {
    // Nominal discs: DVD data from 24 mm, CD data from 25 mm, both out to 58 mm.
    constexpr double kOuterMm = 58.0;
    constexpr uint32_t kDvdSectors = 2295104;       // 4.7 GB
    constexpr uint32_t kDvdLayerSectors = 2086912;  // a layer of 8.5 GB
    constexpr uint32_t kCdSectors = 359847;         // 80 minutes
    const double innerMm = layout.dvd ? 24.0 : 25.0;
    double area = 0;  // the part of a full layer's data area inside the sector
    if (layout.layers >= 2 || layout.layerBreakLba) {
        const double layerSectors = layout.layerBreakLba.value_or(kDvdLayerSectors);
        area = lba < layerSectors ? lba / layerSectors : 1.0 - (lba - layerSectors) / layerSectors;
    } else {
        area = lba / static_cast<double>(layout.dvd ? kDvdSectors : kCdSectors);
    }
    area = std::clamp(area, 0.0, 1.0);
    const double radiusMm = std::sqrt(innerMm * innerMm + area * (kOuterMm * kOuterMm - innerMm * innerMm));
    return (radiusMm - innerMm) / (kOuterMm - innerMm);
}

SectorRange ReadTestRange(const DiscLayout& layout, const ReadTestSettings& settings) {
    uint32_t firstData = UINT32_MAX, lastData = 0;
    for (const LayoutTrack& track : layout.tracks) {
        if (!track.data) continue;
        firstData = std::min(firstData, track.firstLba);
        lastData = std::max(lastData, track.lastLba);
    }
    return {std::max(firstData, settings.startLba.value_or(0)),
            std::min(lastData, settings.endLba.value_or(UINT32_MAX))};
}

std::vector<SectorRange> ReadStretches(const DiscLayout& layout, SectorRange range, bool quick) {
    std::vector<SectorRange> extents;
    for (const LayoutTrack& track : layout.tracks) {
        if (!track.data) continue;
        const uint32_t first = std::max(track.firstLba, range.first);
        const uint32_t last = std::min(track.lastLba, range.last);
        if (first <= last) extents.push_back({first, last});
    }
    uint64_t total = 0;
    for (const SectorRange& e : extents) total += e.Count();
    if (!quick || total <= uint64_t{kQuickZones} * kQuickZoneSectors) return extents;

    // Zones evenly spaced over the data sectors, the last one ending at the last sector.
    std::vector<SectorRange> zones;
    for (uint32_t k = 0; k < kQuickZones; ++k) {
        uint64_t offset = (total - kQuickZoneSectors) * k / (kQuickZones - 1);
        for (const SectorRange& e : extents) {
            if (offset >= e.Count()) {
                offset -= e.Count();
                continue;
            }
            const uint32_t first = e.first + static_cast<uint32_t>(offset);
            const uint32_t last =
                static_cast<uint32_t>(std::min<uint64_t>(e.last, uint64_t{first} + kQuickZoneSectors - 1));
            zones.push_back({first, last});
            break;
        }
    }
    return zones;
}

CurveBreaks::CurveBreaks(std::vector<SectorRange> stretches) : m_stretches(std::move(stretches)) {}

CurveBreaks::CurveBreaks(const ReadTestResult& result)
    : CurveBreaks(result.range.first <= result.range.last
                      ? ReadStretches(result.layout, result.range, result.quick)
                      : std::vector<SectorRange>{}) {}

bool CurveBreaks::StartsLine(uint32_t lba) {
    const auto after = std::upper_bound(m_stretches.begin(), m_stretches.end(), lba,
                                        [](uint32_t at, const SectorRange& s) { return at < s.first; });
    size_t stretch = SIZE_MAX;
    if (after != m_stretches.begin() && lba <= std::prev(after)->last)
        stretch = static_cast<size_t>(std::prev(after) - m_stretches.begin());
    // A point outside every stretch (a file's points over other tracks) stands alone.
    const bool starts = stretch == SIZE_MAX || stretch != m_current;
    m_current = stretch;
    return starts;
}

ReadMode RecogniseReadMode(std::span<const SpeedPoint> points, const DiscLayout& layout) {
    constexpr size_t kFewestPoints = 16;
    // Over half the radius every mode shows its shape: CAV rises by a third or more, and zones and
    // a partial CAV's rise are as wide as a fifth of the radius or more.
    constexpr double kFewestRadius = 0.5;
    // One speed from the inner quarter on is CLV; further out it may be a partial CAV's top speed.
    constexpr double kClvStartsWithin = 0.25;
    const size_t n = points.size();
    if (n < kFewestPoints) return ReadMode::Unknown;
    const double inner = RadialFraction(layout, points.front().lba);
    const double outer = RadialFraction(layout, points.back().lba);
    if (std::abs(outer - inner) < kFewestRadius) return ReadMode::Unknown;
    const size_t window = std::max<size_t>(5, n / 50) | 1;
    const std::vector<double> v = UpperEnvelope(points, window);
    const double top = *std::max_element(v.begin(), v.end());
    const double bottom = *std::min_element(v.begin(), v.end());
    if (top <= 0) return ReadMode::Unknown;
    // Within a few per cent everywhere: one speed over the whole disc.
    if (top - bottom <= 0.08 * top)
        return std::min(inner, outer) <= kClvStartsWithin ? ReadMode::Clv : ReadMode::Unknown;

    auto mean = [&v](size_t from, size_t to) {
        double sum = 0;
        for (size_t i = from; i < to; ++i) sum += v[i];
        return sum / static_cast<double>(to - from);
    };
    const size_t tenth = std::max<size_t>(n / 10, 1);
    // Every other mode reads faster outside than inside.
    if (mean(n - tenth, n) < 1.1 * mean(0, tenth)) return ReadMode::Unknown;

    // Stretches of one speed (within 2.5 % of the top), the short ones left out: zoned CLV is a
    // few of them, each a clear step above the one before.
    struct Level {
        size_t length;
        double speed;
    };
    std::vector<Level> levels;
    size_t covered = 0;
    for (size_t start = 0; start < n;) {
        size_t end = start + 1;
        while (end < n && std::abs(v[end] - v[start]) <= 0.025 * top) ++end;
        if (end - start >= std::max<size_t>(3, n / 50)) {
            levels.push_back({end - start, v[start + (end - start) / 2]});
            covered += end - start;
        }
        start = end;
    }
    bool steps = levels.size() >= 2 && levels.size() <= 8 && covered * 10 >= n * 8;
    for (size_t i = 1; steps && i < levels.size(); ++i)
        steps = levels[i].speed - levels[i - 1].speed >= 0.1 * top;
    if (steps) return ReadMode::ZonedClv;

    // The rest rises: seen a tenth of the disc further on, the speed has seldom fallen back
    // (a stretch read slowly for another reason may make it look so for a while).
    const size_t lag = std::max(window, n / 10);
    size_t falls = 0;
    for (size_t i = 0; i + lag < n; ++i) falls += v[i + lag] < v[i] - 0.03 * top ? 1 : 0;
    if (falls * 10 > n - lag) return ReadMode::Unknown;
    // At the top speed over the outer part: partial CAV; rising to the end: CAV.
    size_t plateau = 0;
    while (plateau < n && v[n - 1 - plateau] >= 0.975 * top) ++plateau;
    if (plateau * 100 >= n * 12) return v.front() < 0.9 * top ? ReadMode::PartialCav : ReadMode::Unknown;
    return ReadMode::Cav;
}

const char* ReadTestEndName(ReadTestEnd end) {
    switch (end) {
        case ReadTestEnd::Finished:
            return "finished";
        case ReadTestEnd::Stopped:
            return "stopped";
        case ReadTestEnd::DiscChanged:
            return "disc-changed";
        case ReadTestEnd::DriveGone:
            return "drive-gone";
        case ReadTestEnd::DriveNotAnswering:
            return "drive-not-answering";
        case ReadTestEnd::ConnectionFailed:
            return "connection-failed";
        case ReadTestEnd::NotReadable:
            break;
    }
    return "not-readable";
}

NotReadableReason NotReadableReasonOf(LayoutOutcome outcome) {
    switch (outcome) {
        case LayoutOutcome::NoDisc:
            return NotReadableReason::NoDisc;
        case LayoutOutcome::Blank:
            return NotReadableReason::Blank;
        case LayoutOutcome::NoDataTrack:
            return NotReadableReason::NoDataTrack;
        case LayoutOutcome::Unreadable:
            return NotReadableReason::Unreadable;
        case LayoutOutcome::Ready:
        case LayoutOutcome::DriveFailed:
        case LayoutOutcome::DiscChanged:
            break;
    }
    return NotReadableReason::DriveFailed;
}

const char* NotReadableText(NotReadableReason reason) {
    switch (reason) {
        case NotReadableReason::NoDisc:
            return "No disc in the drive.";
        case NotReadableReason::Blank:
            return "The disc is blank.";
        case NotReadableReason::NoDataTrack:
            return "The disc holds no data track.";
        case NotReadableReason::Unreadable:
            return "The drive cannot read this kind of disc.";
        case NotReadableReason::DriveFailed:
            return "The drive did not answer.";
        case NotReadableReason::EmptyRange:
            return "No sector to read in this range.";
        case NotReadableReason::None:
            break;
    }
    return "";
}

std::string BurstRateNote(const BenchmarkFigures& figures) {
    if (figures.topReadMBps <= 0) return {};
    char text[160];
    std::snprintf(text, sizeof text, kBurstRateNote, figures.topReadMBps);
    return text;
}

std::string CountText(const CountTexts& texts, unsigned long long count) {
    char text[128];
    std::snprintf(text, sizeof text, count == 1 ? texts.one : texts.many, count);
    return text;
}

uint32_t ImageBaseLba(const DiscLayout& layout) {
    for (const LayoutTrack& track : layout.tracks) {
        if (track.data) return track.firstLba;
    }
    return 0;
}

bool VerifyComplete(const ReadTestResult& result) {
    const auto& v = result.verify;
    return result.end == ReadTestEnd::Finished && v && !v->imageReadFailed &&
           v->comparedSectors == result.plannedSectors && v->comparedSectors == v->imageSectors;
}

std::optional<bool> VerifyMatches(const ReadTestResult& result) {
    const auto& v = result.verify;
    if (result.end != ReadTestEnd::Finished || !v || v->imageReadFailed) return std::nullopt;
    if (v->differingSectors > 0) return false;
    if (VerifyComplete(result)) return true;
    return std::nullopt;
}

namespace {

std::string Formatted(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// What a comparison without a difference covered, when it did not cover the range and the image.
void IncompleteLines(const ReadTestResult& result, std::vector<std::string>& lines) {
    const VerifySummary& v = *result.verify;
    using ull = unsigned long long;
    const uint64_t base = ImageBaseLba(result.layout);
    const uint64_t imageLast = base + v.imageSectors - 1;
    if (result.plannedSectors > v.comparedSectors)
        lines.push_back(Formatted(kVerdictBeyondImage, ull{v.comparedSectors}, ull{result.plannedSectors},
                                  ull{imageLast}));
    if (v.imageSectors <= v.comparedSectors) return;
    if (v.comparedSectors == 0) {
        lines.push_back(Formatted(kVerdictImageNotRead, ull{v.imageSectors}));
        return;
    }
    const uint64_t first = std::max<uint64_t>(result.range.first, base);
    const uint64_t last = std::min<uint64_t>(result.range.last, imageLast);
    lines.push_back(
        Formatted(kVerdictImagePartlyRead, ull{first}, ull{last}, ull{v.imageSectors - v.comparedSectors}));
}

}  // namespace

std::vector<std::string> VerdictLines(const ReadTestResult& result) {
    std::vector<std::string> lines;
    if (result.end != ReadTestEnd::Finished || result.kind == ReadTestKind::Seek) return lines;
    if (result.failedSectors == 0 && result.skippedSectors == 0) lines.emplace_back(kVerdictAllRead);
    if (result.failedSectors > 0) lines.push_back(CountText(kVerdictUnreadable, result.failedSectors));
    if (result.skippedSectors > 0) lines.push_back(CountText(kVerdictSkipped, result.skippedSectors));
    const auto& v = result.verify;
    if (!v) return lines;
    if (v->imageReadFailed) {
        lines.emplace_back(kVerdictImageUnreadable);
        return lines;
    }
    if (v->differingSectors > 0) {
        // A sector the disc would not give does not hold the image's data as far as anyone can tell.
        std::string text = CountText(kVerdictImageDiffers, v->differingSectors);
        if (v->uncomparedSectors > 0) {
            text.pop_back();
            text +=
                Formatted(kVerdictImageDiffersUnread, static_cast<unsigned long long>(v->uncomparedSectors));
        }
        lines.push_back(text);
    } else if (VerifyComplete(result)) {
        lines.emplace_back(kVerdictImageMatches);
    } else {
        IncompleteLines(result, lines);
    }
    if (v->length == LengthMatch::DiscShorter)
        lines.push_back(CountText(kVerdictDiscShorter, v->lengthDifference));
    if (v->length == LengthMatch::DiscLonger)
        lines.push_back(CountText(kVerdictDiscLonger, v->lengthDifference));
    return lines;
}

ReadTestResult RunReadTest(SharedDrive& drive, const ReadTestSettings& settings, ReadTestObserver& observer,
                           const ReadTestHooks& hooks) {
    Run run(drive, settings, observer, hooks);
    return run.Execute();
}

ReadTestResult RunReadTest(SharedDrive& drive, const ReadTestSettings& settings, ReadTestObserver& observer,
                           const ReadTestStop& stopRequested, const MicrosecondClock& clock) {
    ReadTestHooks hooks;
    hooks.stopRequested = stopRequested;
    hooks.clock = clock;
    return RunReadTest(drive, settings, observer, hooks);
}

}  // namespace dravix
