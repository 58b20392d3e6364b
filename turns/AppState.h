#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "drive/DriveNodes.h"

namespace dravix {

class DriveTable;

// The program-wide state the main window shares with the pages and the other windows. The
// application owns one and hands it to its windows with their services; a test makes its own.
// The windows' workers write ScanIdle and read PagesRemoving, the selection and the chosen drive
// from their threads, so those are atomics or guarded.
struct AppState {
    AppState() = default;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    std::atomic<uint8_t> selectedDriveIndex{0};  // the drive chosen in the main window's list
    bool sheetCreated = false;
    bool sheetPending = false;              // the last probe on the way to creating the sheet failed
    std::atomic<uint8_t> pagesRemoving{0};  // 1 while the main window removes pages
    uint8_t featureFlags = 0;               // bit (code - 1) set: that feature's page was added
    bool bookTypeReenabled = false;         // the timer gave the Book type buttons back since the last scan
    std::atomic<uint8_t> scanIdle{1};       // 0 while a run holds the drive (RunHold)
    // 1 while a write test runs (it holds ScanIdle at 0 too): the drive simulates its writes, and
    // the Test Write page and the read test keep off it until the setting is back.
    std::atomic<uint8_t> writeTestRunning{0};
    // Grows whenever the main window's rescan found another set of drives: a table listed under
    // an older number lists the drives again before it looks for the chosen one.
    std::atomic<uint64_t> driveListGeneration{0};

    bool HasFeature(uint8_t code) const { return (featureFlags >> (code - 1)) & 1u; }
    void SetFeature(uint8_t code) { featureFlags = static_cast<uint8_t>(featureFlags | (1u << (code - 1))); }

    // The drive chosen in the main window's list, by what identifies it (empty before the first
    // listing); read by the windows' workers.
    DriveIdentity ChosenDrive() const;
    void SetChosenDrive(const DriveIdentity& identity);

    // Selects the chosen drive in a window's own table, by its identity and never by a position
    // that another drive may have taken: the table lists the drives again first when the program
    // has rescanned since it listed them. False, with no drive selected (every command then
    // fails), when the chosen drive is not in the table. Before the first listing the index of
    // the list is used.
    bool SelectChosenDrive(DriveTable& table) const;
    // The transport and the drives of a window's own table, then the chosen drive selected. False
    // when any of it fails: nothing may be sent.
    bool OpenChosenDrive(DriveTable& table) const;
    // The same for a drive other than the chosen one (the drive whose disc a window watches).
    bool SelectListedDrive(DriveTable& table, const DriveIdentity& drive) const;

  private:
    friend class RunHold;
    void Hold();
    void LetGo();

    mutable std::mutex m_chosenMutex;
    DriveIdentity m_chosen;
    // The runs that hold the drive; ScanIdle follows their count.
    std::mutex m_holdMutex;
    int m_holds = 0;
};

// A run's part in ScanIdle (a Probix scan, a read test): ScanIdle is 0 while any run holds the
// drive and 1 only when none does, in whatever order the runs end. Taking it twice or letting it
// go twice counts once; a hold lets go as it goes.
class RunHold final {
  public:
    explicit RunHold(std::shared_ptr<AppState> state) : m_state(std::move(state)) {}
    ~RunHold() { Set(false); }
    RunHold(const RunHold&) = delete;
    RunHold& operator=(const RunHold&) = delete;

    void Set(bool holding);
    bool Holding() const { return m_holding; }

  private:
    std::shared_ptr<AppState> m_state;
    bool m_holding = false;
};

}  // namespace dravix
