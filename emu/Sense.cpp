#include "emu/Sense.h"

#include <cstring>

namespace dravix::emu {

namespace {

ScsiOutcome Blank(ScsiOutcome::Kind kind) {
    ScsiOutcome outcome{};
    outcome.kind = kind;
    std::memset(outcome.sense, 0, sizeof outcome.sense);
    outcome.transferred = 0;
    return outcome;
}

}  // namespace

ScsiOutcome GoodOutcome(uint32_t transferred) {
    ScsiOutcome outcome = Blank(ScsiOutcome::Kind::Good);
    outcome.transferred = transferred;
    return outcome;
}

ScsiOutcome CheckConditionOutcome(SenseCode code) {
    ScsiOutcome outcome = Blank(ScsiOutcome::Kind::CheckCondition);
    outcome.sense[0] = 0x70;  // current error, fixed format
    outcome.sense[2] = code.key & 0x0F;
    outcome.sense[7] = 10;  // bytes 8..17 follow
    outcome.sense[12] = code.asc;
    outcome.sense[13] = code.ascq;
    return outcome;
}

ScsiOutcome BusyOutcome() {
    return Blank(ScsiOutcome::Kind::Busy);
}

ScsiOutcome HostTimeoutOutcome() {
    return Blank(ScsiOutcome::Kind::HostTimeout);
}

ScsiOutcome AdapterErrorOutcome() {
    return Blank(ScsiOutcome::Kind::AdapterError);
}

SenseCode SenseOf(const ScsiOutcome& outcome) {
    return SenseCode{static_cast<uint8_t>(outcome.sense[2] & 0x0F), outcome.sense[12], outcome.sense[13]};
}

}  // namespace dravix::emu
