#include "drive/WriteCommands.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/Scsi.h"

namespace dravix {

namespace {

constexpr size_t kModeHeaderLength = 8;
constexpr size_t kWriteParametersAnswerLength = kModeHeaderLength + 2 + 0x32 + 8;  // room for a longer page
constexpr size_t kWriteParametersNeeded = 5;  // code, length, write type, track mode, data block type
constexpr size_t kBufferCapacityLength = 12;

}  // namespace

std::optional<WriteParametersPage> DecodeWriteParameters(std::span<const uint8_t> answer) {
    if (answer.size() < kModeHeaderLength) return std::nullopt;
    // The header's length counts what follows its own two bytes.
    answer = answer.first(std::min(answer.size(), size_t{GetBe16(answer.data())} + 2));
    const size_t at = kModeHeaderLength + GetBe16(&answer[6]);
    if (answer.size() < at + kWriteParametersNeeded) return std::nullopt;
    const std::span<const uint8_t> page = answer.subspan(at);
    if ((page[0] & 0x3F) != kWriteParametersPageCode) return std::nullopt;
    const size_t pageLength = std::min(page.size(), size_t{page[1]} + 2);
    if (pageLength < kWriteParametersNeeded) return std::nullopt;
    WriteParametersPage decoded;
    decoded.testWrite = (page[2] & 0x10) != 0;
    decoded.writeType = page[2] & 0x0F;
    decoded.dataBlockType = page[4] & 0x0F;
    decoded.page.assign(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(pageLength));
    return decoded;
}

uint8_t ReadWriteParameters(DriveTable& table, WriteParametersPage& page) {
    uint8_t cdb[12] = {0x5A, 0x08, kWriteParametersPageCode};  // no block descriptors, current values
    PutBe16(&cdb[7], kWriteParametersAnswerLength);
    uint8_t answer[kWriteParametersAnswerLength];
    const uint8_t status =
        table.ReadAnswer(cdb, answer, kModeHeaderLength + kWriteParametersNeeded, kInfoTimeoutSeconds);
    if (status != kCommandCompleted) return status;
    const auto decoded = DecodeWriteParameters(table.Received(answer));
    if (!decoded) return table.RequireReceived(kCommandCompleted, SIZE_MAX);
    page = *decoded;
    return status;
}

std::vector<uint8_t> WriteParametersList(const WriteParametersPage& page) {
    std::vector<uint8_t> list(kModeHeaderLength, 0);
    std::vector<uint8_t> body = page.page;
    if (body.size() < kWriteParametersNeeded) {
        body.assign(2 + 0x32, 0);
        body[1] = 0x32;
        body[3] = 0x04;  // data track, recorded uninterrupted
    }
    body[0] = kWriteParametersPageCode;
    body[2] = static_cast<uint8_t>((body[2] & 0xE0) | (page.testWrite ? 0x10 : 0) | (page.writeType & 0x0F));
    body[4] = static_cast<uint8_t>((body[4] & 0xF0) | (page.dataBlockType & 0x0F));
    list.insert(list.end(), body.begin(), body.end());
    return list;
}

uint8_t SetWriteParameters(DriveTable& table, const WriteParametersPage& page) {
    std::vector<uint8_t> list = WriteParametersList(page);
    uint8_t cdb[12] = {0x55, 0x10};  // page format
    PutBe16(&cdb[7], static_cast<uint16_t>(list.size()));
    return table.SendCommand(cdb, kDataOut, list.data(), static_cast<uint32_t>(list.size()), kInfoTimeoutSeconds);
}

void BuildWrite10Cdb(uint8_t (&cdb)[12], uint32_t lba, uint16_t count) {
    std::fill(std::begin(cdb), std::end(cdb), uint8_t{0});
    cdb[0] = 0x2A;
    PutBe32(&cdb[2], lba);
    PutBe16(&cdb[7], count);
}

uint8_t WriteSectors(DriveTable& table, uint32_t lba, uint16_t count, std::span<const uint8_t> data,
                     uint32_t timeoutSeconds) {
    const size_t bytes = size_t{count} * 2048;
    if (data.size() < bytes) return kCommandFailed;
    uint8_t cdb[12];
    BuildWrite10Cdb(cdb, lba, count);
    // The transport takes a writable pointer for either direction; a data-out command only reads it.
    return table.SendCommand(cdb, kDataOut, const_cast<uint8_t*>(data.data()), static_cast<uint32_t>(bytes),
                             timeoutSeconds);
}

std::optional<double> BufferCapacity::Fill() const {
    if (lengthBytes == 0) return std::nullopt;
    return 1.0 - static_cast<double>(std::min(blankBytes, lengthBytes)) / lengthBytes;
}

std::optional<BufferCapacity> DecodeBufferCapacity(std::span<const uint8_t> answer) {
    if (answer.size() < kBufferCapacityLength) return std::nullopt;
    if (answer[3] & 0x01) return std::nullopt;  // counted in blocks: not what was asked for
    return BufferCapacity{GetBe32(&answer[4]), GetBe32(&answer[8])};
}

uint8_t ReadBufferCapacity(DriveTable& table, BufferCapacity& capacity) {
    uint8_t cdb[12] = {0x5C};
    PutBe16(&cdb[7], kBufferCapacityLength);
    uint8_t answer[kBufferCapacityLength];
    const uint8_t status = table.ReadAnswer(cdb, answer, kBufferCapacityLength, kInfoTimeoutSeconds);
    if (status != kCommandCompleted) return status;
    const auto decoded = DecodeBufferCapacity(table.Received(answer));
    if (!decoded) return table.RequireReceived(kCommandCompleted, SIZE_MAX);
    capacity = *decoded;
    return status;
}

uint8_t SynchronizeCache(DriveTable& table, uint32_t timeoutSeconds) {
    const uint8_t cdb[12] = {0x35};
    return table.SendCommand(cdb, kNoData, nullptr, 0, timeoutSeconds);
}

}  // namespace dravix
