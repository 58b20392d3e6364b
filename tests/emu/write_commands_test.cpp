// Writing a blank disc: what records and what only simulates, the next writable address, the
// buffer, and the write speed of each strategy.

#include <cmath>

#include "EmuTestSupport.h"
#include "emu/Media.h"

namespace dravix::emu::test {
namespace {

constexpr SenseCode kInvalidAddressForWrite{0x05, 0x21, 0x02};

struct WritingDrive {
    explicit WritingDrive(const char* media, WriteStrategy strategy = WriteStrategy::Auto) {
        DriveState state = FactoryState(DriveKind::Maker);
        state.writeStrategy = strategy;
        state.disc = Disc{media, FindMedia(media)->bookType};
        drive = std::make_unique<VirtualDrive>(state);
        drive->SetClock([this] { return nowMs; });
        drive->SetSleeper([this](uint32_t ms) { nowMs += ms; });
    }
    Answer Write(uint32_t lba, uint16_t count) {
        std::vector<uint8_t> data(size_t{count} * kSectorBytes, 0x5A);
        const std::vector<uint8_t> cdb = Cdb({0x2A, 0, static_cast<uint8_t>(lba >> 24),
                                              static_cast<uint8_t>(lba >> 16), static_cast<uint8_t>(lba >> 8),
                                              static_cast<uint8_t>(lba), 0, static_cast<uint8_t>(count >> 8),
                                              static_cast<uint8_t>(count), 0});
        Answer a;
        a.outcome = drive->Execute(cdb.data(), 10, 1, data.data(), static_cast<uint32_t>(data.size()), 15);
        return a;
    }
    bool SetPageBit(bool on, uint8_t writeType = 1) {
        std::vector<uint8_t> list(8 + 52, 0);
        list[8] = 0x05;
        list[9] = 0x32;
        list[10] = static_cast<uint8_t>((on ? 0x10 : 0) | writeType);
        list[11] = 0x04;
        list[12] = 0x08;
        const std::vector<uint8_t> cdb = Cdb({0x55, 0x10, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(list.size()), 0});
        return drive->Execute(cdb.data(), 10, 1, list.data(), static_cast<uint32_t>(list.size()), 15).kind ==
               ScsiOutcome::Kind::Good;
    }
    bool PageBit() {
        const Answer a = Send(*drive, Cdb({0x5A, 0x08, 0x05, 0, 0, 0, 0, 0, 60, 0}), 60);
        EXPECT_TRUE(a.Good());
        EXPECT_EQ(a.data.at(8) & 0x3F, 0x05);
        return (a.data.at(10) & 0x10) != 0;
    }
    uint8_t DiscStatus() { return Send(*drive, Cdb({0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0}), 34).data.at(2) & 0x03; }
    uint32_t NextWritable() { return Send(*drive, Cdb({0x52, 1, 0, 0, 0, 1, 0, 0, 36, 0}), 36).Be32(12); }
    uint32_t FreeBufferBytes() { return Send(*drive, Cdb({0x5C, 0, 0, 0, 0, 0, 0, 0, 12, 0}), 12).Be32(8); }

