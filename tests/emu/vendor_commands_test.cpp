// The maker's vendor commands: framing, vendor mode, feature list, option and switch families,
// book types, and what survives a power cycle.

#include "EmuTestSupport.h"
#include "emu/Media.h"

namespace dravix::emu::test {
namespace {

const std::vector<uint8_t> kFeatureList = Vendor(0x1B, {0x0E, 0x00, 0xFF});
const std::vector<uint8_t> kReadOptions = Vendor(0x1B, {0x16, 0x01, 0x04});
const std::vector<uint8_t> kReadSwitches = Vendor(0xFB, {0x00, 0x00, 0x04});

std::vector<uint8_t> LumardWrite(uint8_t unknownDisc, uint8_t supportedDisc) {
    return Vendor(0x1B, {0x16, 0x02, unknownDisc, supportedDisc});
}
std::vector<uint8_t> OverSpeedWrite(uint8_t state) {
    return Vendor(0x1B, {0x16, 0x06, state});
}

class VendorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(drive.Insert("dvd+r"));
        EnterVendorMode(drive);
    }
    std::vector<uint8_t> Options() { return Send(drive, kReadOptions, 12).data; }
    std::vector<uint8_t> Switches() { return Send(drive, kReadSwitches, 12).data; }

    VirtualDrive drive{DriveKind::Maker};
};

TEST(VendorFrame, RefusedOutsideVendorModeWithWrongSignatureOrUnknownFunction) {
    VirtualDrive drive(DriveKind::Maker);
    EXPECT_TRUE(FailsWith(Send(drive, kFeatureList, 255), kInvalidOpcode));
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFF, 0x10, 0x00}), 2), kInvalidOpcode));
    EnterVendorMode(drive);

    std::vector<uint8_t> wrongSignature = kFeatureList;
    wrongSignature[5] = 'M';
    EXPECT_TRUE(FailsWith(Send(drive, wrongSignature, 255), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, Vendor(0x1B, {0x0F}), 255), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, Vendor(0x1B, {0x16, 0x08}), 12), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, Vendor(0xFB, {0x01}), 12), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, Vendor(0x42), 12), kInvalidOpcode));
    EXPECT_TRUE(Send(drive, kFeatureList, 255).Good());

    ASSERT_TRUE(Send(drive, Vendor(0xF2)).Good());
    EXPECT_FALSE(drive.State().vendorMode);
    EXPECT_TRUE(FailsWith(Send(drive, kReadOptions, 12), kInvalidOpcode));
}

TEST(VendorFrame, AnotherMakersDriveRefusesVendorMode) {
    VirtualDrive drive(DriveKind::OtherMaker);
    EXPECT_TRUE(FailsWith(Send(drive, Vendor(0xF1)), kInvalidOpcode));
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFF, 0x10, 0x00}), 2), kInvalidOpcode));
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST(FeatureList, SignatureCountAndCodes) {
    VirtualDrive maker(DriveKind::Maker);
    EnterVendorMode(maker);
    Answer answer = Send(maker, kFeatureList, 255);
    ASSERT_TRUE(answer.Good());
    EXPECT_EQ(answer.Text(0, 4), "ZARN");
    EXPECT_EQ(answer.data[7], 6);
    EXPECT_EQ(std::vector<uint8_t>(answer.data.begin() + 8, answer.data.begin() + 14),
              (std::vector<uint8_t>{1, 2, 3, 5, 6, 7}));
    EXPECT_EQ(answer.outcome.transferred, 14u);

    maker.SetFeatureCodes({5, 1, 4});
    answer = Send(maker, kFeatureList, 255);
    EXPECT_EQ(answer.data[7], 3);
    EXPECT_EQ(answer.data[10], 4);
    maker.SetFeatureCodes({});
    EXPECT_EQ(Send(maker, kFeatureList, 255).data[7], 0);

    // Old firmware accepts vendor mode but its list lacks the signature.
    VirtualDrive old(DriveKind::OldFirmware);
    EnterVendorMode(old);
    answer = Send(old, kFeatureList, 255);
    ASSERT_TRUE(answer.Good());
    EXPECT_NE(answer.Text(0, 4), "ZARN");
    EXPECT_EQ(answer.data[7], 2);
}

