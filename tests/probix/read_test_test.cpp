// The read test on a virtual drive behind the real pass-through code, timed on the drive's
// simulated clock: read modes, damaged spots, error bursts, verify, access times, and the ends
// without verdict.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "emu/Media.h"
#include "probix/ReadTest.h"
#include "tests/support/DiscInDrive.h"
#include "turns/SharedDrive.h"

namespace dravix {
namespace {

// A drive with a disc, its clock simulated: every command moves the clock on by the time the
// drive's model gives it, to the microsecond, and the run reads the same clock.
struct ReadBench : test::DiscInDrive {
    explicit ReadBench(const char* media, emu::ReadSpeedModel model = emu::ReadSpeedModel::Cav)
        : DiscInDrive(media, emu::DriveKind::Maker, [model](DiscInDrive& d) {
              d.drive.SetReadModel(model);
              d.SimulateClock();
          }) {}

    ReadTestResult Run(const ReadTestSettings& settings, ReadTestObserver& observer) {
        ReadTestHooks hooks;
        hooks.stopRequested = [this] { return stop.load(); };
        hooks.clock = [this] { return nowUs.load(); };
        hooks.sleep = [this](int64_t us) { nowUs += us; };
        return RunReadTest(shared, settings, observer, hooks);
    }
    ReadTestResult Run(const ReadTestSettings& settings) {
        ReadTestObserver quiet;
        return Run(settings, quiet);
    }

    std::atomic<bool> stop{false};
    SharedDrive shared{table};
};

ReadTestSettings Range(uint32_t first, uint32_t last) {
    ReadTestSettings settings;
    settings.kind = ReadTestKind::Errors;
    settings.startLba = first;
    settings.endLba = last;
    return settings;
}

TEST(ReadTest, EachReadModeIsRecognisedFromTheCurve) {
    struct Case {
        const char* media;
        emu::ReadSpeedModel model;
        ReadMode expected;
    };
    const Case cases[] = {
        {"dvd-rom", emu::ReadSpeedModel::Cav, ReadMode::Cav},
        {"dvd-rom", emu::ReadSpeedModel::PartialCav, ReadMode::PartialCav},
        {"dvd-rom", emu::ReadSpeedModel::ZonedClv, ReadMode::ZonedClv},
        {"dvd-rom", emu::ReadSpeedModel::Clv, ReadMode::Clv},
        {"cd-r-recorded", emu::ReadSpeedModel::Cav, ReadMode::Cav},
        {"dvd+r-recorded", emu::ReadSpeedModel::ZonedClv, ReadMode::ZonedClv},
        // Layer 1 runs back inwards: the mode shows on layer 0.
        {"dvd+r-dl-recorded", emu::ReadSpeedModel::PartialCav, ReadMode::PartialCav},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.media) + " " + std::string(emu::ReadSpeedModelName(c.model)));
        ReadBench bench(c.media, c.model);
        ReadTestSettings settings;
        settings.quick = true;
        const ReadTestResult result = bench.Run(settings);
        ASSERT_EQ(result.end, ReadTestEnd::Finished);
        EXPECT_EQ(result.plannedSectors, kQuickZones * kQuickZoneSectors);
        EXPECT_EQ(result.readSectors, result.plannedSectors);
        EXPECT_EQ(VerdictLines(result), std::vector<std::string>{"All sectors read."});
        ASSERT_TRUE(result.transfer);
        EXPECT_EQ(result.transfer->mode, c.expected) << ReadModeName(result.transfer->mode);
        EXPECT_GT(result.points.size(), 100u);
        // Every mode reaches the disc's top speed somewhere, and never goes beyond it.
        const double top = emu::MaxReadSpeedX(*emu::FindMedia(c.media));
        double fastest = 0;
        for (const SpeedPoint& p : result.points) fastest = std::max(fastest, p.speedX);
        EXPECT_LE(fastest, top * 1.001);
        if (c.model != emu::ReadSpeedModel::Cav) {
            EXPECT_GT(fastest, top * 0.99);
        }
        EXPECT_LE(result.transfer->minimumX, result.transfer->averageX + 1e-9);
    }
}

