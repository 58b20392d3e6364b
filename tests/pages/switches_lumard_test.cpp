// The Lumard page on a virtual drive: both pairs, the OverSpeed guard, the learned discs and the
// clean tool.

#include <cstring>

#include "pages/Lumard.h"
#include "switches_support.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;

using LumardPage = SwitchPageFixture;

std::vector<QString> Records(const QWidget* page) {
    std::vector<QString> records;
    for (int id = 1081; id <= 1086; ++id) records.push_back(Text(page, id));
    return records;
}
const std::vector<QString> kNoRecords(6);

// A media information answer: header, the length byte, and records "DISC10"… filling the answer.
Bytes MediaAnswer(const char* signature, uint8_t length) {
    Bytes reply(255, 0);
    std::memcpy(reply.data(), signature, 4);
    reply[5] = 0x16;
    reply[6] = 0x07;
    reply[7] = length;
    for (size_t i = 0; 8 + 12 * (i + 1) <= reply.size(); ++i) {
        const std::string id = "DISC" + std::to_string(10 + i);
        std::memcpy(&reply[8 + 12 * i], id.data(), id.size());
    }
    return reply;
}

TEST_F(LumardPage, InitialisationReadsCountListAndBothPairs) {
    drive.SetLearnedDiscs({"ABCD", "RICOHJPN-R03"});
    drive.SetOption(emu::OptionKind::SupportedDisc, 3);
    drive.SetOption(emu::OptionKind::UnknownDisc, 0);
    CSLWS page(services);
    Init(page);

    EXPECT_EQ(VendorCommands(),
              (std::vector<Bytes>{kVendorOn, kLearnedCount, kVendorOff, kVendorOn, kMediaInformation,
                                  kVendorOff, kVendorOn, kReadOptions, kVendorOff}));
    EXPECT_EQ(Text(&page, 1079), "2");
    // NULs after the identifier show as blanks.
    EXPECT_EQ(Records(&page), (std::vector<QString>{"ABCD        ", "RICOHJPN-R03", "", "", "", ""}));
    EXPECT_TRUE(ShowsIcon(&page, 1071, 184));
    EXPECT_TRUE(Checked(&page, 1065));
    EXPECT_TRUE(ShowsIcon(&page, 1101, 183));
    EXPECT_TRUE(Checked(&page, 1070));
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(LumardPage, ReplyWithOverSpeedOnShowsBothPairsAndSetRefuses) {
    OptionReply({0x02, 0x00, 0x03});
    CSLWS page(services);
    Init(page);
    EXPECT_TRUE(ShowsIcon(&page, 1101, 184));
    EXPECT_TRUE(Checked(&page, 1069));
    EXPECT_FALSE(Checked(&page, 1070));
    EXPECT_TRUE(ShowsIcon(&page, 1071, 183));
    EXPECT_TRUE(Checked(&page, 1066));
    EXPECT_FALSE(Checked(&page, 1065));

    // The warning comes before vendor mode off; a failed read's box too, and Set then goes on.
    std::vector<Bytes> atBox;
    prompter->answer = [&](const PromptRecord&) {
        atBox = VendorCommands();
        return PromptAnswer::Ok;
    };
    bus.ClearCommands();
    Click(&page, 1068);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].caption, "Warning");
    EXPECT_EQ(prompter->asked[0].text, texts::kLumardOverSpeedActive);
    EXPECT_EQ(prompter->asked[0].icon, PromptIcon::Exclamation);
    EXPECT_EQ(dialogScript.runs, 0);
    EXPECT_EQ(atBox, (std::vector<Bytes>{kVendorOn, kReadOptions}));
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kReadOptions, kVendorOff}));
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(LumardPage, SetWritesThroughTheScopeDialogAndReadsBack) {
    CSLWS page(services);
    Init(page);
    Click(&page, 1065);  // Supported Disc: Activated
    Click(&page, 1070);  // Un-Known Disc: Non-Activated
    dialogScript.click = 1015;
    bus.ClearCommands();
    Click(&page, 1068);

    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kConfirmPermanent);
    EXPECT_EQ(VendorCommands(),
              (std::vector<Bytes>{kVendorOn, kReadOptions, kVendorOff, kVendorOn, LumardWrite(0x00, 0x02),
                                  kVendorOff, kVendorOn, kReadOptions, kVendorOff}));
    drive.Restart();
    Notify(page);
    EXPECT_TRUE(ShowsIcon(&page, 1071, 184));
    EXPECT_TRUE(ShowsIcon(&page, 1101, 183));
}