TEST_F(VendorTest, OptionStatesTemporaryOverridesPermanent) {
    EXPECT_EQ(Options(), (std::vector<uint8_t>{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_TRUE(Send(drive, OverSpeedWrite(3), 12).Good());
    ASSERT_TRUE(Send(drive, LumardWrite(1, 3), 12).Good());
    EXPECT_EQ(Options()[0], 1);
    EXPECT_EQ(Options()[1], 3);
    EXPECT_EQ(Options()[2], 3);

    // Permanent writes replace the override.
    ASSERT_TRUE(Send(drive, LumardWrite(0, 2), 12).Good());
    EXPECT_EQ(Options()[0], 0);
    EXPECT_EQ(Options()[1], 2);
}

TEST_F(VendorTest, InvalidOptionWriteChangesNothing) {
    EXPECT_TRUE(FailsWith(Send(drive, LumardWrite(3, 4), 12), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, OverSpeedWrite(7), 12), kInvalidFieldInCdb));
    EXPECT_EQ(Options()[0], 2);  // the valid half of the Lumard write was not applied either
    EXPECT_EQ(Options()[2], 0);
}

TEST_F(VendorTest, RestartKeepsPermanentStateAndDropsTheRest) {
    ASSERT_TRUE(
        Send(drive, LumardWrite(1, 2), 12).Good());  // unknown: off until restart; supported: on for good
    ASSERT_TRUE(Send(drive, OverSpeedWrite(3), 12).Good());
    ASSERT_TRUE(Send(drive, Vendor(0xFB, {0x02, 0, 0, 1}), 12).Good());
    ASSERT_TRUE(Send(drive, Vendor(0xFB, {0x03, 0, 0, 1}), 12).Good());
    ASSERT_TRUE(Send(drive, Cdb({0xFE, 0x05, 0x01, 0x00}), 0).Good());
    drive.SetLearnedDiscs({"ORIONDSCR16"});

    drive.Restart();
    EXPECT_FALSE(drive.State().vendorMode);
    EnterVendorMode(drive);
    EXPECT_EQ(Options()[0], 2);
    EXPECT_EQ(Options()[1], 2);
    EXPECT_EQ(Options()[2], 0);
    EXPECT_EQ(Switches()[1], 0);
    EXPECT_EQ(Switches()[2], 0);
    EXPECT_EQ(Send(drive, Cdb({0xFF, 0x10, 0x00}), 2).data[0], 0x01);
    EXPECT_EQ(drive.State().learnedDiscs.size(), 1u);
}

TEST_F(VendorTest, LearnedDiscsCountListAndClear) {
    drive.SetLearnedDiscs({"ORIONDSCR16", "ABCD", "PRISMADR16G1"});
    Answer count = Send(drive, Vendor(0x1B, {0x16, 0x05, 0x02}), 12);
    ASSERT_TRUE(count.Good());
    EXPECT_EQ(count.Be16(0), 3);

    const Answer info = Send(drive, Vendor(0x1B, {0x16, 0x07}), 255);
    ASSERT_TRUE(info.Good());
    EXPECT_EQ(info.Text(0, 4), "ZARN");
    EXPECT_EQ(info.data[5], 0x16);
    EXPECT_EQ(info.data[6], 0x07);
    EXPECT_EQ(info.data[7], 36);
    EXPECT_EQ(info.Text(8, 12), "ORIONDSCR16" + std::string(1, '\0'));
    EXPECT_EQ(info.Text(20, 12), "ABCD" + std::string(8, '\0'));
    EXPECT_EQ(info.Text(32, 12), "PRISMADR16G1");
    EXPECT_EQ(info.outcome.transferred, 44u);

    // A full memory still fits the 255-byte answer.
    drive.SetLearnedDiscs(std::vector<std::string>(kMaxLearnedDiscs, "ID"));
    EXPECT_EQ(Send(drive, Vendor(0x1B, {0x16, 0x07}), 255).data[7], 240);
    // A state set past the limit still gives a record length that fits its byte.
    drive.Update([](DriveState& s) { s.learnedDiscs.assign(30, "X"); });
    EXPECT_EQ(Send(drive, Vendor(0x1B, {0x16, 0x07}), 255).data[7], 240);

    ASSERT_TRUE(Send(drive, Vendor(0x1B, {0x16, 0x03}), 12).Good());
    EXPECT_EQ(Send(drive, Vendor(0x1B, {0x16, 0x05, 0x02}), 12).Be16(0), 0);
    EXPECT_EQ(Send(drive, Vendor(0x1B, {0x16, 0x07}), 255).data[7], 0);
}

TEST_F(VendorTest, TestWriteAndWopcSwitches) {
    EXPECT_EQ(Switches()[1], 0);
    EXPECT_EQ(Switches()[2], 0);
    ASSERT_TRUE(Send(drive, Vendor(0xFB, {0x02, 0, 0, 1}), 12).Good());
    EXPECT_EQ(Switches()[1], 1);
    EXPECT_EQ(Switches()[2], 0);
    ASSERT_TRUE(Send(drive, Vendor(0xFB, {0x03, 0, 0, 1}), 12).Good());
    EXPECT_EQ(Switches()[2], 1);
    ASSERT_TRUE(Send(drive, Vendor(0xFB, {0x02, 0, 0, 0}), 12).Good());
    EXPECT_EQ(Switches()[1], 0);
    EXPECT_TRUE(FailsWith(Send(drive, Vendor(0xFB, {0x03, 0, 0, 2}), 12), kInvalidFieldInCdb));
    EXPECT_EQ(Switches()[2], 1);
}

TEST_F(VendorTest, DriveBookTypesPerRow) {
    const std::vector<uint8_t> readRw = Cdb({0xFF, 0x00, 0x00}), readR = Cdb({0xFF, 0x10, 0x00}),
                               readDl = Cdb({0xFF, 0x10, 0x01});
    EXPECT_EQ(Send(drive, readRw, 2).data[0], 0x92);
    EXPECT_EQ(Send(drive, readR, 2).data[0], 0xA1);
    EXPECT_EQ(Send(drive, readDl, 2).data[0], 0xE1);

    ASSERT_TRUE(Send(drive, Cdb({0xFE, 0x04, 0x01, 0x00})).Good());
    ASSERT_TRUE(Send(drive, Cdb({0xFE, 0x05, 0x01, 0x01})).Good());
    EXPECT_EQ(Send(drive, readRw, 2).data[0], 0x01);
    EXPECT_EQ(Send(drive, readR, 2).data[0], 0xA1);
    EXPECT_EQ(Send(drive, readDl, 2).data[0], 0x01);

    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFE, 0x05, 0x55, 0x00})), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFE, 0x04, 0x92, 0x01})), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFF, 0x20, 0x00}), 2), kInvalidFieldInCdb));
    EXPECT_EQ(Send(drive, readR, 2).data[0], 0xA1);

    // A drive that does not write DVD+R DL has no such row.
    drive.Update([](DriveState& s) { s.writesDvdPlusRDl = false; });
    EXPECT_TRUE(FailsWith(Send(drive, readDl, 2), kInvalidFieldInCdb));
}

