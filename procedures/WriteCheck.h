#pragma once

#include <optional>
#include <string>

namespace dravix {

// What a write to the drive came to. The write's own answer is not the last word: after a write
// that failed, timed out or lost its status the drive is read again (the read that follows a
// successful write), and what the drive holds decides.
enum class WriteCheck {
    Confirmed,       // the drive, read again, holds the value written
    Differs,         // the write completed, but the drive holds another value
    ReadBackFailed,  // the write completed; what the drive holds could not be read
    WriteFailed,     // the write failed, and the drive, read again, holds another value
    Unknown,         // the write failed and what the drive holds could not be read either
    Refused,         // the drive refused vendor mode before the write: nothing was sent
};

struct WriteOutcome {
    WriteCheck check = WriteCheck::Unknown;
    // The write's own answer said it failed (or never came), yet the drive holds the value, or
    // nothing tells what it holds: the answer was lost on its way.
    bool answerLost = false;

    bool Done() const { return check == WriteCheck::Confirmed; }
};

// `holdsRequested`: whether the read after the write shows the requested value; empty when that
// read failed.
WriteOutcome ClassifyWrite(bool writeCompleted, std::optional<bool> holdsRequested);

// What a report of the write says: whether the drive took it (null: not known), whether reading
// it back showed the value written (null: not read back), and whether its answer was lost.
struct WriteFacts {
    std::optional<bool> written;
    std::optional<bool> confirmed;
    bool answerLost = false;
};
WriteFacts FactsOf(const WriteOutcome& outcome);

namespace write_texts {

inline constexpr const char* kAnswerLostSettingHeld =
    "The drive's answer to the write was lost; reading the drive back shows the new setting.";
// "… could not be read back; check it with `dravix-cli testwrite`." `howToCheck` names the
// command or button that reads the setting.
std::string AnswerLostUnread(const std::string& howToCheck);

}  // namespace write_texts

}  // namespace dravix
