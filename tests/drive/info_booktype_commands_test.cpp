// The information and book type command layer: decoders on crafted answers, and the commands and
// procedures on a virtual drive behind the real pass-through code.

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
#include "tests/support/VirtualBus.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;

// --- decoders ------------------------------------------------------------------------------

TEST(InfoDecoders, RegionTextFromTheMask) {
    EXPECT_EQ(RegionText(0x00), "All Region");
    EXPECT_EQ(RegionText(0xFF), "No Region");
    EXPECT_EQ(RegionText(0xFE), "1");
    EXPECT_EQ(RegionText(0xFC), "12");
    EXPECT_EQ(RegionText(0xDE), "16");
    EXPECT_EQ(RegionText(0x7F), "8");
    EXPECT_EQ(RegionText(0x55), "2468");

    Bytes rpc(30, 0);
    rpc[5] = 0xFC;
    EXPECT_EQ(RegionMaskOf(rpc), 0xFC);
    EXPECT_FALSE(RegionMaskOf(std::span<const uint8_t>(rpc).first(5)));
}

TEST(InfoDecoders, BufferSizeIs8MOnlyFor2000h) {
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

Bytes Performance(uint32_t dataLength, std::vector<uint32_t> endLbas, size_t size = 200) {
    Bytes answer(size, 0);
    PutBe32(answer.data(), dataLength);
    for (size_t i = 0; i < endLbas.size() && 8 + 16 * (i + 1) <= size; ++i) {
        PutBe32(&answer[8 + 16 * i + 4], endLbas[i]);
    }
    return answer;
}

TEST(InfoDecoders, CapacityFromTheLastWriteSpeedDescriptor) {
    EXPECT_EQ(LastEndLbaOf(Performance(4 + 16, {0x229FFF})), 0x229FFF);
    EXPECT_EQ(CapacityText(0x229FFF), "4432.0 MB");
    EXPECT_EQ(LastEndLbaOf(Performance(4 + 48, {1, 2, 0x229FFF})), 0x229FFF);
    // A length that is not a multiple of 16 counts whole descriptors only.
    EXPECT_EQ(LastEndLbaOf(Performance(4 + 16 + 15, {7, 8})), 7);

    // No descriptor: nothing to show, whatever the length field says below 20.
    EXPECT_FALSE(LastEndLbaOf(Performance(4, {})));
    EXPECT_FALSE(LastEndLbaOf(Performance(19, {5})));
    EXPECT_FALSE(LastEndLbaOf(Performance(0, {5})));  // length - 4 must not wrap around
    EXPECT_FALSE(LastEndLbaOf(Performance(3, {5})));

    // A length beyond the 200-byte buffer takes the last descriptor the buffer holds (12).
    std::vector<uint32_t> many;
    for (uint32_t i = 1; i <= 12; ++i) many.push_back(i);
    EXPECT_EQ(LastEndLbaOf(Performance(0xFFFFFFFF, many)), 12);
    EXPECT_EQ(LastEndLbaOf(Performance(4 + 16 * 40, many)), 12);

    // The End LBA is signed; neither end of the range overflows.
    EXPECT_EQ(CapacityText(-1), "0.0 MB");
    EXPECT_EQ(CapacityText(0x7FFFFFFF), "4194304.0 MB");
}

// A feature descriptor: code, version/flags, additional length, data.
void AddFeature(Bytes& answer, uint16_t code, Bytes data) {
    answer.push_back(static_cast<uint8_t>(code >> 8));
    answer.push_back(static_cast<uint8_t>(code));
    answer.push_back(0x00);
    answer.push_back(static_cast<uint8_t>(data.size()));
    answer.insert(answer.end(), data.begin(), data.end());
}

Bytes Configuration(std::initializer_list<std::pair<uint16_t, Bytes>> features) {
    Bytes answer(8, 0);
    for (const auto& [code, data] : features) AddFeature(answer, code, data);
    PutBe32(answer.data(), static_cast<uint32_t>(answer.size() - 4));
    return answer;
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

// Records what a procedure tells its user.
struct Recorder final : BookTypeObserver {
    void Notice(BookTypeNotice notice) override { notices.push_back(notice); }
    void RowRead(BookTypeRow row, uint8_t value) override { rows.emplace_back(row, value); }

    std::vector<BookTypeNotice> notices;
    std::vector<std::pair<BookTypeRow, uint8_t>> rows;
};

const Bytes kVendorOn = {0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
const Bytes kVendorOff = {0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
const Bytes kReadPlusRw = {0xFF, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadPlusR = {0xFF, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadPlusRDl = {0xFF, 0x10, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kAllFeatures = {0x46, 0, 0, 0, 0, 0, 0, 0x40, 0x00, 0};
const Bytes kEject = {0x1B, 0, 0, 0, 0x02, 0};

struct OnVirtualDrive : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(table.InitTransport());
        ASSERT_EQ(table.EnumerateDrives(), 1);
    }

    void Insert(const char* media) {
        ASSERT_TRUE(drive.Insert(media));
        table.WaitUntilReady();  // past the medium-changed attention
        bus.ClearCommands();
    }

    emu::FaultRule& Fault(uint8_t opcode, std::map<uint8_t, uint8_t> bytes = {}) {
        rules.emplace_back();
        rules.back().opcode = opcode;
        rules.back().bytes = std::move(bytes);
        rules.back().sense = emu::kInvalidFieldInCdb;
        return rules.back();
    }
    void Arm() {
        for (const auto& rule : rules) drive.AddFault(rule);
        rules.clear();
    }

    bool Sent(const Bytes& cdb) const {
        const auto commands = bus.Commands();
        return std::find(commands.begin(), commands.end(), cdb) != commands.end();
    }
    std::vector<Bytes> Sequence(uint8_t opcodeA, uint8_t opcodeB = 0xFF, uint8_t opcodeC = 0xFF) const {
        std::vector<Bytes> out;
        for (const Bytes& cdb : bus.Commands()) {
            if (cdb[0] == opcodeA || cdb[0] == opcodeB || cdb[0] == opcodeC) out.push_back(cdb);
        }
        return out;
    }

    test::VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    DriveTable table;
    std::vector<emu::FaultRule> rules;
};

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
    rules.back().reply = Performance(4 + 16, {0x229FFF}, 24);
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

TEST_F(OnVirtualDrive, CheckDriveReadsTheRowsInOrderInsideVendorMode) {
    drive.SetBookType(emu::BookTypeRow::PlusR, 0x01);
    Recorder recorder;
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_FALSE(rows.failed);
    EXPECT_TRUE(rows.writesDvdPlusRDl);
    EXPECT_EQ(rows.values[1], 0x01);
    EXPECT_EQ(rows.values[2], 0xE1);
    EXPECT_EQ(rows.values[0], 0x92);
    EXPECT_TRUE(recorder.notices.empty());
    ASSERT_EQ(recorder.rows.size(), 3u);
    EXPECT_EQ(recorder.rows[0].first, BookTypeRow::PlusR);
    EXPECT_EQ(recorder.rows[1].first, BookTypeRow::PlusRDl);
    EXPECT_EQ(recorder.rows[2].first, BookTypeRow::PlusRw);
    const std::vector<Bytes> expected = {kVendorOn,    kReadPlusR, kVendorOff, kAllFeatures, kVendorOn,
                                         kReadPlusRDl, kVendorOff, kVendorOn,  kReadPlusRw,  kVendorOff};
    EXPECT_EQ(Sequence(0xFD, 0xFF, 0x46), expected);
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(OnVirtualDrive, WithoutTheDlFeatureTheDlRowIsNeverRead) {
    drive.Update([](emu::DriveState& s) { s.writesDvdPlusRDl = false; });
    Recorder recorder;
    DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_FALSE(rows.writesDvdPlusRDl);
    EXPECT_FALSE(rows.values[2]);
    EXPECT_TRUE(rows.values[0]);
    EXPECT_FALSE(Sent(kReadPlusRDl));

    // A failing or timed-out feature list counts as no DL, with its message.
    drive.Update([](emu::DriveState& s) { s.writesDvdPlusRDl = true; });
    Fault(0x46, {{7, 0x40}});
    Arm();
    rows = CheckDriveRows(table, recorder);
    EXPECT_FALSE(rows.writesDvdPlusRDl);
    EXPECT_TRUE(rows.values[0]);
    drive.ClearFaults();
    Fault(0x46, {{7, 0x40}}).action = emu::FaultRule::Action::HostTimeout;
    Arm();
    CheckDriveRows(table, recorder);
    EXPECT_EQ(recorder.notices,
              (std::vector{BookTypeNotice::GetConfigurationFailed, BookTypeNotice::GetConfigurationTimeout}));
    EXPECT_FALSE(Sent(kReadPlusRDl));
}

TEST_F(OnVirtualDrive, OverLongFeatureListAnswers) {
    // A reply that claims far more than the 16384 bytes and carries 003Bh only beyond the
    // first few descriptors still decides by what the buffer holds.
    Bytes reply = Configuration({{0x0000, {0, 0x1B, 1, 0}}, {0x003B, {0x01, 0, 0, 0}}});
    PutBe32(reply.data(), 0xFFFFFFF0);
    reply.resize(20000, 0);
    Fault(0x46, {{7, 0x40}}).action = emu::FaultRule::Action::Reply;
    rules.back().reply = reply;
    Arm();
    Recorder recorder;
    EXPECT_TRUE(CheckDriveRows(table, recorder).writesDvdPlusRDl);

    // A chain of descriptors whose lengths run to the end of the buffer and past it.
    drive.ClearFaults();
    Bytes chain(kConfigurationLength + 100, 0);
    PutBe32(chain.data(), 0xFFFFFFFF);
    for (size_t offset = 8; offset + 4 <= chain.size(); offset += 4 + 251) {
        chain[offset + 1] = 0x01;
        chain[offset + 3] = 251;
    }
    Fault(0x46, {{7, 0x40}}).action = emu::FaultRule::Action::Reply;
    rules.back().reply = chain;
    Arm();
    EXPECT_FALSE(CheckDriveRows(table, recorder).writesDvdPlusRDl);
    EXPECT_TRUE(recorder.notices.empty());
}

TEST_F(OnVirtualDrive, RefusedVendorModeOrFailedReadEndsTheCheck) {
    Fault(0xFF, {{1, 0x10}, {2, 0x00}});
    Arm();
    Recorder recorder;
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_TRUE(rows.failed);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::CheckDriveFailed});
    EXPECT_FALSE(Sent(kAllFeatures));
    EXPECT_FALSE(Sent(kReadPlusRw));
    EXPECT_EQ(bus.Commands().back(), kVendorOff);  // vendor mode is left after the failed read
}

TEST(BookTypeOnAnotherMakersDrive, RefusedVendorModeEndsTheCheckWithoutVendorModeOff) {
    test::VirtualBus bus;
    bus.AddDrive(emu::DriveKind::OtherMaker);
    DriveTable table;
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    Recorder recorder;
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_TRUE(rows.failed);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::DriveNotSupported});
    EXPECT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::NotSent);
    EXPECT_EQ(recorder.notices.size(), 2u);
    const auto commands = bus.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kVendorOff), 0);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](const Bytes& c) { return c[0] == 0xFE; }),
              0);
}

