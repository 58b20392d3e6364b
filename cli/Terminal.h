#pragma once

#include <streambuf>
#include <string>

#include "drive/DriveTable.h"

// What the command line needs of the terminal and the system around it: signals that stop a
// command, the standard streams, and whether standard error is a terminal and how wide it is. The
// code that differs between systems sits in Terminal_posix.cpp and Terminal_windows.cpp.
namespace dravix::cli {

// How soon a wait for the drive notices a stop.
inline constexpr auto kInterruptLatency = std::chrono::milliseconds(50);

// Once for the process, before anything is written: a write that fails must fail with its error
// instead of ending the program (SIGPIPE and SIGXFSZ are ignored, so a closed pipe or a file size
// limit is an ordinary write error), and numbers are written in the C locale's form.
void PrepareProcess();

// Ctrl+C, SIGTERM and SIGHUP while a command runs. The first asks the command to stop: a wait for
// the drive ends within kInterruptLatency, a scan stops between two commands, a question on the
// terminal is answered no, a write not yet sent is not sent. The second of any of them ends the
// program at once (the system's own handling is back by then). Installed for the life of the
// object; the handlers that were there before come back after it.
class InterruptScope final {
  public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;
};

// True once a stop was asked for within the current InterruptScope, by a signal or because
// standard output has no reader any more (StandardOutputBroken).
bool Interrupted();

// Standard output is a pipe or socket whose reader is gone (a write fails with EPIPE): what the
// command still has to say has no one to read it, so it stops between commands and ends without
// a message.
bool StandardOutputBroken();

// Waits for a drive that end within kInterruptLatency of a stop (with ReadyState::Cancelled).
ReadyWaitHooks InterruptibleWaitHooks();

// Standard error is a terminal; its width in columns (80 when it cannot be told).
bool StandardErrorIsTerminal();
// Standard input is a terminal: a question can be answered there.
bool StandardInputIsTerminal();
int StandardErrorColumns();

// The buffer of standard output: written to descriptor 1 and remembering the first write's
// failure (its errno), which a stream loses. After a failure nothing more is written and the
// stream goes bad.
class CheckedOutputBuffer final : public std::streambuf {
  public:
    CheckedOutputBuffer();
    ~CheckedOutputBuffer() override;
    CheckedOutputBuffer(const CheckedOutputBuffer&) = delete;
    CheckedOutputBuffer& operator=(const CheckedOutputBuffer&) = delete;

    // The errno of the first write that failed; 0 while none did.
    int Error() const { return m_error; }

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    bool Flush();

    std::string m_pending;
    int m_error = 0;
};

// Flushes standard output (through `output`) and standard error at the end of the program. A
// failed write is exit status 1 with the system's text for it on standard error ("dravix-cli:
// standard output: No space left on device"); a reader that went away (EPIPE) is exit status 1
// without a message. Otherwise `status`.
int FinishStandardStreams(int status, CheckedOutputBuffer& output);

// The platform's side of the above.
namespace platform {
// Writes all of `text` to standard output; 0, or the errno of the write that failed.
int WriteStandardOutput(const char* text, size_t length);
}  // namespace platform

}  // namespace dravix::cli
