#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "emu/DriveState.h"

namespace dravix::emu {

// Environment variable that names the state file; when unset the default path is used.
inline constexpr const char* kStateFileVariable = "DRAVIX_VDRIVE_STATE";

// $XDG_STATE_HOME/dravix/vdrive.json, or ~/.local/state/dravix/vdrive.json.
std::string DefaultStateFilePath();
// The state file this process uses: DRAVIX_VDRIVE_STATE if set and not empty, else the default.
std::string StateFilePath();

// The text of a state file holding these drives.
std::string StateToText(const std::vector<DriveState>& drives);

// Parses a state file's text: its drives, or the problem (the place in the file and what is wrong
// with it, without the file's name).
Result<std::vector<DriveState>> StateFromText(const std::string& text);

// Reads a whole regular file without ever waiting (a FIFO or device is refused at once): its text,
// none when there is no such file, or why it cannot be read.
Result<std::optional<std::string>> ReadTextFile(const std::string& path);

// Replaces the file in one step (base/SafeFile.h): writes a new file beside it, syncs it and
// renames it over the old one, so that a reader sees either the old or the new text. Creates
// missing directories. A symbolic link is followed and its target replaced, in the target's
// folder; anything but a regular file is refused, and so is a read-only file.
Result<void> WriteTextFileAtomically(const std::string& path, const std::string& text);

// An advisory lock on "<state file>.lock" that keeps processes sharing the state file from
// interleaving their read-change-write steps. Works without the lock when the lock file cannot be
// created (a read-only directory, where nothing can be written anyway).
class StateFileLock final {
  public:
    explicit StateFileLock(const std::string& statePath);
    ~StateFileLock();
    StateFileLock(const StateFileLock&) = delete;
    StateFileLock& operator=(const StateFileLock&) = delete;

    void Acquire();
    void Release();

  private:
    std::string m_path;
    int m_fd = -1;
};

}  // namespace dravix::emu
