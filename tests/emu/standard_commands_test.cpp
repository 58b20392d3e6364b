// Answers of the standard MMC commands at the byte positions the pages read.

#include "EmuTestSupport.h"
#include "emu/Media.h"

namespace dravix::emu::test {
namespace {

VirtualDrive DriveWith(const char* media, DriveKind kind = DriveKind::Maker) {
    DriveState state = FactoryState(kind);
    const MediaInfo* info = FindMedia(media);
    state.disc = Disc{info->name, info->bookType};
    return VirtualDrive(state);
}

const std::vector<uint8_t> kTestUnitReady = Cdb({0x00});
const std::vector<uint8_t> kEject = Cdb({0x1B, 0, 0, 0, 0x02, 0});
const std::vector<uint8_t> kLoad = Cdb({0x1B, 0, 0, 0, 0x03, 0});
const std::vector<uint8_t> kCurrentProfile = Cdb({0x46, 0, 0, 0, 0, 0, 0, 0, 0x08, 0});

TEST(Inquiry, IdentifiesACdDvdDriveWithPaddedNames) {
    VirtualDrive drive(DriveKind::Maker);
    const Answer answer = Send(drive, Cdb({0x12, 0, 0, 0, 0x38, 0}), 56);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.outcome.transferred, 36u);
    EXPECT_EQ(answer.data[0], 0x05);
    EXPECT_EQ(answer.data[1] & 0x80, 0x80);
    EXPECT_EQ(answer.Text(8, 8), "ZARN    ");
    EXPECT_EQ(answer.Text(16, 16), "DVD-RW ZR1680A  ");
    EXPECT_EQ(answer.Text(32, 4), "1.20");

    // The allocation length and then the buffer length cut the answer.
    EXPECT_EQ(Send(drive, Cdb({0x12, 0, 0, 0, 0x24, 0}), 56).outcome.transferred, 36u);
    EXPECT_EQ(Send(drive, Cdb({0x12, 0, 0, 0, 0x10, 0}), 56).outcome.transferred, 16u);
    EXPECT_EQ(Send(drive, Cdb({0x12, 0, 0, 0, 0x38, 0}), 20).outcome.transferred, 20u);
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0x12, 0x01, 0, 0, 0x38, 0}), 56), kInvalidFieldInCdb));
}

TEST(Commands, UnknownOpcodesAndShortBlocksAreRefused) {
    VirtualDrive drive = DriveWith("dvd+r");
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0x3B})), kInvalidOpcode));
    const uint8_t shortInquiry[3] = {0x12, 0, 0};
    EXPECT_TRUE(
        FailsWith(Answer{drive.Execute(shortInquiry, 3, kNoData, nullptr, 0, 15), {}}, kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Answer{drive.Execute(nullptr, 0, kNoData, nullptr, 0, 15), {}}, kInvalidOpcode));
}

TEST(MediaChange, EjectInsertLoadGivesOneUnitAttentionThenReady) {
    VirtualDrive drive(DriveKind::Maker);
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kNoMedium));

    ASSERT_TRUE(Send(drive, kEject).Good());
    ASSERT_TRUE(drive.Insert("dvd+r-dl"));
    // A disc put in while the tray is out is not there until the tray closes.
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kNoMedium));
    EXPECT_EQ(Send(drive, kCurrentProfile, 8).Be16(6), 0);

    ASSERT_TRUE(Send(drive, kLoad).Good());
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kMediumMayHaveChanged));
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
    EXPECT_EQ(Send(drive, kCurrentProfile, 8).Be16(6), 0x2B);

    // Ejecting drops a pending attention; loading an empty tray raises none.
    drive.RemoveDisc();
    ASSERT_TRUE(Send(drive, kEject).Good());
    ASSERT_TRUE(Send(drive, kLoad).Good());
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kNoMedium));
}

