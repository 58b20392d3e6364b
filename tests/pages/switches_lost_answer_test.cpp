// Every write of the switch pages carried out by the drive, and then its answer lost or a
// failure: the page reads the drive back and shows what it holds, with no failure box; when that
// read fails too, one box says that nobody knows.

#include "pages/Lumard.h"
#include "pages/OverSpeed.h"
#include "pages/TestWrite.h"
#include "pages/Wopc.h"
#include "procedures/WriteCheck.h"
#include "switches_support.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;

enum class Answer { Lost, Failure, LostAndUnread };

struct PageWrite {
    const char* name;
    std::function<std::unique_ptr<PropertyPage>(const AppServices& services)> make;
    std::function<void(emu::VirtualDrive&)> setup;
    std::vector<int> clicks;  // the proposal, then Set (or Clean)
    int scopeButton;          // the setting-scope dialog's button, 0 without the dialog
    uint8_t subCode;          // the write: FD subCode "ZARN" function, byte 7
    uint8_t function;
    std::optional<uint8_t> byte7;
    Bytes readBack;        // the read after the write
    uint32_t readsBefore;  // reads of that command between the page's opening and the write
    // What the drive holds after the write, and whether the page shows exactly that.
    std::function<bool(const emu::DriveState&)> written;
    std::function<bool(const QWidget* page, const emu::DriveState&)> shows;
    const char* failure;     // the page's failure text for this write
    const char* howToCheck;  // how the answer-lost box says to read the setting again
};

void PrintTo(const PageWrite& write, std::ostream* out) {
    *out << write.name;
}

template <typename Page>
std::function<std::unique_ptr<PropertyPage>(const AppServices&)> Make() {
    return [](const AppServices& services) { return std::make_unique<Page>(services); };
}

bool IconOf(const QWidget* page, int control, bool on, int iconOn, int iconOff) {
    return ShowsIcon(page, control, on ? iconOn : iconOff);
}

std::vector<PageWrite> PageWrites() {
    using S = const emu::DriveState&;
    return {
        {"TestWrite",
         Make<CTestWrite>(),
         {},
         {1022, 1015},
         0,
         0xFB,
         0x02,
         {},
         kReadSwitches,
         0,
         [](S s) { return s.testWrite; },
         [](const QWidget* p, S s) { return IconOf(p, 1063, s.testWrite, 174, 175) && Checked(p, 1022); },
         texts::kSetCommandFail,
         "\"Check\""},
        {"Wopc",
         Make<CWOPC>(),
         {},
         {1034, 1031},
         0,
         0xFB,
         0x03,
         {},
         kReadSwitches,
         0,
         [](S s) { return s.wopcDisabled; },
         [](const QWidget* p, S s) { return IconOf(p, 1060, !s.wopcDisabled, 172, 173) && Checked(p, 1034); },
         texts::kSetCommandFail,
         "\"Check\""},
        {"OverSpeed",
         Make<COverSpeed>(),
         {},
         {1074, 1076},
         1010,
         0x1B,
         0x16,
         0x06,
         kReadOptions,
         0,
         [](S s) { return s.options[2].Reported() == 3; },
         [](const QWidget* p, S s) {
             return IconOf(p, 1072, s.options[2].Reported() >= 2, 181, 180) && Checked(p, 1074);
         },
         texts::kSetCommandFail,
         "\"Check\""},
        {"Lumard",
         Make<CSLWS>(),
         {},
         {1065, 1068},
         1015,
         0x1B,
         0x16,
         0x02,
         kReadOptions,
         1,
         [](S s) { return s.options[1].Reported() == 2; },
         [](const QWidget* p, S s) {
             return IconOf(p, 1071, s.options[1].Reported() >= 2, 184, 183) && Checked(p, 1065);
         },
         texts::kSetCommandFail,
         "\"Check\""},
        {"LumardClean",
         Make<CSLWS>(),
         [](emu::VirtualDrive& d) {
             d.SetLearnedDiscs({"AAA", "BBB"});
         },
         {1010},
         0,
         0x1B,
         0x16,
         0x03,
         kLearnedCount,
         0,
         [](S s) { return s.learnedDiscs.empty(); },
         [](const QWidget* p, S s) { return Text(p, 1079) == QString::number(s.learnedDiscs.size()); },
         texts::kClearFail,
         "`dravix-cli lumard learned`"},
    };
}

const char* AnswerName(Answer answer) {
    constexpr const char* kNames[] = {"Lost", "Failure", "LostAndUnread"};
    return kNames[static_cast<int>(answer)];
}

class PageWriteAnswers : public SwitchPageFixture,
                         public ::testing::WithParamInterface<std::tuple<PageWrite, Answer>> {};

TEST_P(PageWriteAnswers, ThePageShowsWhatTheDriveHolds) {
    const auto& [write, answer] = GetParam();
    if (write.setup) write.setup(drive);
    std::unique_ptr<PropertyPage> page = write.make(services);
    Init(*page);
    std::map<uint8_t, uint8_t> bytes;
    if (write.byte7) bytes[7] = *write.byte7;
    emu::FaultRule rule;
    rule.opcode = 0xFD;
    rule.subCode = write.subCode;
    rule.function = write.function;
    rule.bytes = bytes;
    rule.once = true;
    rule.action = answer == Answer::Failure ? emu::FaultRule::Action::AppliedCheck
                                            : emu::FaultRule::Action::AppliedTimeout;
    rule.sense = {0x04, 0x44, 0x00};
    drive.AddFault(rule);
    if (answer == Answer::LostAndUnread) {
        emu::FaultRule unread;
        unread.opcode = 0xFD;
        unread.subCode = write.readBack[1];
        unread.function = write.readBack[6];
        unread.bytes = {{7, write.readBack[7]}};
        unread.after = write.readsBefore;
        unread.sense = {0x04, 0x44, 0x00};
        drive.AddFault(unread);
    }
    dialogScript.click = write.scopeButton;
    prompter->asked.clear();
    for (int control : write.clicks) Click(page.get(), control);

    ASSERT_TRUE(write.written(drive.State()));  // the drive carried the write out
    std::vector<QString> failures;
    for (const PromptRecord& record : prompter->asked) {
        if (record.text.startsWith(QString::fromLatin1(write.failure))) failures.push_back(record.text);
    }
    if (answer == Answer::LostAndUnread) {
        const QString lost = QString::fromLatin1(write.failure) + QStringLiteral("\n\n") +
                             QString::fromStdString(write_texts::AnswerLostUnread(write.howToCheck));
        EXPECT_EQ(failures, std::vector<QString>{lost});
    } else {
        EXPECT_TRUE(failures.empty()) << failures.front().toStdString();
        EXPECT_TRUE(write.shows(page.get(), drive.State()));
    }
    EXPECT_FALSE(drive.State().vendorMode);
}

INSTANTIATE_TEST_SUITE_P(EveryWrite, PageWriteAnswers,
                         ::testing::Combine(::testing::ValuesIn(PageWrites()),
                                            ::testing::Values(Answer::Lost, Answer::Failure,
                                                              Answer::LostAndUnread)),
                         [](const ::testing::TestParamInfo<std::tuple<PageWrite, Answer>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    AnswerName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace dravix::test
