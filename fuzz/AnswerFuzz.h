#pragma once

// A drive that gives whatever answer a fuzz input scripts, standing behind fake device nodes so
// that the answer takes the real way up: SG_IO request, the kernel's residual count, DriveTable's
// short-answer rule, and finally the decoder. Every command gets the scripted answer, except the
// INQUIRY of a discovery made to bring the drive into the table.
//
// Input: [which] [ending] [transferred, 2 bytes big-endian, signed] answer bytes...
//   which        the answer (each target has its own list)
//   ending       low three bits: 0 and 5..7 completed, 1 CHECK CONDITION (the first answer bytes
//                are also its sense, as many as bits 3..7 × 2), 2 timed out, 3 BUSY, 4 ioctl error
//   transferred  what the drive says it moved: the residual count is the buffer's length less
//                this, so a negative value or one beyond the buffer is a residual out of range
//   answer       written into the buffer whatever the ending, also past `transferred`: bytes the
//                drive did not report as sent must never change what a decoder makes of them
//
// Each answer is decoded twice, once with those extra bytes and once without, and the two
// results must agree.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include <vector>

#include "drive/DriveTable.h"

namespace dravix::fuzz {

struct ScriptedAnswer {
    enum class Ending : uint8_t { Completed, CheckCondition, TimedOut, Busy, IoctlError };
    Ending ending = Ending::Completed;
    size_t senseLength = 0;  // CheckCondition: sense bytes the drive wrote
    int32_t transferred = 0;
    std::span<const uint8_t> bytes;
};

struct AnswerInput {
    uint8_t which = 0;
    ScriptedAnswer answer;
};
std::optional<AnswerInput> ParseAnswerInput(const uint8_t* data, size_t size);

// What one decoding gave: the command's status and a text of every decoded value.
struct Decoded {
    uint8_t status = kCommandFailed;
    std::string values;
};

class AnsweringDrive {
  public:
    AnsweringDrive();
    ~AnsweringDrive();
    AnsweringDrive(const AnsweringDrive&) = delete;
    AnsweringDrive& operator=(const AnsweringDrive&) = delete;

    DriveTable& Table() { return *m_table; }

    // Runs `decode` with the answer, once with the bytes past `transferred` in the buffer and once
    // without, and checks that both agree, that a command the drive did not complete is not
    // reported completed, and that a completed one brought at least `needed` bytes (`needed` is
    // asked after the decoding, with the table as the command left it). The table holds the drive
    // again afterwards.
    Decoded Run(const ScriptedAnswer& answer, const std::function<Decoded(DriveTable&)>& decode,
                const std::function<size_t()>& needed);

    // For decoding the INQUIRY of a discovery: Run's `decode` calls EnumerateDrives.
    void ScriptInquiry(bool scripted) { m_scriptInquiry = scripted; }

  private:
    struct Device;
    void BringDriveIn();

    std::shared_ptr<Device> m_device;
    std::unique_ptr<DriveTable> m_table;
    bool m_scriptInquiry = false;
};

// The one drive of a fuzz target, made on first use.
AnsweringDrive& SharedAnsweringDrive();

// A copy of exactly the bytes the drive sent, so that a decoder reading past them reads past a
// heap block (AddressSanitizer) rather than into the rest of the command's buffer.
inline std::vector<uint8_t> Exactly(std::span<const uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

// Appends "name=value;" to a decoded text.
void Note(std::string& values, const char* name, const std::string& value);
void Note(std::string& values, const char* name, long long value);

}  // namespace dravix::fuzz
