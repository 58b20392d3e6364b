#include "procedures/SwitchProcedures.h"

#include <algorithm>
#include <initializer_list>

#include "drive/Scsi.h"
#include "drive/VendorMode.h"
#include "procedures/SwitchTexts.h"

namespace dravix {

namespace {

using StateRead = uint8_t (*)(DriveTable& table, OptionReply& reply);

struct ExpectedByte {
    size_t index;
    uint8_t value;
};

VerifiedWrite WriteAndReadBack(DriveTable& table, const std::function<uint8_t()>& write, StateRead read,
                               std::initializer_list<ExpectedByte> expected) {
    VerifiedWrite result;
    bool written = false;
    {
        const VendorModeScope vendorMode(table);
        if (!vendorMode) {
            result.check = WriteCheck::Refused;
            result.failure = table.LastFailure();
            return result;
        }
        written = write() == kCommandCompleted;
        if (!written) result.failure = table.LastFailure();
    }
    // A write that failed, timed out or lost its status may still have been applied: only the
    // drive can tell, so it is read again whatever the write answered.
    table.WaitUntilReady();
    std::optional<bool> holds;
    {
        const VendorModeScope vendorMode(table);
        if (vendorMode && read(table, result.reported) == kCommandCompleted) {
            holds = std::all_of(expected.begin(), expected.end(),
                                [&](const ExpectedByte& e) { return result.reported[e.index] == e.value; });
        } else if (written) {
            result.failure = table.LastFailure();
        }
    }
    const WriteOutcome outcome = ClassifyWrite(written, holds);
    result.check = outcome.check;
    result.answerLost = outcome.answerLost;
    return result;
}

}  // namespace

VerifiedWrite WriteOverSpeedVerified(DriveTable& table, uint8_t state) {
    return WriteAndReadBack(table, [&] { return WriteOverSpeed(table, state); }, ReadOptionStates,
                            {{kOverSpeedByte, state}});
}

VerifiedWrite WriteLumardVerified(DriveTable& table, uint8_t unknownDiscState, uint8_t supportedDiscState) {
    return WriteAndReadBack(table, [&] { return WriteLumard(table, unknownDiscState, supportedDiscState); },
                            ReadOptionStates,
                            {{kUnknownDiscByte, unknownDiscState}, {kSupportedDiscByte, supportedDiscState}});
}

VerifiedWrite SetTestWriteVerified(DriveTable& table, bool enable) {
    return WriteAndReadBack(table, [&] { return SetTestWrite(table, enable); }, ReadSwitchStates,
                            {{kTestWriteByte, static_cast<uint8_t>(enable ? 1 : 0)}});
}

VerifiedWrite SetWopcDisabledVerified(DriveTable& table, bool disable) {
    return WriteAndReadBack(table, [&] { return SetWopcDisabled(table, disable); }, ReadSwitchStates,
                            {{kWopcDisabledByte, static_cast<uint8_t>(disable ? 1 : 0)}});
}

VerifiedWrite ClearLearnedDiscsVerified(DriveTable& table) {
    return WriteAndReadBack(table, [&] { return ClearLearnedDiscs(table); }, ReadLearnedCount,
                            {{0, 0}, {1, 0}});
}

bool WithVendorMode(DriveTable& table, const std::function<void()>& sequence) {
    const VendorModeScope vendorMode(table);
    if (!vendorMode) return false;
    sequence();
    return true;
}

const char* OptionStateDescription(uint8_t state) {
    const std::optional<bool> on = OptionStateIsOn(state);
    const std::optional<SettingScope> scope = OptionStateScope(state);
    if (!on || !scope) return nullptr;
    if (*scope == SettingScope::Temporary)
        return *on ? option_texts::kOnUntilRestart : option_texts::kOffUntilRestart;
    return *on ? option_texts::kOnKept : option_texts::kOffKept;
}

}  // namespace dravix
