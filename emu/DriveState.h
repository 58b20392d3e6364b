#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emu/Sense.h"

namespace dravix::emu {

enum class DriveKind {
    Maker,        // the maker's drive: vendor mode and every vendor command
    OtherMaker,   // a drive of another maker: knows none of the vendor commands
    OldFirmware,  // the maker's drive with old firmware: feature list without the signature
};

// The three media classes whose written book type the drive keeps.
enum class BookTypeRow { PlusRw = 0, PlusR = 1, PlusRDl = 2 };

enum class OptionKind { UnknownDisc = 0, SupportedDisc = 1, OverSpeed = 2 };

// Command classes that can be given a latency; SpinUp is the time a disc takes to come up to
// speed: after a load (the drive answers "becoming ready" meanwhile, from the moment the tray is
// in), and when a stopped disc is started or read. SpinDown is the time a disc takes to stop.
// Tray is the time the tray takes to open or close.
enum class LatencyClass { Command = 0, Tray = 1, Vendor = 2, TeFe = 3, SpinUp = 4, SpinDown = 5 };
inline constexpr size_t kLatencyClassCount = 6;

std::string_view DriveKindName(DriveKind kind);  // "maker", "other-maker", "old-firmware"
std::optional<DriveKind> DriveKindFromName(std::string_view name);
std::string_view LatencyClassName(
    LatencyClass latencyClass);  // "command", "tray", "vendor", "tefe", "spinup", "spindown"
std::optional<LatencyClass> LatencyClassFromName(std::string_view name);
// How the drive spins a disc it reads: constant angular velocity (the speed grows with the
// radius), partial CAV (CAV until the speed reaches the maximum, constant after), zoned CLV
// (constant speed within each of four zones, a step up at each) or plain CLV.
enum class ReadSpeedModel { Cav = 0, PartialCav = 1, ZonedClv = 2, Clv = 3 };
std::string_view ReadSpeedModelName(ReadSpeedModel model);  // "cav", "p-cav", "z-clv", "clv"
std::optional<ReadSpeedModel> ReadSpeedModelFromName(std::string_view name);

// How the drive writes a disc at the speed asked for: plain CLV, zoned CLV (four zones, a step up
// at each), partial CAV (CAV until the speed is reached), CAV, or by the medium and the speed (CLV
// up to 4X DVD / 16X CD, faster: zoned CLV on DVD+R DL, partial CAV on other DVDs, CAV on CDs).
// "marginal" writes as partial CAV and slows to half speed on the outer 40 per cent of the disc,
// as a drive does on a disc it finds poor.
enum class WriteStrategy { Auto = 0, Clv = 1, ZonedClv = 2, PartialCav = 3, Cav = 4, Marginal = 5 };
std::string_view WriteStrategyName(WriteStrategy strategy);  // "auto", "clv", "z-clv", "p-cav", "cav", "marginal"
std::optional<WriteStrategy> WriteStrategyFromName(std::string_view name);

// The Write Parameters mode page (05h) as far as the drive keeps it; lost at a power cycle.
struct WriteParameters {
    bool testWrite = false;     // simulate: writes go through without recording
    uint8_t writeType = 1;      // 0 packet, 1 track at once, 2 session at once, 3 raw
    uint8_t dataBlockType = 8;  // 8: mode 1, 2048 bytes

    friend bool operator==(const WriteParameters&, const WriteParameters&) = default;
};

std::string_view BookTypeRowName(BookTypeRow row);  // "dvd+rw", "dvd+r", "dvd+r-dl"
std::string_view OptionKindName(OptionKind kind);   // "unknown-disc", "supported-disc", "overspeed"

// An option switch kept in the drive: state byte bit 1 = on, bit 0 = temporary. A temporary
// value overrides the permanent one until the next power cycle.
struct OptionSetting {
    uint8_t permanent = 0;             // 0 or 2
    std::optional<uint8_t> temporary;  // 1 or 3
    uint8_t Reported() const { return temporary.value_or(permanent); }
    // Applies a written state byte (0..3).
    void Write(uint8_t state);

    friend bool operator==(const OptionSetting&, const OptionSetting&) = default;
};

struct Disc {
    std::string media;     // catalogue name
    uint8_t bookType = 0;  // first byte of its physical format information (changeable on DVD+RW)
    // Sectors recorded from LBA 0 on a disc that was blank: more than 0 makes it appendable, with
    // its next writable address here.
    uint32_t recordedSectors = 0;

    friend bool operator==(const Disc&, const Disc&) = default;
};

// A rule that makes matching commands misbehave. It matches on the operation code and,
// optionally, CDB byte 1 (the vendor sub-code), byte 6 (the vendor function) and any further
// bytes; it lets `after` matching calls pass and then fires once or on every later match.
struct FaultRule {
    enum class Action {
        CheckCondition,  // CHECK CONDITION with `sense`
        HostTimeout,     // the command never completes
        Busy,            // status BUSY
        BadAnswer,       // the command runs, its answer's byte 0 becomes `answerByte0`
        Reply,           // GOOD with `reply` as the data, the command is not run
        // The command runs and changes what it changes, but its status is lost: a host time-out
        // (AppliedTimeout), or CHECK CONDITION with `sense` (AppliedCheck).
        AppliedTimeout,
        AppliedCheck,
        AdapterError,  // the adapter fails the request; the drive gives no status (QEMU's drive
                       // through virtio-scsi does this for some commands it lacks)
    };

