// The Book Type page on a virtual drive: the drive rows and their Modify buttons, Check Media and
// Media Modify, the tray poll, the hints, and every message with its caption and buttons.

#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QPalette>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "drive/BookTypeCommands.h"
#include "info_booktype_support.h"
#include "pages/BookType.h"
#include "procedures/BookTypeProcedures.h"
#include "procedures/WriteCheck.h"
#include "res/Strings.h"

namespace dravix::test {
namespace {

using BookTypePage = PageFixture;

const Bytes kReadPlusRDl = {0xFF, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kEject = {0x1B, 0, 0, 0, 0x02, 0};
const Bytes kLoad = {0x1B, 0, 0, 0, 0x03, 0};
const Bytes kDiscBookType = {0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0};

constexpr int kPlusRwStatus = 1024, kPlusRStatus = 1025, kDlStatus = 1026;
constexpr int kPlusRwButton = 1029, kPlusRButton = 1017, kDlButton = 1018;

Bytes RowSet(uint8_t b1, uint8_t value, uint8_t b3) {
    return {0xFE, b1, value, b3, 0, 0, 0, 0, 0, 0, 0, 0};
}

void ExpectBox(const PromptRecord& record, const QString& caption, const QString& text,
               PromptButtons buttons) {
    EXPECT_EQ(record.caption, caption);
    EXPECT_EQ(record.text, text);
    EXPECT_EQ(record.buttons, buttons);
}

TEST_F(BookTypePage, InitialisationShowsTheDriveRows) {
    CBookType page(services);
    EXPECT_EQ(page.DialogId(), 104);
    EXPECT_EQ(page.Title(), "Book Type");
    EXPECT_EQ(page.TabIconId(), 139);
    Init(page);

    EXPECT_EQ(Text(page, kPlusRwStatus), "DVD+RW");
    EXPECT_EQ(Text(page, kPlusRStatus), "DVD+R");
    EXPECT_EQ(Text(page, kDlStatus), "DVD+R DL");
    for (int id : {kPlusRwButton, kPlusRButton, kDlButton}) {
        EXPECT_EQ(Text(page, id), "Set to DVD-ROM Type") << id;
        EXPECT_TRUE(Enabled(page, id)) << id;
    }
    EXPECT_EQ(Text(page, 1027), "N/A");
    EXPECT_EQ(Text(page, 1028), "N/A");
    EXPECT_EQ(Text(page, 1021), "Set to DVD-ROM Type");
    EXPECT_FALSE(Enabled(page, 1021));
    EXPECT_TRUE(Enabled(page, 1016));
    EXPECT_TRUE(Enabled(page, 1019));
    const auto* poll = page.findChild<QTimer*>(QString::fromLatin1(CBookType::kPollTimerName));
    ASSERT_NE(poll, nullptr);
    EXPECT_TRUE(poll->isActive());
    EXPECT_TRUE(prompter->asked.empty());
    EXPECT_FALSE(drive.State().vendorMode);

    for (int id = 1024; id <= 1028; ++id) {
        EXPECT_EQ(page.Control(id)->palette().color(QPalette::WindowText), QColor(0, 0, 128)) << id;
    }
}

TEST_F(BookTypePage, RowsForUnsetUnknownAndCrossedBookTypes) {
    drive.SetBookType(emu::BookTypeRow::PlusR, 0x00);
    drive.SetBookType(emu::BookTypeRow::PlusRw, 0xA1);
    drive.SetBookType(emu::BookTypeRow::PlusRDl, 0x55);
    CBookType page(services);
    Init(page);
    EXPECT_EQ(Text(page, kPlusRStatus), "N/A");
    EXPECT_EQ(Text(page, kPlusRButton), "Set to DVD+R Type");
    EXPECT_TRUE(Enabled(page, kPlusRButton));
    EXPECT_EQ(Text(page, kPlusRwStatus), "DVD+R");
    EXPECT_EQ(Text(page, kPlusRwButton), "Set to DVD+RW Type");
    EXPECT_TRUE(Enabled(page, kPlusRwButton));
    EXPECT_EQ(Text(page, kDlStatus), "N/A");
    EXPECT_EQ(Text(page, kDlButton), "Set to DVD-ROM Type");
    EXPECT_FALSE(Enabled(page, kDlButton));
}

TEST_F(BookTypePage, WithoutTheDlFeatureTheDlRowStaysUnread) {
    drive.Update([](emu::DriveState& s) { s.writesDvdPlusRDl = false; });
    CBookType page(services);
    Init(page);
    Click(page, 1016);
    EXPECT_FALSE(Sent(kReadPlusRDl));
    EXPECT_EQ(Text(page, kDlStatus), "N/A");
    EXPECT_FALSE(Enabled(page, kDlButton));
    EXPECT_EQ(Text(page, kPlusRwStatus), "DVD+RW");
}

TEST_F(BookTypePage, ModifyConfirmsSetsAndReadsBack) {
    CBookType page(services);
    Init(page);

    // Cancel: nothing is set and the rows are not read again.
    prompter->answers = {PromptAnswer::Cancel};
    bus.ClearCommands();
    Click(page, kPlusRButton);
    ASSERT_EQ(prompter->asked.size(), 1u);
    ExpectBox(prompter->asked[0], "Warning", LoadString(108), PromptButtons::OkCancel);
    EXPECT_TRUE(bus.Commands().empty());

    // OK: DVD+R → DVD-ROM, then the row offers DVD+R back.
    Click(page, kPlusRButton);
    EXPECT_TRUE(Sent(RowSet(0x05, 0x01, 0x00)));
    EXPECT_EQ(drive.State().bookTypes[1], 0x01);
    EXPECT_EQ(Text(page, kPlusRStatus), "DVD-ROM");
    EXPECT_EQ(Text(page, kPlusRButton), "Set to DVD+R Type");
    Click(page, kPlusRButton);
    EXPECT_TRUE(Sent(RowSet(0x05, 0xA1, 0x00)));
    EXPECT_EQ(Text(page, kPlusRStatus), "DVD+R");

    Click(page, kPlusRwButton);
    EXPECT_TRUE(Sent(RowSet(0x04, 0x01, 0x00)));
    Click(page, kDlButton);
    EXPECT_TRUE(Sent(RowSet(0x05, 0x01, 0x01)));
    EXPECT_EQ(Text(page, kPlusRwStatus), "DVD-ROM");
    EXPECT_EQ(Text(page, kDlStatus), "DVD-ROM");
    ASSERT_EQ(prompter->asked.size(), 5u);
    ExpectBox(prompter->asked[3], "Warning", LoadString(107), PromptButtons::OkCancel);
    ExpectBox(prompter->asked[4], "Warning", LoadString(109), PromptButtons::OkCancel);

    // The drive keeps what was set across a restart.
    drive.Restart();
    CBookType again(services);
    Init(again);
    EXPECT_EQ(Text(again, kPlusRwStatus), "DVD-ROM");
    EXPECT_EQ(Text(again, kPlusRStatus), "DVD+R");
    EXPECT_EQ(Text(again, kDlStatus), "DVD-ROM");
    EXPECT_EQ(Text(again, kDlButton), "Set to DVD+R DL Type");
}

TEST_F(BookTypePage, ModifyEjectsFirstUnlessPlusMediaIsLoaded) {
    CBookType page(services);
    Init(page);
    Insert("dvd-rom");
    Click(page, kPlusRButton);
    EXPECT_TRUE(Sent(kEject));
    EXPECT_TRUE(drive.State().trayOpen);

    drive.Load();
    Insert("dvd+rw-recorded");
    Click(page, kPlusRButton);
    EXPECT_FALSE(Sent(kEject));
    EXPECT_FALSE(drive.State().trayOpen);
}

TEST_F(BookTypePage, FailuresAreReportedWithTheirCaptions) {
    Fault(0xFF, {{1, 0x10}, {2, 0x00}}).once = true;
    Arm();
    CBookType page(services);
    Init(page);
    ASSERT_EQ(prompter->asked.size(), 1u);
    ExpectBox(prompter->asked[0], "FAIL", "Check Drive Book Type Fail !!", PromptButtons::Ok);
    EXPECT_EQ(Text(page, kPlusRwStatus), "N/A");  // the rows after the failed one are not read
    EXPECT_TRUE(Enabled(page, 1016));

    Fault(0x46, {{7, 0x40}}).once = true;
    Arm();
    Click(page, 1016);
    ASSERT_EQ(prompter->asked.size(), 2u);
    ExpectBox(prompter->asked[1], AppTitle(), "Get Configuration fail.", PromptButtons::Ok);
    EXPECT_EQ(Text(page, kPlusRwStatus), "DVD+RW");

    Fault(0xFE).once = true;
    Arm();
    Click(page, kPlusRButton);
    ASSERT_EQ(prompter->asked.size(), 4u);
    ExpectBox(prompter->asked[3], "FAIL", "Set Drive Book Type Fail !!", PromptButtons::Ok);
    EXPECT_EQ(Text(page, kPlusRStatus), "DVD+R");
}

// Sets the drive carries out whose answer is then lost or a failure: the page shows what the drive
// holds and no failure box; when the read after the set fails too, one box says that nobody knows.
TEST_F(BookTypePage, SetsWhoseAnswerIsLostShowWhatTheDriveHolds) {
    const emu::DriveState fresh = drive.State();
    for (const bool media : {false, true}) {
        for (const auto action :
             {emu::FaultRule::Action::AppliedTimeout, emu::FaultRule::Action::AppliedCheck}) {
            for (const bool unread : {false, true}) {
                if (unread && action == emu::FaultRule::Action::AppliedCheck) continue;
                SCOPED_TRACE(std::string(media ? "media " : "row ") + (unread ? "unread " : "") +
                             (action == emu::FaultRule::Action::AppliedCheck ? "check" : "lost"));
                drive.ReplaceState(fresh);
                if (media) Insert("dvd+rw-recorded");
                CBookType page(services);
                Init(page);
                if (media) Click(page, 1019);
                Fault(0xFE, {{1, media ? uint8_t{0x02} : uint8_t{0x05}}}).action = action;
                if (unread) {
                    // The read after the set: the disc's book type, or the DVD+R row.
                    if (media) {
                        Fault(0xAD, {{7, 0x00}});
                    } else {
                        Fault(0xFF, {{1, 0x10}, {2, 0x00}});
                    }
                }
                Arm();
                prompter->asked.clear();
                Click(page, media ? 1021 : kPlusRButton);

                if (media) {
                    ASSERT_EQ(drive.State().disc->bookType, 0x01);
                } else {
                    ASSERT_EQ(drive.State().bookTypes[1], 0x01);
                }
                std::vector<QString> failures;
                for (const PromptRecord& record : prompter->asked) {
                    if (record.caption == "FAIL") failures.push_back(record.text);
                }
                if (unread) {
                    const QString lost =
                        QString::fromLatin1(media ? kMsgSetMediaFail : kMsgSetDriveFail) + "\n\n" +
                        QString::fromStdString(
                            write_texts::AnswerLostUnread(media ? "\"Check Media\"" : "\"Check Drive\""));
                    EXPECT_EQ(failures, std::vector<QString>{lost});
                } else {
                    EXPECT_TRUE(failures.empty()) << failures.front().toStdString();
                    EXPECT_EQ(Text(page, media ? 1028 : kPlusRStatus), "DVD-ROM");
                }
                EXPECT_FALSE(drive.State().vendorMode);
            }
        }
    }
}

TEST(BookTypePageOnAnotherMakersDrive, RefusedVendorModeIsNotSupported) {
    VirtualBus bus;
    bus.AddDrive(emu::DriveKind::OtherMaker);
    auto prompter = std::make_shared<ScriptedPrompter>();
    AppServices services;
    services.drives = bus.Drives();
    services.prompter = prompter;
    CBookType page(services);
    Init(page);
    ASSERT_EQ(prompter->asked.size(), 1u);
    ExpectBox(prompter->asked[0], "Error", LoadString(104), PromptButtons::Ok);
    EXPECT_EQ(Text(page, kPlusRStatus), "N/A");
    EXPECT_FALSE(Enabled(page, kPlusRButton));
    EXPECT_TRUE(Enabled(page, 1016));
}

TEST_F(BookTypePage, CheckMediaForBlankAndRecordedDvdPlusRw) {
    CBookType page(services);
    Init(page);

    Insert("dvd+rw-blank");
    Click(page, 1019);
    EXPECT_EQ(Text(page, 1027), "DVD+RW");
    EXPECT_EQ(Text(page, 1028), "N/A");
    EXPECT_EQ(Text(page, 1021), "Set to DVD-ROM Type");
    EXPECT_FALSE(Enabled(page, 1021));
    EXPECT_TRUE(Enabled(page, 1019));
    EXPECT_FALSE(Sent(kDiscBookType));

    Insert("dvd+rw-recorded");
    Click(page, 1019);
    EXPECT_EQ(Text(page, 1027), "DVD+RW");
    EXPECT_EQ(Text(page, 1028), "DVD+RW");
    EXPECT_EQ(Text(page, 1021), "Set to DVD-ROM Type");
    EXPECT_TRUE(Enabled(page, 1021));
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(BookTypePage, CheckMediaWithACdAnEmptyTrayAndOtherDiscs) {
    CBookType page(services);
    Init(page);

    Insert("cd-r");
    Click(page, 1019);
    EXPECT_EQ(Text(page, 1027), "CD-R");
    ASSERT_EQ(prompter->asked.size(), 1u);
    ExpectBox(prompter->asked[0], "Warning", LoadString(105), PromptButtons::Ok);
    EXPECT_TRUE(Sent(kDiscBookType));  // the book type is still asked for
    EXPECT_EQ(Text(page, 1028), "N/A");
    EXPECT_FALSE(Enabled(page, 1021));

    drive.RemoveDisc();
    Click(page, 1019);
    EXPECT_EQ(Text(page, 1027), "None");
    ASSERT_EQ(prompter->asked.size(), 2u);
    ExpectBox(prompter->asked[1], "Warning", LoadString(106), PromptButtons::Ok);

    struct Case {
        const char* media;
        const char* kind;
        const char* book;
    };
    for (const Case& c : {Case{"dvd-rom", "DVD-ROM", "DVD-ROM"}, Case{"dvd+r", "DVD+R", "DVD+R"},
                          Case{"dvd-r", "DVD-R", "DVD-R"}, Case{"dvd-rw", "DVD-RW", "DVD-RW"},
                          Case{"dvd-ram", "DVD-RAM", "DVD-RAM"}, Case{"dvd+r-dl", "DVD+R DL", "DVD+R DL"}}) {
        Insert(c.media);
        Click(page, 1019);
        EXPECT_EQ(Text(page, 1027), c.kind);
        EXPECT_EQ(Text(page, 1028), c.book) << c.media;
        EXPECT_FALSE(Enabled(page, 1021)) << c.media;
        EXPECT_TRUE(Enabled(page, 1019));
    }
    EXPECT_EQ(prompter->asked.size(), 2u);
}

TEST_F(BookTypePage, MediaModifyChangesTheDiscAndChecksAgain) {
    Insert("dvd+rw-recorded");
    CBookType page(services);
    Init(page);
    Click(page, 1019);
    ASSERT_TRUE(Enabled(page, 1021));

    bus.ClearCommands();
    Click(page, 1021);
    ASSERT_EQ(prompter->asked.size(), 2u);
    ExpectBox(prompter->asked[0], "Warning", "Change the book type now?", PromptButtons::OkCancel);
    ExpectBox(prompter->asked[1], "Warning",
              "Book type has been changed! \r\nEnd process and check status now?", PromptButtons::OkCancel);
    EXPECT_TRUE(Sent({0xFE, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(Sent(kEject));
    EXPECT_TRUE(Sent(kLoad));
    EXPECT_EQ(drive.State().disc->bookType, 0x01);
    EXPECT_EQ(Text(page, 1028), "DVD-ROM");
    EXPECT_EQ(Text(page, 1021), "Set to DVD+RW Type");
    EXPECT_TRUE(Enabled(page, 1021));

    // Back to DVD+RW; declining the check leaves the tray alone.
    prompter->answers = {PromptAnswer::Ok, PromptAnswer::Cancel};
    bus.ClearCommands();
    Click(page, 1021);
    EXPECT_TRUE(Sent({0xFE, 0x02, 0x92, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(Sent(kEject));
    EXPECT_EQ(drive.State().disc->bookType, 0x92);
    EXPECT_EQ(Text(page, 1028), "DVD-ROM");  // not checked again

    // Cancel at the first question sends nothing.
    prompter->answers = {PromptAnswer::Cancel};
    bus.ClearCommands();
    Click(page, 1021);
    EXPECT_TRUE(bus.Commands().empty());
}

TEST_F(BookTypePage, MediaModifyWithADvdPlusRInTheTrayChangesNothing) {
    Insert("dvd+rw-recorded");
    CBookType page(services);
    Init(page);
    Click(page, 1019);
    ASSERT_TRUE(Enabled(page, 1021));
    // Another disc goes in without a Check Media.
    Insert("dvd+r");
    Click(page, 1021);
    ASSERT_EQ(prompter->asked.size(), 2u);
    ExpectBox(prompter->asked[1], "Error", "For DVD+RW disc only...", PromptButtons::Ok);
    EXPECT_EQ(CountOpcode(0xFE), 0u);
    EXPECT_EQ(CountOpcode(0x1B), 0u);
    EXPECT_EQ(drive.State().disc->bookType, 0xA1);
}

// The commands the drive received and the message boxes, in the order they came; ready tests and
// what the drive's selection sends are left out.
std::string NameOf(const Bytes& cdb) {
    switch (cdb[0]) {
        case 0xFD:
            return cdb[1] == 0xF1 ? "on" : cdb[1] == 0xF2 ? "off" : "FD";
        case 0xFF:
            return "read row";
        case 0xFE:
            return "set";
        case 0x46:
            return cdb[7] == 0x40 ? "features" : "profile";
        case 0x51:
            return "disc status";
        case 0xAD:
            return "disc book type";
        default:
            return {};
    }
}

// Each message box interrupts the procedure: what the procedure sends after the box reaches the
// drive only once the box has been answered.
TEST_F(BookTypePage, MessageBoxesComeWhereTheProcedureMeetsThem) {
    std::vector<std::string> order;
    size_t seen = 0;
    auto flush = [&] {
        const auto commands = bus.Commands();
        for (; seen < commands.size(); ++seen) {
            const std::string name = NameOf(commands[seen]);
            if (!name.empty()) order.push_back(name);
        }
    };
    prompter->answer = [&](const PromptRecord& record) {
        flush();
        order.push_back("box " + record.text.left(24).toStdString());
        return PromptAnswer::Ok;
    };
    CBookType page(services);
    Init(page);

    struct Case {
        const char* name;
        std::function<void()> arrange;
        int button;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"failed row read",
         [&] {
             Fault(0xFF, {{1, 0x10}, {2, 0x00}}).once = true;
         },
         1016,
         {"on", "read row", "box Check Drive Book Type Fa", "off"}},
        {"failed feature list",
         [&] {
             Fault(0x46, {{7, 0x40}}).once = true;
         },
         1016,
         {"on", "read row", "off", "features", "box Get Configuration fail.", "on", "read row", "off"}},
        {"cd", [&] { Insert("cd-r"); }, 1019, {"profile", "box Incorrect media format; ", "disc book type"}},
        {"empty tray", [&] { drive.RemoveDisc(); }, 1019, {"box The drive is empty; plea", "disc book type"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        Arm();
        bus.ClearCommands();
        seen = 0;
        order.clear();
        Click(page, c.button);
        flush();
        EXPECT_EQ(order, c.expected);
        EXPECT_FALSE(drive.State().vendorMode);
    }
}

// "Drive activating..." shows only while a wait runs, also the tray poll's; the poll goes on while
// the page's own message box is open, and what it finds is shown.
TEST_F(BookTypePage, TheTrayPollWaitsVisiblyAndRunsUnderTheBoxes) {
    Insert("dvd+r");
    CBookType page(services);
    Init(page);
    drive.SetBecomingReady(2);
    Poll(page);
    const auto* status = page.findChild<QLabel*>(QStringLiteral("driveStatus"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isHidden());
    EXPECT_TRUE(status->text().isEmpty());

    Insert("cd-r");
    prompter->answer = [&](const PromptRecord&) {
        drive.RemoveDisc();
        page.PollTray();
        EXPECT_TRUE(QTest::qWaitFor([&] { return Text(page, 1027) == "None"; }));
        return PromptAnswer::Ok;
    };
    Click(page, 1019);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(Text(page, 1027), "None");
}

TEST_F(BookTypePage, TrayPollShowsAnEmptiedTrayOnly) {
    Insert("dvd+rw-recorded");
    CBookType page(services);
    Init(page);
    Click(page, 1019);
    Poll(page);
    EXPECT_EQ(Text(page, 1027), "DVD+RW");
    EXPECT_TRUE(Enabled(page, 1021));

    drive.Eject();
    Poll(page);
    EXPECT_EQ(Text(page, 1027), "None");
    EXPECT_EQ(Text(page, 1028), "N/A");
    EXPECT_FALSE(Enabled(page, 1021));

    // A disc put in is not shown until Check Media.
    drive.Load();
    Insert("dvd+r");
    Poll(page);
    EXPECT_EQ(Text(page, 1027), "None");
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(BookTypePage, HintsFollowTheControlAndItsLabel) {
    drive.SetBookType(emu::BookTypeRow::PlusRDl, 0x01);
    CBookType page(services);
    Init(page);
    auto hover = [&](int id) {
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(page.Control(id), &enter);
        return Text(page, 1056);
    };
    EXPECT_EQ(hover(1019), LoadString(110));
    EXPECT_EQ(hover(1016), LoadString(111));
    EXPECT_EQ(hover(kPlusRwButton), LoadString(112));
    EXPECT_EQ(hover(kPlusRButton), LoadString(114));
    EXPECT_EQ(hover(kDlButton), LoadString(117));
    EXPECT_EQ(hover(1021), LoadString(118));
    EXPECT_EQ(hover(1027), "");  // any other control empties it
    EXPECT_EQ(hover(1021), LoadString(118));
    EXPECT_EQ(hover(kPlusRStatus), "");

    drive.SetBookType(emu::BookTypeRow::PlusRw, 0x01);
    drive.SetBookType(emu::BookTypeRow::PlusR, 0x01);
    drive.SetBookType(emu::BookTypeRow::PlusRDl, 0xE1);
    Click(page, 1016);
    EXPECT_EQ(hover(kPlusRwButton), LoadString(113));
    EXPECT_EQ(hover(kPlusRButton), LoadString(115));
    EXPECT_EQ(hover(kDlButton), LoadString(116));

    Insert("dvd+rw-recorded");
    Click(page, 1019);
    Click(page, 1021);
    EXPECT_EQ(hover(1021), LoadString(119));

    EXPECT_EQ(CBookType::HintStringId(1017, "Set to DVD+RW Type"), 0);
    EXPECT_EQ(CBookType::HintStringId(1021, "Set to DVD+R Type"), 0);
    EXPECT_EQ(CBookType::HintStringId(1056, "Set to DVD-ROM Type"), 0);
}

// The pointer rests on a Modify button while its label changes (message boxes come and go on the
// way): the hint follows the new label without the pointer moving.
TEST_F(BookTypePage, HintFollowsALabelThatChangesUnderThePointer) {
    CBookType page(services);
    Init(page);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    auto pointAt = [&](int id) {
        QWidget* control = page.Control(id);
        QCursor::setPos(control->mapToGlobal(control->rect().center()));
        QCoreApplication::processEvents();
    };

    pointAt(kPlusRButton);
    ASSERT_EQ(Text(page, 1056), LoadString(114));
    drive.SetBookType(emu::BookTypeRow::PlusR, 0x01);
    Click(page, 1016);
    EXPECT_EQ(Text(page, kPlusRButton), "Set to DVD+R Type");
    EXPECT_EQ(Text(page, 1056), LoadString(115));

    Insert("dvd+rw-recorded");
    Click(page, 1019);
    pointAt(1021);
    ASSERT_EQ(Text(page, 1056), LoadString(118));
    Click(page, 1021);
    EXPECT_EQ(Text(page, 1021), "Set to DVD+RW Type");
    EXPECT_EQ(Text(page, 1056), LoadString(119));

    // A label that changes away from the pointer leaves the hint alone.
    drive.SetBookType(emu::BookTypeRow::PlusR, 0xA1);
    Click(page, 1016);
    EXPECT_EQ(Text(page, 1056), LoadString(119));
}

}  // namespace
}  // namespace dravix::test