TEST_F(VendorTest, LoadedDvdPlusRwBookTypeShowsInPhysicalFormat) {
    const std::vector<uint8_t> bookOfDisc = Cdb({0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0});
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFE, 0x02, 0x01})), kIncompatibleMedium));  // a DVD+R

    ASSERT_TRUE(drive.Insert("dvd+rw-recorded"));
    Send(drive, Cdb({0x00}));
    ASSERT_TRUE(Send(drive, Cdb({0xFE, 0x02, 0x01})).Good());
    EXPECT_EQ(Send(drive, bookOfDisc, 100).data[4], 0x01);
    ASSERT_TRUE(Send(drive, Cdb({0xFE, 0x02, 0x92})).Good());
    EXPECT_EQ(Send(drive, bookOfDisc, 100).data[4] >> 4, 0x9);
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFE, 0x02, 0xA1})), kInvalidFieldInCdb));

    // The book type belongs to the disc: a fresh disc of the same kind starts as DVD+RW.
    ASSERT_TRUE(Send(drive, Cdb({0xFE, 0x02, 0x01})).Good());
    ASSERT_TRUE(drive.Insert("dvd+rw-recorded"));
    Send(drive, Cdb({0x00}));
    EXPECT_EQ(Send(drive, bookOfDisc, 100).data[4], 0x92);

    ASSERT_TRUE(drive.Insert("dvd+rw-blank"));
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFE, 0x02, 0x01})), kIncompatibleMedium));
    drive.RemoveDisc();
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0xFE, 0x02, 0x01})), kNoMedium));
}