// A single-layer DVD as the drive describes it.
DiscLayout Dvd() {
    DiscLayout layout;
    layout.dvd = true;
    layout.lastLba = 2295103;
    return layout;
}

TEST(ReadTest, ShortCurvesNameNoModeTheyDoNotShow) {
    // Each mode of a 16X DVD drive, sampled at `count` points from LBA `first` to LBA `last`.
    const auto radius = [](uint32_t lba) {
        return std::sqrt(24.0 * 24 + lba * (58.0 * 58 - 24.0 * 24) / 2295104);
    };
    const std::function<double(double)> cav = [](double r) { return 16 * r / 58; };
    const std::function<double(double)> partialCav = [](double r) { return std::min(16.0, 16 * r / 41); };
    const std::function<double(double)> zonedClv = [](double r) {
        return 16.0 * (3 + std::min(3, static_cast<int>((r - 24) / 8.5))) / 6;
    };
    const std::function<double(double)> clv = [](double) { return 16.0; };
    struct Case {
        std::string name;
        std::function<double(double)> speed;  // of the radius in mm
        uint32_t first, last;
        int count;
        ReadMode expected;
    };
    const Case cases[] = {
        // The first 100 MB of a CAV disc rise by 4 %: flat as CLV, yet no CLV.
        {"CAV, the first 100 MB", cav, 0, 50000, 600, ReadMode::Unknown},
        {"P-CAV, the outer half at the top speed", partialCav, 1300000, 2295103, 600, ReadMode::Unknown},
        {"Z-CLV, within one zone", zonedClv, 400000, 800000, 600, ReadMode::Unknown},
        {"CLV, a stretch in the middle", clv, 900000, 1400000, 600, ReadMode::Unknown},
        {"CAV over the whole disc in a dozen points", cav, 0, 2295103, 12, ReadMode::Unknown},
        // Where the range is wide enough, the shape shows.
        {"CAV, the inner two thirds", cav, 0, 1600000, 600, ReadMode::Cav},
        {"CLV from the inside out to three quarters", clv, 0, 1700000, 600, ReadMode::Clv},
        {"Z-CLV over the whole disc in 100 points", zonedClv, 0, 2295103, 100, ReadMode::ZonedClv},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<SpeedPoint> points;
        for (int i = 0; i < c.count; ++i) {
            const auto lba = static_cast<uint32_t>(c.first + uint64_t{c.last - c.first} * i / (c.count - 1));
            points.push_back({lba, c.speed(radius(lba))});
        }
        const ReadMode mode = RecogniseReadMode(points, Dvd());
        EXPECT_EQ(mode, c.expected) << ReadModeName(mode);
    }
}

TEST(ReadTest, ReadModesAreRecognisedThroughRequestsThatCameBackLate) {
    // Curves over a full DVD (radius 24 to 58 mm) at 16X, and the same with one-sided noise: every
    // point up to 2 % slower, one in twenty up to 30 % slower, as when something else held the
    // machine or the drive.
    auto radius = [](double f) { return std::sqrt(24.0 * 24 + f * (58.0 * 58 - 24.0 * 24)); };
    struct Case {
        std::string name;
        std::function<double(double)> speed;  // of the fraction of the disc
        ReadMode expected;
    };
    const Case cases[] = {
        {"CLV", [](double) { return 16.0; }, ReadMode::Clv},
        {"CAV", [&](double f) { return 16 * radius(f) / 58; }, ReadMode::Cav},
        {"P-CAV", [&](double f) { return std::min(16.0, 16 * radius(f) / 41); }, ReadMode::PartialCav},
        {"Z-CLV",
         [&](double f) { return 16.0 * (3 + std::min(3, static_cast<int>((radius(f) - 24) / 8.5))) / 6; },
         ReadMode::ZonedClv},
        {"slower outside", [&](double f) { return 16 * radius(1 - f) / 58; }, ReadMode::Unknown},
        {"up and down", [](double f) { return 10 + 4 * std::sin(f * 12); }, ReadMode::Unknown},
    };
    for (const Case& c : cases) {
        for (const bool noisy : {false, true}) {
            SCOPED_TRACE(c.name + (noisy ? " with noise" : ""));
            std::mt19937 random(7);
            std::uniform_real_distribution<double> unit(0, 1);
            std::vector<SpeedPoint> points;
            constexpr int kPoints = 700;
            for (int i = 0; i < kPoints; ++i) {
                double x = c.speed(static_cast<double>(i) / kPoints);
                if (noisy) {
                    x *= 1 - 0.02 * unit(random);
                    if (unit(random) < 0.05) x *= 1 - 0.3 * unit(random);
                }
                points.push_back({static_cast<uint32_t>(i * 3279), x});
            }
            const ReadMode mode = RecogniseReadMode(points, Dvd());
            EXPECT_EQ(mode, c.expected) << ReadModeName(mode);
        }
    }
}

