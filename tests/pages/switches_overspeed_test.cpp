// The OverSpeed page and the setting-scope dialog on a virtual drive.

#include <QRadioButton>

#include "pages/OverSpeed.h"
#include "pages/SettingScopeDialog.h"
#include "res/Strings.h"
#include "switches_support.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;

using OverSpeedPage = SwitchPageFixture;

constexpr int kIcon = COverSpeed::kStatusIconId;

TEST_F(OverSpeedPage, ShowsTheDrivesStateOnEveryReadAndIgnoresOtherValues) {
    drive.SetOption(emu::OptionKind::OverSpeed, 3);
    COverSpeed page;
    page.EnsureInitialised();
    EXPECT_EQ(Text(&page, COverSpeed::kNoteId), LoadString(135));
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 181));
    EXPECT_TRUE(Checked(&page, 1074));
    EXPECT_FALSE(Checked(&page, 1075));

    drive.SetOption(emu::OptionKind::OverSpeed, 1);
    page.OnSheetNotify();
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 180));
    EXPECT_FALSE(Checked(&page, 1074));
    EXPECT_TRUE(Checked(&page, 1075));

    OptionReply({0x02, 0x00, 0x07});
    Click(&page, 1073);
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 180));
    EXPECT_TRUE(Checked(&page, 1075));
    EXPECT_TRUE(prompter->asked.empty());
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(OverSpeedPage, ReadFailureAndRefusedVendorMode) {
    Fail(0x1B, 0x16, {{7, 0x01}});
    COverSpeed page;
    page.EnsureInitialised();
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kSetCommandFail);
    EXPECT_EQ(prompter->asked[0].caption, AppTitle());
    EXPECT_FALSE(HasIcon(&page, kIcon));
    EXPECT_FALSE(drive.State().vendorMode);  // off follows the failure

    Fail(0xF1, std::nullopt);
    page.OnSheetNotify();
    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[1].caption, "Error");
    EXPECT_EQ(prompter->asked[1].text, LoadString(104));
}

TEST_F(OverSpeedPage, EnableTemporarilyWarnsConfirmsAndWritesThree) {
    COverSpeed page;
    page.EnsureInitialised();
    ASSERT_TRUE(Checked(&page, 1075));
    Click(&page, 1074);
    dialogScript.click = 1010;
    bus.ClearCommands();
    Click(&page, 1076);

    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[0].caption, "Warning");
    EXPECT_EQ(prompter->asked[0].text, texts::kOverSpeedWarning);
    EXPECT_EQ(prompter->asked[0].icon, PromptIcon::Exclamation);
    EXPECT_EQ(prompter->asked[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(prompter->asked[1].caption, "Confirm");
    EXPECT_EQ(prompter->asked[1].text, texts::kConfirmTemporary);
    EXPECT_EQ(prompter->asked[1].buttons, PromptButtons::YesNo);
    EXPECT_EQ(dialogScript.runs, 1);
    EXPECT_TRUE(dialogScript.buttonsEnabled);
    EXPECT_EQ(dialogScript.text1077, LoadString(133));
    EXPECT_EQ(dialogScript.text1078, LoadString(134));

    // The write, then the page's read of what the drive now holds.
    const std::vector<Bytes> vendor = VendorCommands();
    const std::vector<Bytes> expected = {kVendorOn, OverSpeedWrite(0x03), kVendorOff,
                                         kVendorOn, kReadOptions,         kVendorOff};
    EXPECT_EQ(vendor, expected);
    EXPECT_EQ(drive.State().options[2].Reported(), 3);
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 181));

    // A restart drops the temporary value; the next read shows it.
    drive.Restart();
    page.OnSheetNotify();
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 180));
    EXPECT_TRUE(Checked(&page, 1075));
}

TEST_F(OverSpeedPage, DisablePermanentlyAsksNoWarningAndWritesZero) {
    drive.SetOption(emu::OptionKind::OverSpeed, 2);
    COverSpeed page;
    page.EnsureInitialised();
    Click(&page, 1075);
    dialogScript.click = 1015;
    Click(&page, 1076);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kConfirmPermanent);
    EXPECT_TRUE(Sent(OverSpeedWrite(0x00)));
    drive.Restart();
    page.OnSheetNotify();
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 180));
    EXPECT_EQ(drive.State().options[2].permanent, 0);
}

TEST_F(OverSpeedPage, DeclinedWarningAndNoChoiceSendNothing) {
    OptionReply({0x02, 0x00, 0x09});
    COverSpeed page;
    page.EnsureInitialised();
    ASSERT_FALSE(Checked(&page, 1074));
    ASSERT_FALSE(Checked(&page, 1075));
    bus.ClearCommands();
    Click(&page, 1076);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kMustSelectOverSpeed);
    EXPECT_EQ(prompter->asked[0].caption, AppTitle());
    EXPECT_TRUE(bus.Commands().empty());

    Click(&page, 1074);
    prompter->answer = [](const PromptRecord&) { return PromptAnswer::No; };
    Click(&page, 1076);
    EXPECT_EQ(prompter->asked.back().text, texts::kOverSpeedWarning);
    EXPECT_EQ(dialogScript.runs, 0);
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_TRUE(Checked(&page, 1074));
    EXPECT_FALSE(HasIcon(&page, kIcon));
}