TEST(MediaChange, InsertIntoAClosedTraySwapsTheDisc) {
    VirtualDrive drive = DriveWith("dvd+r");
    ASSERT_TRUE(Send(drive, kTestUnitReady).Good());
    ASSERT_TRUE(drive.Insert("cd-rw"));
    EXPECT_FALSE(drive.Insert("dvd+q"));
    // GET CONFIGURATION does not consume the attention; the next standard command does.
    EXPECT_EQ(Send(drive, kCurrentProfile, 8).Be16(6), 0x0A);
    EXPECT_TRUE(
        FailsWith(Send(drive, Cdb({0x51, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0}), 255), kMediumMayHaveChanged));
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
}

TEST(MediaChange, DiscSpinsUpForTheConfiguredTimeBeforeTheAttention) {
    VirtualDrive drive = DriveWith("dvd+r");
    int64_t now = 5'000'000;
    drive.SetClock([&now] { return now; });
    drive.SetSleeper([](uint32_t) {});
    drive.SetLatency(LatencyClass::SpinUp, 1000);
    ASSERT_TRUE(Send(drive, kEject).Good());
    ASSERT_TRUE(Send(drive, kLoad).Good());

    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kBecomingReady));
    // Media commands wait too, commands that need no medium do not.
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 10, 3, 0}), 200), kBecomingReady));
    EXPECT_EQ(Send(drive, kCurrentProfile, 8).Be16(6), 0);
    EXPECT_TRUE(Send(drive, Cdb({0x12, 0, 0, 0, 0x24, 0}), 36).Good());
    now += 999;
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kBecomingReady));
    now += 1;
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kMediumMayHaveChanged));
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
}

TEST(MediaChange, BecomingReadyCountsOnlyTestUnitReady) {
    VirtualDrive drive = DriveWith("dvd+r");
    drive.SetBecomingReady(3);
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0x51, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0}), 255), kBecomingReady));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kBecomingReady)) << i;
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
}

TEST(MediaChange, RestartReportsPowerOnEvenWithoutDisc) {
    VirtualDrive drive(DriveKind::Maker);
    drive.Restart();
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kPowerOnReset));
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kNoMedium));
}

TEST(ModeSense, CapabilitiesPageCarriesTheBufferSizeAtBytes20And21) {
    const std::vector<uint8_t> cdb = Cdb({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0x1E, 0});
    VirtualDrive maker = DriveWith("dvd+r");
    const Answer answer = Send(maker, cdb, 30);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.outcome.transferred, 30u);
    EXPECT_EQ(answer.data[8] & 0x3F, 0x2A);
    EXPECT_EQ(answer.Be16(20), 0x2000);
    // Mode data length counts everything after itself: the header's other 6 bytes, the page
    // header, 30 page bytes and one 4-byte descriptor per write speed of the disc.
    const Answer full = Send(maker, Cdb({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0}), 256);
    EXPECT_EQ(full.Be16(0), 6 + 32 + 4 * 7);
    EXPECT_EQ(full.outcome.transferred, full.Be16(0) + 2u);
    EXPECT_EQ(full.Be16(8 + 30), 7);

    VirtualDrive old(DriveKind::OldFirmware);
    EXPECT_EQ(Send(old, cdb, 30).Be16(20), 0x0800);
    maker.SetBufferKiB(0x1234);
    EXPECT_EQ(Send(maker, cdb, 30).Be16(20), 0x1234);

    EXPECT_TRUE(
        FailsWith(Send(maker, Cdb({0x5A, 0x08, 0xEA, 0, 0, 0, 0, 0, 0x1E, 0}), 30), kSavingNotSupported));
    EXPECT_TRUE(
        FailsWith(Send(maker, Cdb({0x5A, 0x08, 0x01, 0, 0, 0, 0, 0, 0x1E, 0}), 30), kInvalidFieldInCdb));
}