TEST(ReadTest, ASpeedSetBySetStreamingOrSetCdSpeedCapsTheCurveAndRefusalsFallBack) {
    struct Case {
        std::string name;
        std::vector<uint8_t> refused;  // operation codes the drive refuses as unknown
        double speedX;
        SpeedMethod method;
        TrackSource tracks;
    };
    const Case cases[] = {
        {"streaming", {}, 8, SpeedMethod::SetStreaming, TrackSource::TrackInformation},
        {"cd speed when streaming is refused",
         {0xB6},
         8,
         SpeedMethod::SetCdSpeed,
         TrackSource::TrackInformation},
        {"max when both are refused", {0xB6, 0xBB}, 8, SpeedMethod::Max, TrackSource::TrackInformation},
        // A drive like QEMU's: no GET PERFORMANCE, no READ TRACK INFORMATION.
        {"table of contents", {0xAC, 0x52, 0xB6}, 8, SpeedMethod::SetCdSpeed, TrackSource::Toc},
        {"capacity", {0x43, 0x52}, 0, SpeedMethod::Max, TrackSource::Capacity},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadBench bench("dvd-rom", emu::ReadSpeedModel::Clv);
        for (uint8_t opcode : c.refused) {
            emu::FaultRule rule;
            rule.opcode = opcode;
            rule.sense = emu::kInvalidOpcode;
            bench.drive.AddFault(rule);
        }
        ReadTestSettings settings;
        settings.quick = true;
        settings.speed.x = c.speedX;
        const ReadTestResult result = bench.Run(settings);
        ASSERT_EQ(result.end, ReadTestEnd::Finished);
        EXPECT_EQ(result.speed.method, c.method);
        EXPECT_EQ(result.layout.trackSource, c.tracks);
        EXPECT_EQ(result.layout.lastLba, 2295103u);
        ASSERT_TRUE(result.transfer);
        const double expected = c.method == SpeedMethod::Max ? 16 : c.speedX;
        EXPECT_NEAR(result.transfer->averageX, expected, 0.01);
        // What the layout could not learn it says; the speed commands show in the speed setting.
        const bool layoutRefused = std::any_of(c.refused.begin(), c.refused.end(), [](uint8_t op) {
            return op == 0xAC || op == 0x52 || op == 0x43;
        });
        EXPECT_EQ(!result.layout.notes.empty(), layoutRefused);
    }
}

TEST(ReadTest, DamagedSpotsGiveExactlyTheirSectors) {
    ReadBench bench("cd-r-recorded");
    // One spot inside a request, one across two requests, one sector at the end of the range.
    bench.drive.AddDamage({100005, 5});
    bench.drive.AddDamage({100030, 4});
    bench.drive.AddDamage({101999, 1});
    std::vector<FailedRange> told;
    ReadTestCallbacks observer;
    observer.onFailure = [&told](const FailedRange& f) { told.push_back(f); };
    const ReadTestResult result = bench.Run(Range(99000, 101999), observer);
    ASSERT_EQ(result.end, ReadTestEnd::Finished);
    ASSERT_EQ(result.failures.size(), 3u);
    EXPECT_EQ(result.failures[0].range, (SectorRange{100005, 100009}));
    EXPECT_EQ(result.failures[1].range, (SectorRange{100030, 100033}));
    EXPECT_EQ(result.failures[2].range, (SectorRange{101999, 101999}));
    for (const FailedRange& f : result.failures) EXPECT_EQ(f.sense, (Sense{0x03, 0x11, 0x00}));
    EXPECT_EQ(told.size(), 10u);
    EXPECT_EQ(result.failedSectors, 10u);
    EXPECT_EQ(result.skippedSectors, 0u);
    EXPECT_EQ(result.readSectors, 3000u - 10);
    EXPECT_EQ(VerdictLines(result), std::vector<std::string>{"10 sectors could not be read."});
}

