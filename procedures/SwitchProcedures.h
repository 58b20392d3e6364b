#pragma once

#include <functional>

#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "procedures/WriteCheck.h"

namespace dravix {

// The switch pages' procedures over the option and switch commands: each write is bracketed by
// vendor mode on and off and then checked by reading the drive again.

// --- verified writes ----------------------------------------------------------------------------

// A write is done only when the drive, read again, reports what was written. The drive is read
// again after every write, also after one that failed, timed out or lost its status: what it
// holds decides (ClassifyWrite).
struct VerifiedWrite {
    WriteCheck check = WriteCheck::Unknown;
    // The write's own answer failed, yet the drive holds the value (Confirmed), or nothing tells
    // what it holds (Unknown).
    bool answerLost = false;
    // Refused, WriteFailed, Unknown: the write's failure; ReadBackFailed: the read's. The command
    // with its status, sense, operating-system error or short answer (FailureDetail describes it).
    DriveTable::Failure failure;
    OptionReply reported{};  // Confirmed, Differs, WriteFailed: the state the drive reports
    bool Done() const { return check == WriteCheck::Confirmed; }
    WriteOutcome Outcome() const { return {check, answerLost}; }
};

// Each sends the pages' sequence: vendor mode on, the write, vendor mode off, the wait for the
// drive, vendor mode on, the state read, vendor mode off (the read also after a failed write); and
// compares the read with the write. The caller selects the drive and waits for it before.
VerifiedWrite WriteOverSpeedVerified(DriveTable& table, uint8_t state);  // reported: option states
VerifiedWrite WriteLumardVerified(DriveTable& table, uint8_t unknownDiscState, uint8_t supportedDiscState);
VerifiedWrite SetTestWriteVerified(DriveTable& table, bool enable);  // reported: switch states
VerifiedWrite SetWopcDisabledVerified(DriveTable& table, bool disable);
VerifiedWrite ClearLearnedDiscsVerified(DriveTable& table);  // confirmed by a learned count of 0

// --- option states -----------------------------------------------------------------------------

// Whether an option state byte is on or off and whether the drive keeps it after a restart, as
// the page tells it (option_texts); null for a value that says neither.
const char* OptionStateDescription(uint8_t state);

// --- vendor mode --------------------------------------------------------------------------------

// Vendor mode on, the sequence, vendor mode off. False when the drive refuses vendor mode: the
// sequence does not run and no off is sent.
bool WithVendorMode(DriveTable& table, const std::function<void()>& sequence);

}  // namespace dravix
