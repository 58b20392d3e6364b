// The TE/FE model judged the way the scan reads it: references, per cent of reference, limits
// 27 % (TE) and 18 % (FE), the scan's sample positions and the Smart report's points.

#include "EmuTestSupport.h"
#include "emu/Media.h"

namespace dravix::emu::test {
namespace {

constexpr int32_t kSingleLastLba = 2295103;
constexpr int32_t kDualLastLba = 4173823;
constexpr int32_t kLayerBreakLba = 2086912;

class Scanner {
  public:
    explicit Scanner(const char* media) : m_dual(FindMedia(media)->dualLayer) {
        EXPECT_TRUE(m_drive.Insert(media));
        EnterVendorMode(m_drive);
        m_teReference = Reference(m_dual ? 0x220000 : 0x25C000, 0x03);
        m_feReference = Reference(0x30000, 0x04);
    }

    // True when every sample of the range is within the limits; records the first failure.
    bool Scan(uint8_t speed, int32_t start, int32_t endBase, int32_t baseStep) {
        firstFailingLba = -1;
        samples = 0;
        const int32_t lastLba = m_dual ? kDualLastLba : kSingleLastLba;
        for (int32_t pos = start; pos < endBase - 16384; pos += Step(pos, baseStep, lastLba)) {
            uint32_t psn = (m_dual && pos >= kLayerBreakLba) ? pos + 0xBD5000 : pos + 0x30000;
            if (m_dual && psn >= 0x229800 && psn <= 0xDD0000) psn = 0x229800;
            ++samples;
            if (!Within(speed, psn) && firstFailingLba < 0) firstFailingLba = pos;
        }
        return firstFailingLba < 0;
    }

    bool Normal(uint8_t speed) { return Scan(speed, 0, m_dual ? kDualLastLba : kSingleLastLba, 0xC000); }

    bool Smart(uint8_t speed) {
        std::vector<uint32_t> points{0x260000};
        if (m_dual) {
            points = {0x220000, 0x225000, 0xDD3000, 0xDD3500};
        } else if (speed >= 18) {
            points = {0x220000, 0x225000};
        }
        for (uint32_t psn : points) {
            if (!Within(speed, psn)) return false;
        }
        return true;
    }

    int32_t firstFailingLba = -1;
    int samples = 0;

  private:
    uint16_t Reference(uint32_t psn, uint8_t kind) {
        const Answer answer = Send(m_drive, TeFeCdb(0x02, psn, kind), 12);
        EXPECT_TRUE(answer.Good());
        EXPECT_NE(answer.Be16(1), 0);
        return answer.Be16(1);
    }

    bool Within(uint8_t speed, uint32_t psn) {
        const Answer answer = Send(m_drive, TeFeCdb(speed, psn, 0x00), 8);
        EXPECT_TRUE(answer.Good()) << std::hex << psn;
        EXPECT_EQ(answer.data[0], 0);
        const auto te = static_cast<uint16_t>(answer.Be16(1) * 100u / m_teReference);
        const auto fe = static_cast<uint16_t>(answer.Be16(5) * 100u / m_feReference);
        return te <= 27 && fe <= 18;
    }

    int32_t Step(int32_t pos, int32_t base, int32_t lastLba) const {
        const int32_t zone =
            m_dual ? (pos < kLayerBreakLba ? pos / 208691 : 10 - (pos - kLayerBreakLba) / 208691)
                   : pos / (lastLba / 10);
        if (zone < 5) return base;
        if (zone <= 8) return (base + 16384) / 2;
        return 16384;
    }

