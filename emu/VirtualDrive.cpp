#include "emu/VirtualDrive.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "base/CdbLength.h"
#include "emu/Commands.h"
#include "emu/Media.h"

namespace dravix::emu {

namespace {

int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void RealSleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Holds the drive's store (if any) for one step and tells it at the end whether the step changed
// anything.
class StoreSession final {
  public:
    explicit StoreSession(StateStore* store) : m_store(store) {
        if (m_store) m_store->Lock();
    }
    ~StoreSession() { Finish(); }
    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;
    void MarkChanged(bool changed) { m_changed = m_changed || changed; }
    // Ends the step now; false when its change could not be stored.
    bool Finish() {
        StateStore* store = std::exchange(m_store, nullptr);
        return store == nullptr || store->Unlock(m_changed);
    }

  private:
    StateStore* m_store;
    bool m_changed = false;
};

uint32_t CopyOut(const std::vector<uint8_t>& reply, uint32_t allocation, int direction, uint8_t* buffer,
                 uint32_t bufferLength) {
    if (direction != kDataIn || !buffer) return 0;
    const size_t count = std::min<size_t>({reply.size(), allocation, bufferLength});
    if (count) std::memcpy(buffer, reply.data(), count);
    return static_cast<uint32_t>(count);
}

// Every rule that matches counts the call; the first one due acts, and is returned.
FaultRule* FireFault(std::vector<FaultRule>& faults, const uint8_t* cdb, size_t cdbLength) {
    FaultRule* fired = nullptr;
    for (FaultRule& rule : faults) {
        if (rule.spent || !rule.Matches(cdb, cdbLength)) continue;
        ++rule.seen;
        if (!fired && rule.seen > rule.after) {
            fired = &rule;
            if (rule.once) rule.spent = true;
        }
    }
    return fired;
}

// What a fault answers in place of the command, which then does not run; none for the faults that
// let it run.
std::optional<ScsiOutcome> OutcomeInstead(const FaultRule& fault, int direction, uint8_t* buffer,
                                          uint32_t bufferLength) {
    switch (fault.action) {
        case FaultRule::Action::CheckCondition:
            return CheckConditionOutcome(fault.sense);
        case FaultRule::Action::HostTimeout:
            return HostTimeoutOutcome();
        case FaultRule::Action::AdapterError:
            return AdapterErrorOutcome();
        case FaultRule::Action::Busy:
            return BusyOutcome();
        case FaultRule::Action::Reply:
            return GoodOutcome(CopyOut(fault.reply, UINT32_MAX, direction, buffer, bufferLength));
        case FaultRule::Action::BadAnswer:
        case FaultRule::Action::AppliedTimeout:
        case FaultRule::Action::AppliedCheck:
            break;
    }
    return std::nullopt;
}

// The command has been carried out, and then its answer is lost on its way or replaced by a
// failure.
ScsiOutcome OutcomeAfterApplied(const FaultRule& fault, ScsiOutcome outcome) {
    if (fault.action == FaultRule::Action::AppliedTimeout) return HostTimeoutOutcome();
    if (fault.action == FaultRule::Action::AppliedCheck) {
        // RECOVERED ERROR: the command completed after the drive's own retries, and its data
        // came with the sense, as a real drive's recovered read brings it.
        const uint32_t delivered = fault.sense.key == kRecoveredError.key ? outcome.transferred : 0;
        outcome = CheckConditionOutcome(fault.sense);
        outcome.transferred = delivered;
    }
    return outcome;
}

bool NeverCompletes(const FaultRule& fault) {
    return fault.action == FaultRule::Action::HostTimeout ||
           fault.action == FaultRule::Action::AppliedTimeout;
}

void LoadDisc(DriveState& s, int64_t nowMs) {
    s.trayOpen = false;
    if (s.disc) {
        s.pendingAttention = std::max(s.pendingAttention, kAttentionMediumChanged);
        s.readyAtMs = nowMs + s.latencyMs[static_cast<size_t>(LatencyClass::SpinUp)];
    }
}

}  // namespace

VirtualDrive::VirtualDrive(DriveKind kind) : VirtualDrive(FactoryState(kind)) {}

VirtualDrive::VirtualDrive(DriveState state)
    : m_state(std::move(state)), m_now(WallClockMs), m_sleep(RealSleep) {}

// Called with m_mutex held.
int64_t VirtualDrive::Now() const {
    return m_now ? m_now() : WallClockMs();
}

// What one Execute call asks for.
struct VirtualDrive::Call {
    const uint8_t* cdb = nullptr;
    size_t cdbLength = 0;
    int direction = kNoData;
    uint8_t* buffer = nullptr;
    uint32_t bufferLength = 0;
    uint32_t timeoutSeconds = 0;
};

// How long a command takes: its latency and, with the microsecond sleeper, the medium's time.
struct VirtualDrive::Pause {
    uint64_t latencyMs = 0;
    uint64_t mediumUs = 0;
};

namespace {

// Sleeps what the command takes; a command that takes longer than the caller waits ends in a
// host time-out once the time-out has passed.
ScsiOutcome Delay(ScsiOutcome outcome, uint64_t latencyMs, uint64_t mediumUs, uint32_t timeoutSeconds,
                  const SleepFunction& sleep, const MicrosecondSleepFunction& microSleep) {
    if (microSleep) {
        const uint64_t totalUs = latencyMs * 1000 + mediumUs;
        if (timeoutSeconds > 0 && totalUs > timeoutSeconds * 1'000'000ull) {
            microSleep(timeoutSeconds * 1'000'000ull);
            return HostTimeoutOutcome();
        }
        if (totalUs > 0) microSleep(totalUs);
    } else if (latencyMs > 0) {
        if (timeoutSeconds > 0 && latencyMs > timeoutSeconds * 1000ull) {
            if (sleep) sleep(timeoutSeconds * 1000);
            return HostTimeoutOutcome();
        }
        if (sleep) sleep(static_cast<uint32_t>(std::min<uint64_t>(latencyMs, UINT32_MAX)));
    }
    return outcome;
}

}  // namespace

ScsiOutcome VirtualDrive::Answer(const Call& call, detail::Command& command, const FaultRule* fault,
                                 Pause& pause, std::vector<uint8_t>& overwritten) {
    if (call.cdbLength < static_cast<size_t>(CdbLength(command.cdb[0])))
        return CheckConditionOutcome(kInvalidFieldInCdb);
    command.nowMs = Now();
    command.headLba = m_headLba;
    command.cacheFirst = m_cacheFirst;
    command.cacheEnd = m_cacheEnd;
    detail::RunCommand(command);
    m_headLba = command.headLba;
    m_cacheFirst = command.cacheFirst;
    m_cacheEnd = command.cacheEnd;
    pause.mediumUs = command.mediumMicroseconds;
    if (!m_microSleep) {
        // The medium's time in whole milliseconds; the rest is carried to the next command so that
        // a run of reads takes as long as the model says.
        const uint64_t carried = pause.mediumUs + m_mediumCarryUs;
        pause.latencyMs += carried / 1000;
        m_mediumCarryUs = carried % 1000;
        pause.mediumUs = 0;
    }
    ScsiOutcome outcome = GoodOutcome(0);
    if (command.failure) {
        outcome = CheckConditionOutcome(*command.failure);
    } else {
        // Kept so that an answer lost after all (a time-out) leaves the buffer as it was.
        if (call.direction == kDataIn && call.buffer != nullptr)
            overwritten.assign(call.buffer,
                               call.buffer + std::min<size_t>(command.reply.size(), call.bufferLength));
        outcome = GoodOutcome(
            CopyOut(command.reply, command.allocation, call.direction, call.buffer, call.bufferLength));
        if (fault && fault->action == FaultRule::Action::BadAnswer && outcome.transferred > 0)
            call.buffer[0] = fault->answerByte0;
    }
    return fault ? OutcomeAfterApplied(*fault, outcome) : outcome;
}

ScsiOutcome VirtualDrive::Execute(const uint8_t* cdb, size_t cdbLength, int direction, uint8_t* buffer,
                                  uint32_t bufferLength, uint32_t timeoutSeconds) {
    const Call call{.cdb = cdb,
                    .cdbLength = cdb ? cdbLength : 0,
                    .direction = direction,
                    .buffer = buffer,
                    .bufferLength = buffer ? bufferLength : 0,
                    .timeoutSeconds = timeoutSeconds};
    detail::Command command(m_state);
    if (cdb) std::memcpy(command.cdb.data(), cdb, std::min(call.cdbLength, command.cdb.size()));
    if (direction == kDataOut && buffer)
        command.dataOut = std::span<const uint8_t>(buffer, call.bufferLength);
    if (direction == kDataIn) command.dataInLength = call.bufferLength;

    ScsiOutcome outcome = GoodOutcome(0);
    std::vector<uint8_t> overwritten;  // the data-in buffer's bytes before the answer
    Pause pause;
    SleepFunction sleep;
    MicrosecondSleepFunction microSleep;
    TraceHook trace;
    StoreSession session(m_store);
    std::optional<DriveState> before;
    {
        std::lock_guard lock(m_mutex);
        sleep = m_sleep;
        microSleep = m_microSleep;
        trace = m_trace;
        if (m_detached) {
            outcome = CheckConditionOutcome(kLogicalUnitNotSupported);
        } else if (call.cdbLength == 0) {
            outcome = CheckConditionOutcome(kInvalidOpcode);
        } else {
            if (m_store) before = m_state;
            pause.latencyMs = m_state.latencyMs[static_cast<size_t>(detail::LatencyClassOf(command.cdb))];
            const FaultRule* fault = FireFault(m_state.faults, command.cdb.data(), call.cdbLength);
            const std::optional<ScsiOutcome> instead =
                fault ? OutcomeInstead(*fault, direction, call.buffer, call.bufferLength) : std::nullopt;
            outcome = instead ? *instead : Answer(call, command, fault, pause, overwritten);
            // A command that never completes costs its whole time-out, so that a simulated clock
            // sees a hung drive as the caller does.
            if (fault && microSleep && timeoutSeconds > 0 && NeverCompletes(*fault))
                pause.latencyMs = std::max<uint64_t>(pause.latencyMs, uint64_t{timeoutSeconds} * 1000 + 1);
            if (before) session.MarkChanged(*before != m_state);
        }
    }
    // Validate, then apply: what the drive cannot keep it does not do.
    if (!session.Finish() && before) {
        {
            std::lock_guard lock(m_mutex);
            m_state = *before;
        }
        outcome = CheckConditionOutcome(kInternalTargetFailure);
    }

    outcome = Delay(outcome, pause.latencyMs, pause.mediumUs, timeoutSeconds, sleep, microSleep);
    if (outcome.kind != ScsiOutcome::Kind::Good && outcome.transferred == 0 && !overwritten.empty())
        std::copy(overwritten.begin(), overwritten.end(), buffer);
    if (trace) trace(cdb, call.cdbLength, outcome);
    return outcome;
}

DriveState VirtualDrive::State() const {
    StoreSession session(m_store);
    std::lock_guard lock(m_mutex);
    return m_state;
}

void VirtualDrive::Update(const std::function<void(DriveState&)>& change) {
    StoreSession session(m_store);
    std::lock_guard lock(m_mutex);
    DriveState before = m_state;
    change(m_state);
    session.MarkChanged(before != m_state);
}

bool VirtualDrive::Insert(std::string_view media) {
    const MediaInfo* info = FindMedia(media);
    if (!info) return false;
    Update([&](DriveState& s) {
        m_headLba = 0;
        m_cacheFirst = m_cacheEnd = 0;
        s.discStopped = false;
        s.disc = Disc{info->name, info->bookType};
        detail::ForgetWriting(s);
        if (!s.trayOpen) LoadDisc(s, Now());  // the tray went out and in again
    });
    return true;
}

void VirtualDrive::RemoveDisc() {
    Update([&](DriveState& s) {
        m_cacheFirst = m_cacheEnd = 0;
        s.discStopped = false;
        s.disc.reset();
        if (s.pendingAttention == kAttentionMediumChanged) s.pendingAttention = kNoAttention;
    });
}

void VirtualDrive::Eject() {
    Update([&](DriveState& s) {
        m_cacheFirst = m_cacheEnd = 0;
        s.discStopped = false;
        s.trayOpen = true;
        if (s.pendingAttention == kAttentionMediumChanged) s.pendingAttention = kNoAttention;
    });
}

void VirtualDrive::Load() {
    Update([&](DriveState& s) {
        if (s.trayOpen) LoadDisc(s, Now());
    });
}

void VirtualDrive::Restart() {
    Update([&](DriveState& s) {
        const int64_t now = Now();
        for (OptionSetting& option : s.options) option.temporary.reset();
        s.testWrite = false;
        s.writeParameters = WriteParameters{};
        s.writeSpeedLimitKBps = 0;
        detail::ForgetWriting(s);
        s.wopcDisabled = false;
        s.vendorMode = false;
        s.readSpeedLimitKBps = 0;
        s.mediumLocked = false;
        s.discStopped = false;
        m_cacheFirst = m_cacheEnd = 0;
        s.becomingReadyCount = 0;
        s.pendingAttention = kAttentionPowerOn;
        s.readyAtMs =
            (s.disc && !s.trayOpen) ? now + s.latencyMs[static_cast<size_t>(LatencyClass::SpinUp)] : 0;
    });
}

void VirtualDrive::AddFault(FaultRule rule) {
    rule.seen = 0;
    rule.spent = false;
    Update([&](DriveState& s) { s.faults.push_back(std::move(rule)); });
}

void VirtualDrive::ClearFaults() {
    Update([](DriveState& s) {
        s.faults.clear();
        s.becomingReadyCount = 0;
    });
}

void VirtualDrive::SetBecomingReady(uint32_t testUnitReadyCount) {
    Update([&](DriveState& s) { s.becomingReadyCount = testUnitReadyCount; });
}

void VirtualDrive::SetLatency(LatencyClass latencyClass, uint32_t milliseconds) {
    Update([&](DriveState& s) {
        s.latencyMs[static_cast<size_t>(latencyClass)] = std::min(milliseconds, kMaxLatencyMs);
    });
}

void VirtualDrive::SetBookType(BookTypeRow row, uint8_t value) {
    Update([&](DriveState& s) { s.bookTypes[static_cast<size_t>(row)] = value; });
}

void VirtualDrive::SetOption(OptionKind option, uint8_t stateByte) {
    Update([&](DriveState& s) { s.options[static_cast<size_t>(option)].Write(stateByte & 0x03); });
}

void VirtualDrive::SetTestWrite(bool on) {
    Update([&](DriveState& s) { s.testWrite = on; });
}

void VirtualDrive::SetWopcDisabled(bool disabled) {
    Update([&](DriveState& s) { s.wopcDisabled = disabled; });
}

void VirtualDrive::SetLearnedDiscs(std::vector<std::string> ids) {
    if (ids.size() > kMaxLearnedDiscs) ids.resize(kMaxLearnedDiscs);
    for (std::string& id : ids) {
        if (id.size() > kLearnedIdLength) id.resize(kLearnedIdLength);
    }
    Update([&](DriveState& s) { s.learnedDiscs = std::move(ids); });
}

void VirtualDrive::SetRegionMask(uint8_t mask) {
    Update([&](DriveState& s) { s.regionMask = mask; });
}

void VirtualDrive::SetBufferKiB(uint16_t kib) {
    Update([&](DriveState& s) { s.bufferKiB = kib; });
}

void VirtualDrive::SetFeatureCodes(std::vector<uint8_t> codes) {
    if (codes.size() > kMaxFeatureCodes) codes.resize(kMaxFeatureCodes);
    Update([&](DriveState& s) { s.featureCodes = std::move(codes); });
}

void VirtualDrive::SetReadModel(ReadSpeedModel model) {
    Update([&](DriveState& s) { s.readModel = model; });
}

void VirtualDrive::SetInterfaceKBps(uint32_t kbps) {
    Update([&](DriveState& s) { s.interfaceKBps = std::clamp(kbps, kMinInterfaceKBps, kMaxInterfaceKBps); });
}

void VirtualDrive::SetMediumLocked(bool locked) {
    Update([&](DriveState& s) { s.mediumLocked = locked; });
}

void VirtualDrive::AddDamage(DamagedSpot spot) {
    if (spot.count == 0 || spot.firstLba > UINT32_MAX - (spot.count - 1)) return;
    Update([&](DriveState& s) {
        if (s.damage.size() < kMaxDamagedSpots) s.damage.push_back(spot);
    });
}

void VirtualDrive::ClearDamage() {
    Update([](DriveState& s) { s.damage.clear(); });
}

void VirtualDrive::SetVendorMode(bool on) {
    Update([&](DriveState& s) { s.vendorMode = on; });
}

void VirtualDrive::SetClock(NowFunction now) {
    std::lock_guard lock(m_mutex);
    m_now = std::move(now);
}

void VirtualDrive::SetSleeper(SleepFunction sleep) {
    std::lock_guard lock(m_mutex);
    m_sleep = std::move(sleep);
}

void VirtualDrive::SetMicrosecondSleeper(MicrosecondSleepFunction sleep) {
    std::lock_guard lock(m_mutex);
    m_microSleep = std::move(sleep);
}

void VirtualDrive::SetTraceHook(TraceHook hook) {
    std::lock_guard lock(m_mutex);
    m_trace = std::move(hook);
}

void VirtualDrive::AttachStore(StateStore* store) {
    std::lock_guard lock(m_mutex);
    m_store = store;
}

void VirtualDrive::ReplaceState(const DriveState& state) {
    std::lock_guard lock(m_mutex);
    // The file does not carry where a run of writes stands: a change made by another process
    // keeps it, unless the disc changed or the drive was restarted there.
    const bool sameRun = state.disc == m_state.disc && state.pendingAttention == kNoAttention;
    const int64_t writeDoneUs = m_state.writeDoneUs;
    const uint32_t writeNextLba = m_state.writeNextLba;
    m_state = state;
    if (sameRun && state.writeDoneUs == 0 && state.writeNextLba == 0) {
        m_state.writeDoneUs = writeDoneUs;
        m_state.writeNextLba = writeNextLba;
    }
}

DriveState VirtualDrive::LocalState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

std::optional<uint8_t> VirtualDrive::Target() const {
    std::lock_guard lock(m_mutex);
    return m_state.target;
}

void VirtualDrive::SetDetached(bool detached) {
    std::lock_guard lock(m_mutex);
    m_detached = detached;
}

}  // namespace dravix::emu