TEST(ReadTest, AnErrorBurstIsBoundedBySectorsOrByTime) {
    struct Case {
        std::string name;
        uint32_t latencyMs;  // added to every command: the 60 s come before the 64 sectors
        bool byTime;
    };
    const Case cases[] = {{"64 sectors", 0, false}, {"60 seconds", 1000, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadBench bench("dvd+r-recorded");
        bench.drive.SetLatency(emu::LatencyClass::Command, c.latencyMs);
        bench.drive.AddDamage({500000, 20000});
        const ReadTestResult result = bench.Run(Range(499000, 530000));
        ASSERT_EQ(result.end, ReadTestEnd::Finished);
        // Each burst: unreadable sectors up to the bound, then 4 MiB skipped, and the next request
        // fails at once where the skip ended. Every sector outside the bursts was read.
        ASSERT_EQ(result.failures.size(), result.skipped.size());
        EXPECT_EQ(result.failures.front().range.first, 500000u);
        for (size_t i = 0; i < result.failures.size(); ++i) {
            const uint64_t burst = result.failures[i].range.Count();
            if (c.byTime) {
                EXPECT_LT(burst, kBurstSectorLimit) << i;
                EXPECT_GT(burst, 20u) << i;
            } else {
                EXPECT_EQ(burst, kBurstSectorLimit) << i;
            }
            EXPECT_EQ(result.skipped[i].first, result.failures[i].range.last + 1) << i;
            EXPECT_EQ(result.skipped[i].Count(), kBurstSkipSectors) << i;
            if (i + 1 < result.failures.size()) {
                EXPECT_EQ(result.failures[i + 1].range.first, result.skipped[i].last + 1) << i;
            }
        }
        EXPECT_LE(result.failures.back().range.last, 519999u);
        EXPECT_GE(result.skipped.back().last, 519999u);
        EXPECT_EQ(result.readSectors, (500000u - 499000) + (530000 - result.skipped.back().last));
        EXPECT_EQ(result.readSectors + result.failedSectors + result.skippedSectors, result.plannedSectors);
        EXPECT_EQ(VerdictLines(result)[1], std::to_string(result.skippedSectors) + " sectors were skipped.");
    }
}

// The disc's own data, with chosen sectors changed and a length of choice.
class GeneratedImage final : public VerifyImage {
  public:
    GeneratedImage(const char* media, uint64_t sectors, std::set<uint64_t> changed)
        : m_media(*emu::FindMedia(media)), m_sectors(sectors), m_changed(std::move(changed)) {}
    uint64_t SectorCount() const override { return m_sectors; }
    bool Read(uint64_t sector, uint32_t count, uint8_t* out) override {
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t* at = out + size_t{i} * kSectorSize;
            emu::FillSector(m_media, static_cast<uint32_t>(sector + i), at);
            if (m_changed.count(sector + i)) at[1000] ^= 0x01;
        }
        return true;
    }

  private:
    const emu::MediaInfo& m_media;
    uint64_t m_sectors;
    std::set<uint64_t> m_changed;
};

