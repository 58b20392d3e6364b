#include "drive/Trace.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <ostream>

namespace dravix {

namespace {
std::mutex g_sinkMutex;
std::shared_ptr<TraceSink> g_sink;

std::mutex g_ringMutex;
std::vector<CommandTrace> g_ring;  // at most kTraceRingSize, oldest at g_ringStart
size_t g_ringStart = 0;
}  // namespace

void RecordTrace(const CommandTrace& trace) {
    std::lock_guard lock(g_ringMutex);
    if (g_ring.size() < kTraceRingSize) {
        g_ring.push_back(trace);
        return;
    }
    g_ring[g_ringStart] = trace;
    g_ringStart = (g_ringStart + 1) % kTraceRingSize;
}

std::vector<CommandTrace> RecentTraces() {
    std::lock_guard lock(g_ringMutex);
    std::vector<CommandTrace> recent;
    recent.reserve(g_ring.size());
    for (size_t i = 0; i < g_ring.size(); ++i) recent.push_back(g_ring[(g_ringStart + i) % g_ring.size()]);
    return recent;
}

std::string FormatTrace(const CommandTrace& t) {
    std::string line = "[" + std::to_string(t.driveIndex) + "] CDB " + HexBytes(t.cdb.data(), t.cdb.size());
    if (t.direction == kDataOut) line += " out " + std::to_string(t.length);
    if (t.direction == kDataIn) line += " in " + std::to_string(t.length);
    line += " -> " + std::to_string(t.status);
    if (t.direction == kDataIn && t.status == 0 && t.transferred < t.length)
        line += " got " + std::to_string(t.transferred);
    if (t.status != 0) {
        char sense[32];
        std::snprintf(sense, sizeof sense, " sense %02X/%02X/%02X", t.sense.key, t.sense.asc, t.sense.ascq);
        line += sense;
        if (t.osError != 0) line += " os-error " + std::to_string(t.osError);
    }
    if (!t.dataHead.empty()) line += " data " + HexBytes(t.dataHead.data(), t.dataHead.size());
    return line;
}

void SetTraceSink(TraceSink sink) {
    std::lock_guard lock(g_sinkMutex);
    g_sink = sink ? std::make_shared<TraceSink>(std::move(sink)) : nullptr;
}

bool TraceEnabled() {
    std::lock_guard lock(g_sinkMutex);
    return g_sink != nullptr;
}

void EmitTrace(const CommandTrace& trace) {
    std::shared_ptr<TraceSink> sink;
    {
        std::lock_guard lock(g_sinkMutex);
        sink = g_sink;
    }
    if (sink) (*sink)(trace);
}

TraceSink MakeFileTraceSink(const std::string& path) {
    auto file = std::make_shared<std::ofstream>(path, std::ios::app);
    auto mutex = std::make_shared<std::mutex>();
    return [file, mutex](const CommandTrace& t) {
        std::lock_guard lock(*mutex);
        if (*file) *file << FormatTrace(t) << std::endl;
    };
}

TraceSink MakeStreamTraceSink(std::ostream& stream) {
    auto mutex = std::make_shared<std::mutex>();
    return [mutex, &stream](const CommandTrace& t) {
        std::lock_guard lock(*mutex);
        stream << FormatTrace(t) << std::endl;
    };
}

}  // namespace dravix
