#pragma once

// Drives coming and going while the program runs: the system's device events for CD/DVD drives
// and their SCSI generic nodes.

#include <memory>
#include <string>

namespace dravix {

class HotPlugMonitor {
  public:
    virtual ~HotPlugMonitor() = default;
    // A descriptor that becomes readable when events wait (for the window's event loop).
    virtual int Descriptor() const = 0;
    // Reads the waiting events; true when one of them concerns a CD/DVD drive or a generic node.
    virtual bool DrainDriveEvents() = 0;
};

// The monitor of this system; null where none can be set up (then only a rescan asked for by
// the user finds new drives).
std::unique_ptr<HotPlugMonitor> OpenHotPlugMonitor();

// What the drive report says of the system it runs on.
struct SystemFacts {
    std::string kernel;        // "Linux version 6.1.0-18-amd64"
    std::string distribution;  // PRETTY_NAME of os-release
};
SystemFacts ReadSystemFacts();

}  // namespace dravix