TEST(ReportKey, RpcStateCarriesTheRegionMaskInByte5) {
    VirtualDrive drive(DriveKind::Maker);
    const std::vector<uint8_t> cdb = Cdb({0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 0x1E, 0x08, 0});
    for (uint8_t mask : {0x00, 0xFF, 0xDE}) {
        drive.SetRegionMask(mask);
        const Answer answer = Send(drive, cdb, 30);
        ASSERT_TRUE(answer.Good());
        EXPECT_EQ(answer.Be16(0), 6);
        EXPECT_EQ(answer.outcome.transferred, 8u);
        EXPECT_EQ(answer.data[5], mask);
    }
    EXPECT_TRUE(
        FailsWith(Send(drive, Cdb({0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 0x1E, 0x01, 0}), 30), kInvalidFieldInCdb));
}

TEST(GetConfiguration, CurrentProfileOfEveryCatalogueDisc) {
    for (const MediaInfo& media : MediaCatalogue()) {
        VirtualDrive drive = DriveWith(media.name.c_str());
        const Answer answer = Send(drive, kCurrentProfile, 8);
        ASSERT_TRUE(answer.Good()) << media.name;
        EXPECT_EQ(answer.data[7], media.profile) << media.name;
        // The length field tells the whole list even when only 8 bytes were asked for.
        EXPECT_GT(answer.Be32(0), 100u) << media.name;
    }
}

// Walks the feature descriptors as the Book type page does; returns the data of one feature.
std::vector<uint8_t> FeatureData(const Answer& answer, uint16_t code) {
    const uint32_t end = std::min<uint32_t>(answer.Be32(0) + 4, answer.outcome.transferred);
    for (uint32_t at = 8; at + 4 <= end; at += 4 + answer.data[at + 3]) {
        if (answer.Be16(at) == code) {
            return std::vector<uint8_t>(answer.data.begin() + at + 4,
                                        answer.data.begin() + at + 4 + answer.data[at + 3]);
        }
    }
    return {};
}

TEST(GetConfiguration, FeatureListTellsWhetherTheDriveWritesDvdPlusRDl) {
    const std::vector<uint8_t> all = Cdb({0x46, 0, 0, 0, 0, 0, 0, 0x40, 0x00, 0});
    VirtualDrive maker = DriveWith("dvd+r");
    const Answer answer = Send(maker, all, 16384);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.outcome.transferred, answer.Be32(0) + 4);
    ASSERT_FALSE(FeatureData(answer, 0x003B).empty());
    EXPECT_EQ(FeatureData(answer, 0x003B)[0], 0x01);
    EXPECT_EQ(FeatureData(answer, 0x002B)[0] & 0x01, 0x01);

    VirtualDrive old(DriveKind::OldFirmware);
    EXPECT_EQ(FeatureData(Send(old, all, 16384), 0x003B).at(0), 0x00);

    // Request type 2 answers the one feature asked for.
    const Answer one = Send(maker, Cdb({0x46, 0x02, 0x00, 0x3B, 0, 0, 0, 0x01, 0x00, 0}), 256);
    EXPECT_EQ(one.Be32(0), 4u + 4 + 4);
    EXPECT_EQ(one.Be16(8), 0x003B);
}

