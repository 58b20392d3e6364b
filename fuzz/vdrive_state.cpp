// The virtual drive's state file reader on arbitrary text. A refused text says why; an accepted
// one holds valid drives, writes back to a text that reads as the same drives, and each of its
// drives answers a round of the commands the program sends (fuzz/VirtualDriveFuzz.h checks them).

#include <string>
#include <vector>

#include "emu/StateFile.h"
#include "emu/VirtualDrive.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/VirtualDriveFuzz.h"

namespace {

using namespace dravix;

struct Probe {
    std::vector<uint8_t> cdb;
    int direction;
    uint32_t length;
};

// Identification, readiness, vendor mode and feature list, the information and scan reads.
const Probe kProbes[] = {
    {{0x12, 0, 0, 0, 0x38, 0}, 2, 56},
    {{0x00, 0, 0, 0, 0, 0}, 0, 0},
    {{0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0}, 0, 0},
    {{0xFD, 0x1B, 'Z', 'A', 'R', 'N', 0x0E, 0, 0xFF, 0, 0, 0}, 2, 255},
    {{0xFD, 0x1B, 'Z', 'A', 'R', 'N', 0x16, 0x07, 0, 0, 0, 0}, 2, 252},
    {{0xFD, 0xFB, 'Z', 'A', 'R', 'N', 0x05, 0x02, 0x03, 0x00, 0x00, 0x03}, 2, 4},
    {{0xFD, 0xFB, 'Z', 'A', 'R', 'N', 0x05, 0x0D, 0x03, 0x00, 0x00, 0x00}, 2, 8},
    {{0xFF, 0x10, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 2},
    {{0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0x00, 0}, 2, 256},
    {{0xA4, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0x08, 0}, 2, 8},
    {{0x46, 0x02, 0, 0, 0, 0, 0, 0x40, 0x00, 0}, 2, 16384},
    {{0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x03, 0}, 2, 264},
    {{0xAD, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0x2C, 0, 0}, 2, 300},
    {{0x51, 0, 0, 0, 0, 0, 0, 0, 0x22, 0}, 2, 34},
    {{0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0}, 0, 0},
};

bool HasScriptedReplies(const emu::DriveState& state) {
    for (const emu::FaultRule& rule : state.faults) {
        if (rule.action == emu::FaultRule::Action::Reply) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Result<std::vector<emu::DriveState>> parsed = emu::StateFromText(text);
    if (!parsed) {
        FUZZ_CHECK(!parsed.Failure().text.empty());
        return 0;
    }
    const std::vector<emu::DriveState>& drives = *parsed;
    const Result<std::vector<emu::DriveState>> reread = emu::StateFromText(emu::StateToText(drives));
    FUZZ_CHECK(reread.Ok());
    FUZZ_CHECK(*reread == drives);

    for (const emu::DriveState& state : drives) {
        FUZZ_CHECK(emu::ValidateState(state).empty());
        emu::VirtualDrive drive(state);
        fuzz::MakeTimeless(drive);
        for (const Probe& probe : kProbes) {
            fuzz::RunCheckedCommand(drive, probe.cdb, probe.cdb.size(), probe.direction, probe.length, {},
                                    HasScriptedReplies(state));
        }
    }
    return 0;
}
