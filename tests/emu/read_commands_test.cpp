// Reading a recorded disc: capacity, sectors, table of contents, track information, the read
// speed model with its settings, and damaged sectors.

#include <array>

#include "EmuTestSupport.h"
#include "emu/Commands.h"
#include "emu/Media.h"

namespace dravix::emu::test {
namespace {

// A drive with the disc spun up and its medium change reported, on a clock the test owns: every
// sleep of the drive moves the clock on.
struct ReadingDrive {
    explicit ReadingDrive(const char* media, ReadSpeedModel model = ReadSpeedModel::Cav) {
        DriveState state = FactoryState(DriveKind::Maker);
        state.readModel = model;
        state.disc = Disc{media, FindMedia(media)->bookType};
        drive = std::make_unique<VirtualDrive>(state);
        drive->SetClock([this] { return nowMs; });
        drive->SetSleeper([this](uint32_t ms) { nowMs += ms; });
    }
    // Milliseconds the command took on the drive's clock.
    int64_t Timed(const std::vector<uint8_t>& cdb, uint32_t length, Answer* answer = nullptr) {
        const int64_t before = nowMs;
        Answer a = Send(*drive, cdb, length);
        if (answer) *answer = std::move(a);
        return nowMs - before;
    }

    int64_t nowMs = 1'000'000;
    std::unique_ptr<VirtualDrive> drive;
};

std::vector<uint8_t> Read10(uint32_t lba, uint16_t count) {
    return Cdb({0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
                static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), 0});
}

std::vector<uint8_t> Read12(uint32_t lba, uint32_t count) {
    return Cdb({0xA8, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), static_cast<uint8_t>(count >> 24),
                static_cast<uint8_t>(count >> 16), static_cast<uint8_t>(count >> 8),
                static_cast<uint8_t>(count)});
}

const std::vector<uint8_t> kReadCapacity = Cdb({0x25});
const std::vector<uint8_t> kToc = Cdb({0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0});
const std::vector<uint8_t> kReadPerformance = Cdb({0xAC, 0x10, 0, 0, 0, 0, 0, 0, 0, 32, 0x00, 0});

std::vector<uint8_t> Sector(const char* media, uint32_t lba) {
    std::vector<uint8_t> data(kSectorBytes);
    FillSector(*FindMedia(media), lba, data.data());
    return data;
}

TEST(ReadCommands, RecordedDiscsReadTheirGeneratedDataUpToTheirLastSector) {
    for (const char* name :
         {"dvd-rom", "cd-rom", "dvd+rw-recorded", "dvd+r-recorded", "dvd+r-dl-recorded", "cd-r-recorded"}) {
        SCOPED_TRACE(name);
        const MediaInfo& media = *FindMedia(name);
        ReadingDrive d(name);
        const Answer capacity = Send(*d.drive, kReadCapacity, 8);
        ASSERT_TRUE(capacity.Good());
        EXPECT_EQ(capacity.Be32(0), media.endLba);
        EXPECT_EQ(capacity.Be32(4), kSectorBytes);

        // The last two sectors, by READ(10) and by READ(12): each its own data, headed by its LBA.
        for (const auto& cdb : {Read10(media.endLba - 1, 2), Read12(media.endLba - 1, 2)}) {
            const Answer answer = Send(*d.drive, cdb, 2 * kSectorBytes);
            ASSERT_TRUE(answer.Good());
            EXPECT_EQ(answer.Be32(0), media.endLba - 1);
            EXPECT_EQ(std::vector<uint8_t>(answer.data.begin() + kSectorBytes, answer.data.end()),
                      Sector(name, media.endLba));
        }
        EXPECT_TRUE(FailsWith(Send(*d.drive, Read10(media.endLba, 2), 2 * kSectorBytes), kLbaOutOfRange));
        EXPECT_TRUE(FailsWith(Send(*d.drive, Read12(0xFFFFFFFF, 2), 2 * kSectorBytes), kLbaOutOfRange));

        // One data track from 0, the lead-out after the last sector.
        const Answer toc = Send(*d.drive, kToc, 804);
        ASSERT_TRUE(toc.Good());
        EXPECT_EQ(toc.Be16(0), 2 + 2 * 8);
        EXPECT_EQ(toc.data[5] & 0x04, 0x04);
        EXPECT_EQ(toc.Be32(8), 0u);
        EXPECT_EQ(toc.data[14], 0xAA);
        EXPECT_EQ(toc.Be32(16), media.endLba + 1);

        const Answer track = Send(*d.drive, Cdb({0x52, 0x01, 0, 0, 0, 1, 0, 0, 36, 0}), 36);
        ASSERT_TRUE(track.Good());
        EXPECT_EQ(track.data[6] & 0x40, 0);  // not blank
        EXPECT_EQ(track.Be32(24), media.endLba + 1);
        EXPECT_EQ(track.Be32(28), media.endLba);
    }
}

