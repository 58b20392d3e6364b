#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Result.h"
#include "emu/DriveState.h"
#include "emu/VirtualDrive.h"

namespace dravix::emu {

class StateFileLock;

enum class Preset {
    Demo,       // maker's drive (features 1 2 3 5 6 7, good blank DVD+R, realistic latencies), then another
                // maker's drive
    Minimal,    // one maker's drive with a good blank DVD+R, no latencies
    TwoDrives,  // two maker's drives: features 1 2 3 5 6 7 with a DVD+R, features 2 3 5 with a recorded
                // DVD+RW
};

std::optional<Preset> PresetFromName(std::string_view name);  // "demo", "minimal", "two-drives"
std::vector<DriveState> PresetDrives(Preset preset);

// One or more virtual drives, in memory or kept in step with a state file that other processes
// may share: before every command (and every read or change through the drives' own functions)
// the file is read again if it changed, and after every change the file is replaced. A state file
// that cannot be read or parsed is never written; the drives keep their last good state and
// LastError() says what is wrong. Safe to use from several threads.
//
// The drives are a list (Drive(index), dravix-vdrive --drive N); each one also has a target on
// the virtual host adapter (DriveState::target), its identity: a drive that joins takes the lowest
// free target, and removing a drive moves the later ones up in the list but never to another
// target, so a command for a target whose drive went reaches no other drive.
class Scenario final : private StateStore {
  public:
    Scenario();
    explicit Scenario(Preset preset);
    explicit Scenario(const std::vector<DriveState>& drives);
    ~Scenario() override;
    Scenario(const Scenario&) = delete;
    Scenario& operator=(const Scenario&) = delete;

    // Opens an existing state file and stays bound to it; when it is missing, unreadable or
    // malformed, a message that names the file and the problem.
    static Result<std::unique_ptr<Scenario>> Open(const std::string& path);

    // Writes the drives to the file (replacing it) and stays bound to it; when the file cannot be
    // written, a message that names it and the problem.
    Result<void> BindToFile(const std::string& path);
    const std::string& Path() const { return m_path; }

    size_t DriveCount();
    // The drive at `index` of the list. Throws std::out_of_range for an index at or above
    // DriveCount().
    VirtualDrive& Drive(size_t index);
    // The drive that answers at `target`; null when no drive does (it was removed).
    VirtualDrive* DriveAtTarget(uint8_t target);
    // Adds a drive after the last one, at the target its state names or else at the lowest free
    // one (none when all kTargetCount are taken: the adapter does not show it).
    VirtualDrive& AddDrive(DriveKind kind);
    VirtualDrive& AddDrive(const DriveState& state);
    // Takes drive `index` out; the drives after it move up one place in the list and keep their
    // targets. False when there is none.
    bool RemoveDrive(size_t index);
    std::vector<DriveState> States();
    // The state file's text for the drives as they are now.
    std::string Text();

    // The state file's current problem ("<file>: <what is wrong>"), empty when there is none.
    std::string LastError();
    // Receives each new problem once (the library prints it on standard error).
    void SetErrorSink(std::function<void(const std::string&)> sink);

    // For every drive, present and future.
    void SetClock(NowFunction now);
    void SetSleeper(SleepFunction sleep);
    void SetMicrosecondSleeper(MicrosecondSleepFunction sleep);

  private:
    void Lock() override;
    bool Unlock(bool changed) override;
    void Refresh();
    bool Save();
    void Apply(const std::vector<DriveState>& states);
    // A drive object for a state that joins the list: one that `listed` does not use, else a new one.
    VirtualDrive& FreeDrive(const std::vector<VirtualDrive*>& listed);
    void ReportError(std::string error);
    std::vector<DriveState> CurrentStates() const;

    std::recursive_mutex m_mutex;
    int m_depth = 0;
    bool m_dirty = false;

    std::vector<std::unique_ptr<VirtualDrive>>
        m_drives;                         // every drive made; never shrinks: references stay valid
    std::vector<VirtualDrive*> m_listed;  // the scenario's drives, in list order

    std::string m_path;
    std::unique_ptr<StateFileLock> m_fileLock;
    std::string m_lastText;  // what the file held when last read or written
    bool m_fileBad = false;  // the file is malformed or unreadable: never write it
    std::string m_error;
    std::function<void(const std::string&)> m_errorSink;

    NowFunction m_now;
    SleepFunction m_sleep;
    MicrosecondSleepFunction m_microSleep;
};

}  // namespace dravix::emu
