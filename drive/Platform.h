#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "drive/AspiSrb.h"
#include "drive/Messages.h"

namespace dravix {

class TransportPath;

// A loaded ASPI library and its two entry points (null when the library lacks one). Unloads the
// library when destroyed.
class AspiLibrary {
  public:
    virtual ~AspiLibrary() = default;
    virtual aspi::GetSupportInfoFn SupportInfo() const = 0;
    virtual aspi::SendCommandFn SendCommand() const = 0;
    // The completion the project's own library exports; null for every other library.
    virtual aspi::WaitCommandFn WaitCommand() const { return nullptr; }
};

// Completion signal for an ASPI request. Platforms without one return null from
// CreateCompletionEvent and the request is polled instead.
class CompletionEvent {
  public:
    virtual ~CompletionEvent() = default;
    virtual void* NativeHandle() = 0;  // goes into SRB_PostProc
    // Waits until the event is signalled (true) or the limit has passed (false).
    virtual bool Wait(std::chrono::milliseconds limit) = 0;
};

// Everything a DriveTable needs of the operating system. Whoever makes a table hands it one
// (DriveServices); tests hand theirs to stand a virtual drive behind fake device nodes or a
// library of their own.
class Platform {
  public:
    virtual ~Platform() = default;
    // The operating-system family test of DetectPassThrough.
    virtual bool PassThroughFamily() = 0;
    virtual std::unique_ptr<TransportPath> MakePassThroughPath() = 0;
    // Loads the ASPI library; null when it cannot be loaded.
    virtual std::unique_ptr<AspiLibrary> LoadAspiLibrary() = 0;
    virtual std::unique_ptr<CompletionEvent> CreateCompletionEvent() = 0;
    // The clock that bounds how long the ASPI path waits for a request.
    virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
};

// The platform of this system.
std::shared_ptr<Platform> SystemPlatform();

// Loads an ASPI library from a file; null when it cannot be loaded.
std::unique_ptr<AspiLibrary> LoadAspiLibraryFile(const std::string& path);

// The ASPI path over a library; shared by every platform. Its messages go to `messages`
// (ShowDriveMessage).
std::unique_ptr<TransportPath> MakeAspiPath(Platform& platform, MessageHandler messages);

// Environment variable that names the ASPI library on Linux (and selects the ASPI path there).
inline constexpr const char* kAspiLibraryVariable = "DRAVIX_ASPI_LIBRARY";

}  // namespace dravix
