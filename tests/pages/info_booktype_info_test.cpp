// The Information page on a virtual drive: what each field shows, when the page reads, and what a
// read that does not reach a field leaves there.

#include <QPushButton>

#include "drive/InfoCommands.h"
#include "info_booktype_support.h"
#include "pages/Info.h"
#include "procedures/InfoProcedures.h"

namespace dravix::test {
namespace {

using InfoPage = PageFixture;

const Bytes kTestUnitReady(6, 0);
const Bytes kProfile = {0x46, 0, 0, 0, 0, 0, 0, 0, 0x08, 0};

void ExpectDriveFields(const CInfo& page) {
    EXPECT_EQ(Text(page, 1046), "1.20");
    EXPECT_EQ(Text(page, 1047), "8M");
    EXPECT_EQ(Text(page, 1048), "ATAPI / IDE");
    EXPECT_EQ(Text(page, 1051), "1");
}

TEST_F(InfoPage, ShowsTheDriveAndABlankDvdPlusR) {
    Insert("dvd+r");
    CInfo page(services);
    EXPECT_EQ(page.DialogId(), 154);
    EXPECT_EQ(page.Title(), "Information");
    EXPECT_EQ(page.TabIconId(), 152);
    Init(page);

    ExpectDriveFields(page);
    EXPECT_EQ(Text(page, 1052), "DVD+R");
    EXPECT_EQ(Text(page, 1053), "ORIONDSC");
    EXPECT_EQ(Text(page, 1054), "R16");
    EXPECT_EQ(Text(page, 1055), "4482.6 MB");
    EXPECT_EQ(Text(page, 1025), " ");
    EXPECT_EQ(Text(page, 1015), "Refresh");
    EXPECT_TRUE(prompter->asked.empty());
    // Initialisation fills the page, then refreshes it once more.
    EXPECT_EQ(CountSent(kProfile), 2u);
    EXPECT_EQ(StoredDiscInfo().discTypeCode, kDiscDvdPlusR);
    EXPECT_EQ(StoredDiscInfo().manufacturerId, "ORIONDSC");

    // Only standard commands: the page changes nothing in the drive.
    EXPECT_EQ(CountOpcode(0xFD) + CountOpcode(0xFE) + CountOpcode(0xFF), 0u);

    // The labels of dialog 154 stand beside the fields.
    QStringList labels;
    for (const QLabel* label : page.findChildren<QLabel*>()) labels << label->text();
    for (const char* label :
         {kLabelFirmwareVersion, kLabelBufferSize, kLabelConnectionInterface, kLabelRegionSetting,
          kLabelDiscType, kLabelManufactureId, kLabelMediaTypeId, kLabelBlankDiscCapacity}) {
        EXPECT_TRUE(labels.contains(QString::fromLatin1(label))) << label;
    }
}

TEST_F(InfoPage, RefreshButtonAndSheetNotificationsReadAgain) {
    Insert("dvd+r");
    CInfo page(services);
    Init(page);

    Insert("cd-r");
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1052), "CD R");
    EXPECT_EQ(Text(page, 1053), "N/A");
    EXPECT_EQ(Text(page, 1054), "N/A");
    EXPECT_EQ(Text(page, 1055), "702.8 MB");  // a CD still has write speed descriptors
    EXPECT_EQ(CountSent(kProfile), 1u);

    drive.RemoveDisc();
    bus.ClearCommands();
    Notify(page);
    EXPECT_EQ(Text(page, 1025), "Please insert blank disc...");
    for (int id : {1052, 1053, 1054, 1055}) EXPECT_EQ(Text(page, id), "N/A") << id;
    ExpectDriveFields(page);
    EXPECT_EQ(CountSent(kProfile), 0u);
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(InfoPage, RegionAndBufferSize) {
    struct Case {
        uint8_t mask;
        const char* text;
    };
    CInfo page(services);
    Init(page);
    for (const Case& c :
         {Case{0x00, "All Region"}, Case{0xFF, "No Region"}, Case{0xFE, "1"}, Case{0xFC, "12"}}) {
        drive.SetRegionMask(c.mask);
        Click(page, 1015);
        EXPECT_EQ(Text(page, 1051), c.text);
    }
    drive.SetBufferKiB(0x0800);
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1047), "2M");

    // A failing REPORT KEY leaves the last region text; a failing MODE SENSE shows "2M".
    drive.SetBufferKiB(0x2000);
    Fault(0xA4);
    Fault(0x5A);
    Arm();
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1051), "12");
    EXPECT_EQ(Text(page, 1047), "2M");
}