TEST(ReadTest, VerifyFindsExactlyTheChangedSectorsAndTheLengths) {
    constexpr uint64_t kDiscSectors = 333000;  // cd-r-recorded
    struct Case {
        std::string name;
        uint64_t imageSectors;
        std::set<uint64_t> changed;
        std::vector<SectorRange> differences;
        LengthMatch length;
        std::vector<std::string> verdict;
        std::optional<bool> matches;  // only a complete comparison without a difference matches
        std::vector<emu::DamagedSpot> damage = {};
    };
    const Case cases[] = {
        {"the same",
         kDiscSectors,
         {},
         {},
         LengthMatch::Same,
         {"All sectors read.", "The disc matches the image."},
         true},
        {"changed sectors",
         kDiscSectors,
         {10, 11, 12, 5000, 332999},
         {{10, 12}, {5000, 5000}, {332999, 332999}},
         LengthMatch::Same,
         {"All sectors read.", "The disc differs from the image in 5 sectors."},
         false},
        {"an image longer than the disc",
         kDiscSectors + 100,
         {},
         {{333000, 333099}},
         LengthMatch::DiscShorter,
         {"All sectors read.", "The disc differs from the image in 100 sectors.",
          "The disc is 100 sectors shorter than the image."},
         false},
        // Sectors the disc does not give cannot be shown to hold the image's data.
        {"unreadable sectors",
         kDiscSectors,
         {7},
         {{7, 7}},
         LengthMatch::Same,
         {"2 sectors could not be read.", "The disc differs from the image in 3 sectors (2 of them unread)."},
         false,
         {{100, 2}}},
        {"an image shorter than the disc",
         kDiscSectors - 50,
         {},
         {},
         LengthMatch::DiscLonger,
         {"All sectors read.",
          "332950 of 333000 sectors compared: the image ends at LBA 332949; the rest had nothing to "
          "compare against.",
          "The disc is 50 sectors longer than the image."},
         std::nullopt},
        {"one sector of each",
         kDiscSectors - 1,
         {7},
         {{7, 7}},
         LengthMatch::DiscLonger,
         {"1 sector could not be read.", "The disc differs from the image in 2 sectors (1 of them unread).",
          "The disc is 1 sector longer than the image."},
         false,
         {{100, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadBench bench("cd-r-recorded");
        for (const emu::DamagedSpot& spot : c.damage) bench.drive.AddDamage(spot);
        GeneratedImage image("cd-r-recorded", c.imageSectors, c.changed);
        ReadTestSettings settings;
        settings.image = &image;
        const ReadTestResult result = bench.Run(settings);
        ASSERT_EQ(result.end, ReadTestEnd::Finished);
        ASSERT_TRUE(result.verify);
        EXPECT_EQ(result.verify->differences, c.differences);
        EXPECT_EQ(result.verify->length, c.length);
        EXPECT_EQ(result.verify->comparedSectors,
                  std::min(c.imageSectors, kDiscSectors) - result.failedSectors);
        EXPECT_EQ(VerdictLines(result), c.verdict);
        EXPECT_EQ(VerifyMatches(result), c.matches);
    }
}

TEST(ReadTest, AnImageFileIsComparedAsFarAsItGoes) {
    // A file of three sectors and a half: the half is padded with zeros, so it differs.
    const std::string path = ::testing::TempDir() + "/read_test_image.iso";
    {
        std::vector<uint8_t> bytes(3 * kSectorSize + 100);
        for (uint32_t lba = 0; lba < 4; ++lba) {
            std::vector<uint8_t> sector(kSectorSize);
            emu::FillSector(*emu::FindMedia("dvd-rom"), lba, sector.data());
            std::copy(sector.begin(),
                      sector.begin() + std::min<size_t>(kSectorSize, bytes.size() - lba * kSectorSize),
                      bytes.begin() + lba * kSectorSize);
        }
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    const auto image = OpenImageFile(path);
    ASSERT_TRUE(image) << image.ErrorText();
    EXPECT_EQ((*image)->SectorCount(), 4u);
    EXPECT_FALSE(OpenImageFile(path + ".missing"));

    ReadBench bench("dvd-rom");
    ReadTestSettings settings = Range(0, 99);
    settings.image = image->get();
    const ReadTestResult result = bench.Run(settings);
    ASSERT_EQ(result.end, ReadTestEnd::Finished);
    EXPECT_EQ(result.verify->comparedSectors, 4u);
    EXPECT_EQ(result.verify->differences, (std::vector<SectorRange>{{3, 3}}));
    EXPECT_EQ(result.verify->length, LengthMatch::NotJudged);  // a range, not the whole disc
    std::remove(path.c_str());
}

TEST(ReadTest, AccessTimesFollowTheStrokeLength) {
    ReadBench bench("dvd-rom");
    ReadTestSettings settings;
    settings.kind = ReadTestKind::Seek;
    const ReadTestResult result = bench.Run(settings);
    ASSERT_EQ(result.end, ReadTestEnd::Finished);
    ASSERT_TRUE(result.access);
    const AccessSummary& a = *result.access;
    EXPECT_EQ(a.random.reads, kRandomSeeks);
    EXPECT_EQ(a.oneThird.reads, kOneThirdSeeks);
    EXPECT_EQ(a.fullStroke.reads, kFullStrokeSeeks);
    EXPECT_EQ(a.failedReads, 0);
    // The drive settles in 40 ms and crosses the whole disc in 80 ms more.
    EXPECT_NEAR(a.fullStroke.averageMs, 120, 0.5);
    EXPECT_LT(a.oneThird.averageMs, a.fullStroke.averageMs);
    EXPECT_GT(a.oneThird.averageMs, 40);
    EXPECT_LT(a.random.averageMs, a.fullStroke.averageMs);
    EXPECT_NEAR(a.worstMs, 120, 0.5);
    EXPECT_TRUE(VerdictLines(result).empty());
}

TEST(ReadTest, StopDiscChangeAndALostDriveEndWithoutVerdict) {
    struct Case {
        std::string name;
        std::function<void(ReadBench&)> act;  // after some requests
        ReadTestEnd end;
    };
    const Case cases[] = {
        {"stop", [](ReadBench& b) { b.stop = true; }, ReadTestEnd::Stopped},
        {"another disc", [](ReadBench& b) { b.drive.Insert("cd-rom"); }, ReadTestEnd::DiscChanged},
        {"disc taken out", [](ReadBench& b) { b.drive.RemoveDisc(); }, ReadTestEnd::DiscChanged},
        {"tray opened", [](ReadBench& b) { b.drive.Eject(); }, ReadTestEnd::DiscChanged},
        {"drive gone", [](ReadBench& b) { b.drive.SetDetached(true); }, ReadTestEnd::DriveGone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadBench bench("dvd+r-recorded");
        int requests = 0;
        uint32_t lastLba = 0;
        ReadTestCallbacks observer;
        observer.onProgress = [&](const ReadTestProgress& p) {
            lastLba = p.lba;
            if (++requests == 50) c.act(bench);
        };
        const ReadTestResult result = bench.Run(Range(0, 99999), observer);
        EXPECT_EQ(result.end, c.end);
        EXPECT_TRUE(VerdictLines(result).empty());
        // Nothing was read after the event, and nothing the run read counts as failed.
        EXPECT_EQ(requests, 50);
        EXPECT_EQ(result.failedSectors, 0u);
        EXPECT_EQ(lastLba, 49u * 32);
    }
}

// On the run's simulated clock: a read that hangs costs its 30 s time-out, TEST UNIT READY its 15 s,
// a BUSY retry 200 ms.
TEST(ReadTest, AHungOrBusyDriveIsBoundedOnTheRunsClock) {
    struct Case {
        std::string name;
        std::vector<emu::FaultRule> rules;  // after the first ten reads
        ReadTestEnd end;
        std::function<void(const ReadTestResult&, ReadBench&)> check;
    };
    const auto rule = [](uint8_t opcode, emu::FaultRule::Action action, uint32_t after) {
        emu::FaultRule r;
        r.opcode = opcode;
        r.action = action;
        r.after = after;
        return r;
    };
    using A = emu::FaultRule::Action;
    const Case cases[] = {
        // Three requests time out (a request and its first sector, a minute without a read, then the
        // request after the skip), and the drive does not answer TEST UNIT READY either: the test
        // ends within two minutes, keeping what it read.
        {"hung, no answer to TEST UNIT READY",
         {rule(0x28, A::HostTimeout, 10), rule(0x00, A::HostTimeout, 1)},
         ReadTestEnd::DriveNotAnswering,
         [](const ReadTestResult& r, ReadBench&) {
             EXPECT_GE(r.elapsedSeconds, 3 * 30 + 15);
             EXPECT_LT(r.elapsedSeconds, 120);
             EXPECT_EQ(r.endLba, 10u * 32 + 1 + kBurstSkipSectors);
             EXPECT_EQ(r.readSectors, 10u * 32);
             EXPECT_EQ(VerdictLines(r), std::vector<std::string>{});
         }},
        // The drive answers: the disc is at fault, and the bursts of unread sectors go on as ever.
        {"hung, TEST UNIT READY answered",
         {rule(0x28, A::HostTimeout, 10)},
         ReadTestEnd::Finished,
         [](const ReadTestResult& r, ReadBench& b) {
             EXPECT_EQ(r.readSectors, 10u * 32);
             EXPECT_EQ(r.readSectors + r.failedSectors + r.skippedSectors, r.plannedSectors);
             EXPECT_GE(b.bus.CountOpcode(0x00), 2u);
         }},
        // A sector is asked for six times, 200 ms apart, before it counts as unreadable.
        {"busy to the end",
         {rule(0x28, A::Busy, 10)},
         ReadTestEnd::Finished,
         [](const ReadTestResult& r, ReadBench& b) {
             ASSERT_GT(r.failedSectors, 0u);
             const uint32_t first = r.failures.front().range.first;
             size_t asked = 0;
             for (const std::vector<uint8_t>& cdb : b.bus.Commands())
                 asked += cdb[0] == 0x28 && cdb[8] == 1 && GetBe32(&cdb[2]) == first ? 1 : 0;
             EXPECT_EQ(asked, 1u + kBusyRetries);
             EXPECT_GE(r.elapsedSeconds, r.failedSectors * kBusyRetries * 0.2);
             EXPECT_EQ(r.readSectors, 10u * 32);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadBench bench("dvd+r-recorded");
        for (const emu::FaultRule& r : c.rules) bench.drive.AddFault(r);
        bench.bus.ClearCommands();
        const ReadTestResult result = bench.Run(Range(0, 9999));
        EXPECT_EQ(result.end, c.end) << ReadTestEndName(result.end);
        c.check(result, bench);
    }
}

TEST(ReadTest, DiscsWithoutDataEndBeforeAnyRead) {
    struct Case {
        const char* media;  // empty: no disc
        NotReadableReason reason;
    };
    const Case cases[] = {{"", NotReadableReason::NoDisc},
                          {"dvd+r", NotReadableReason::Blank},
                          {"cd-r", NotReadableReason::Blank}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.media);
        ReadBench bench(c.media[0] ? c.media : "dvd-rom");
        if (!c.media[0]) bench.drive.RemoveDisc();
        bench.bus.ClearCommands();
        const ReadTestResult result = bench.Run(ReadTestSettings{});
        EXPECT_EQ(result.end, ReadTestEnd::NotReadable);
        EXPECT_EQ(result.notReadable, c.reason);
        EXPECT_EQ(bench.bus.CountOpcode(0x28), 0u);
    }
}

// A benchmark on the drive's simulated clock: each figure is the time the drive's model gives.
TEST(ReadTest, ABenchmarkMeasuresWhatTheDriveModels) {
    ReadBench bench("dvd-rom", emu::ReadSpeedModel::Cav);
    bench.drive.SetInterfaceKBps(40000);
    bench.drive.SetLatency(emu::LatencyClass::SpinDown, 700);
    bench.drive.SetLatency(emu::LatencyClass::SpinUp, 1200);
    bench.drive.SetLatency(emu::LatencyClass::Tray, 900);
    ReadTestSettings settings;
    settings.kind = ReadTestKind::Benchmark;
    settings.loadEject = true;
    const ReadTestResult result = bench.Run(settings);
    ASSERT_EQ(result.end, ReadTestEnd::Finished);
    EXPECT_TRUE(result.quick);
    ASSERT_TRUE(result.transfer && result.access && result.benchmark);
    EXPECT_EQ(result.transfer->mode, ReadMode::Cav);
    // A CAV read turns the disc at one rate while the speed grows 2.4 times.
    double slowest = 1e9, fastest = 0;
    for (const SpeedPoint& p : result.points) {
        slowest = std::min(slowest, p.rpm);
        fastest = std::max(fastest, p.rpm);
    }
    EXPECT_GT(slowest, 0.97 * fastest);
    EXPECT_NEAR(fastest, 16 * 3490.0 * 60 / (2 * 3.14159265 * 58), 0.03 * fastest);

    const BenchmarkFigures& b = *result.benchmark;
    // 64 KiB from the cache at 40,000,000 bytes a second, above 16X (22.16 MB/s).
    ASSERT_TRUE(b.burstMBps.value) << b.burstMBps.note;
    EXPECT_NEAR(*b.burstMBps.value, 40.0, 0.05);
    EXPECT_NEAR(b.topReadMBps, 22.16, 0.01);
    EXPECT_EQ(BurstRateNote(b), "The burst rate should exceed the drive's top read speed (22.2 MB/s).");
    ASSERT_TRUE(b.spinDownSeconds.value && b.spinUpSeconds.value);
    EXPECT_DOUBLE_EQ(*b.spinDownSeconds.value, 0.7);
    // Up to speed, then one seek and one sector.
    EXPECT_GE(*b.spinUpSeconds.value, 1.2);
    EXPECT_LT(*b.spinUpSeconds.value, 1.35);
    ASSERT_TRUE(b.loadEjectRun && b.ejectSeconds.value && b.loadSeconds.value);
    EXPECT_DOUBLE_EQ(*b.ejectSeconds.value, 0.9);
    // The tray closes (0.9 s), the disc spins up (1.2 s); the drive is asked every 0.1 s.
    EXPECT_GE(*b.loadSeconds.value, 2.1);
    EXPECT_LE(*b.loadSeconds.value, 2.2);
    EXPECT_FALSE(bench.drive.State().trayOpen);
}

TEST(ReadTest, ABenchmarkNamesTheFiguresADriveCannotGive) {
    struct Case {
        const char* name;
        bool locked;
        std::optional<emu::FaultRule> fault;
        const char* spinDown;  // the note, or null for a figure
        const char* spinUp;
        const char* eject;
        const char* load;
    };
    emu::FaultRule noStartStop;
    noStartStop.opcode = 0x1B;
    noStartStop.sense = emu::kInvalidOpcode;
    const Case cases[] = {
        {"another program holds the disc", true, std::nullopt, nullptr, nullptr, kEjectRefused,
         kTrayNotOpened},
        {"no START STOP UNIT", false, noStartStop, kNotSupportedByDrive, kNotStopped, kNotSupportedByDrive,
         kTrayNotOpened},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReadBench bench("cd-r-recorded");
        bench.drive.SetMediumLocked(c.locked);
        if (c.fault) bench.drive.AddFault(*c.fault);
        ReadTestSettings settings;
        settings.kind = ReadTestKind::Benchmark;
        settings.loadEject = true;
        const ReadTestResult result = bench.Run(settings);
        ASSERT_EQ(result.end, ReadTestEnd::Finished);
        ASSERT_TRUE(result.benchmark);
        const BenchmarkFigures& b = *result.benchmark;
        EXPECT_TRUE(b.burstMBps.value);
        const std::pair<const BenchmarkFigure*, const char*> expected[] = {{&b.spinDownSeconds, c.spinDown},
                                                                           {&b.spinUpSeconds, c.spinUp},
                                                                           {&b.ejectSeconds, c.eject},
                                                                           {&b.loadSeconds, c.load}};
        for (const auto& [figure, note] : expected) {
            EXPECT_EQ(figure->value.has_value(), note == nullptr) << figure->note;
            if (note) {
                EXPECT_EQ(figure->note, note);
            }
        }
        EXPECT_FALSE(bench.drive.State().trayOpen);
    }
}

// A stop that comes while the tray is out ends the run, with the tray closed again.
TEST(ReadTest, ABenchmarkStoppedWithTheTrayOutClosesIt) {
    ReadBench bench("cd-r-recorded");
    bench.drive.SetTraceHook([&bench](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0x1B && cdb[4] == 0x02) bench.stop = true;
    });
    ReadTestSettings settings;
    settings.kind = ReadTestKind::Benchmark;
    settings.loadEject = true;
    const ReadTestResult result = bench.Run(settings);
    EXPECT_EQ(result.end, ReadTestEnd::Stopped);
    EXPECT_EQ(bench.bus.CountOpcode(0x1B), 4u);  // stop, start, eject, load
    EXPECT_FALSE(bench.drive.State().trayOpen);
}

}  // namespace
}  // namespace dravix