TEST_F(OverSpeedPage, ClosingTheDialogWritesNothingButTheStateIsReadAgain) {
    COverSpeed page;
    page.EnsureInitialised();
    Click(&page, 1074);
    dialogScript.click = 0;
    bus.ClearCommands();
    Click(&page, 1076);
    EXPECT_EQ(dialogScript.runs, 1);
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kReadOptions, kVendorOff}));
    EXPECT_TRUE(Checked(&page, 1075));  // the proposal gave way to the drive's state
}

// The dialog on its own, as the OverSpeed or the Lumard page opens it.
using ScopeDialog = SwitchPageFixture;

ScopeRequest OverSpeedRequest(bool on) {
    ScopeRequest request;
    request.forOverSpeed = true;
    request.overSpeedOn = on;
    return request;
}

TEST_F(ScopeDialog, OverSpeedWriteWaitsUntilTheTrayIsEmpty) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    int notes = 0;
    prompter->answer = [&](const PromptRecord& r) {
        if (r.caption == "NOTE" && ++notes == 2) drive.RemoveDisc();  // the user takes the disc out
        return r.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    };
    SettingScopeDialog dialog(OverSpeedRequest(true));
    bus.ClearCommands();
    dialog.findChild<QPushButton*>(ControlName(1015))->click();

    EXPECT_EQ(notes, 2);
    for (const PromptRecord& r : prompter->asked) {
        if (r.caption == "NOTE") {
            EXPECT_EQ(r.text, texts::kRemoveMedia);
        }
    }
    const Bytes open = {0x1B, 0, 0, 0, 0x02, 0};
    const Bytes close = {0x1B, 0, 0, 0, 0x03, 0};
    EXPECT_EQ(CountSent(open), 2u);
    EXPECT_EQ(CountSent(close), 2u);
    EXPECT_TRUE(Sent(OverSpeedWrite(0x02)));
    EXPECT_FALSE(drive.State().disc.has_value());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ScopeDialog, LumardWriteDoesNotLookAtTheTray) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    ScopeRequest request;
    request.forLumard = true;
    request.supportedDiscOn = true;
    request.unknownDiscOff = true;
    {
        SettingScopeDialog dialog(request);
        bus.ClearCommands();
        dialog.findChild<QPushButton*>(ControlName(1010))->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, LumardWrite(0x01, 0x03), kVendorOff}));
    for (const Bytes& cdb : bus.Commands()) EXPECT_NE(cdb[0], 0x1B) << "the tray moved";
    EXPECT_TRUE(drive.State().disc.has_value());

    SettingScopeDialog dialog(request);
    dialog.findChild<QPushButton*>(ControlName(1015))->click();
    EXPECT_TRUE(Sent(LumardWrite(0x00, 0x02)));
    // A pair with neither button checked is written as 0.
    request.unknownDiscOff = false;
    EXPECT_EQ(ScopeWriteFor(request, SettingScope::Temporary).byte8, 0);
    EXPECT_EQ(ScopeWriteFor(request, SettingScope::Temporary).byte9, 3);
}

TEST_F(ScopeDialog, DeclinedConfirmationAndRefusedVendorModeKeepTheDialogOpen) {
    SettingScopeDialog dialog(OverSpeedRequest(true));
    bus.ClearCommands();
    prompter->answer = [](const PromptRecord&) { return PromptAnswer::No; };
    dialog.findChild<QPushButton*>(ControlName(1010))->click();
    EXPECT_EQ(prompter->asked.size(), 1u);
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    prompter->answer = nullptr;
    Fail(0xF1, std::nullopt);
    dialog.findChild<QPushButton*>(ControlName(1010))->click();
    EXPECT_EQ(prompter->asked.back().text, texts::kNotSupportTheDrive);
    EXPECT_EQ(prompter->asked.back().caption, AppTitle());
    EXPECT_FALSE(Sent(OverSpeedWrite(0x03)));
    EXPECT_FALSE(Sent(kVendorOff));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(ScopeDialog, FailedWriteIsReportedAndStillCloses) {
    Fail(0x1B, 0x16, {{7, 0x06}});
    SettingScopeDialog dialog(OverSpeedRequest(false));
    dialog.findChild<QPushButton*>(ControlName(1010))->click();
    EXPECT_EQ(prompter->asked.back().text, texts::kSetCommandFail);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST(ScopeDialogWithoutDrive, ButtonsAreDisabled) {
    VirtualBus bus;  // no drive behind it
    auto prompter = std::make_shared<ScriptedPrompter>();
    SetPrompter(prompter);
    SettingScopeDialog dialog(OverSpeedRequest(true));
    EXPECT_FALSE(dialog.findChild<QPushButton*>(ControlName(1010))->isEnabled());
    EXPECT_FALSE(dialog.findChild<QPushButton*>(ControlName(1015))->isEnabled());
    SetPrompter(nullptr);
}

}  // namespace
}  // namespace dravix::test
