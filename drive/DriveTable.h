#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "drive/Messages.h"
#include "drive/Scsi.h"
#include "drive/Timeouts.h"

namespace dravix {

class Platform;
class TransportPath;

inline constexpr int kMaxDrives = 8;
inline constexpr std::intptr_t kNoDevice = -1;

// A device node of a drive, as discovery found it (pass-through path).
struct DriveNode {
    std::string path;       // "/dev/sr0", "/dev/sg1"
    unsigned uid = 0;       // owner
    unsigned gid = 0;       // group
    std::string groupName;  // empty when unknown
    unsigned mode = 0;      // permission bits (0660)
    bool opened = false;    // we could open it for reading and writing
};

// One drive found by discovery. A free slot holds zeros and no device handle.
struct DriveEntry {
    std::intptr_t deviceHandle = kNoDevice;  // pass-through: descriptor / handle commands go through
    uint8_t adapterId = 0;                   // ASPI: host adapter number
    uint8_t targetId = 0;                    // ASPI: SCSI target id
    char productName[50] = {};               // INQUIRY bytes 8..31 as the drive returned them
    char revision[12] = {};                  // INQUIRY bytes 32..35
    std::string nodeName;                    // pass-through: the node opened ("/dev/sg1"), for diagnostics
    std::vector<DriveNode> nodes;            // pass-through: the block node, then its generic node if any
    std::string adapterName;                 // ASPI: the host adapter's identifier ("VIRTUAL")
};

// A candidate drive node that exists but could not be opened for lack of permission.
struct RefusedNode {
    std::string path;                   // the node that refused us ("/dev/sr0" or "/dev/sg1")
    std::string groupName;              // the group that owns it, empty when unknown
    bool genericModuleMissing = false;  // no SCSI generic nodes exist at all
};

// What discovery saw of the system besides the drives, so that an empty or refused list can be
// explained.
struct DiscoveryFacts {
    bool passThrough = false;         // the facts below were gathered (pass-through path)
    int driveNodes = 0;               // CD/DVD block nodes (/dev/srN) that exist
    bool cdromDriverLoaded = true;    // the kernel's CD/DVD driver (sr) is present
    bool genericDriverLoaded = true;  // the SCSI generic driver (sg) is present
    // Drives that did not answer INQUIRY in time (on either path); counted by the table itself.
    int inquiryTimeouts = 0;
};

// What Enumerate and SendCommand need of the table they fill; implemented by DriveTable.
class DiscoveryTarget {
  public:
    virtual ~DiscoveryTarget() = default;
    // True when the table holds kMaxDrives entries: further drives are ignored.
    virtual bool Full() const = 0;
    // Puts the candidate into the next free entry, points the selection at it and sends INQUIRY
    // with the given allocation length. On success the entry takes the drive's identity and the
    // count grows. Returns the SendCommand status; on failure the caller still owns the handle.
    virtual uint8_t TryAddDrive(const DriveEntry& candidate, uint8_t inquiryLength) = 0;
    virtual void NoteRefusedNode(const RefusedNode& node) = 0;
    virtual void NoteFacts(const DiscoveryFacts& facts) = 0;
};

// How a drive answered the waits of WaitForDrive.
enum class ReadyState {
    Ready,               // TEST UNIT READY completed
    NoMedium,            // the drive reports that no medium is present (ASC 3Ah)
    Failed,              // another failure; LastSense holds it
    StillBecomingReady,  // the drive was still becoming ready when the wait limit ran out
    Cancelled,           // the caller's stop request ended the wait between two polls
};

// How long WaitForDrive keeps retrying a drive that is becoming ready, unless its hooks say otherwise.
inline constexpr std::chrono::milliseconds kReadyWaitLimit{30'000};

// What WaitForDrive uses to pass time and to learn that its caller gave up. Empty functions take
// the steady clock and a sleep that a stop request cuts short.
struct ReadyWaitHooks {
    // How long a drive that keeps saying it is becoming ready is retried.
    std::chrono::milliseconds limit = kReadyWaitLimit;
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds, const std::stop_token&)> sleep;
    // A stop request ends the wait between polls with ReadyState::Cancelled.
    std::stop_token stop;
    // Called once per wait when the drive first says it is becoming ready (for a "Drive
    // activating..." status).
    std::function<void()> becomingReady;
};

// What a DriveTable is given by whoever makes it: the operating system it reaches drives through,
// and where the drive layer's own messages go. The program's windows take theirs from the
// application, the command line from its environment.
struct DriveServices {
    std::shared_ptr<Platform> platform;  // null: SystemPlatform()
    MessageHandler messages;             // empty: standard error
};

// The drives of the computer and the one operation that sends a command block to the selected
// one. Each window that talks to drives owns one; an instance is used by one thread at a time.
class DriveTable final : private DiscoveryTarget {
  public:
    explicit DriveTable(DriveServices services = {});
    ~DriveTable() override;
    DriveTable(const DriveTable&) = delete;
    DriveTable& operator=(const DriveTable&) = delete;

    // Chooses the path (DetectPassThrough) and prepares it (LoadAspi). Shows the ASPI messages.
    bool InitTransport();
    void DetectPassThrough();
    bool LoadAspi();
    bool UsePassThrough() const { return m_usePassThrough != 0; }

    // Discovery: closes handles of an earlier run, fills the entries in discovery order.
    int EnumerateDrives();
    uint8_t DriveCount() const { return m_driveCount; }
    bool SelectDrive(uint8_t index);
    // Selects no drive: every command fails until a drive is selected again (the chosen drive is
    // not in this table's list).
    void Deselect() { m_selectedIndex = 255; }
    uint8_t SelectedIndex() const { return m_selectedIndex; }
    const DriveEntry& Entry(int index) const { return m_entries[index]; }

