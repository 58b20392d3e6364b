// The information and book type command layer: decoders on crafted answers, and the commands on
// a virtual drive behind the real pass-through code (the Information page's fill and texts:
// tests/procedures).

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

#include "base/ByteOrder.h"
#include "drive/BookTypeCommands.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/OptionCommands.h"
#include "tests/support/CommandBlocks.h"
#include "tests/support/VirtualBus.h"
#include "tests/support/VirtualDriveFixture.h"

namespace dravix {
namespace {

using test::AddFeature;
using test::Bytes;
using test::Configuration;
using test::OnVirtualDrive;

// --- decoders ------------------------------------------------------------------------------

TEST(InfoDecoders, RegionMaskIsByteFiveOfTheAnswer) {
    Bytes rpc(30, 0);
    rpc[5] = 0xFC;
    EXPECT_EQ(RegionMaskOf(rpc), 0xFC);
    EXPECT_FALSE(RegionMaskOf(std::span<const uint8_t>(rpc).first(5)));
}

TEST(InfoDecoders, BufferSizeIsBytes20And21OfTheAnswer) {
    Bytes page(30, 0);
    PutBe16(&page[20], 0x2000);
    EXPECT_EQ(BufferSizeKiBOf(page), 0x2000);
    EXPECT_FALSE(BufferSizeKiBOf(std::span<const uint8_t>(page).first(21)));
}

TEST(InfoDecoders, DiscTypeByProfileAndByStoredCode) {
    EXPECT_EQ(DiscTypeOfProfile(0x011B).code, kDiscDvdPlusR);  // the high byte is not looked at
    EXPECT_EQ(DiscTypeOfProfile(0x13).code, DiscTypeOfProfile(0x14).code);
    EXPECT_EQ(DiscTypeOfProfile(0x15).source, IdentifierSource::Prerecorded);
    EXPECT_EQ(DiscTypeOfProfile(0x0040).code, kDiscUnknown);
    // A stored code leads back to the same name and identifier source.
    for (uint16_t profile : {0x08, 0x09, 0x0A, 0x10, 0x2B, 0x1B, 0x1A, 0x11, 0x14, 0x15, 0x12}) {
        const DiscType type = DiscTypeOfProfile(profile);
        const DiscType stored = DiscTypeOfCode(type.code);
        EXPECT_EQ(stored.code, type.code);
        EXPECT_STREQ(stored.name, type.name);
        EXPECT_EQ(stored.source, type.source);
    }
    EXPECT_EQ(DiscTypeOfCode(0).code, kDiscUnknown);
    EXPECT_EQ(DiscTypeOfCode(kDiscUnknown).source, IdentifierSource::None);
}

Bytes AdipAnswer(const std::string& manufacturer, const std::string& mediaType) {
    Bytes answer(300, 0);
    std::copy(manufacturer.begin(), manufacturer.end(), answer.begin() + 23);
    std::copy(mediaType.begin(), mediaType.end(), answer.begin() + 31);
    return answer;
}

TEST(InfoDecoders, AdipIdentifiersStartAtTheFirstLetterOrDigit) {
    DiscIdentifiers ids = AdipIdentifiers(AdipAnswer("  ABCDEF", "R16"));
    EXPECT_EQ(ids.manufacturerId, "ABCDEF");
    EXPECT_EQ(ids.mediaTypeId, "R16");

    ids = AdipIdentifiers(AdipAnswer("        ", "   "));
    EXPECT_EQ(ids.manufacturerId, "N/A");
    EXPECT_EQ(ids.mediaTypeId, "N/A");

    // The eighth manufacturer byte is shown but is not searched for the start.
    ids = AdipIdentifiers(AdipAnswer("-------X", "  Z"));
    EXPECT_EQ(ids.manufacturerId, "N/A");
    EXPECT_EQ(ids.mediaTypeId, "Z");
    ids = AdipIdentifiers(AdipAnswer("------YX", ""));
    EXPECT_EQ(ids.manufacturerId, "YX");

    // Blanks after the start stay; a NUL ends the text.
    ids = AdipIdentifiers(AdipAnswer(std::string("AB C\0DE", 7), "R1"));
    EXPECT_EQ(ids.manufacturerId, "AB C");
    EXPECT_EQ(ids.mediaTypeId, "R1");

    // A short answer gives "N/A", never bytes from beyond it.
    ids = AdipIdentifiers(std::span<const uint8_t>(AdipAnswer("ABCDEFGH", "R16")).first(20));
    EXPECT_EQ(ids.manufacturerId, "N/A");
    EXPECT_EQ(ids.mediaTypeId, "N/A");
}

TEST(InfoDecoders, PrerecordedIdentifiersSearchTheWholeField) {
    Bytes answer(44, 0);
    const std::string manufacturer = "     P";
    const std::string mediaType = "DR16G1";
    std::copy(manufacturer.begin(), manufacturer.end(), answer.begin() + 21);
    std::copy(mediaType.begin(), mediaType.end(), answer.begin() + 29);
    answer[27] = 'Q';  // bytes 27 and 28 belong to no field
    answer[35] = 'Q';
    const DiscIdentifiers ids = PrerecordedIdentifiers(answer);
    EXPECT_EQ(ids.manufacturerId, "P");
    EXPECT_EQ(ids.mediaTypeId, "DR16G1");
}

TEST(InfoDecoders, PhysicalFormatIdentifiersEndAtReturnAndZeroMeansNA) {
    Bytes answer(700, 0);
    const std::string manufacturer = "ABC\rDEF";
    std::copy(manufacturer.begin(), manufacturer.end(), answer.begin() + 553);
    DiscIdentifiers ids = PhysicalFormatIdentifiers(answer);
    EXPECT_EQ(ids.manufacturerId, "ABC");
    EXPECT_EQ(ids.mediaTypeId, "NA");  // not "N/A"

    // A full field without terminator gives all of its 48 characters and nothing of the next.
    std::fill(answer.begin() + 553, answer.begin() + 601, 'M');
    std::fill(answer.begin() + 601, answer.begin() + 617, 'T');
    answer[617] = 'X';
    ids = PhysicalFormatIdentifiers(answer);
    EXPECT_EQ(ids.manufacturerId, std::string(48, 'M'));
    EXPECT_EQ(ids.mediaTypeId, std::string(16, 'T'));

    answer[553] = ' ';  // a leading blank is kept: only byte 0 means "NA"
    EXPECT_EQ(PhysicalFormatIdentifiers(answer).manufacturerId, " " + std::string(47, 'M'));
}

TEST(InfoDecoders, CapacityFromTheLastWriteSpeedDescriptor) {
    EXPECT_EQ(LastEndLbaOf(test::PerformanceAnswer(4 + 16, {0x229FFF})), 0x229FFF);
    EXPECT_EQ(LastEndLbaOf(test::PerformanceAnswer(4 + 48, {1, 2, 0x229FFF})), 0x229FFF);
    // A length that is not a multiple of 16 counts whole descriptors only.
    EXPECT_EQ(LastEndLbaOf(test::PerformanceAnswer(4 + 16 + 15, {7, 8})), 7);

    // No descriptor: nothing to show, whatever the length field says below 20.
    EXPECT_FALSE(LastEndLbaOf(test::PerformanceAnswer(4, {})));
    EXPECT_FALSE(LastEndLbaOf(test::PerformanceAnswer(19, {5})));
    EXPECT_FALSE(LastEndLbaOf(test::PerformanceAnswer(0, {5})));  // length - 4 must not wrap around
    EXPECT_FALSE(LastEndLbaOf(test::PerformanceAnswer(3, {5})));

    // A length beyond the 200-byte buffer takes the last descriptor the buffer holds (12).
    std::vector<uint32_t> many;
    for (uint32_t i = 1; i <= 12; ++i) many.push_back(i);
    EXPECT_EQ(LastEndLbaOf(test::PerformanceAnswer(0xFFFFFFFF, many)), 12);
    EXPECT_EQ(LastEndLbaOf(test::PerformanceAnswer(4 + 16 * 40, many)), 12);
}

TEST(BookTypeDecoders, FeatureWalkFinds003BWithFirstByte01) {
    EXPECT_TRUE(WritesDvdPlusRDl(Configuration({{0x0000, {0, 0x1B, 1, 0}}, {0x003B, {0x01, 0, 0, 0}}})));
    EXPECT_FALSE(WritesDvdPlusRDl(Configuration({{0x0000, {0, 0x1B, 1, 0}}, {0x003B, {0x00, 0, 0, 0}}})));
    EXPECT_FALSE(WritesDvdPlusRDl(Configuration({{0x003B, {0x03, 0, 0, 0}}})));  // not 01h exactly
    EXPECT_FALSE(WritesDvdPlusRDl(Configuration({{0x002B, {0x01, 0, 0, 0}}})));
    // A descriptor without data has no first data byte, even when the next byte is 01h.
    EXPECT_FALSE(WritesDvdPlusRDl(Configuration({{0x003B, {}}, {0x0100, {0x01}}})));

    // The walk stops at the reported data length.
    Bytes cut = Configuration({{0x0001, {0, 0, 0, 0}}, {0x003B, {0x01, 0, 0, 0}}});
    PutBe32(cut.data(), 8 + 8 - 1);  // ends before the 003Bh header
    EXPECT_FALSE(WritesDvdPlusRDl(cut));
    PutBe32(cut.data(), 8 + 8);  // the 003Bh header ends the list; its data byte lies past it
    EXPECT_FALSE(WritesDvdPlusRDl(cut));
    PutBe32(cut.data(), 7);
    EXPECT_FALSE(WritesDvdPlusRDl(cut));
}

TEST(BookTypeDecoders, FeatureWalkNeverReadsBeyondTheAnswer) {
    // The bytes after the span hold a 003Bh descriptor: a walk that strayed beyond would see it.
    Bytes backing = Configuration({{0x0000, {0, 0, 0, 0}}});
    const size_t end = backing.size();
    AddFeature(backing, 0x003B, {0x01, 0, 0, 0});
    PutBe32(backing.data(), 0xFFFFFFFF);
    EXPECT_FALSE(WritesDvdPlusRDl(std::span<const uint8_t>(backing).first(end)));
    EXPECT_FALSE(WritesDvdPlusRDl(std::span<const uint8_t>(backing).first(end + 3)));  // header cut short
    EXPECT_FALSE(WritesDvdPlusRDl(std::span<const uint8_t>(backing).first(end + 4)));  // data byte outside
    EXPECT_TRUE(WritesDvdPlusRDl(std::span<const uint8_t>(backing).first(end + 5)));

    // A whole buffer of empty descriptors up to the last byte, with an over-long length.
    Bytes full(kConfigurationLength, 0);
    PutBe32(full.data(), 0x7FFFFFFF);
    for (size_t offset = 8; offset + 4 <= full.size(); offset += 4) PutBe16(&full[offset], 0x0100);
    EXPECT_FALSE(WritesDvdPlusRDl(full));
    full[full.size() - 4] = 0x00;
    full[full.size() - 3] = 0x3B;  // the last header, its data would lie outside
    EXPECT_FALSE(WritesDvdPlusRDl(full));

    EXPECT_FALSE(WritesDvdPlusRDl({}));
}

// --- on the virtual drive ------------------------------------------------------------------

// Every read whose answer carries its own length: the drive's answer, one byte short of the
// smaller of that length and the length asked for, is a failed read, however many fields arrived.
TEST_F(OnVirtualDrive, AnAnswerCutShortIsAFailedRead) {
    struct Read {
        const char* name;
        const char* media;
        std::function<uint8_t(DriveTable&)> read;
    };
    const Read reads[] = {
        {"MODE SENSE", "dvd+r",
         [](DriveTable& t) {
             std::array<uint8_t, kCapabilitiesLength> a{};
             return ReadCapabilitiesPage(t, a);
         }},
        {"REPORT KEY", "dvd+r",
         [](DriveTable& t) {
             std::array<uint8_t, kRpcStateLength> a{};
             return ReadRpcState(t, a);
         }},
        {"GET PERFORMANCE", "dvd+r",
         [](DriveTable& t) {
             std::array<uint8_t, kPerformanceLength> a{};
             return ReadWriteSpeedDescriptors(t, a);
         }},
        {"ADIP", "dvd+r",
         [](DriveTable& t) {
             DiscIdentifiers i;
             return ReadDiscIdentifiers(t, IdentifierSource::Adip, i);
         }},
        {"pre-recorded", "dvd-r",
         [](DriveTable& t) {
             DiscIdentifiers i;
             return ReadDiscIdentifiers(t, IdentifierSource::Prerecorded, i);
         }},
        {"physical format", "dvd-ram",
         [](DriveTable& t) {
             DiscIdentifiers i;
             return ReadDiscIdentifiers(t, IdentifierSource::PhysicalFormat, i);
         }},
        {"all features", "dvd+r",
         [](DriveTable& t) {
             std::vector<uint8_t> a;
             return ReadAllFeatures(t, a);
         }},
        {"disc status", "dvd+rw-recorded",
         [](DriveTable& t) {
             bool empty = false;
             return ReadDiscStatus(t, empty);
         }},
        {"disc book type", "dvd+rw-recorded",
         [](DriveTable& t) {
             std::optional<uint8_t> n;
             return ReadDiscBookType(t, n);
         }},
        {"media information", "dvd+r",
         [](DriveTable& t) {
             MediaInformationReply a{};
             return ReadMediaInformation(t, a);
         }},
    };
    drive.SetLearnedDiscs({"ORIONDSCR16", "PRISMADR16"});
    for (const Read& r : reads) {
        SCOPED_TRACE(r.name);
        drive.ClearFaults();
        Insert(r.media);
        drive.SetVendorMode(true);
        ASSERT_EQ(r.read(table), kCommandCompleted);
        // The whole answer, as the drive gave it to the same command.
        const Bytes cdb = bus.Commands().back();
        std::vector<uint8_t> whole(16384);
        const emu::ScsiOutcome outcome = drive.Execute(cdb.data(), cdb.size(), 2, whole.data(),
                                                       static_cast<uint32_t>(table.LastTransferred()), 0);
        ASSERT_EQ(outcome.transferred, table.LastTransferred());
        Fault(cdb[0]).action = emu::FaultRule::Action::Reply;
        rules.back().reply.assign(whole.begin(), whole.begin() + outcome.transferred - 1);
        Arm();
        EXPECT_EQ(r.read(table), kCommandFailed);
        EXPECT_TRUE(table.LastFailure().shortAnswer);
    }
}

}  // namespace
}  // namespace dravix
