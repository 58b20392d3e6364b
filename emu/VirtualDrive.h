#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "base/TransferDirection.h"
#include "emu/DriveState.h"
#include "emu/Sense.h"

namespace dravix::emu {

namespace detail {
struct Command;
}

// Where a drive's state lives besides the drive itself (the scenario's state file). Lock brings
// the drive up to date and holds other users out; Unlock stores the state when it changed and
// returns false when a change could not be stored.
class StateStore {
  public:
    virtual ~StateStore() = default;
    virtual void Lock() = 0;
    virtual bool Unlock(bool changed) = 0;
};

// Time source in milliseconds (wall clock by default, so that processes sharing a state file
// agree on when a disc has spun up) and the sleep that latencies use; both replaceable by tests.
using NowFunction = std::function<int64_t()>;
using SleepFunction = std::function<void(uint32_t milliseconds)>;
// A sleep to the microsecond, for a simulated clock that times reads exactly.
using MicrosecondSleepFunction = std::function<void(uint64_t microseconds)>;
// Called after every command with its CDB and outcome.
using TraceHook = std::function<void(const uint8_t* cdb, size_t cdbLength, const ScsiOutcome& outcome)>;

// A software model of one drive: answers command blocks from its state, as the maker's drive (or
// one of the other kinds) would. Safe to use from several threads.
class VirtualDrive final {
  public:
    explicit VirtualDrive(DriveKind kind = DriveKind::Maker);
    explicit VirtualDrive(DriveState state);
    VirtualDrive(const VirtualDrive&) = delete;
    VirtualDrive& operator=(const VirtualDrive&) = delete;

    // Runs one CDB, its data going as `direction` (a TransferDirection) says.
    // Writes at most bufferLength bytes (and no more than the command's allocation length); a
    // time-out of 0 means no limit, else a latency longer than it ends in a host time-out. A change
    // the store cannot keep is undone and the command ends with a hardware error.
    ScsiOutcome Execute(const uint8_t* cdb, size_t cdbLength, int direction, uint8_t* buffer,
                        uint32_t bufferLength, uint32_t timeoutSeconds);

    DriveState State() const;
    // Changes the state as one step (stored when it changed).
    void Update(const std::function<void(DriveState&)>& change);

    // Tray and disc, as a user at the drive would handle them. Insert with the tray closed opens
    // it, puts the disc in and closes it again. Insert returns false for an unknown media name.
    bool Insert(std::string_view media);
    void RemoveDisc();
    void Eject();
    void Load();
    // Power cycle: temporary options, Test Write, WOPC and vendor mode are lost; book types,
    // permanent options and the learned discs stay; a unit attention (29h) is pending.
    void Restart();

    void AddFault(FaultRule rule);
    void ClearFaults();
    void SetBecomingReady(uint32_t testUnitReadyCount);
    void SetLatency(LatencyClass latencyClass, uint32_t milliseconds);

    // Firmware state, directly.
    void SetBookType(BookTypeRow row, uint8_t value);
    void SetOption(OptionKind option, uint8_t stateByte);  // as the option write command does
    void SetTestWrite(bool on);
    void SetWopcDisabled(bool disabled);
    void SetLearnedDiscs(std::vector<std::string> ids);
    void SetRegionMask(uint8_t mask);
    void SetBufferKiB(uint16_t kib);
    void SetFeatureCodes(std::vector<uint8_t> codes);
    void SetVendorMode(bool on);
    void SetReadModel(ReadSpeedModel model);
    void SetInterfaceKBps(uint32_t kbps);  // clamped to kMinInterfaceKBps..kMaxInterfaceKBps
    // As another program holding the drive would: the tray then refuses to open.
    void SetMediumLocked(bool locked);
    // Damaged sectors of the disc in the drive (at most kMaxDamagedSpots spots).
    void AddDamage(DamagedSpot spot);
    void ClearDamage();

    void SetClock(NowFunction now);
    void SetSleeper(SleepFunction sleep);
    // Replaces the millisecond sleeper while set: every command then sleeps its latency and the
    // medium's time to the microsecond.
    void SetMicrosecondSleeper(MicrosecondSleepFunction sleep);
    void SetTraceHook(TraceHook hook);

    // Used by the scenario that owns the drive.
    void AttachStore(StateStore* store);
    void ReplaceState(const DriveState& state);  // no store involved
    DriveState LocalState() const;               // no store involved
    std::optional<uint8_t> Target() const;       // no store involved
    void SetDetached(bool detached);             // a drive no longer in the scenario

  private:
    struct Call;
    struct Pause;

    int64_t Now() const;
    // The command's own answer, with the fault that lets it run (null for none) applied to it;
    // `overwritten` keeps the data-in bytes it replaced. Called with m_mutex held.
    ScsiOutcome Answer(const Call& call, detail::Command& command, const FaultRule* fault, Pause& pause,
                       std::vector<uint8_t>& overwritten);

    mutable std::mutex m_mutex;
    DriveState m_state;
    bool m_detached = false;
    StateStore* m_store = nullptr;
    NowFunction m_now;
    SleepFunction m_sleep;
    MicrosecondSleepFunction m_microSleep;
    TraceHook m_trace;
    // Where the pick-up is, and the part of a millisecond of medium time not yet slept: neither is
    // firmware state, so neither goes into the state file.
    uint32_t m_headLba = 0;
    uint64_t m_mediumCarryUs = 0;
    // What the drive's cache holds (sectors [first, end)); lost with the disc.
    uint32_t m_cacheFirst = 0;
    uint32_t m_cacheEnd = 0;
};

}  // namespace dravix::emu