TEST(GetPerformance, WriteSpeedDescriptorsWithEndLba) {
    const std::vector<uint8_t> cdb = Cdb({0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x03, 0});
    VirtualDrive drive = DriveWith("dvd+r");
    Answer answer = Send(drive, cdb, 200);
    ASSERT_TRUE(answer.Good());
    ASSERT_EQ(answer.Be32(0), 4u + 16 * 7);
    const uint32_t expected[] = {3324, 5540, 8310, 11080, 13850, 16620, 22160};
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(answer.Be32(8 + 16 * i + 4), 2295103u);
        EXPECT_EQ(answer.Be32(8 + 16 * i + 12), expected[i]);
    }

    ASSERT_TRUE(drive.Insert("dvd-r"));
    Send(drive, kTestUnitReady);
    answer = Send(drive, cdb, 200);
    EXPECT_EQ(answer.Be32(8 + 12), 2770u);  // the odd speed comes first

    ASSERT_TRUE(drive.Insert("dvd+r-dl"));
    Send(drive, kTestUnitReady);
    answer = Send(drive, cdb, 200);
    EXPECT_EQ(answer.Be32(8 + 16 * (answer.Be32(0) / 16 - 1) + 4), 4173823u);

    // At most the maximum number of descriptors asked for.
    answer = Send(drive, Cdb({0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x03, 0}), 200);
    EXPECT_EQ(answer.Be32(0), 4u + 16 * 2);

    ASSERT_TRUE(drive.Insert("dvd-rom"));
    Send(drive, kTestUnitReady);
    EXPECT_EQ(Send(drive, cdb, 200).Be32(0), 4u);
    drive.RemoveDisc();
    EXPECT_TRUE(FailsWith(Send(drive, cdb, 200), kNoMedium));
}

const std::vector<uint8_t> kPhysicalFormat = Cdb({0xAD, 0, 0, 0, 0, 0, 0, 0x00, 0x02, 0xBC, 0, 0});
const std::vector<uint8_t> kPrerecorded = Cdb({0xAD, 0, 0, 0, 0, 0, 0, 0x0E, 0x00, 0x2C, 0, 0});
const std::vector<uint8_t> kAdip = Cdb({0xAD, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0x2C, 0, 0});

TEST(ReadDvdStructure, PhysicalFormatBookTypeInByte4) {
    const std::pair<const char*, uint8_t> discs[] = {
        {"dvd+r", 0xA},  {"dvd+rw-recorded", 0x9}, {"dvd-rom", 0x0}, {"dvd-r", 0x2},
        {"dvd-rw", 0x3}, {"dvd+r-dl", 0xE},        {"dvd-ram", 0x1}};
    for (const auto& [media, book] : discs) {
        VirtualDrive drive = DriveWith(media);
        const Answer answer = Send(drive, kPhysicalFormat, 700);
        ASSERT_TRUE(answer.Good()) << media;
        EXPECT_EQ(answer.data[4] >> 4, book) << media;
        EXPECT_EQ(answer.Be16(0), 2050) << media;
        EXPECT_EQ(answer.outcome.transferred, 700u);
    }
    // The book type page asks for 20 bytes into a 100-byte buffer.
    VirtualDrive drive = DriveWith("dvd+rw-recorded");
    EXPECT_EQ(Send(drive, Cdb({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0}), 100).outcome.transferred, 20u);
}

TEST(ReadDvdStructure, DvdRamIdentifiersAt553And601EndWithCarriageReturn) {
    VirtualDrive drive = DriveWith("dvd-ram");
    const Answer answer = Send(drive, kPhysicalFormat, 700);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.Text(553, 16), "ORION DISC CORP\r");
    EXPECT_EQ(answer.data[552], 0);
    EXPECT_EQ(answer.Text(601, 7), "RAM-5X\r");
}

TEST(ReadDvdStructure, PrerecordedAndAdipIdentifiers) {
    VirtualDrive dashR = DriveWith("dvd-r");
    Answer answer = Send(dashR, kPrerecorded, 44);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.outcome.transferred, 44u);
    EXPECT_EQ(answer.Text(21, 6), "PRISMA");
    EXPECT_EQ(answer.Text(29, 6), "DR16G1");
    EXPECT_TRUE(FailsWith(Send(dashR, kAdip, 300), kInvalidFieldInCdb));

    VirtualDrive plusR = DriveWith("dvd+r");
    answer = Send(plusR, kAdip, 300);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.Be16(0), 258);
    EXPECT_EQ(answer.Text(23, 8), "ORIONDSC");
    EXPECT_EQ(answer.Text(31, 3), "R16");
    EXPECT_TRUE(FailsWith(Send(plusR, kPrerecorded, 44), kInvalidFieldInCdb));
}