TEST_F(OnVirtualDrive, SettingADriveRowEjectsUnlessThePlusMediaOrNothingIsLoaded) {
    struct Case {
        const char* media;  // null: empty tray
        bool ejects;
    };
    const Case cases[] = {{nullptr, false},  {"dvd+r", false}, {"dvd+rw-blank", false}, {"dvd+r-dl", false},
                          {"dvd-rom", true}, {"cd-rom", true}, {"dvd-r", true},         {"dvd-ram", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.media ? c.media : "empty");
        drive.RemoveDisc();
        drive.Load();
        if (c.media) Insert(c.media);
        bus.ClearCommands();
        Recorder recorder;
        EXPECT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::Completed);
        EXPECT_EQ(Sent(kEject), c.ejects);
        EXPECT_EQ(drive.State().trayOpen, c.ejects);
        // The eject comes before vendor mode, the set inside it.
        const Bytes set = {0xFE, 0x05, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
        const std::vector<Bytes> tail = {kVendorOn, set, kVendorOff};
        EXPECT_EQ(Sequence(0xFD, 0xFE), tail);
        EXPECT_TRUE(recorder.notices.empty());
    }
}

TEST_F(OnVirtualDrive, BookTypeSetSurvivesARestart) {
    Recorder recorder;
    ASSERT_EQ(SetRowBookType(table, BookTypeRow::PlusRw, kBookDvdRom, recorder), SetSent::Completed);
    ASSERT_EQ(SetRowBookType(table, BookTypeRow::PlusRDl, kBookDvdRom, recorder), SetSent::Completed);
    EXPECT_TRUE(Sent({0xFE, 0x04, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(Sent({0xFE, 0x05, 0x01, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}));
    drive.Restart();
    table.WaitUntilReady();
    const DriveRows rows = CheckDriveRows(table, recorder);
    EXPECT_EQ(rows.values[0], kBookDvdRom);
    EXPECT_EQ(rows.values[1], kBookDvdPlusR);
    EXPECT_EQ(rows.values[2], kBookDvdRom);
    EXPECT_TRUE(recorder.notices.empty());
}

// A set that failed is told once the check after it shows the drive's own value; one whose answer
// failed after the drive took it is done; one that nothing can read back is not known.
TEST_F(OnVirtualDrive, WhatAFailedSetCameToTheCheckAfterItTells) {
    Fault(0xFE);
    Arm();
    Recorder recorder;
    EXPECT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::Failed);
    EXPECT_EQ(bus.Commands().back(), kVendorOff);
    EXPECT_TRUE(recorder.notices.empty());  // not before the drive has been read again
    RowSetCheck row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::WriteFailed);
    EXPECT_EQ(row.rows.values[1], kBookDvdPlusR);
    Insert("dvd+rw-recorded");
    EXPECT_EQ(SetDiscBookType(table, 0x01, recorder), SetSent::Failed);
    EXPECT_EQ(bus.Commands().back(), kVendorOff);
    ASSERT_TRUE(ReloadDisc(table));
    const MediaSetCheck media = CheckMediaAfterSet(table, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(media.outcome.check, WriteCheck::WriteFailed);
    EXPECT_EQ(recorder.notices,
              (std::vector{BookTypeNotice::SetDriveFailed, BookTypeNotice::SetMediaFailed}));
    EXPECT_EQ(drive.State().disc->bookType, 0x92);

    drive.ClearFaults();
    Fault(0xFE).action = emu::FaultRule::Action::AppliedTimeout;
    Fault(0xFF, {{1, 0x10}, {2, 0x00}});  // the check's first read
    rules.back().after = 1;
    Arm();
    recorder.notices.clear();
    ASSERT_EQ(SetRowBookType(table, BookTypeRow::PlusR, 0x01, recorder), SetSent::Failed);
    row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::Confirmed);
    EXPECT_TRUE(row.outcome.answerLost);
    EXPECT_TRUE(recorder.notices.empty());
    // The next check fails: the check's own failure gives way to the one notice that says so.
    row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Failed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::Unknown);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::SetDriveAnswerLost});
    // After a set the drive took, the same failure is a failed check: the drive is one it serves.
    recorder.notices.clear();
    Fault(0xFD, {{1, 0xF1}});
    Arm();
    row = CheckDriveAfterSet(table, BookTypeRow::PlusR, 0x01, SetSent::Completed, recorder);
    EXPECT_EQ(row.outcome.check, WriteCheck::ReadBackFailed);
    EXPECT_EQ(recorder.notices, std::vector{BookTypeNotice::CheckDriveFailed});
}

}  // namespace
}  // namespace dravix