TEST(ReadCommands, BlankDiscsAnswerAsADriveDoesWithNothingRecorded) {
    for (const char* name : {"dvd+r", "dvd+r-dl", "cd-r", "dvd+rw-blank"}) {
        SCOPED_TRACE(name);
        ReadingDrive d(name);
        EXPECT_EQ(Send(*d.drive, kReadCapacity, 8).Be32(0), 0u);
        EXPECT_TRUE(FailsWith(Send(*d.drive, Read10(0, 1), kSectorBytes), kLbaOutOfRange));
        EXPECT_TRUE(FailsWith(Send(*d.drive, kToc, 804), kInvalidFieldInCdb));
        const Answer track = Send(*d.drive, Cdb({0x52, 0x01, 0, 0, 0, 1, 0, 0, 36, 0}), 36);
        ASSERT_TRUE(track.Good());
        EXPECT_EQ(track.data[6] & 0x40, 0x40);
    }
}

TEST(ReadCommands, DamagedSectorsFailAfterTheRetriesAndTheirNeighboursRead) {
    ReadingDrive d("dvd+r-recorded");
    d.drive->AddDamage({1000, 3});
    Answer answer;
    // A request over the spot fails with a medium error after the drive's retries.
    EXPECT_GE(d.Timed(Read10(990, 32), 32 * kSectorBytes, &answer), int64_t{kDamagedReadRetryMs});
    EXPECT_TRUE(FailsWith(answer, kUnrecoveredReadError));
    const std::pair<uint32_t, bool> sectors[] = {{999, true}, {1000, false}, {1002, false}, {1003, true}};
    for (const auto& [lba, readable] : sectors) {
        EXPECT_EQ(Send(*d.drive, Read10(lba, 1), kSectorBytes).Good(), readable) << lba;
    }
    d.drive->ClearDamage();
    EXPECT_TRUE(Send(*d.drive, Read10(990, 32), 32 * kSectorBytes).Good());
}

TEST(ReadSpeed, SequentialReadsTakeTheModelsTimeAndTheSettingsCapIt) {
    // CLV reads the whole disc at one speed: 16X on DVD, 48X on CD. 3200 sectors in requests of 32.
    struct Case {
        const char* media;
        double bytesPerSecond;
    };
    const Case cases[] = {{"dvd-rom", 16 * 1385000.0}, {"cd-rom", 48 * 153600.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.media);
        ReadingDrive d(c.media, ReadSpeedModel::Clv);
        Send(*d.drive, Read10(0, 1), kSectorBytes);  // the pick-up to the start
        auto readTime = [&d] {
            int64_t ms = 0;
            for (uint32_t lba = 1; lba < 3201; lba += 32) ms += d.Timed(Read10(lba, 32), 32 * kSectorBytes);
            return ms;
        };
        const double expectedMs = 3200.0 * kSectorBytes / c.bytesPerSecond * 1000;
        EXPECT_NEAR(readTime(), expectedMs, 1.0);

        // Half the speed by SET CD SPEED doubles the time; FFFFh is the maximum again.
        const uint32_t halfKBps = FindMedia(c.media)->readSpeed / 2;
        ASSERT_TRUE(Send(*d.drive, Cdb({0xBB, 0, static_cast<uint8_t>(halfKBps >> 8),
                                        static_cast<uint8_t>(halfKBps), 0xFF, 0xFF}))
                        .Good());
        Send(*d.drive, Read10(0, 1), kSectorBytes);
        EXPECT_NEAR(readTime(), 2 * expectedMs, 2.0);
        ASSERT_TRUE(Send(*d.drive, Cdb({0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF})).Good());
        EXPECT_EQ(d.drive->State().readSpeedLimitKBps, 0u);
    }
}