TEST_F(InfoPage, IdentifiersFromCraftedAnswers) {
    CInfo page(services);
    Init(page);
    // Crafted ADIP: two blanks before the letters, and a media type of blanks only.
    Insert("dvd+r");
    Bytes adip(4 + 256, 0);
    const std::string manufacturer = "  ABCDEF";
    std::copy(manufacturer.begin(), manufacturer.end(), adip.begin() + 23);
    std::fill(adip.begin() + 31, adip.begin() + 34, ' ');
    Fault(0xAD, {{7, 0x11}}).action = emu::FaultRule::Action::Reply;
    pending.back().reply = adip;
    Arm();
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1053), "ABCDEF");
    EXPECT_EQ(Text(page, 1054), "N/A");

    // Crafted DVD-RAM: an id beginning with byte 0 is "NA".
    drive.ClearFaults();
    Insert("dvd-ram");
    Bytes pfi(700, 0);
    const std::string ram = "ABC\rXYZ";
    std::copy(ram.begin(), ram.end(), pfi.begin() + 553);
    Fault(0xAD, {{7, 0x00}}).action = emu::FaultRule::Action::Reply;
    pending.back().reply = pfi;
    Arm();
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1053), "ABC");
    EXPECT_EQ(Text(page, 1054), "NA");
}

TEST_F(InfoPage, FailuresShowInTheFieldsAndKeepUnreachedTexts) {
    Insert("dvd+r");
    CInfo page(services);
    Init(page);
    ASSERT_EQ(Text(page, 1055), "4482.6 MB");

    // The identifier read fails: ids "N/A", the capacity keeps its text.
    Fault(0xAD);
    Arm();
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1052), "DVD+R");
    EXPECT_EQ(Text(page, 1053), "N/A");
    EXPECT_EQ(Text(page, 1025), "Not support for this disc.");
    EXPECT_EQ(Text(page, 1055), "4482.6 MB");

    // A disc whose profile is unknown.
    drive.ClearFaults();
    Fault(0x46, {{8, 0x08}}).action = emu::FaultRule::Action::Reply;
    pending.back().reply = {0, 0, 0, 4, 0, 0, 0x00, 0x41};
    Arm();
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1052), "N/A");
    EXPECT_EQ(Text(page, 1025), "Not support for this disc.");

    // GET PERFORMANCE with one descriptor ending at 229FFFh, then with none at all.
    drive.ClearFaults();
    Bytes performance(24, 0);
    performance[3] = 20;
    performance[12 + 1] = 0x22;
    performance[12 + 2] = 0x9F;
    performance[12 + 3] = 0xFF;
    Fault(0xAC).action = emu::FaultRule::Action::Reply;
    pending.back().reply = performance;
    Arm();
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1055), "4432.0 MB");
    EXPECT_EQ(Text(page, 1025), " ");

    drive.ClearFaults();
    Fault(0xAC).action = emu::FaultRule::Action::Reply;
    pending.back().reply = {0, 0, 0, 4, 0, 0, 0, 0};
    Arm();
    Click(page, 1015);
    EXPECT_EQ(Text(page, 1055), "0");
    EXPECT_TRUE(prompter->asked.empty());
}

TEST(InfoPageWithoutDrive, LeavesItsFieldsEmpty) {
    VirtualBus bus;  // no drive behind it
    auto prompter = std::make_shared<ScriptedPrompter>();
    AppServices services;
    services.drives = bus.Drives();
    services.prompter = prompter;
    CInfo page(services);
    Init(page);
    page.Control<QPushButton>(1015)->click();
    for (int id : {1046, 1047, 1048, 1051, 1052, 1053, 1054, 1055, 1025}) EXPECT_EQ(Text(page, id), "") << id;
    EXPECT_TRUE(prompter->asked.empty());
}

}  // namespace
}  // namespace dravix::test
