// The OverSpeed page and the setting-scope dialog on a virtual drive.

#include <QApplication>

#include "pages/Lumard.h"
#include "pages/OverSpeed.h"
#include "pages/SettingScopeDialog.h"
#include "res/Strings.h"
#include "switches_support.h"
#include "ui/DriveSequence.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;

using OverSpeedPage = SwitchPageFixture;

constexpr int kIcon = COverSpeed::kStatusIconId;

TEST_F(OverSpeedPage, ShowsTheDrivesStateOnEveryReadAndIgnoresOtherValues) {
    drive.SetOption(emu::OptionKind::OverSpeed, 3);
    COverSpeed page(services);
    Init(page);
    EXPECT_EQ(Text(&page, COverSpeed::kNoteId), LoadString(135));
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 181));
    EXPECT_TRUE(Checked(&page, 1074));

    drive.SetOption(emu::OptionKind::OverSpeed, 1);
    Notify(page);
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

// The status icons of both pages that show a switch written until a restart or for good: each
// tip from the drive's own byte for it; a value that says neither makes no claim.
TEST_F(OverSpeedPage, StatusIconTipsTellWhetherTheDriveKeepsItsStateAfterARestart) {
    struct Row {
        uint8_t state;
        const char* tip;
    };
    const Row rows[] = {{3, "on until the computer restarts"},
                        {2, "on, kept after a restart"},
                        {1, "off until the computer restarts"},
                        {0, "off, kept after a restart"}};
    auto tip = [](const QWidget* page, int id) {
        return page->findChild<QLabel*>(ControlName(id))->toolTip();
    };
    COverSpeed overSpeed(services);
    CSLWS lumard(services);
    Init(overSpeed);
    Init(lumard);
    for (size_t i = 0; i < std::size(rows); ++i) {
        // Each of the three switches in another row, so that a byte read for another shows.
        const Row& os = rows[i];
        const Row& supported = rows[(i + 1) % std::size(rows)];
        const Row& unknown = rows[(i + 2) % std::size(rows)];
        SCOPED_TRACE(os.tip);
        drive.SetOption(emu::OptionKind::OverSpeed, os.state);
        drive.SetOption(emu::OptionKind::SupportedDisc, supported.state);
        drive.SetOption(emu::OptionKind::UnknownDisc, unknown.state);
        Notify(overSpeed);
        Notify(lumard);
        EXPECT_EQ(tip(&overSpeed, kIcon), os.tip);
        EXPECT_EQ(tip(&lumard, CSLWS::kSupportedIconId), supported.tip);
        EXPECT_EQ(tip(&lumard, CSLWS::kUnknownIconId), unknown.tip);
    }

    OptionReply({0x07, 0x05, 0x09});
    Notify(overSpeed);
    Notify(lumard);
    EXPECT_EQ(tip(&overSpeed, kIcon), "");
    EXPECT_EQ(tip(&lumard, CSLWS::kSupportedIconId), "");
    EXPECT_EQ(tip(&lumard, CSLWS::kUnknownIconId), "");
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(OverSpeedPage, TemporaryWriteIsGoneAfterARestartPermanentOneStays) {
    COverSpeed page(services);
    Init(page);
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
    EXPECT_TRUE(dialogScript.buttonsEnabled);
    EXPECT_EQ(dialogScript.text1077, LoadString(133));
    EXPECT_EQ(dialogScript.text1078, LoadString(134));
    // The write, then the page's read of what the drive now holds.
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, OverSpeedWrite(0x03), kVendorOff, kVendorOn,
                                                    kReadOptions, kVendorOff}));
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 181));

    drive.Restart();
    Notify(page);
    EXPECT_TRUE(ShowsIcon(&page, kIcon, 180));

    // "Disable (Default)" asks no warning.
    Click(&page, 1075);
    dialogScript.click = 1015;
    prompter->asked.clear();
    Click(&page, 1076);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kConfirmPermanent);
    EXPECT_TRUE(Sent(OverSpeedWrite(0x00)));
}

TEST_F(OverSpeedPage, NoChoiceOrDeclinedWarningSendsNothing) {
    OptionReply({0x02, 0x00, 0x09});
    COverSpeed page(services);
    Init(page);
    ASSERT_FALSE(Checked(&page, 1074) || Checked(&page, 1075));
    bus.ClearCommands();
    Click(&page, 1076);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kMustSelectOverSpeed);
    EXPECT_EQ(prompter->asked[0].caption, AppTitle());

    Click(&page, 1074);
    prompter->answer = [](const PromptRecord&) { return PromptAnswer::No; };
    Click(&page, 1076);
    EXPECT_EQ(prompter->asked.back().text, texts::kOverSpeedWarning);
    EXPECT_EQ(dialogScript.runs, 0);
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_TRUE(Checked(&page, 1074));
}