TEST(ReadSpeed, SetStreamingSetsTheReadSpeedAndRestoresTheDefault) {
    ReadingDrive d("dvd-rom");
    auto setStreaming = [&d](uint32_t readKB, uint32_t readMs, bool restore) {
        std::array<uint8_t, 28> descriptor{};
        descriptor[0] = restore ? 0x04 : 0;
        dravix::PutBe32(&descriptor[8], 2295103);
        dravix::PutBe32(&descriptor[12], readKB);
        dravix::PutBe32(&descriptor[16], readMs);
        const std::vector<uint8_t> cdb = Cdb({0xB6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 28, 0});
        return d.drive->Execute(cdb.data(), cdb.size(), 1, descriptor.data(), 28, 15);
    };
    EXPECT_EQ(setStreaming(5540, 1000, false).kind, ScsiOutcome::Kind::Good);
    EXPECT_EQ(d.drive->State().readSpeedLimitKBps, 5540u);
    // The mode page tells the speed now in force beside the fastest.
    const Answer page = Send(*d.drive, Cdb({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x1E, 0}), 30);
    EXPECT_EQ(page.Be16(8 + 8), 22160);
    EXPECT_EQ(page.Be16(8 + 14), 5540);
    EXPECT_EQ(SenseOf(setStreaming(5540, 0, false)), kInvalidFieldInParameterList);
    EXPECT_EQ(setStreaming(0, 0, true).kind, ScsiOutcome::Kind::Good);
    EXPECT_EQ(d.drive->State().readSpeedLimitKBps, 0u);
    // A power cycle forgets the setting too.
    setStreaming(2770, 1000, false);
    d.drive->Restart();
    EXPECT_EQ(d.drive->State().readSpeedLimitKBps, 0u);
}

TEST(ReadSpeed, PerformanceDescriptorsFollowTheModel) {
    struct Case {
        const char* media;
        ReadSpeedModel model;
        size_t descriptors;
    };
    // Z-CLV: four zones; partial CAV: the rising part and the flat part; a dual-layer disc retraces
    // layer 0's stretches on layer 1.
    const Case cases[] = {{"dvd-rom", ReadSpeedModel::Cav, 1},
                          {"dvd-rom", ReadSpeedModel::PartialCav, 2},
                          {"dvd-rom", ReadSpeedModel::ZonedClv, 4},
                          {"cd-r-recorded", ReadSpeedModel::Clv, 1},
                          {"dvd+r-dl-recorded", ReadSpeedModel::PartialCav, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.media) + " " + std::string(ReadSpeedModelName(c.model)));
        ReadingDrive d(c.media, c.model);
        const Answer answer = Send(*d.drive, kReadPerformance, 8 + 32 * 16);
        ASSERT_TRUE(answer.Good());
        ASSERT_EQ(answer.Be32(0), 4 + 16 * c.descriptors);
        const MediaInfo& media = *FindMedia(c.media);
        uint32_t next = 0;
        for (size_t i = 0; i < c.descriptors; ++i) {
            const size_t at = 8 + 16 * i;
            EXPECT_EQ(answer.Be32(at), next) << i;  // the stretches follow one another
            next = answer.Be32(at + 8) + 1;
            EXPECT_LE(answer.Be32(at + 12), media.readSpeed) << i;
        }
        EXPECT_EQ(next, media.endLba + 1);
        // Where the curve reaches the disc's maximum, it says so.
        const uint32_t top = answer.Be32(8 + 16 * (c.descriptors - 1) + (media.dualLayer ? 4 : 12));
        if (c.model != ReadSpeedModel::Cav) {
            EXPECT_EQ(top, media.readSpeed);
        }
    }
}

}  // namespace
}  // namespace dravix::emu::test
