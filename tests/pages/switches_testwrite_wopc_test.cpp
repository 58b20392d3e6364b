// The Test Write and WOPC pages on a virtual drive: one switch read feeds both, Set writes without
// confirmation and reads back.

#include <QCursor>

#include "pages/TestWrite.h"
#include "pages/Wopc.h"
#include "res/Strings.h"
#include "switches_support.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;

using SwitchPages = SwitchPageFixture;

TEST_F(SwitchPages, OneReadFeedsBothPagesAndOtherValuesChangeNothing) {
    CTestWrite testWrite(services);
    CWOPC wopc(services);
    SwitchReply({0x00, 0x01, 0x00});
    Init(testWrite);
    Init(wopc);
    EXPECT_EQ(Text(&testWrite, 1059), LoadString(121));
    EXPECT_EQ(Text(&testWrite, 1064), LoadString(132));
    EXPECT_EQ(Text(&wopc, 1058), LoadString(120));
    EXPECT_TRUE(ShowsIcon(&testWrite, 1063, 174));
    EXPECT_TRUE(Checked(&testWrite, 1022));
    EXPECT_TRUE(ShowsIcon(&wopc, 1060, 172));
    EXPECT_TRUE(Checked(&wopc, 1033));

    drive.ClearFaults();
    SwitchReply({0x00, 0x00, 0x01});
    Notify(testWrite);
    Notify(wopc);
    EXPECT_TRUE(ShowsIcon(&testWrite, 1063, 175));
    EXPECT_TRUE(Checked(&testWrite, 1023));
    EXPECT_TRUE(ShowsIcon(&wopc, 1060, 173));
    EXPECT_TRUE(Checked(&wopc, 1034));

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

TEST_F(SwitchPages, SetSendsTheSwitchAndReadsBack) {
    CTestWrite testWrite(services);
    Init(testWrite);
    Click(&testWrite, 1022);
    bus.ClearCommands();
    Click(&testWrite, 1015);
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, Vendor(0xFB, {0x02, 0x00, 0x00, 0x01}),
                                                    kVendorOff, kVendorOn, kReadSwitches, kVendorOff}));
    EXPECT_TRUE(prompter->asked.empty());  // no confirmation
    EXPECT_TRUE(ShowsIcon(&testWrite, 1063, 174));
    Click(&testWrite, 1023);
    Click(&testWrite, 1015);
    EXPECT_TRUE(Sent(Vendor(0xFB, {0x02, 0x00, 0x00, 0x00})));
    EXPECT_TRUE(ShowsIcon(&testWrite, 1063, 175));

    CWOPC wopc(services);
    Init(wopc);
    Click(&wopc, 1034);
    Click(&wopc, 1031);
    EXPECT_TRUE(Sent(Vendor(0xFB, {0x03, 0x00, 0x00, 0x01})));
    EXPECT_TRUE(ShowsIcon(&wopc, 1060, 173));
    drive.Restart();
    Notify(wopc);
    EXPECT_TRUE(ShowsIcon(&wopc, 1060, 172));
    Click(&wopc, 1031);
    EXPECT_TRUE(Sent(Vendor(0xFB, {0x03, 0x00, 0x00, 0x00})));
}

TEST_F(SwitchPages, SetWithNeitherButtonCheckedSendsNothing) {
    SwitchReply({0x00, 0x02, 0x05});
    CTestWrite testWrite(services);
    CWOPC wopc(services);
    Init(testWrite);
    Init(wopc);
    bus.ClearCommands();
    Click(&testWrite, 1015);
    Click(&wopc, 1031);
    EXPECT_TRUE(bus.Commands().empty());
    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[0].text, texts::kMustSelectTestWrite);
    EXPECT_EQ(prompter->asked[1].text, texts::kMustSelectWopc);
    EXPECT_EQ(prompter->asked[1].caption, AppTitle());
}

TEST_F(SwitchPages, FailuresShowWhatTheDriveHolds) {
    CTestWrite page(services);
    Init(page);
    Click(&page, 1022);

    // A failed write is read back: the page shows what the drive holds, and the failure.
    Fault(0xFB, 0x02, {});
    Click(&page, 1015);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kSetCommandFail);
    EXPECT_TRUE(Checked(&page, 1023));
    EXPECT_TRUE(ShowsIcon(&page, 1063, 175));
    EXPECT_FALSE(drive.State().vendorMode);

    Fault(0xF1, std::nullopt, {});
    Click(&page, 1015);
    EXPECT_EQ(prompter->asked.back().text, texts::kNotSupportTheDrive);
    EXPECT_EQ(prompter->asked.back().caption, AppTitle());
    Click(&page, 1010);
    EXPECT_EQ(prompter->asked.back().text, LoadString(104));
    EXPECT_EQ(prompter->asked.back().caption, "Error");
}

TEST_F(SwitchPages, TheRefusalIsShownWithoutTheWaitCursor) {
    // The wait cursor belongs to the commands; the message box after a refused vendor mode waits
    // for the user and gets the normal one.
    CWOPC page(services);
    std::vector<bool> waitCursorOverBox;
    prompter->answer = [&](const PromptRecord&) {
        waitCursorOverBox.push_back(page.testAttribute(Qt::WA_SetCursor) &&
                                    page.cursor().shape() == Qt::WaitCursor);
        return PromptAnswer::Ok;
    };
    Fault(0xF1, std::nullopt, {});
    Init(page);
    Click(&page, 1033);
    Click(&page, 1031);
    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[0].text, LoadString(104));
    EXPECT_EQ(prompter->asked[1].text, texts::kNotSupportTheDrive);
    EXPECT_EQ(waitCursorOverBox, (std::vector<bool>{false, false}));
}

}  // namespace
}  // namespace dravix::test
