#include "probix/ReadTest.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

#include <unistd.h>
#include <cerrno>

#include "base/SafeFile.h"
#include "drive/DriveTable.h"
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
    bool Good() const { return status == kCommandCompleted; }
};

enum class Fatal { None, DiscChanged, DriveGone };

Fatal FatalOf(const RequestOutcome& outcome) {
    if (outcome.Good()) return Fatal::None;
    if (MediumChanged(outcome.sense)) return Fatal::DiscChanged;
    if (DriveGone(outcome.status, outcome.sense, outcome.osError)) return Fatal::DriveGone;
    return Fatal::None;
}

// A run ends early by throwing this out of the loops: a stop, a changed disc or a lost drive.
struct RunEnded {
    ReadTestEnd end;
    RequestOutcome outcome;
};

class Run final {
  public:
    Run(SharedDrive& drive, const ReadTestSettings& settings, ReadTestObserver& observer,
        const ReadTestStop& stop, const MicrosecondClock& clock)
        : m_drive(drive), m_settings(settings), m_observer(observer), m_stop(stop), m_clock(clock) {
        if (!m_clock) m_clock = SteadyMicroseconds;
        m_request = std::max<uint32_t>(settings.requestSectors, 1);
        m_command = m_request > 0xFFFF ? ReadCommand::Read12 : ReadCommand::Read10;
    }

    ReadTestResult Execute();

  private:
    bool Stopped() const { return m_stop && m_stop(); }
    RequestOutcome Request(uint32_t lba, uint32_t count, uint8_t* data);
    void ReadPass(const std::vector<SectorRange>& extents);
    void ReadExtent(const SectorRange& extent);
    // One-sector reads over a failed request; returns the first sector after a burst's skip, or
    // the sector after the request.
    uint32_t Retry(uint32_t lba, uint32_t count, uint32_t extentLast);
    void Good(uint32_t lba, uint32_t count, const uint8_t* data);
    void Failed(uint32_t lba, const RequestOutcome& outcome);
    void Verify(uint32_t lba, uint32_t count, const uint8_t* data);
    void Uncompared(uint32_t first, uint32_t last);
    void AddDifference(uint32_t first, uint32_t last);
    void Timed(uint32_t lba, uint32_t count, int64_t microseconds);
    void FlushPoint();
    void Progress(uint32_t lba);
    void AccessTimes();
    void CheckSameDisc();