TEST(ReadDvdStructure, LayersAndMediaWithoutDvdStructures) {
    VirtualDrive dl = DriveWith("dvd+r-dl");
    const Answer answer = Send(dl, Cdb({0xAD, 0, 0, 0, 0, 0, 1, 0, 0x08, 0x04, 0, 0}), 2052);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.Be32(8 + 4), 0xFCFFFFu);   // end of the data area, on layer 1
    EXPECT_EQ(answer.Be32(12 + 4), 0x22D7FFu);  // end of layer 0
    EXPECT_EQ(answer.data[6] & 0x60, 0x20);     // two layers

    VirtualDrive single = DriveWith("dvd+r");
    EXPECT_TRUE(
        FailsWith(Send(single, Cdb({0xAD, 0, 0, 0, 0, 0, 1, 0, 0x02, 0xBC, 0, 0}), 700), kInvalidFieldInCdb));
    VirtualDrive cd = DriveWith("cd-r");
    EXPECT_TRUE(FailsWith(Send(cd, kPhysicalFormat, 700), kCannotReadIncompatibleFormat));
    VirtualDrive empty(DriveKind::Maker);
    EXPECT_TRUE(FailsWith(Send(empty, kAdip, 300), kNoMedium));
}

TEST(ReadDiscInformation, DiscStatusInByte2) {
    const std::vector<uint8_t> cdb = Cdb({0x51, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0});
    VirtualDrive blank = DriveWith("dvd+rw-blank");
    Answer answer = Send(blank, cdb, 255);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.outcome.transferred, 34u);
    EXPECT_EQ(answer.data[2] & 0x03, 0);
    EXPECT_EQ(answer.data[2] & 0x10, 0x10);  // erasable

    VirtualDrive recorded = DriveWith("dvd+rw-recorded");
    EXPECT_EQ(Send(recorded, cdb, 255).data[2] & 0x03, 2);
    VirtualDrive pressed = DriveWith("dvd-rom");
    EXPECT_EQ(Send(pressed, cdb, 255).data[2], 0x0E);  // complete, last session complete, not erasable
}

}  // namespace
}  // namespace dravix::emu::test

