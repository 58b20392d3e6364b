// The standard answers a drive gives the Information and Book Type pages, each through its read
// command (fuzz/AnswerFuzz.h) and, where the decoder is public, straight from the bytes the drive
// says it sent: INQUIRY at discovery, MODE SENSE page 2Ah (buffer size), REPORT KEY (region),
// GET CONFIGURATION (current profile and the feature walk), READ DVD STRUCTURE (identifiers and
// book type), GET PERFORMANCE (free capacity) and READ DISC INFORMATION (disc status).

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <vector>

#include "base/ByteOrder.h"
#include "drive/BookTypeCommands.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "fuzz/AnswerFuzz.h"
#include "fuzz/FuzzCheck.h"
#include "procedures/BookTypeProcedures.h"
#include "procedures/InfoProcedures.h"

namespace {

using namespace dravix;
using fuzz::Decoded;
using fuzz::Note;

// The bytes the drive says it sent, as far as the input holds them.
std::span<const uint8_t> Sent(const fuzz::ScriptedAnswer& answer) {
    return answer.bytes.first(
        std::min<size_t>(answer.bytes.size(), std::max<int32_t>(answer.transferred, 0)));
}

// Text of a fixed field: up to its first NUL.
std::string FieldText(std::span<const uint8_t> bytes, size_t offset, size_t width) {
    std::string text;
    for (size_t i = offset; i < std::min(bytes.size(), offset + width) && bytes[i] != 0; ++i)
        text.push_back(static_cast<char>(bytes[i]));
    return text;
}

void CheckIdentifier(const std::string& text, size_t longest, bool fromAlnum) {
    FUZZ_CHECK(text.size() <= longest || text == kTextNotAvailable || text == kTextNoIdentifier);
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    if (fromAlnum && text != kTextNotAvailable)
        FUZZ_CHECK(!text.empty() && std::isalnum(static_cast<uint8_t>(text[0])));
}

void CheckIdentifiers(const DiscIdentifiers& ids, IdentifierSource source) {
    switch (source) {
        case IdentifierSource::Adip:
            CheckIdentifier(ids.manufacturerId, 8, true);
            CheckIdentifier(ids.mediaTypeId, 3, true);
            break;
        case IdentifierSource::Prerecorded:
            CheckIdentifier(ids.manufacturerId, 6, true);
            CheckIdentifier(ids.mediaTypeId, 6, true);
            break;
        default:
            CheckIdentifier(ids.manufacturerId, 48, false);
            CheckIdentifier(ids.mediaTypeId, 16, false);
            FUZZ_CHECK(ids.manufacturerId.find('\r') == std::string::npos);
            break;
    }
}

DiscIdentifiers IdentifiersOf(IdentifierSource source, std::span<const uint8_t> bytes) {
    switch (source) {
        case IdentifierSource::Adip:
            return AdipIdentifiers(bytes);
        case IdentifierSource::Prerecorded:
            return PrerecordedIdentifiers(bytes);
        default:
            return PhysicalFormatIdentifiers(bytes);
    }
}

// The region text names each playable region (a clear bit) once, in order.
void CheckRegionText(uint8_t mask, const std::string& text) {
    if (mask == 0xFF || mask == 0x00) {
        FUZZ_CHECK(text == (mask == 0xFF ? kTextNoRegion : kTextAllRegion));
        return;
    }
    FUZZ_CHECK(text.size() == static_cast<size_t>(8 - std::popcount(mask)));
    for (size_t i = 0; i < text.size(); ++i) {
        FUZZ_CHECK(text[i] >= '1' && text[i] <= '8' && (i == 0 || text[i] > text[i - 1]));
        FUZZ_CHECK((mask & (1u << (text[i] - '1'))) == 0);
    }
}

void CheckCapacityText(const std::string& text) {
    double megabytes = 0;
    char unit[4] = {};
    FUZZ_CHECK(std::sscanf(text.c_str(), "%lf %3s", &megabytes, unit) == 2 && std::strcmp(unit, "MB") == 0);
    // 2048-byte sectors up to End LBA 7FFFFFFFh: at most 4 TiB, and never below -4 TiB.
    FUZZ_CHECK(megabytes >= -4194304.0 && megabytes <= 4194304.0);
}

enum Answer : uint8_t {
    kInquiry,
    kCapabilities,
    kRpcState,
    kProfile,
    kProfileForBookType,
    kAdip,
    kPrerecorded,
    kPhysicalFormat,
    kPerformance,
    kFeatures,
    kDiscStatus,
    kDiscBook,
    kAnswerCount,
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto input = fuzz::ParseAnswerInput(data, size);
    if (!input) return 0;
    const fuzz::ScriptedAnswer& answer = input->answer;
    fuzz::AnsweringDrive& drive = fuzz::SharedAnsweringDrive();
    const auto sent = fuzz::Exactly(Sent(answer));
    const std::span<const uint8_t> bytes(sent);
    const auto which = static_cast<Answer>(input->which % kAnswerCount);
    size_t needed = 0;
    const auto run = [&](const std::function<Decoded(DriveTable&)>& decode) {
        return drive.Run(answer, decode, [&] { return needed; });
    };

