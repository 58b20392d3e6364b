#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "drive/Timeouts.h"

namespace dravix {

class DriveTable;

// The book type a drive writes into the physical format information of new DVD+RW, DVD+R and
// DVD+R DL media, and the book type of a loaded DVD+RW disc: the vendor read (FFh) and set (FEh)
// commands and the standard reads that find out which disc is loaded, with the decoders of their
// answers. The procedures the Book Type page and the command line run on top of them live in
// procedures/BookTypeProcedures.h.

// Book type bytes: upper four bits the book type, lower four the part version.
inline constexpr uint8_t kBookNone = 0x00;
inline constexpr uint8_t kBookDvdRom = 0x01;
inline constexpr uint8_t kBookDvdPlusRw = 0x92;
inline constexpr uint8_t kBookDvdPlusR = 0xA1;
inline constexpr uint8_t kBookDvdPlusRDl = 0xE1;

// The bytes a drive row can hold: none (00h) and the four book types. Any other byte is not a
// value the drive can mean; it is shown as unknown and never the basis of a change.
bool KnownDriveBookType(uint8_t value);

// The three media classes whose written book type the drive keeps.
enum class BookTypeRow { PlusRw = 0, PlusR = 1, PlusRDl = 2 };
inline constexpr BookTypeRow kAllBookTypeRows[] = {BookTypeRow::PlusRw, BookTypeRow::PlusR,
                                                   BookTypeRow::PlusRDl};

// The command bytes of each row.
struct BookTypeRowInfo {
    uint8_t readByte1, readByte2;  // vendor read CDB bytes 1 and 2
    uint8_t setByte1, setByte3;    // vendor set CDB bytes 1 and 3
    uint8_t ownValue;              // the row's own book type byte
};
const BookTypeRowInfo& RowInfo(BookTypeRow row);

// Kinds of loaded media, from the current profile.
enum class MediaKind {
    CdRom,
    CdR,
    CdRw,
    DvdRom,
    DvdPlusR,
    DvdPlusRw,
    DvdMinusR,
    DvdMinusRw,
    DvdRam,
    DvdPlusRDl,
    Other,
    NoMedium,
    Failed,
};
MediaKind MediaKindOfProfile(uint16_t profile);  // the low byte counts

// --- decoders --------------------------------------------------------------------------------

inline constexpr size_t kConfigurationLength = 16384;
inline constexpr uint16_t kFeatureDvdPlusRDlWrite = 0x003B;

// Walks the feature descriptors of a GET CONFIGURATION answer: true when descriptor 003Bh has a
// first data byte of 01h. Stops at the data length the drive reports and never reads beyond the
// answer, whatever that length says.
bool WritesDvdPlusRDl(std::span<const uint8_t> answer);

// READ DISC INFORMATION: disc status (byte 2, bits 0..1) 0 means an empty disc.
bool IsEmptyDisc(std::span<const uint8_t> answer);

// READ DVD STRUCTURE format 00h: the book type nibble of byte 4; none when the answer is too short.
std::optional<uint8_t> DiscBookNibbleOf(std::span<const uint8_t> answer);

// --- commands (each returns the SendCommand status) ------------------------------------------

uint8_t ReadDriveBookType(DriveTable& table, BookTypeRow row, uint8_t& value);
uint8_t SetDriveBookTypeCommand(DriveTable& table, BookTypeRow row, uint8_t value);
uint8_t SetDiscBookTypeCommand(DriveTable& table, uint8_t value);
// GET CONFIGURATION allocation 8 into 12 bytes; profile receives the Current Profile field.
uint8_t ReadProfileForBookType(DriveTable& table, uint16_t& profile);
// GET CONFIGURATION of all features, allocation 16384; answer then holds what the drive sent.
uint8_t ReadAllFeatures(DriveTable& table, std::vector<uint8_t>& answer);
uint8_t ReadDiscStatus(DriveTable& table, bool& empty);
uint8_t ReadDiscBookType(DriveTable& table, std::optional<uint8_t>& nibble);

// WaitUntilReady, TEST UNIT READY: sense key 2 with ASC 3Ah is no medium; otherwise the current
// profile decides (a failed read: Failed).
MediaKind DetermineMediaKind(DriveTable& table);

// TEST UNIT READY says the tray holds no disc (sense key 2, ASC 3Ah).
bool TrayIsEmpty(DriveTable& table);

}  // namespace dravix