    int64_t nowMs = 1'000'000;
    std::unique_ptr<VirtualDrive> drive;
};

TEST(WriteCommands, OnlyTheSimulationOfTheDiscsOwnKindKeepsItBlank) {
    enum class Sim { None, PageBit, Switch, Both };
    struct Case {
        const char* media;
        Sim sim;
        bool ignoresSimulation;
        bool staysBlank;
    };
    const Case cases[] = {
        {"dvd-r", Sim::PageBit, false, true},    {"dvd-rw", Sim::PageBit, false, true},
        {"cd-r", Sim::PageBit, false, true},     {"cd-rw", Sim::PageBit, false, true},
        {"dvd+r", Sim::Switch, false, true},     {"dvd+r-dl", Sim::Switch, false, true},
        {"dvd-r", Sim::None, false, false},      {"dvd+r", Sim::None, false, false},
        {"dvd+r", Sim::PageBit, false, false},   // the page's bit does not simulate on DVD+R
        {"dvd+r-dl", Sim::PageBit, false, false}, {"dvd-r", Sim::Switch, false, false},
        {"dvd+r", Sim::Both, true, false},       {"dvd-r", Sim::Both, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.media) + " case " + std::to_string(static_cast<int>(c.sim)));
        WritingDrive d(c.media);
        d.drive->Update([&](DriveState& s) { s.ignoresSimulation = c.ignoresSimulation; });
        ASSERT_EQ(d.DiscStatus(), 0);
        if (c.sim == Sim::PageBit || c.sim == Sim::Both) {
            ASSERT_TRUE(d.SetPageBit(true));
        }
        if (c.sim == Sim::Switch || c.sim == Sim::Both) d.drive->SetTestWrite(true);
        ASSERT_TRUE(d.Write(0, 32).Good());
        ASSERT_TRUE(d.Write(32, 32).Good());
        ASSERT_TRUE(Send(*d.drive, Cdb({0x35}), 0).Good());
        EXPECT_EQ(d.DiscStatus(), c.staysBlank ? 0 : 1);  // blank / appendable
        EXPECT_EQ(d.NextWritable(), c.staysBlank ? 0u : 64u);
    }
}

TEST(WriteCommands, WritesAreSequentialAndRefusedOnDiscsThatOverwriteOrAreRecorded) {
    WritingDrive d("dvd-r");
    EXPECT_TRUE(FailsWith(d.Write(16, 16), kInvalidAddressForWrite));
    ASSERT_TRUE(d.Write(0, 16).Good());
    EXPECT_TRUE(FailsWith(d.Write(0, 16), kInvalidAddressForWrite));
    EXPECT_TRUE(d.Write(16, 16).Good());
    // In simulation nothing moves the next writable address, but the run goes on where it was.
    ASSERT_TRUE(d.SetPageBit(true));
    EXPECT_TRUE(d.Write(32, 16).Good());
    EXPECT_TRUE(d.Write(48, 16).Good());
    EXPECT_EQ(d.NextWritable(), 32u);
    // Simulation off again: a real write may not leave a gap.
    ASSERT_TRUE(d.SetPageBit(false));
    EXPECT_TRUE(FailsWith(d.Write(64, 16), kInvalidAddressForWrite));

    for (const char* media : {"dvd+rw-blank", "dvd-ram", "dvd+r-recorded", "dvd-rom"}) {
        WritingDrive other(media);
        EXPECT_TRUE(FailsWith(other.Write(0, 16), SenseCode{0x05, 0x30, 0x05})) << media;
    }
}

TEST(WriteCommands, TheWriteParametersPageReadsBackAndARestartClearsItAndTheSwitch) {
    WritingDrive d("dvd-r");
    EXPECT_FALSE(d.PageBit());
    ASSERT_TRUE(d.SetPageBit(true, 2));
    EXPECT_TRUE(d.PageBit());
    EXPECT_FALSE(d.SetPageBit(true, 7));  // no such write type
    EXPECT_TRUE(d.PageBit());
    d.drive->SetTestWrite(true);
    d.drive->Restart();
    ASSERT_TRUE(FailsWith(Send(*d.drive, Cdb({0x00}), 0), kPowerOnReset));
    EXPECT_FALSE(d.PageBit());
    EXPECT_FALSE(d.drive->State().testWrite);
    // After the restart a write records.
    ASSERT_TRUE(d.Write(0, 16).Good());
    EXPECT_EQ(d.DiscStatus(), 1);
}

TEST(WriteCommands, TheBufferFillsWhenTheHostIsFastAndDrainsWhenItWaits) {
    WritingDrive d("dvd+r");
    d.drive->SetTestWrite(true);
    d.drive->SetInterfaceKBps(kMaxInterfaceKBps);
    const uint32_t empty = d.FreeBufferBytes();
    ASSERT_EQ(empty, d.drive->State().bufferKiB * 1024u);
    uint32_t lba = 0;
    for (int i = 0; i < 256; ++i, lba += 16) ASSERT_TRUE(d.Write(lba, 16).Good());  // 8 MiB quickly
    const uint32_t full = d.FreeBufferBytes();
    EXPECT_LT(full, empty / 4);
    d.nowMs += 300;  // the host waits
    EXPECT_GT(d.FreeBufferBytes(), full + empty / 8);
    // SYNCHRONIZE CACHE waits until the buffer is on the disc.
    const int64_t before = d.nowMs;
    ASSERT_TRUE(Send(*d.drive, Cdb({0x35}), 0).Good());
    EXPECT_GT(d.nowMs - before, 50);
    EXPECT_EQ(d.FreeBufferBytes(), empty);
}

// Writes the whole disc in simulation and measures the speed in each eighth of it from the
// drive's clock.
std::vector<double> SpeedsByEighth(const char* media, WriteStrategy strategy, uint32_t speedKBps) {
    WritingDrive d(media, strategy);
    d.drive->SetTestWrite(true);
    EXPECT_TRUE(d.SetPageBit(true));
    const std::vector<uint8_t> setSpeed = Cdb({0xBB, 0, 0xFF, 0xFF, static_cast<uint8_t>(speedKBps >> 8),
                                               static_cast<uint8_t>(speedKBps), 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(Send(*d.drive, setSpeed, 0).Good());
    const MediaInfo& info = *FindMedia(media);
    const uint32_t sectors = info.endLba + 1;
    constexpr uint16_t kChunk = 256;
    std::vector<double> speeds;
    uint32_t lba = 0;
    for (int eighth = 1; eighth <= 8; ++eighth) {
        const uint32_t end = static_cast<uint32_t>(uint64_t{sectors} * eighth / 8);
        const int64_t start = d.nowMs;
        const uint32_t first = lba;
        while (lba < end) {
            const auto count = static_cast<uint16_t>(std::min<uint32_t>(kChunk, end - lba));
            const Answer a = d.Write(lba, count);
            if (!a.Good()) {
                ADD_FAILURE() << "write at " << lba << ": " << std::hex << int(a.Sense().key) << "/"
                              << int(a.Sense().asc) << "/" << int(a.Sense().ascq);
                return {};
            }
            lba += count;
        }
        const double seconds = static_cast<double>(d.nowMs - start) / 1000.0;
        speeds.push_back((lba - first) * double{kSectorBytes} / BytesPerSecondAt1X(info) / seconds);
    }
    return speeds;
}

TEST(WriteCommands, EachStrategyGivesItsCurveAcrossTheDisc) {
    const double k8X = 8 * 1385;
    const std::vector<double> clv = SpeedsByEighth("dvd+r", WriteStrategy::Clv, k8X);
    ASSERT_EQ(clv.size(), 8u);
    for (double s : clv) EXPECT_NEAR(s, 8.0, 0.2);

    const std::vector<double> cav = SpeedsByEighth("dvd-r", WriteStrategy::Cav, k8X);
    ASSERT_EQ(cav.size(), 8u);
    for (size_t i = 1; i < cav.size(); ++i) EXPECT_GT(cav[i], cav[i - 1]);
    EXPECT_LT(cav.front(), 4.5);
    EXPECT_GT(cav.back(), 7.0);

    const std::vector<double> pcav = SpeedsByEighth("dvd-r", WriteStrategy::PartialCav, k8X);
    ASSERT_EQ(pcav.size(), 8u);
    EXPECT_LT(pcav.front(), 6.5);
    EXPECT_NEAR(pcav.back(), 8.0, 0.2);
    EXPECT_NEAR(pcav[6], 8.0, 0.2);

    const std::vector<double> zclv = SpeedsByEighth("dvd+r-dl", WriteStrategy::ZonedClv, k8X);
    ASSERT_EQ(zclv.size(), 8u);
    EXPECT_LT(zclv.front(), 5.5);     // the inner zones of layer 0 below the speed
    for (size_t i = 1; i < 4; ++i) EXPECT_GE(zclv[i], zclv[i - 1]);
    EXPECT_NEAR(zclv[3], 8.0, 0.3);   // the outer zone at full speed
    EXPECT_NEAR(zclv[4], 8.0, 0.3);   // layer 1 starts outside
    EXPECT_NEAR(zclv.back(), zclv.front(), 0.3);  // and ends inside

    const std::vector<double> marginal = SpeedsByEighth("dvd+r", WriteStrategy::Marginal, k8X);
    ASSERT_EQ(marginal.size(), 8u);
    EXPECT_NEAR(marginal[3], 8.0, 0.2);
    EXPECT_NEAR(marginal.back(), 4.0, 0.2);  // slows down on the outer part

    // By the medium: CLV at a low speed, faster P-CAV on DVD and CAV on CD.
    const std::vector<double> slow = SpeedsByEighth("dvd-r", WriteStrategy::Auto, 4 * 1385);
    ASSERT_EQ(slow.size(), 8u);
    EXPECT_NEAR(slow.front(), 4.0, 0.1);
    EXPECT_NEAR(slow.back(), 4.0, 0.1);
    const std::vector<double> cd = SpeedsByEighth("cd-r", WriteStrategy::Auto, 7056);  // 40X
    ASSERT_EQ(cd.size(), 8u);
    EXPECT_LT(cd.front(), 24.0);
    EXPECT_GT(cd.back(), 36.0);
}

}  // namespace
}  // namespace dravix::emu::test
