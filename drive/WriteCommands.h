#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "drive/Timeouts.h"

namespace dravix {

class DriveTable;

// The standard MMC commands a write test sends: the Write Parameters mode page (05h) with its
// Test Write bit, writing sectors, the drive's buffer and flushing it. Like the read commands,
// each builds its CDB, decodes only what arrived and returns the SendCommand status; an answer
// shorter than what must be in it is a failed command.

inline constexpr uint32_t kWriteTimeoutSeconds = 60;
// Flushing may write the whole buffer at the slowest speed, and then some.
inline constexpr uint32_t kSynchronizeCacheTimeoutSeconds = 200;

// --- MODE SENSE(10) / MODE SELECT(10) page 05h ------------------------------------------------

inline constexpr uint8_t kWriteParametersPageCode = 0x05;

struct WriteParametersPage {
    bool testWrite = false;     // byte 2 bit 4
    uint8_t writeType = 0;      // byte 2 bits 0..3: 0 packet, 1 track at once, 2 session at once, 3 raw
    uint8_t dataBlockType = 0;  // byte 4 bits 0..3: 8 = mode 1, 2048 bytes
    std::vector<uint8_t> page;  // the whole page as the drive sent it, from its code byte
};

// From a MODE SENSE(10) answer (header, block descriptors, page); none when the page is not there
// or was cut before its data block type.
std::optional<WriteParametersPage> DecodeWriteParameters(std::span<const uint8_t> answer);
uint8_t ReadWriteParameters(DriveTable& table, WriteParametersPage& page);
// The MODE SELECT(10) parameter list that writes `page` back with its three fields set: an empty
// header, then the page (its saveable bit cleared).
std::vector<uint8_t> WriteParametersList(const WriteParametersPage& page);
uint8_t SetWriteParameters(DriveTable& table, const WriteParametersPage& page);

// --- WRITE(10) ------------------------------------------------------------------------------

void BuildWrite10Cdb(uint8_t (&cdb)[12], uint32_t lba, uint16_t count);
// Writes `count` sectors of 2048 bytes from `data` at `lba`.
uint8_t WriteSectors(DriveTable& table, uint32_t lba, uint16_t count, std::span<const uint8_t> data,
                     uint32_t timeoutSeconds = kWriteTimeoutSeconds);

// --- READ BUFFER CAPACITY -------------------------------------------------------------------

struct BufferCapacity {
    uint32_t lengthBytes = 0;
    uint32_t blankBytes = 0;
    // How full the buffer is, 0..1; none for a buffer of no size.
    std::optional<double> Fill() const;
};
std::optional<BufferCapacity> DecodeBufferCapacity(std::span<const uint8_t> answer);
uint8_t ReadBufferCapacity(DriveTable& table, BufferCapacity& capacity);

// --- SYNCHRONIZE CACHE ----------------------------------------------------------------------

uint8_t SynchronizeCache(DriveTable& table, uint32_t timeoutSeconds = kSynchronizeCacheTimeoutSeconds);

}  // namespace dravix
