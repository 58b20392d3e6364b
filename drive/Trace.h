#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "base/TransferDirection.h"
#include "drive/Scsi.h"

namespace dravix {

// One command as the diagnostics log records it.
struct CommandTrace {
    int driveIndex = -1;
    std::string drive;  // the drive's nodes, or its adapter and target ("/dev/sr0, /dev/sg1")
    std::vector<uint8_t> cdb;
    int direction = kNoData;  // a TransferDirection
    uint32_t length = 0;
    uint8_t status = 0;
    Sense sense;
    int osError = 0;
    uint32_t transferred = 0;       // bytes the data phase moved
    std::vector<uint8_t> dataHead;  // the first bytes of the answer (data-in commands)
};

// The log line for one command: "CDB FD F1 5A 41 52 4E 00 00 00 00 00 00 -> 0" plus sense and data.
std::string FormatTrace(const CommandTrace& trace);

// Process-wide sink of command traces; set once at start-up, called from any thread (the sink
// serialises its own output). Null turns tracing off.
using TraceSink = std::function<void(const CommandTrace&)>;
void SetTraceSink(TraceSink sink);
bool TraceEnabled();
void EmitTrace(const CommandTrace& trace);

// The last commands of this process (the newest last), kept whether or not a sink is set, for
// the drive report. The ring holds kTraceRingSize commands.
inline constexpr size_t kTraceRingSize = 32;
void RecordTrace(const CommandTrace& trace);
std::vector<CommandTrace> RecentTraces();

// A sink that appends FormatTrace lines to a file (the program's DRAVIX_TRACE) or to a stream
// that outlives the sink (the command line's standard error).
TraceSink MakeFileTraceSink(const std::string& path);
TraceSink MakeStreamTraceSink(std::ostream& stream);

}  // namespace dravix