    switch (which) {
        case kInquiry: {
            drive.ScriptInquiry(true);
            run([&](DriveTable& table) {
                Decoded d;
                const int count = table.EnumerateDrives();
                d.status = count == 1 ? kCommandCompleted : kCommandFailed;
                const std::string label = table.DriveLabel();
                const std::string revision = table.FirmwareRevision();
                if (count == 1) {
                    // Product bytes 8..31 and revision 32..35 of what arrived; nothing else.
                    const size_t arrived = std::min<size_t>(table.LastTransferred(), answer.bytes.size());
                    const auto received = answer.bytes.first(arrived);
                    FUZZ_CHECK(revision == FieldText(received, 32, 4));
                    FUZZ_CHECK(label == FieldText(received, 8, 24) + revision);
                }
                Note(d.values, "label", label);
                return d;
            });
            drive.ScriptInquiry(false);
            break;
        }
        case kCapabilities: {
            needed = 22;
            FUZZ_CHECK(BufferSizeText(bytes) == kTextBuffer2M || bytes.size() >= 22);
            run([&](DriveTable& table) {
                Decoded d;
                uint8_t page[kCapabilitiesLength];
                d.status = ReadCapabilitiesPage(table, page);
                if (d.status == kCommandCompleted) {
                    const std::string text = BufferSizeText(table.Received(page));
                    FUZZ_CHECK(text == kTextBuffer8M || text == kTextBuffer2M);
                    Note(d.values, "buffer", text);
                }
                return d;
            });
            break;
        }
        case kRpcState: {
            needed = 6;
            FUZZ_CHECK(RegionMaskOf(bytes).has_value() == (bytes.size() >= 6));
            run([&](DriveTable& table) {
                Decoded d;
                uint8_t rpc[kRpcStateLength];
                d.status = ReadRpcState(table, rpc);
                if (d.status == kCommandCompleted) {
                    const auto mask = RegionMaskOf(table.Received(rpc));
                    FUZZ_CHECK(mask.has_value());
                    const std::string text = RegionText(*mask);
                    CheckRegionText(*mask, text);
                    Note(d.values, "region", text);
                }
                return d;
            });
            break;
        }
        case kProfile: {
            needed = 8;
            FUZZ_CHECK(CurrentProfileOf(bytes) == (bytes.size() >= 8 ? GetBe16(&bytes[6]) : 0));
            run([&](DriveTable& table) {
                Decoded d;
                uint8_t profile[kProfileLength];
                d.status = ReadCurrentProfile(table, profile);
                if (d.status == kCommandCompleted) {
                    const DiscType type = DiscTypeOfProfile(CurrentProfileOf(table.Received(profile)));
                    if (type.code != kDiscUnknown) FUZZ_CHECK(DiscTypeOfCode(type.code).code == type.code);
                    Note(d.values, "type", type.name);
                }
                return d;
            });
            break;
        }
        case kProfileForBookType: {
            needed = 8;
            run([&](DriveTable& table) {
                Decoded d;
                uint16_t profile = 0;
                d.status = ReadProfileForBookType(table, profile);
                Note(d.values, "kind", MediaKindName(MediaKindOfProfile(profile)));
                return d;
            });
            break;
        }
        case kAdip:
        case kPrerecorded:
        case kPhysicalFormat: {
            const IdentifierSource source = which == kAdip          ? IdentifierSource::Adip
                                            : which == kPrerecorded ? IdentifierSource::Prerecorded
                                                                    : IdentifierSource::PhysicalFormat;
            needed = which == kAdip ? 34 : which == kPrerecorded ? 35 : 617;
            CheckIdentifiers(IdentifiersOf(source, bytes), source);
            run([&](DriveTable& table) {
                Decoded d;
                DiscIdentifiers ids;
                d.status = ReadDiscIdentifiers(table, source, ids);
                if (d.status == kCommandCompleted) {
                    CheckIdentifiers(ids, source);
                    Note(d.values, "manufacturer", ids.manufacturerId);
                    Note(d.values, "media", ids.mediaTypeId);
                }
                return d;
            });
            break;
        }
        case kPerformance: {
            needed = 8;
            // A descriptor counts only when the answer holds all of it and the length covers it.
            if (const auto lba = LastEndLbaOf(bytes)) {
                FUZZ_CHECK(bytes.size() >= 24 && GetBe32(bytes.data()) >= 20);
                CheckCapacityText(CapacityText(*lba));
            }
            run([&](DriveTable& table) {
                Decoded d;
                uint8_t performance[kPerformanceLength];
                d.status = ReadWriteSpeedDescriptors(table, performance);
                if (d.status == kCommandCompleted) {
                    const auto lba = LastEndLbaOf(table.Received(performance));
                    if (lba) FUZZ_CHECK(table.LastTransferred() >= 24);
                    Note(d.values, "capacity", lba ? CapacityText(*lba) : "none");
                }
                return d;
            });
            break;
        }
        case kFeatures: {
            needed = 8;
            // Bytes past the data length the answer reports are no part of the feature list.
            if (bytes.size() >= 4) {
                const size_t reported = size_t{GetBe32(bytes.data())} + 4;
                if (reported < bytes.size())
                    FUZZ_CHECK(WritesDvdPlusRDl(bytes) == WritesDvdPlusRDl(bytes.first(reported)));
            }
            run([&](DriveTable& table) {
                Decoded d;
                std::vector<uint8_t> features;
                d.status = ReadAllFeatures(table, features);
                FUZZ_CHECK(features.size() == (d.status == kCommandCompleted ? table.LastTransferred() : 0));
                const auto exact = fuzz::Exactly(features);
                Note(d.values, "dl", WritesDvdPlusRDl(exact));
                return d;
            });
            break;
        }
        case kDiscStatus: {
            needed = 3;
            FUZZ_CHECK(!IsEmptyDisc(bytes) || bytes.size() >= 3);
            run([&](DriveTable& table) {
                Decoded d;
                bool empty = false;
                d.status = ReadDiscStatus(table, empty);
                Note(d.values, "empty", empty);
                return d;
            });
            break;
        }
        case kDiscBook: {
            needed = 5;
            FUZZ_CHECK(DiscBookNibbleOf(bytes).has_value() == (bytes.size() >= 5));
            run([&](DriveTable& table) {
                Decoded d;
                std::optional<uint8_t> nibble;
                d.status = ReadDiscBookType(table, nibble);
                FUZZ_CHECK(nibble.has_value() == (d.status == kCommandCompleted));
                if (nibble) FUZZ_CHECK(*nibble <= 0x0F);
                Note(d.values, "book", DisplayOfDiscBookType(nibble).name);
                return d;
            });
            break;
        }
        case kAnswerCount:
            break;
    }
    return 0;
}