TEST_F(VendorTest, TeFeReferenceAndMeasurementFraming) {
    const MediaInfo& media = *FindMedia("dvd+r");
    Answer te = Send(drive, TeFeCdb(0x02, 0x25C000, 0x03), 12);
    ASSERT_TRUE(te.Good());
    EXPECT_EQ(te.data[0], 0);
    EXPECT_EQ(te.Be16(1), media.tefe->teReference);
    EXPECT_EQ(Send(drive, TeFeCdb(0x02, 0x30000, 0x04), 12).Be16(1), media.tefe->feReference);

    const Answer sample = Send(drive, TeFeCdb(16, 0x100000, 0x00), 8);
    ASSERT_TRUE(sample.Good());
    EXPECT_EQ(sample.outcome.transferred, 8u);
    EXPECT_EQ(sample.data[0], 0);
    const TeFeLevels levels = MeasureLevels(media, 0x100000, 16);
    EXPECT_EQ(sample.Be16(1), levels.teRaw);
    EXPECT_EQ(sample.Be16(5), levels.feRaw);
    EXPECT_GT(levels.teRaw, 0);

    EXPECT_TRUE(FailsWith(Send(drive, TeFeCdb(12, 0x100000, 0x00), 8), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, TeFeCdb(20, 0x100000, 0x00), 8), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, TeFeCdb(0x02, 0x25C000, 0x05), 12), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, TeFeCdb(0x00, 0x25C000, 0x03), 12), kInvalidFieldInCdb));
    EXPECT_TRUE(FailsWith(Send(drive, TeFeCdb(16, 0x2FFFF, 0x00), 8), kLbaOutOfRange));
    EXPECT_TRUE(FailsWith(Send(drive, TeFeCdb(16, 0x260540, 0x00), 8), kLbaOutOfRange));
}

TEST(TeFeReference, FailsOnDiscsWithoutRecordingArea) {
    for (const char* media : {"cd-rom", "cd-r", "dvd-rom"}) {
        VirtualDrive drive(DriveKind::Maker);
        ASSERT_TRUE(drive.Insert(media));
        EnterVendorMode(drive);
        EXPECT_TRUE(FailsWith(Send(drive, TeFeCdb(0x02, 0x25C000, 0x03), 12), kIncompatibleMedium)) << media;
    }
    VirtualDrive empty(DriveKind::Maker);
    EnterVendorMode(empty);
    EXPECT_TRUE(FailsWith(Send(empty, TeFeCdb(0x02, 0x25C000, 0x03), 12), kNoMedium));
    empty.Insert("dvd+r");
    empty.Eject();
    EXPECT_TRUE(FailsWith(Send(empty, TeFeCdb(0x02, 0x25C000, 0x03), 12), kNoMedium));
}

}  // namespace
}  // namespace dravix::emu::test