    // "%s%s" of product name and revision of the selected drive; empty when the table is empty.
    std::string DriveLabel() const;
    std::string FirmwareRevision() const;
    // The label of the drive at `index`, whichever is selected; empty for an index without drive.
    std::string DriveLabelAt(int index) const;

    // A number the owner gives the listing it made (which rescan of the program it follows).
    uint64_t ListingGeneration() const { return m_listingGeneration; }
    void SetListingGeneration(uint64_t generation) { m_listingGeneration = generation; }
    // Stops every later command of a sequence at once (status 1, nothing sent), vendor mode off
    // aside; null lets every command through. Called from the thread that sends.
    void SetStopHook(std::function<bool()> stopped) { m_stopHook = std::move(stopped); }

    // 0 completed, 1 failed (LastSense holds a CHECK CONDITION's sense), 255 timed out.
    uint8_t SendCommand(const uint8_t* cdb, int direction, void* data, uint32_t length,
                        uint32_t timeoutSeconds);

    // A data-in command into the zero-filled answer that must bring at least `needed` bytes: one
    // that completes with less is a failed command (status 1, no sense, LastFailure().shortAnswer),
    // so a field the drive did not send never reads as a zero it sent.
    uint8_t ReadAnswer(const uint8_t* cdb, std::span<uint8_t> answer, size_t needed, uint32_t timeoutSeconds);
    // The same rule for an answer whose needed length shows only in the answer itself: the status
    // of the last command, or 1 when it completed with fewer than `needed` bytes.
    uint8_t RequireReceived(uint8_t status, size_t needed);
    // Bytes the data phase of the last command moved (for data in: how much of the answer the
    // drive sent); 0 after a failed command and after one without data.
    uint32_t LastTransferred() const { return m_lastTransferred; }
    // Bytes the data phase moved before the drive reported CHECK CONDITION (a read the drive
    // recovered with its own retries brings all of its data so); 0 after any other outcome.
    uint32_t TransferredBeforeSense() const { return m_lastSenseTransferred; }
    // The part of an answer buffer that the last command filled.
    std::span<const uint8_t> Received(std::span<const uint8_t> answer) const {
        return answer.first(std::min<size_t>(answer.size(), m_lastTransferred));
    }

    Sense LastSense() const { return m_lastSense; }
    uint8_t SenseKey() const { return m_lastSense.key; }
    uint8_t SenseAsc() const { return m_lastSense.asc; }
    // Operating-system error of the last command whose platform call failed (errno on Linux,
    // GetLastError on Windows); 0 when the last command reached the drive.
    int LastOsError() const { return m_lastOsError; }

    // The sense and operating-system error of the last command, kept across a command that must
    // not hide them (vendor mode off after a failed command).
    struct Failure {
        uint8_t status = kCommandCompleted;  // 0 / 1 / 255 as SendCommand returned it
        Sense sense;
        int osError = 0;
        bool shortAnswer = false;  // the command completed, but its answer lacked fields
        uint32_t transferred = 0;
        bool adapterError = false;  // failed at the adapter, with no status of the drive's own
    };
    Failure LastFailure() const {
        return {m_lastStatus,      m_lastSense,       m_lastOsError,
                m_lastShortAnswer, m_lastTransferred, m_lastAdapterError};
    }
    void RestoreFailure(const Failure& failure);

    bool MoveTray(bool open);
    bool SetVendorMode(bool on);
    // True only when the drive reports that no medium is present. Gives up with false after the
    // hooks' wait limit while the drive keeps reporting that it is becoming ready, and when the
    // hooks' stop request arrives.
    bool WaitUntilReady();
    // The same wait, with the reason it ended.
    ReadyState WaitForDrive();
    // Limit, clock, sleep, stop request and observer of this table's waits (kept until replaced).
    void SetReadyWaitHooks(ReadyWaitHooks hooks);
    const ReadyWaitHooks& ReadyWait() const { return m_readyWait; }

    // Nodes skipped during the last EnumerateDrives because we may not open them.
    const std::vector<RefusedNode>& RefusedNodes() const { return m_refused; }
    const DiscoveryFacts& Facts() const { return m_facts; }

  private:
    bool Full() const override;
    uint8_t TryAddDrive(const DriveEntry& candidate, uint8_t inquiryLength) override;
    void NoteRefusedNode(const RefusedNode& node) override;
    void NoteFacts(const DiscoveryFacts& facts) override;
    void CloseHandles();

    std::shared_ptr<Platform> m_platform;
    MessageHandler m_messages;
    std::unique_ptr<TransportPath> m_path;

    uint8_t m_usePassThrough = 0;
    uint8_t m_driveCount = 0;
    uint8_t m_selectedIndex = 255;
    int32_t m_adapterCount = 0;
    Sense m_lastSense;
    int m_lastOsError = 0;
    uint8_t m_lastStatus = kCommandCompleted;
    uint32_t m_lastTransferred = 0;
    uint32_t m_lastSenseTransferred = 0;
    bool m_lastShortAnswer = false;
    bool m_lastAdapterError = false;
    DriveEntry m_entries[kMaxDrives];
    std::vector<RefusedNode> m_refused;
    DiscoveryFacts m_facts;
    ReadyWaitHooks m_readyWait;
    uint64_t m_listingGeneration = 0;
    std::function<bool()> m_stopHook;
};

// What a failure text adds so that a script or a support request can tell failures apart:
// " (status 1, sense 05/24/00)", " (status 1, short answer: 2 bytes)", " (status 1, os error 5)",
// " (status 255, timed out)", " (status 1, no sense)".
std::string FailureDetail(const DriveTable::Failure& failure);

}  // namespace dravix