TEST_F(OverSpeedPage, ClosingTheDialogWritesNothingAndTheStateIsReadAgain) {
    COverSpeed page(services);
    Init(page);
    Click(&page, 1074);
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

// Clicks a button of the dialog once it has found its drives, and lets the write run to its end.
void Press(SettingScopeDialog& dialog, int id) {
    EXPECT_TRUE(Settle(dialog));
    dialog.findChild<QPushButton*>(ControlName(id))->click();
    EXPECT_TRUE(Settle(dialog));
}

TEST_F(ScopeDialog, OverSpeedWriteWaitsUntilTheTrayIsEmpty) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    int notes = 0;
    prompter->answer = [&](const PromptRecord& r) {
        if (r.caption == "NOTE") {
            EXPECT_EQ(r.text, texts::kRemoveMedia);
            if (++notes == 2) drive.RemoveDisc();  // the user takes the disc out
        }
        return r.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    };
    SettingScopeDialog dialog(services, OverSpeedRequest(true));
    ASSERT_TRUE(Settle(dialog));  // it has found its drives
    bus.ClearCommands();
    Press(dialog, 1015);

    EXPECT_EQ(notes, 2);
    EXPECT_EQ(CountSent({0x1B, 0, 0, 0, 0x02, 0}), 2u);  // opened
    EXPECT_EQ(CountSent({0x1B, 0, 0, 0, 0x03, 0}), 2u);  // closed
    EXPECT_TRUE(Sent(OverSpeedWrite(0x02)));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(ScopeDialog, OverSpeedWriteGivesUpOnADriveThatCannotSayWhetherADiscIsIn) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    emu::FaultRule broken;
    broken.opcode = 0x00;  // every TEST UNIT READY: hardware error
    broken.sense = {0x04, 0x44, 0x00};
    drive.AddFault(broken);
    SettingScopeDialog dialog(services, OverSpeedRequest(true));
    ASSERT_TRUE(Settle(dialog));  // it has found its drives
    bus.ClearCommands();
    Press(dialog, 1010);
    EXPECT_EQ(prompter->asked.back().text, texts::kSetCommandFail);
    EXPECT_EQ(std::count_if(prompter->asked.begin(), prompter->asked.end(),
                            [](const PromptRecord& r) { return r.caption == "NOTE"; }),
              0);
    EXPECT_TRUE(VendorCommands().empty());          // nothing written
    EXPECT_EQ(dialog.result(), QDialog::Rejected);  // still open
}

TEST_F(ScopeDialog, LumardWriteDoesNotLookAtTheTray) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    ScopeRequest request;
    request.forLumard = true;
    request.supportedDiscOn = true;
    request.unknownDiscOff = true;
    SettingScopeDialog temporary(services, request);
    ASSERT_TRUE(Settle(temporary));  // it has found its drives
    bus.ClearCommands();
    Press(temporary, 1010);
    EXPECT_EQ(temporary.result(), QDialog::Accepted);
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, LumardWrite(0x01, 0x03), kVendorOff}));
    EXPECT_EQ(CountSent({0x1B, 0, 0, 0, 0x02, 0}), 0u);

    SettingScopeDialog permanent(services, request);
    Press(permanent, 1015);
    EXPECT_TRUE(Sent(LumardWrite(0x00, 0x02)));
}

TEST_F(ScopeDialog, DeclinedConfirmationRefusalAndFailure) {
    SettingScopeDialog dialog(services, OverSpeedRequest(true));
    ASSERT_TRUE(Settle(dialog));  // it has found its drives
    bus.ClearCommands();
    prompter->answer = [](const PromptRecord&) { return PromptAnswer::No; };
    Press(dialog, 1010);
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);

    prompter->answer = nullptr;
    Fault(0xF1, std::nullopt, {});
    Press(dialog, 1010);
    EXPECT_EQ(prompter->asked.back().text, texts::kNotSupportTheDrive);
    EXPECT_EQ(prompter->asked.back().caption, AppTitle());
    EXPECT_FALSE(Sent(OverSpeedWrite(0x03)));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);  // still open

    // A failed write closes the dialog too: whether the drive took it, the page's read tells.
    drive.ClearFaults();
    Fault(0x1B, 0x16, {{7, 0x06}});
    prompter->asked.clear();
    Press(dialog, 1010);
    EXPECT_TRUE(prompter->asked.size() == 1u && prompter->asked[0].text == texts::kConfirmTemporary);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_TRUE(dialog.Written());
    EXPECT_FALSE(dialog.WriteCompleted());
    EXPECT_FALSE(drive.State().vendorMode);
}

// "Drive activating..." has a line of its own: it covers no button or text, lies within the
// dialog, and the dialog keeps its size when it shows.
TEST_F(ScopeDialog, TheDriveStatusCoversNothing) {
    SettingScopeDialog dialog(services, OverSpeedRequest(true));
    dialog.show();
    ASSERT_TRUE(Settle(dialog));
    const QSize before = dialog.size();
    dialog.findChild<DriveSequence*>()->ShowStatus(QString::fromUtf8(kStatusDriveActivating));
    QApplication::processEvents();
    const auto* status = dialog.findChild<QLabel*>(QStringLiteral("driveStatus"));
    ASSERT_NE(status, nullptr);
    ASSERT_TRUE(status->isVisible());
    EXPECT_TRUE(dialog.rect().contains(status->geometry()));
    for (const QWidget* control : dialog.findChildren<QWidget*>()) {
        if (control == status || !control->isVisible()) continue;
        EXPECT_FALSE(status->geometry().intersects(control->geometry())) << control->objectName().toStdString();
        // Every text gets the height its lines need at its width.
        if (const auto* label = qobject_cast<const QLabel*>(control)) {
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
        }
    }
    EXPECT_EQ(dialog.size(), before);
}

TEST(ScopeDialogWithoutDrive, ButtonsAreDisabled) {
    VirtualBus bus;  // no drive behind it
    AppServices services;
    services.drives = bus.Drives();
    services.prompter = std::make_shared<ScriptedPrompter>();
    SettingScopeDialog dialog(services, OverSpeedRequest(true));
    ASSERT_TRUE(Settle(dialog));
    EXPECT_FALSE(dialog.findChild<QPushButton*>(ControlName(1010))->isEnabled());
    EXPECT_FALSE(dialog.findChild<QPushButton*>(ControlName(1015))->isEnabled());
}

}  // namespace
}  // namespace dravix::test