TEST_F(LumardPage, StatesAboveThreeChangeNothingAndSetAsksForAChoice) {
    OptionReply({0x07, 0x05, 0x00});
    CSLWS page(services);
    Init(page);
    EXPECT_FALSE(HasIcon(&page, 1071) || HasIcon(&page, 1101));
    bus.ClearCommands();
    Click(&page, 1068);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kMustSelectLumard);
    EXPECT_EQ(prompter->asked[0].caption, AppTitle());
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kReadOptions, kVendorOff}));
    EXPECT_EQ(dialogScript.runs, 0);
}

TEST_F(LumardPage, LearnedCountAndMediaInformationAnswers) {
    Fault(0x1B, 0x16, {{7, 0x05}}, Bytes{0x00, 0x07});
    Fault(0x1B, 0x16, {{7, 0x07}}, MediaAnswer("ZARN", 30));
    CSLWS page(services);
    Init(page);
    EXPECT_EQ(Text(&page, 1079), "7");
    EXPECT_EQ(Records(&page), (std::vector<QString>{"DISC10      ", "DISC11      ", "", "", "", ""}));

    // Clean reads both again.
    drive.ClearFaults();
    Fault(0x1B, 0x16, {{7, 0x07}}, MediaAnswer("ZARN", 11));
    Click(&page, 1010);
    EXPECT_EQ(Text(&page, 1079), "0");
    EXPECT_EQ(Records(&page), kNoRecords);

    // A length byte that claims more records than the answer holds: the first six are shown.
    drive.ClearFaults();
    Fault(0x1B, 0x16, {{7, 0x07}}, MediaAnswer("ZARN", 255));
    Click(&page, 1010);
    EXPECT_EQ(Records(&page), (std::vector<QString>{"DISC10      ", "DISC11      ", "DISC12      ",
                                                    "DISC13      ", "DISC14      ", "DISC15      "}));

    // A wrong header: "Response error data!" before vendor mode off.
    drive.ClearFaults();
    Fault(0x1B, 0x16, {{7, 0x07}}, MediaAnswer("ZORN", 24));
    std::vector<Bytes> atBox;
    prompter->answer = [&](const PromptRecord& record) {
        if (record.text == texts::kResponseError) atBox = VendorCommands();
        return record.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
    };
    Click(&page, 1010);
    EXPECT_EQ(prompter->asked.back().text, texts::kResponseError);
    EXPECT_EQ(prompter->asked.back().caption, AppTitle());
    EXPECT_EQ(Records(&page), kNoRecords);
    ASSERT_FALSE(atBox.empty());
    EXPECT_EQ(atBox.back()[7], 0x07);  // the media information, the off not yet sent
    EXPECT_EQ(VendorCommands().back(), kVendorOff);
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(LumardPage, CountOrListFailureSkipsTheRestOfInitialisation) {
    Fault(0x1B, 0x16, {{7, 0x07}}, MediaAnswer("ZORN", 24));
    CSLWS wrongAnswer(services);
    Init(wrongAnswer);
    EXPECT_FALSE(Sent(kReadOptions));
    EXPECT_FALSE(HasIcon(&wrongAnswer, 1071));

    drive.ClearFaults();
    Fault(0x1B, 0x16, {{7, 0x05}});
    bus.ClearCommands();
    prompter->asked.clear();
    CSLWS failedCount(services);
    Init(failedCount);
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kLearnedCount, kVendorOff}));
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(LumardPage, CleanAsksFirstAndReportsAFailure) {
    drive.SetLearnedDiscs({"AAA", "BBB", "CCC"});
    CSLWS page(services);
    Init(page);
    bus.ClearCommands();
    prompter->answer = [](const PromptRecord&) { return PromptAnswer::No; };
    Click(&page, 1010);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].caption, "Warning");
    EXPECT_EQ(prompter->asked[0].text, texts::kCleanWarning);
    EXPECT_EQ(prompter->asked[0].buttons, PromptButtons::YesNo);
    EXPECT_TRUE(bus.Commands().empty());

    prompter->answer = nullptr;
    Fault(0x1B, 0x16, {{7, 0x03}});
    Click(&page, 1010);
    EXPECT_EQ(prompter->asked.back().text, texts::kClearFail);
    EXPECT_EQ(Text(&page, 1079), "3");

    drive.ClearFaults();
    Click(&page, 1010);
    EXPECT_EQ(Text(&page, 1079), "0");
    EXPECT_EQ(Records(&page), kNoRecords);
}

}  // namespace
}  // namespace dravix::test