    uint8_t opcode = 0;
    std::optional<uint8_t> subCode;
    std::optional<uint8_t> function;
    std::map<uint8_t, uint8_t> bytes;  // further CDB byte index → value
    uint32_t after = 0;
    bool once = false;
    Action action = Action::CheckCondition;
    SenseCode sense;
    uint8_t answerByte0 = 1;
    std::vector<uint8_t> reply;

    uint32_t seen = 0;   // matching calls so far
    bool spent = false;  // a once-rule that has fired

    bool Matches(const uint8_t* cdb, size_t cdbLength) const;

    friend bool operator==(const FaultRule&, const FaultRule&) = default;
};

// Sectors of the disc in the drive that cannot be read.
struct DamagedSpot {
    uint32_t firstLba = 0;
    uint32_t count = 1;

    friend bool operator==(const DamagedSpot&, const DamagedSpot&) = default;
};

std::string_view FaultActionName(FaultRule::Action action);  // "check", "timeout", "busy", "bad-answer",
                                                             // "reply", "applied-timeout", "applied-check",
                                                             // "adapter-error"
std::optional<FaultRule::Action> FaultActionFromName(std::string_view name);

// Everything one virtual drive is: identity, firmware settings (permanent and until power-off),
// tray and disc, pending conditions, and the faults and latencies a test or user gave it.
struct DriveState {
    DriveKind kind = DriveKind::Maker;
    // The SCSI target the drive answers at on the virtual host adapter: given by the scenario when
    // the drive joins it and kept for good, whatever drives are added or removed beside it, as a
    // real adapter's target stays where the drive is plugged in. None until the drive joins one.
    std::optional<uint8_t> target;
    std::string vendor;    // up to 8 characters, padded with blanks in INQUIRY
    std::string product;   // up to 16
    std::string revision;  // up to 4
    std::vector<uint8_t> featureCodes;
    uint16_t bufferKiB = 8192;
    // How fast data goes from the drive's cache to the computer, in kB/s (1000 bytes): a read of
    // sectors still in the cache takes this long and no more; no read is faster.
    uint32_t interfaceKBps = 33000;
    uint8_t regionMask = 0xFE;
    bool writesDvdPlusRDl = true;
    ReadSpeedModel readModel = ReadSpeedModel::Cav;
    WriteStrategy writeStrategy = WriteStrategy::Auto;
    // A faulty drive that records although simulation is on.
    bool ignoresSimulation = false;

    // Kept across power cycles.
    std::array<uint8_t, 3> bookTypes{0x92, 0xA1, 0xE1};  // by BookTypeRow
    std::array<OptionSetting, 3> options{};              // by OptionKind
    std::vector<std::string> learnedDiscs;

    // Lost at a power cycle.
    bool testWrite = false;
    bool wopcDisabled = false;
    bool vendorMode = false;
    // The read speed set with SET CD SPEED or SET STREAMING, in kB/s; 0: the drive's maximum.
    uint32_t readSpeedLimitKBps = 0;
    // A program holds the disc in (PREVENT ALLOW MEDIUM REMOVAL): the tray does not open.
    bool mediumLocked = false;
    // The disc was stopped (START STOP UNIT with Start clear): the next read spins it up.
    bool discStopped = false;
    WriteParameters writeParameters;
    // The write speed set with SET CD SPEED or SET STREAMING, in kB/s; 0: the disc's fastest.
    uint32_t writeSpeedLimitKBps = 0;
    // While writing: the drive's clock in microseconds at which everything taken into its buffer
    // has gone onto the disc, and the address the next write continues at.
    int64_t writeDoneUs = 0;
    uint32_t writeNextLba = 0;

    bool trayOpen = false;
    std::optional<Disc> disc;
    uint8_t pendingAttention = 0;     // ASC of a unit attention not yet reported (28h, 29h), 0 none
    int64_t readyAtMs = 0;            // clock time at which a loaded disc has spun up
    uint32_t becomingReadyCount = 0;  // TEST UNIT READYs still answered "becoming ready"

    std::array<uint32_t, kLatencyClassCount> latencyMs{};
    std::vector<FaultRule> faults;
    std::vector<DamagedSpot> damage;  // of whatever disc is in the drive, until cleared

    friend bool operator==(const DriveState&, const DriveState&) = default;
};

inline constexpr size_t kMaxLearnedDiscs = 20;  // what the media information answer can carry
inline constexpr size_t kLearnedIdLength = 12;
inline constexpr size_t kMaxFeatureCodes = 64;
// The longest latency a command class may be given: a drive that takes longer is broken, and
// every caller's time-out ends such a command anyway.
inline constexpr uint32_t kMaxLatencyMs = 120000;
inline constexpr size_t kMaxDamagedSpots = 256;
// The interface rates a drive may be given, in kB/s: from 1X CD to beyond any SATA link.
inline constexpr uint32_t kMinInterfaceKBps = 150;
inline constexpr uint32_t kMaxInterfaceKBps = 1000000;
// The targets of the virtual host adapter (0..7), the ones that discovery scans on it.
inline constexpr uint8_t kTargetCount = 8;
// What a read over a damaged sector costs: the drive retries before it gives up.
inline constexpr uint32_t kDamagedReadRetryMs = 750;

// A drive of the kind as it leaves the factory: identity, features 1 2 3 5 6 7 on the maker's
// drive, default book types and options, closed empty tray.
DriveState FactoryState(DriveKind kind);

// Checks the rules a state must keep (lengths, value ranges); returns the first problem, or an
// empty text.
std::string ValidateState(const DriveState& state);

}  // namespace dravix::emu