    VirtualDrive m_drive{DriveKind::Maker};
    bool m_dual;
    uint16_t m_teReference = 0;
    uint16_t m_feReference = 0;
};

struct Expectation {
    const char* media;
    std::vector<uint8_t> fit;
    std::vector<uint8_t> unfit;
};

const Expectation kExpectations[] = {
    {"dvd+r", {13, 14, 15, 16, 17, 18}, {19}},
    {"dvd+r-marginal", {13, 14, 15, 16, 17}, {18, 19}},
    {"dvd+r-bad", {}, {13, 14, 15, 16, 17, 18, 19}},
    {"dvd+r-dl", {13, 14, 15}, {16}},
    {"dvd-r", {14, 16}, {19}},
};

TEST(TeFeModel, NormalScanVerdictPerDiscAndSpeed) {
    for (const Expectation& e : kExpectations) {
        Scanner scanner(e.media);
        for (uint8_t speed : e.fit)
            EXPECT_TRUE(scanner.Normal(speed)) << e.media << " at code " << int(speed);
        for (uint8_t speed : e.unfit)
            EXPECT_FALSE(scanner.Normal(speed)) << e.media << " at code " << int(speed);
    }
}

TEST(TeFeModel, SmartReportVerdictPerDiscAndSpeed) {
    for (const Expectation& e : kExpectations) {
        Scanner scanner(e.media);
        for (uint8_t speed : e.fit) EXPECT_TRUE(scanner.Smart(speed)) << e.media << " at code " << int(speed);
        for (uint8_t speed : e.unfit)
            EXPECT_FALSE(scanner.Smart(speed)) << e.media << " at code " << int(speed);
    }
}

TEST(TeFeModel, FullAndQuickAgreeWithNormal) {
    Scanner good("dvd+r");
    EXPECT_TRUE(good.Scan(18, 0, kSingleLastLba, 0x4000));
    EXPECT_EQ(good.samples, 140);
    EXPECT_FALSE(good.Scan(19, 1878221, kSingleLastLba, 0xC000));
    EXPECT_EQ(good.samples, 19);
    Scanner bad("dvd+r-bad");
    EXPECT_FALSE(bad.Scan(13, 1878221, kSingleLastLba, 0xC000));
    EXPECT_FALSE(bad.Scan(13, 0, kSingleLastLba, 0x4000));
    Scanner dl("dvd+r-dl");
    EXPECT_TRUE(dl.Scan(15, 0, kDualLastLba, 0x4000));
    EXPECT_EQ(dl.samples, 254);
}

TEST(TeFeModel, HighSpeedFailuresLieInTheOuterZone) {
    Scanner good("dvd+r");
    ASSERT_FALSE(good.Normal(19));
    EXPECT_GT(good.firstFailingLba, kSingleLastLba * 7 / 10);
    Scanner marginal("dvd+r-marginal");
    ASSERT_FALSE(marginal.Normal(18));
    EXPECT_GT(marginal.firstFailingLba, kSingleLastLba * 7 / 10);
    // The bad disc fails well inside, on its defect spots.
    Scanner bad("dvd+r-bad");
    ASSERT_FALSE(bad.Normal(13));
    EXPECT_LT(bad.firstFailingLba, kSingleLastLba / 2);
    // On DVD+R DL the outer zone of layer 0 comes first.
    Scanner dl("dvd+r-dl");
    ASSERT_FALSE(dl.Normal(16));
    EXPECT_GT(dl.firstFailingLba, kLayerBreakLba * 7 / 10);
    EXPECT_LT(dl.firstFailingLba, kLayerBreakLba);
}

TEST(TeFeModel, RadialPositionFollowsEachLayer) {
    const MediaInfo& single = *FindMedia("dvd+r");
    EXPECT_DOUBLE_EQ(*RadialPosition(single, 0x30000), 0.0);
    EXPECT_GT(*RadialPosition(single, 0x26053F), 0.999);
    EXPECT_FALSE(RadialPosition(single, 0x260540));
    EXPECT_FALSE(RadialPosition(single, 0xDD2800));

    const MediaInfo& dual = *FindMedia("dvd+r-dl");
    EXPECT_GT(*RadialPosition(dual, 0x22D7FF), 0.999);  // end of layer 0, at the outer edge
    EXPECT_GT(*RadialPosition(dual, 0xDD2800), 0.999);  // start of layer 1, at the outer edge too
    EXPECT_DOUBLE_EQ(*RadialPosition(dual, 0xFCFFFF), 0.0);
    EXPECT_FALSE(RadialPosition(dual, 0x22D800));
    EXPECT_FALSE(RadialPosition(dual, 0xDD0000));
}

}  // namespace
}  // namespace dravix::emu::test
