// The Information page's fill and texts: the field texts made from the drive's answers, and the
// fill procedure on a virtual drive behind the real pass-through code.

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "procedures/InfoProcedures.h"
#include "tests/support/CommandBlocks.h"
#include "tests/support/VirtualBus.h"
#include "tests/support/VirtualDriveFixture.h"

namespace dravix {
namespace {

using test::Bytes;
using test::OnVirtualDrive;

// --- texts ---------------------------------------------------------------------------------

TEST(InfoTexts, RegionTextFromTheMask) {
    EXPECT_EQ(RegionText(0x00), "All Region");
    EXPECT_EQ(RegionText(0xFF), "No Region");
    EXPECT_EQ(RegionText(0xFE), "1");
    EXPECT_EQ(RegionText(0xFC), "12");
    EXPECT_EQ(RegionText(0xDE), "16");
    EXPECT_EQ(RegionText(0x7F), "8");
    EXPECT_EQ(RegionText(0x55), "2468");
}

TEST(InfoTexts, BufferSizeIs8MOnlyFor2000h) {
    Bytes page(30, 0);
    PutBe16(&page[20], 0x2000);
    EXPECT_EQ(BufferSizeText(page), "8M");
    PutBe16(&page[20], 0x0800);
    EXPECT_EQ(BufferSizeText(page), "2M");
    PutBe16(&page[20], 0x2001);
    EXPECT_EQ(BufferSizeText(page), "2M");
    // An answer that ends inside the field has no buffer size.
    PutBe16(&page[20], 0x2000);
    EXPECT_EQ(BufferSizeText(std::span<const uint8_t>(page).first(21)), "2M");
}

TEST(InfoTexts, CapacityOfTheLastWriteSpeedDescriptor) {
    EXPECT_EQ(CapacityText(*LastEndLbaOf(test::PerformanceAnswer(4 + 16, {0x229FFF}))), "4432.0 MB");
    // The End LBA is signed; neither end of the range overflows.
    EXPECT_EQ(CapacityText(-1), "0.0 MB");
    EXPECT_EQ(CapacityText(0x7FFFFFFF), "4194304.0 MB");
}

// --- the fill on the virtual drive ---------------------------------------------------------

TEST_F(OnVirtualDrive, FillReadsEachDiscOfTheCatalogue) {
    struct Case {
        const char* media;
        const char* type;
        const char* manufacturer;
        const char* mediaType;
        const char* capacity;
    };
    const Case cases[] = {
        {"dvd+r", "DVD+R", "ORIONDSC", "R16", "4482.6 MB"},
        {"dvd+r-dl", "DVD+R DL", "ORIONDSC", "D08", "8152.0 MB"},
        {"dvd+rw-recorded", "DVD+RW", "ORIONDSC", "W08", "4482.6 MB"},
        {"dvd-r", "DVD-R", "PRISMA", "DR16G1", "4482.6 MB"},
        {"dvd-rw", "DVD-RW", "PRISMA", "RW6X01", "4482.6 MB"},
        {"dvd-ram", "DVD-RAM", "ORION DISC CORP", "RAM-5X", "4482.6 MB"},
        {"cd-r", "CD R", "N/A", "N/A", "702.8 MB"},
        {"dvd-rom", "DVD ROM", "N/A", "N/A", "0"},  // no write speed descriptor
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.media);
        Insert(c.media);
        const InfoFill fill = FillInfo(table);
        EXPECT_EQ(fill.status, " ");
        EXPECT_EQ(fill.discType, c.type);
        EXPECT_EQ(fill.manufactureId, c.manufacturer);
        EXPECT_EQ(fill.mediaTypeId, c.mediaType);
        EXPECT_EQ(fill.blankDiscCapacity, c.capacity);
        EXPECT_TRUE(Sent({0x46, 0, 0, 0, 0, 0, 0, 0, 0x08, 0}));
        EXPECT_TRUE(Sent({0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 0x0A, 0x03, 0}));
        const std::string media = c.media;
        if (media == "dvd-ram") {
            EXPECT_TRUE(Sent({0xAD, 0, 0, 0, 0, 0, 0, 0x00, 0x02, 0xBC, 0, 0}));
        }
        if (media == "dvd-rw") {
            EXPECT_TRUE(Sent({0xAD, 0, 0, 0, 0, 0, 0, 0x0E, 0x00, 0x2C, 0, 0}));
        }
        if (media == "dvd+r") {
            EXPECT_TRUE(Sent({0xAD, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0x2C, 0, 0}));
        }
    }
}

TEST_F(OnVirtualDrive, DiscFieldsOnFailingOrOddAnswers) {
    Insert("dvd+r");
    // Unknown profile: "N/A" and the refusal, nothing more about the disc.
    Fault(0x46, {{8, 0x08}}).action = emu::FaultRule::Action::Reply;
    rules.back().reply = {0, 0, 0, 4, 0, 0, 0x00, 0x50};
    Arm();
    InfoFill fill = FillInfo(table);
    EXPECT_EQ(fill.discTypeCode, kDiscUnknown);
    EXPECT_EQ(fill.discType, "N/A");
    EXPECT_EQ(fill.status, "Not support for this disc.");
    EXPECT_FALSE(fill.manufactureId);
    EXPECT_FALSE(fill.blankDiscCapacity);

    // A failed identifier read: ids "N/A", capacity not reached.
    drive.ClearFaults();
    Fault(0xAD);
    Arm();
    bus.ClearCommands();
    fill = FillInfo(table);
    EXPECT_EQ(fill.discType, "DVD+R");
    EXPECT_EQ(fill.manufactureId, "N/A");
    EXPECT_EQ(fill.mediaTypeId, "N/A");
    EXPECT_EQ(fill.status, "Not support for this disc.");
    EXPECT_FALSE(fill.blankDiscCapacity);
    EXPECT_TRUE(Sequence(0xAC).empty());

    // GET PERFORMANCE failing, and answering without a descriptor: "0" either way.
    drive.ClearFaults();
    Fault(0xAC);
    Arm();
    EXPECT_EQ(FillInfo(table).blankDiscCapacity, "0");
    drive.ClearFaults();
    Fault(0xAC).action = emu::FaultRule::Action::Reply;
    rules.back().reply = {0, 0, 0, 4, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF};
    Arm();
    fill = FillInfo(table);
    EXPECT_EQ(fill.blankDiscCapacity, "0");
    EXPECT_FALSE(fill.endLba);

    // One descriptor ending at 229FFFh.
    drive.ClearFaults();
    Fault(0xAC).action = emu::FaultRule::Action::Reply;
    rules.back().reply = test::PerformanceAnswer(4 + 16, {0x229FFF}, 24);
    Arm();
    fill = FillInfo(table);
    EXPECT_EQ(fill.blankDiscCapacity, "4432.0 MB");
    StoreDiscInfo(fill);
    EXPECT_EQ(StoredDiscInfo().endLba, 0x229FFF);
    EXPECT_EQ(StoredDiscInfo().discTypeCode, kDiscDvdPlusR);
    EXPECT_EQ(StoredDiscInfo().manufacturerId, "ORIONDSC");
}

// A region read that fails at the adapter, without a status of the drive's (as QEMU's drive
// answers through virtio-scsi), is "not offered" only when the drive's configuration lacks the
// feature that carries it; a refusal or a busy drive is decided by its own status.
TEST_F(OnVirtualDrive, RegionLostAtTheAdapterAsksTheDrivesFeatureList) {
    struct Case {
        const char* name;
        emu::FaultRule::Action action;
        emu::SenseCode sense;
        std::optional<Bytes> featureAnswer;  // none: GET CONFIGURATION for the feature fails too
        bool notAvailable;
        bool featureAsked;
    };
    using Action = emu::FaultRule::Action;
    const Bytes headerOnly = {0, 0, 0, 4, 0, 0, 0x00, 0x10};
    const Bytes listed = {0, 0, 0, 12, 0, 0, 0x00, 0x10, 0x01, 0x06, 0x03, 0x04, 0, 0, 0, 0};
    const Case cases[] = {
        {"adapter error, feature absent", Action::AdapterError, {}, headerOnly, true, true},
        {"adapter error, feature listed", Action::AdapterError, {}, listed, false, true},
        {"adapter error, feature query fails", Action::AdapterError, {}, std::nullopt, false, true},
        {"invalid operation code", Action::CheckCondition, {0x05, 0x20, 0x00}, headerOnly, true, false},
        {"no sense at all", Action::CheckCondition, {0, 0, 0}, headerOnly, false, false},
        {"busy", Action::Busy, {}, headerOnly, false, false},
    };
    Insert("dvd-rom");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drive.ClearFaults();
        Fault(0xA4).action = c.action;
        rules.back().sense = c.sense;
        Fault(0x46, {{1, 0x02}});
        if (c.featureAnswer) {
            rules.back().action = emu::FaultRule::Action::Reply;
            rules.back().reply = *c.featureAnswer;
        }
        Arm();
        bus.ClearCommands();
        const InfoFill fill = FillInfo(table);
        const bool unread = std::find(fill.unread.begin(), fill.unread.end(),
                                      std::string_view(kLabelRegionSetting)) != fill.unread.end();
        const bool notAvailable =
            std::any_of(fill.notAvailable.begin(), fill.notAvailable.end(),
                        [](const auto& n) { return std::string_view(n.label) == kLabelRegionSetting; });
        EXPECT_EQ(notAvailable, c.notAvailable);
        EXPECT_EQ(unread, !c.notAvailable);
        EXPECT_EQ(Sequence(0x46).size(), c.featureAsked ? 2u : 1u);
    }
}

}  // namespace
}  // namespace dravix
