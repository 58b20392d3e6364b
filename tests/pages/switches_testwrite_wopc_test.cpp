// The Test Write and WOPC pages on a virtual drive: one switch read feeds both, Set writes without
// confirmation and reads back.

#include "pages/TestWrite.h"
#include "pages/Wopc.h"
#include "res/Strings.h"
#include "switches_support.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;

using SwitchPages = SwitchPageFixture;

TEST_F(SwitchPages, OneReadFeedsBothPagesAndOtherValuesChangeNothing) {
    CTestWrite testWrite;
    CWOPC wopc;
    SwitchReply({0x00, 0x01, 0x00});
    testWrite.EnsureInitialised();
    wopc.EnsureInitialised();
    EXPECT_EQ(Text(&testWrite, 1059), LoadString(121));
    EXPECT_EQ(Text(&testWrite, 1064), LoadString(132));
    EXPECT_EQ(Text(&wopc, 1058), LoadString(120));
    EXPECT_TRUE(ShowsIcon(&testWrite, 1063, 174));
    EXPECT_TRUE(Checked(&testWrite, 1022));
    EXPECT_TRUE(ShowsIcon(&wopc, 1060, 172));
    EXPECT_TRUE(Checked(&wopc, 1033));

    drive.ClearFaults();
    SwitchReply({0x00, 0x00, 0x01});
    testWrite.OnSheetNotify();
    wopc.OnSheetNotify();
    EXPECT_TRUE(ShowsIcon(&testWrite, 1063, 175));
    EXPECT_TRUE(Checked(&testWrite, 1023));
    EXPECT_FALSE(Checked(&testWrite, 1022));
    EXPECT_TRUE(ShowsIcon(&wopc, 1060, 173));
    EXPECT_TRUE(Checked(&wopc, 1034));
    EXPECT_FALSE(Checked(&wopc, 1033));

    drive.ClearFaults();
    SwitchReply({0x00, 0x02, 0x05});
    Click(&testWrite, 1010);
    Click(&wopc, 1030);
    EXPECT_TRUE(ShowsIcon(&testWrite, 1063, 175));
    EXPECT_TRUE(Checked(&testWrite, 1023));
    EXPECT_TRUE(ShowsIcon(&wopc, 1060, 173));
    EXPECT_TRUE(Checked(&wopc, 1034));
    EXPECT_TRUE(prompter->asked.empty());
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(SwitchPages, TestWriteSetSendsTheSwitchAndReadsBack) {
    CTestWrite page;
    page.EnsureInitialised();
    ASSERT_TRUE(Checked(&page, 1023));
    Click(&page, 1022);
    bus.ClearCommands();
    Click(&page, 1015);
    const Bytes enable = Vendor(0xFB, {0x02, 0x00, 0x00, 0x01});
    EXPECT_EQ(VendorCommands(),
              (std::vector<Bytes>{kVendorOn, enable, kVendorOff, kVendorOn, kReadSwitches, kVendorOff}));
    EXPECT_TRUE(prompter->asked.empty());  // no confirmation
    EXPECT_TRUE(drive.State().testWrite);
    EXPECT_TRUE(ShowsIcon(&page, 1063, 174));

    Click(&page, 1023);
    Click(&page, 1015);
    EXPECT_TRUE(Sent(Vendor(0xFB, {0x02, 0x00, 0x00, 0x00})));
    EXPECT_FALSE(drive.State().testWrite);
    EXPECT_TRUE(ShowsIcon(&page, 1063, 175));
}

TEST_F(SwitchPages, WopcSetSendsTheDisabledFlagAndARestartEnablesItAgain) {
    CWOPC page;
    page.EnsureInitialised();
    ASSERT_TRUE(Checked(&page, 1033));
    Click(&page, 1034);
    Click(&page, 1031);
    EXPECT_TRUE(Sent(Vendor(0xFB, {0x03, 0x00, 0x00, 0x01})));
    EXPECT_TRUE(drive.State().wopcDisabled);
    EXPECT_TRUE(ShowsIcon(&page, 1060, 173));

    drive.Restart();
    page.OnSheetNotify();
    EXPECT_TRUE(ShowsIcon(&page, 1060, 172));
    EXPECT_TRUE(Checked(&page, 1033));

    Click(&page, 1031);
    EXPECT_TRUE(Sent(Vendor(0xFB, {0x03, 0x00, 0x00, 0x00})));
}

TEST_F(SwitchPages, SetWithNeitherButtonCheckedSendsNothing) {
    SwitchReply({0x00, 0x02, 0x05});
    CTestWrite testWrite;
    CWOPC wopc;
    testWrite.EnsureInitialised();
    wopc.EnsureInitialised();
    bus.ClearCommands();
    Click(&testWrite, 1015);
    Click(&wopc, 1031);
    EXPECT_TRUE(bus.Commands().empty());
    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[0].text, texts::kMustSelectTestWrite);
    EXPECT_EQ(prompter->asked[1].text, texts::kMustSelectWopc);
    EXPECT_EQ(prompter->asked[1].caption, AppTitle());
    EXPECT_FALSE(HasIcon(&testWrite, 1063));
}

TEST_F(SwitchPages, FailuresLeaveThePageAsItWas) {
    CTestWrite page;
    page.EnsureInitialised();
    Click(&page, 1022);

    Fail(0xFB, 0x02);
    Click(&page, 1015);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kSetCommandFail);
    EXPECT_TRUE(Checked(&page, 1022));         // the proposal stays: no read after a failed write
    EXPECT_TRUE(ShowsIcon(&page, 1063, 175));  // the drive's state as last read
    EXPECT_FALSE(drive.State().vendorMode);

    Fail(0xF1, std::nullopt);
    Click(&page, 1015);
    EXPECT_EQ(prompter->asked.back().text, texts::kNotSupportTheDrive);
    EXPECT_EQ(prompter->asked.back().caption, AppTitle());
    Click(&page, 1010);
    EXPECT_EQ(prompter->asked.back().text, LoadString(104));
    EXPECT_EQ(prompter->asked.back().caption, "Error");
    EXPECT_EQ(prompter->asked.size(), 3u);
}

TEST_F(SwitchPages, PagesFollowTheDriveChosenInTheMainWindow) {
    emu::VirtualDrive& second = bus.AddDrive();
    second.SetTestWrite(true);
    CTestWrite page;
    page.EnsureInitialised();
    EXPECT_TRUE(ShowsIcon(&page, 1063, 175));
    State().selectedDriveIndex = 1;
    page.OnSheetNotify();
    EXPECT_TRUE(ShowsIcon(&page, 1063, 174));
}

}  // namespace
}  // namespace dravix::test