namespace dravix::emu::test {
namespace {

// The times a benchmark measures, on the drive's simulated clock: what the drive sleeps is what
// its model gives each command.
struct TimedDrive {
    TimedDrive() : drive(DriveWith("dvd-rom")) {
        drive.SetClock([this] { return static_cast<int64_t>(nowUs / 1000); });
        drive.SetMicrosecondSleeper([this](uint64_t us) { nowUs += us; });
    }
    // The command's answer, and how long it took in microseconds.
    std::pair<Answer, uint64_t> Timed(const std::vector<uint8_t>& cdb, uint32_t length = 0) {
        const uint64_t before = nowUs;
        Answer answer = Send(drive, cdb, length);
        return {answer, nowUs - before};
    }
    uint64_t nowUs = 7'000'000'000;
    VirtualDrive drive;
};

std::vector<uint8_t> Read10(uint32_t lba, uint16_t count) {
    return Cdb({0x28, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
                static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count), 0});
}

const std::vector<uint8_t> kStopDisc = Cdb({0x1B, 0, 0, 0, 0x00, 0});
const std::vector<uint8_t> kStartDisc = Cdb({0x1B, 0, 0, 0, 0x01, 0});

TEST(DriveTimes, ARepeatedReadComesFromTheCacheAtTheInterfaceRate) {
    TimedDrive t;
    t.drive.SetInterfaceKBps(40000);
    ASSERT_TRUE(t.Timed(kTestUnitReady).first.Good());
    const auto [first, fromDisc] = t.Timed(Read10(500000, 32), 32 * 2048);
    ASSERT_TRUE(first.Good());
    const auto [again, fromCache] = t.Timed(Read10(500000, 32), 32 * 2048);
    ASSERT_TRUE(again.Good());
    EXPECT_EQ(again.data, first.data);
    // 65536 bytes at 40,000,000 bytes a second; the first read sought and read the disc.
    EXPECT_EQ(fromCache, 1638u);
    EXPECT_GT(fromDisc, 40000u);
    // Sectors beyond the cached ones need the disc again.
    EXPECT_GT(t.Timed(Read10(500016, 32), 32 * 2048).second, fromCache);
}

TEST(DriveTimes, AStoppedDiscTakesTheSpinDownAndSpinsUpForTheNextRead) {
    TimedDrive t;
    t.drive.SetLatency(LatencyClass::SpinDown, 700);
    t.drive.SetLatency(LatencyClass::SpinUp, 1200);
    ASSERT_TRUE(t.Timed(kTestUnitReady).first.Good());
    ASSERT_TRUE(t.Timed(Read10(1000, 1), 2048).first.Good());
    const auto [stopped, spinDown] = t.Timed(kStopDisc);
    ASSERT_TRUE(stopped.Good());
    EXPECT_EQ(spinDown, 700'000u);
    EXPECT_TRUE(t.drive.State().discStopped);
    // Stopping again takes nothing; the cache went with the spinning disc.
    EXPECT_EQ(t.Timed(kStopDisc).second, 0u);
    const auto [read, spinUpAndRead] = t.Timed(Read10(1000, 1), 2048);
    ASSERT_TRUE(read.Good());
    EXPECT_GE(spinUpAndRead, 1'200'000u);
    EXPECT_LT(spinUpAndRead, 1'200'000u + 200'000u);
    EXPECT_FALSE(t.drive.State().discStopped);
    // START on a stopped disc completes when it is up to speed, on a spinning one at once.
    ASSERT_TRUE(t.Timed(kStopDisc).first.Good());
    EXPECT_EQ(t.Timed(kStartDisc).second, 1'200'000u);
    EXPECT_EQ(t.Timed(kStartDisc).second, 0u);
}

TEST(DriveTimes, TheTrayTakesItsTimeAndALockedDiscStaysIn) {
    TimedDrive t;
    t.drive.SetLatency(LatencyClass::Tray, 900);
    t.drive.SetLatency(LatencyClass::SpinUp, 1200);
    ASSERT_TRUE(t.Timed(kTestUnitReady).first.Good());
    ASSERT_TRUE(t.Timed(Cdb({0x1E, 0, 0, 0, 0x01, 0})).first.Good());
    EXPECT_TRUE(FailsWith(t.Timed(kEject).first, kMediumRemovalPrevented));
    EXPECT_FALSE(t.drive.State().trayOpen);
    ASSERT_TRUE(t.Timed(Cdb({0x1E, 0, 0, 0, 0x00, 0})).first.Good());

    const auto [ejected, eject] = t.Timed(kEject);
    ASSERT_TRUE(ejected.Good());
    EXPECT_EQ(eject, 900'000u);
    const uint64_t loadStarted = t.nowUs;
    const auto [loaded, load] = t.Timed(kLoad);
    ASSERT_TRUE(loaded.Good());
    EXPECT_EQ(load, 900'000u);
    // The disc spins up once the tray is in: ready 2.1 s after the load began.
    t.nowUs = loadStarted + 2'099'000;
    EXPECT_TRUE(FailsWith(t.Timed(kTestUnitReady).first, kBecomingReady));
    t.nowUs = loadStarted + 2'100'000;
    EXPECT_TRUE(FailsWith(t.Timed(kTestUnitReady).first, kMediumMayHaveChanged));
    EXPECT_TRUE(t.Timed(kTestUnitReady).first.Good());
}

}  // namespace
}  // namespace dravix::emu::test
