#pragma once

#include <string>

#include "drive/DriveTable.h"

// What the command line needs of the terminal and the system around it: Ctrl+C and whether
// standard error is a terminal. The only file of the command line with code that differs between
// systems.
namespace dravix::cli {

// How soon a wait for the drive notices Ctrl+C.
inline constexpr auto kInterruptLatency = std::chrono::milliseconds(50);

// Ctrl+C while a command runs. The first asks the command to stop: a wait for the drive ends
// within kInterruptLatency, a scan stops between two commands, a question on the terminal is
// answered no. The second ends the program at once (the system's own handling is back by then).
// Installed for the life of the object; the handler that was there before comes back after it.
class InterruptScope final {
  public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

// True once Ctrl+C was pressed within the current InterruptScope.
bool Interrupted();

// Waits for a drive that end within kInterruptLatency of Ctrl+C (with ReadyState::Cancelled).
ReadyWaitHooks InterruptibleWaitHooks();

// Standard error is a terminal.
bool StandardErrorIsTerminal();

}  // namespace dravix::cli