    SharedDrive& m_drive;
    const ReadTestSettings& m_settings;
    ReadTestObserver& m_observer;
    const ReadTestStop& m_stop;
    MicrosecondClock m_clock;
    ReadTestResult m_result;
    uint32_t m_request = kDefaultRequestSectors;
    ReadCommand m_command = ReadCommand::Read10;
    std::vector<uint8_t> m_data;
    std::vector<uint8_t> m_image;
    uint32_t m_imageBase = 0;  // the disc LBA of the image's sector 0

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

RequestOutcome Run::Request(uint32_t lba, uint32_t count, uint8_t* data) {
    const auto outcome = m_drive.LockedUnlessStopped(m_stop, [&](DriveTable& table) {
        RequestOutcome o;
        for (int attempt = 0;; ++attempt) {
            o.status = ReadSectors(table, m_command, lba, count,
                                   std::span<uint8_t>(data, size_t{count} * kSectorSize));
            o.sense = table.LastSense();
            o.osError = table.LastOsError();
            if (o.Good() || attempt >= kTransientRetries) return o;
            if (o.sense.key == kIllegalRequest && o.sense.asc == kAscInvalidOpcode &&
                m_command == ReadCommand::Read10) {
                m_command = ReadCommand::Read12;  // a drive without READ(10)
                continue;
            }
            if (o.sense.key == kUnitAttention && o.sense.asc == kAscPowerOnReset) continue;
            if (o.sense.key == kNotReady && o.sense.asc == kAscBecomingReady) {
                if (table.WaitForDrive() == ReadyState::Ready) continue;
            }
            return o;
        }
    });
    // The answer of a request that was at the drive when the stop came is dropped.
    if (!outcome || Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    switch (FatalOf(*outcome)) {
        case Fatal::DiscChanged:
            throw RunEnded{ReadTestEnd::DiscChanged, *outcome};
        case Fatal::DriveGone:
            throw RunEnded{ReadTestEnd::DriveGone, *outcome};
        case Fatal::None:
            break;
    }
    return *outcome;
}

void Run::Progress(uint32_t lba) {
    ReadTestProgress progress;
    progress.doneSectors = m_result.readSectors + m_result.failedSectors + m_result.skippedSectors;
    progress.plannedSectors = m_result.plannedSectors;
    progress.lba = lba;
    progress.failedSectors = m_result.failedSectors;
    progress.skippedSectors = m_result.skippedSectors;
    progress.lastSpeedX = m_result.points.empty() ? 0 : m_result.points.back().speedX;
    m_observer.OnProgress(progress);
}

void Run::FlushPoint() {
    if (m_pointBytes > 0 && m_pointUs > 0) {
        const SpeedPoint point{m_pointLba, static_cast<double>(m_pointBytes) / (m_pointUs / 1e6) /
                                               m_result.layout.BytesPerSecondAt1X()};
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

void Run::Good(uint32_t lba, uint32_t count, const uint8_t* data) {
    m_result.readSectors += count;
    m_burstSectors = 0;
    m_lastGoodUs = m_clock();
    if (m_result.verify) Verify(lba, count, data);
}

// Sectors the image holds that the disc did not give: they cannot be shown to match.
void Run::Uncompared(uint32_t first, uint32_t last) {
    if (!m_result.verify || m_result.verify->imageReadFailed || last < m_imageBase) return;
    const uint64_t from = std::max(first, m_imageBase) - m_imageBase;
    const uint64_t to = std::min<uint64_t>(uint64_t{last} - m_imageBase, m_result.verify->imageSectors - 1);
    if (from <= to && from < m_result.verify->imageSectors)
        m_result.verify->uncomparedSectors += to - from + 1;
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
        const RequestOutcome outcome = Request(sector, 1, m_data.data());
        if (outcome.Good()) {
            Good(sector, 1, m_data.data());
            Progress(sector);
            continue;
        }
        Failed(sector, outcome);
        Progress(sector);
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
            Good(first, count, m_data.data());
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
    if (m_settings.image) {
        m_result.verify = VerifySummary{};
        m_result.verify->imageSectors = m_settings.image->SectorCount();
        m_image.resize(m_data.size());
        for (const LayoutTrack& track : m_result.layout.tracks) {
            if (track.data) {
                m_imageBase = track.firstLba;
                break;
            }
        }
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

void Run::CheckSameDisc() {
    // The sectors judge one disc only if the disc did not change under them.
    const auto outcome = m_drive.LockedUnlessStopped(m_stop, [](DriveTable& table) {
        Capacity capacity;
        RequestOutcome o;
        o.status = ReadCapacity(table, capacity);
        o.sense = table.LastSense();
        o.osError = table.LastOsError();
        return std::make_pair(o, capacity);
    });
    if (!outcome || Stopped()) throw RunEnded{ReadTestEnd::Stopped, {}};
    const auto& [o, capacity] = *outcome;
    switch (FatalOf(o)) {
        case Fatal::DiscChanged:
            throw RunEnded{ReadTestEnd::DiscChanged, o};
        case Fatal::DriveGone:
            throw RunEnded{ReadTestEnd::DriveGone, o};
        case Fatal::None:
            break;
    }
    if (o.Good() && capacity.lastLba != m_result.layout.lastLba) throw RunEnded{ReadTestEnd::DiscChanged, o};
}

ReadTestResult Run::Execute() {
    const int64_t started = m_clock();
    m_result.kind = m_settings.kind;
    m_result.quick = m_settings.quick;
    m_result.requestSectors = m_request;
    auto finish = [&](ReadTestEnd end) {
        m_result.end = end;
        m_result.elapsedSeconds = (m_clock() - started) / 1e6;
        m_observer.OnEnd(m_result);
        return m_result;
    };
    try {
        const auto reading = m_drive.LockedUnlessStopped(m_stop, [&](DriveTable& table) {
            std::pair<LayoutReading, SpeedSetting> out{ReadDiscLayout(table), SpeedSetting{}};
            if (out.first.outcome == LayoutOutcome::Ready)
                out.second = ApplyReadSpeed(table, out.first.layout, m_settings.speed);
            return out;
        });
        if (!reading || Stopped()) return finish(ReadTestEnd::Stopped);
        const LayoutReading& layout = reading->first;
        m_result.layout = layout.layout;
        m_result.speed = reading->second;
        if (layout.outcome != LayoutOutcome::Ready) {
            m_result.endStatus = layout.status;
            m_result.endSense = layout.sense;
            if (layout.outcome == LayoutOutcome::DiscChanged) return finish(ReadTestEnd::DiscChanged);
            if (layout.outcome == LayoutOutcome::DriveFailed &&
                DriveGone(layout.status, layout.sense, layout.osError))
                return finish(ReadTestEnd::DriveGone);
            m_result.notReadable = NotReadableReasonOf(layout.outcome);
            return finish(ReadTestEnd::NotReadable);
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
                ? ReadStretches(m_result.layout, m_result.range, m_settings.quick)
                : std::vector<SectorRange>{};
        if (extents.empty()) {
            m_result.notReadable = NotReadableReason::EmptyRange;
            return finish(ReadTestEnd::NotReadable);
        }

        if (m_settings.kind == ReadTestKind::Seek) {
            AccessTimes();
        } else {
            ReadPass(extents);
            // Over every sector of the data, the lengths of disc and image are known.
            VerifySummary* v = m_result.verify ? &*m_result.verify : nullptr;
            const bool whole = !m_settings.quick && !m_settings.startLba && !m_settings.endLba;
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
        return finish(ended.end);
    }
    return finish(ReadTestEnd::Finished);
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

std::unique_ptr<VerifyImage> OpenImageFile(const std::string& path, std::string* error) {
    // Opened without waiting: a FIFO or a device is refused at once instead of hanging the run.
    FileResult opened;
    off_t size = 0;
    const int fd = OpenFileForReading(path, &opened, &size);
    if (fd < 0) {
        if (error) *error = path + ": " + opened.detail;
        return nullptr;
    }
    if (size <= 0) {
        ::close(fd);
        if (error) *error = path + ": empty";
        return nullptr;
    }
    return std::make_unique<ImageFile>(fd, static_cast<uint64_t>(size));
}

const char* ReadTestKindName(ReadTestKind kind) {
    switch (kind) {
        case ReadTestKind::Errors:
            return "errors";
        case ReadTestKind::Seek:
            return "seek";
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

std::string CountText(const CountTexts& texts, unsigned long long count) {
    char text[128];
    std::snprintf(text, sizeof text, count == 1 ? texts.one : texts.many, count);
    return text;
}

std::vector<std::string> VerdictLines(const ReadTestResult& result) {
    std::vector<std::string> lines;
    if (result.end != ReadTestEnd::Finished || result.kind == ReadTestKind::Seek) return lines;
    if (result.failedSectors == 0 && result.skippedSectors == 0) lines.emplace_back(kVerdictAllRead);
    if (result.failedSectors > 0) lines.push_back(CountText(kVerdictUnreadable, result.failedSectors));
    if (result.skippedSectors > 0) lines.push_back(CountText(kVerdictSkipped, result.skippedSectors));
    if (const auto& v = result.verify; v && !v->imageReadFailed) {
        // A sector the disc would not give does not hold the image's data as far as anyone can tell.
        const uint64_t differing = v->differingSectors + v->uncomparedSectors;
        lines.push_back(differing == 0 ? std::string(kVerdictImageMatches)
                                       : CountText(kVerdictImageDiffers, differing));
        if (v->length == LengthMatch::DiscShorter)
            lines.push_back(CountText(kVerdictDiscShorter, v->lengthDifference));
        if (v->length == LengthMatch::DiscLonger)
            lines.push_back(CountText(kVerdictDiscLonger, v->lengthDifference));
    }
    return lines;
}

ReadTestResult RunReadTest(SharedDrive& drive, const ReadTestSettings& settings, ReadTestObserver& observer,
                           const ReadTestStop& stopRequested, const MicrosecondClock& clock) {
    Run run(drive, settings, observer, stopRequested, clock);
    return run.Execute();
}

}  // namespace dravix
