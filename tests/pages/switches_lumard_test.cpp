// The Lumard page on a virtual drive: both pairs, the OverSpeed guard, the learned discs and the
// clean tool.

#include <cstring>

#include "pages/Lumard.h"
#include "res/Strings.h"
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

// A media information answer: header, the length byte, and records "DISC01"… filling the answer.
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

void MediaReply(SwitchPageFixture& f, Bytes reply) {
    f.Reply(0x1B, 0x16, {{7, 0x07}}, std::move(reply));
}

TEST_F(LumardPage, InitialisationReadsCountListAndBothPairs) {
    drive.SetLearnedDiscs({"ABCD", "RICOHJPN-R03"});
    drive.SetOption(emu::OptionKind::SupportedDisc, 3);
    drive.SetOption(emu::OptionKind::UnknownDisc, 0);
    CSLWS page;
    page.EnsureInitialised();

    EXPECT_EQ(VendorCommands(),
              (std::vector<Bytes>{kVendorOn, kLearnedCount, kVendorOff, kVendorOn, kMediaInformation,
                                  kVendorOff, kVendorOn, kReadOptions, kVendorOff}));
    EXPECT_EQ(Text(&page, 1079), "2");
    // NULs after the identifier show as blanks.
    EXPECT_EQ(Records(&page), (std::vector<QString>{"ABCD        ", "RICOHJPN-R03", "", "", "", ""}));
    EXPECT_TRUE(ShowsIcon(&page, 1071, 184));
    EXPECT_TRUE(Checked(&page, 1065));
    EXPECT_FALSE(Checked(&page, 1066));
    EXPECT_TRUE(ShowsIcon(&page, 1101, 183));
    EXPECT_TRUE(Checked(&page, 1070));
    EXPECT_FALSE(Checked(&page, 1069));
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(LumardPage, ReplyWithOverSpeedOnShowsBothPairsAndSetRefuses) {
    OptionReply({0x02, 0x00, 0x03});
    CSLWS page;
    page.EnsureInitialised();
    EXPECT_TRUE(ShowsIcon(&page, 1101, 184));
    EXPECT_TRUE(Checked(&page, 1069));
    EXPECT_FALSE(Checked(&page, 1070));
    EXPECT_TRUE(ShowsIcon(&page, 1071, 183));
    EXPECT_TRUE(Checked(&page, 1066));
    EXPECT_FALSE(Checked(&page, 1065));

    bus.ClearCommands();
    Click(&page, 1068);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].caption, "Warning");
    EXPECT_EQ(prompter->asked[0].text, texts::kLumardOverSpeedActive);
    EXPECT_EQ(prompter->asked[0].icon, PromptIcon::Exclamation);
    EXPECT_EQ(prompter->asked[0].buttons, PromptButtons::Ok);
    EXPECT_EQ(dialogScript.runs, 0);
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kReadOptions, kVendorOff}));
}

TEST_F(LumardPage, StateAboveThreeLeavesThatPairAlone) {
    OptionReply({0x04, 0x02, 0x00});
    CSLWS page;
    page.EnsureInitialised();
    EXPECT_FALSE(HasIcon(&page, 1101));
    EXPECT_FALSE(Checked(&page, 1069));
    EXPECT_FALSE(Checked(&page, 1070));
    EXPECT_TRUE(ShowsIcon(&page, 1071, 184));
}

TEST_F(LumardPage, SetWritesThePairsThroughTheScopeDialogAndReadsBack) {
    CSLWS page;
    page.EnsureInitialised();
    Click(&page, 1065);  // Supported Disc: Activated
    Click(&page, 1070);  // Un-Known Disc: Non-Activated
    dialogScript.click = 1015;
    bus.ClearCommands();
    Click(&page, 1068);

    EXPECT_EQ(dialogScript.runs, 1);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kConfirmPermanent);
    EXPECT_EQ(VendorCommands(),
              (std::vector<Bytes>{kVendorOn, kReadOptions, kVendorOff, kVendorOn, LumardWrite(0x00, 0x02),
                                  kVendorOff, kVendorOn, kReadOptions, kVendorOff}));
    EXPECT_TRUE(ShowsIcon(&page, 1071, 184));
    EXPECT_TRUE(ShowsIcon(&page, 1101, 183));

    drive.Restart();
    page.OnSheetNotify();
    EXPECT_TRUE(ShowsIcon(&page, 1071, 184));  // permanent: kept
}

TEST_F(LumardPage, SetWithNoChoiceAsksAfterTheRead) {
    OptionReply({0x07, 0x05, 0x00});
    CSLWS page;
    page.EnsureInitialised();
    bus.ClearCommands();
    Click(&page, 1068);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, texts::kMustSelectLumard);
    EXPECT_EQ(prompter->asked[0].caption, AppTitle());
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kReadOptions, kVendorOff}));
    EXPECT_EQ(dialogScript.runs, 0);
}

TEST_F(LumardPage, SetGoesOnAfterAFailedRead) {
    CSLWS page;
    page.EnsureInitialised();
    Fail(0x1B, 0x16, {{7, 0x01}});
    dialogScript.click = 1010;
    Click(&page, 1068);
    ASSERT_GE(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[0].text, texts::kSetCommandFail);
    EXPECT_EQ(prompter->asked[1].text, texts::kConfirmTemporary);
    // Factory state: Supported Disc off, Un-Known Disc on.
    EXPECT_TRUE(Sent(LumardWrite(0x03, 0x01)));
}

TEST_F(LumardPage, LearnedCountAndMediaInformationAnswers) {
    Reply(0x1B, 0x16, {{7, 0x05}}, {0x00, 0x07});
    MediaReply(*this, MediaAnswer("ZARN", 30));
    CSLWS page;
    page.EnsureInitialised();
    EXPECT_EQ(Text(&page, 1079), "7");
    EXPECT_EQ(Records(&page), (std::vector<QString>{"DISC10      ", "DISC11      ", "", "", "", ""}));

    drive.ClearFaults();
    MediaReply(*this, MediaAnswer("ZARN", 11));
    Click(&page, 1010);  // clean, which reads both again
    EXPECT_EQ(Text(&page, 1079), "0");
    EXPECT_EQ(Records(&page), std::vector<QString>(6, QString()));

    // A length byte that claims more records than the answer holds: the first six are shown.
    drive.ClearFaults();
    MediaReply(*this, MediaAnswer("ZARN", 255));
    Click(&page, 1010);
    EXPECT_EQ(Records(&page), (std::vector<QString>{"DISC10      ", "DISC11      ", "DISC12      ",
                                                    "DISC13      ", "DISC14      ", "DISC15      "}));
}

TEST_F(LumardPage, WrongSignatureEndsInitialisationWithEmptyLines) {
    drive.SetLearnedDiscs({"OLDDISC"});
    CSLWS page;
    page.EnsureInitialised();
    ASSERT_EQ(Records(&page)[0], "OLDDISC     ");

    MediaReply(*this, MediaAnswer("ZORN", 24));
    Click(&page, 1010);
    ASSERT_FALSE(prompter->asked.empty());
    EXPECT_EQ(prompter->asked.back().text, texts::kResponseError);
    EXPECT_EQ(prompter->asked.back().caption, AppTitle());
    EXPECT_EQ(Records(&page), std::vector<QString>(6, QString()));

    // On a fresh page the rest of the initialisation, the status check, is skipped.
    bus.ClearCommands();
    CSLWS fresh;
    fresh.EnsureInitialised();
    EXPECT_FALSE(Sent(kReadOptions));
    EXPECT_FALSE(HasIcon(&fresh, 1071));
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(LumardPage, FailedLearnedCountSkipsTheRestOfInitialisation) {
    Fail(0x1B, 0x16, {{7, 0x05}});
    CSLWS page;
    page.EnsureInitialised();
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kLearnedCount, kVendorOff}));
    EXPECT_TRUE(prompter->asked.empty());
    EXPECT_EQ(Text(&page, 1079), "");
}

TEST_F(LumardPage, CleanAsksFirstAndReportsAFailure) {
    drive.SetLearnedDiscs({"AAA", "BBB", "CCC"});
    CSLWS page;
    page.EnsureInitialised();
    bus.ClearCommands();
    prompter->answer = [](const PromptRecord&) { return PromptAnswer::No; };
    Click(&page, 1010);
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].caption, "Warning");
    EXPECT_EQ(prompter->asked[0].text, texts::kCleanWarning);
    EXPECT_EQ(prompter->asked[0].icon, PromptIcon::Exclamation);
    EXPECT_EQ(prompter->asked[0].buttons, PromptButtons::YesNo);
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_EQ(drive.State().learnedDiscs.size(), 3u);

    prompter->answer = nullptr;
    Fail(0x1B, 0x16, {{7, 0x03}});
    Click(&page, 1010);
    EXPECT_EQ(prompter->asked.back().text, texts::kClearFail);
    EXPECT_EQ(Text(&page, 1079), "3");

    drive.ClearFaults();
    Click(&page, 1010);
    EXPECT_EQ(Text(&page, 1079), "0");
    EXPECT_EQ(Records(&page), std::vector<QString>(6, QString()));
    EXPECT_TRUE(drive.State().learnedDiscs.empty());
}

}  // namespace
}  // namespace dravix::test
