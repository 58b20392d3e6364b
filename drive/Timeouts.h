#pragma once

#include <cstdint>

namespace dravix {

// How long every command the program sends may take before the transport gives up on it, in
// seconds, all in one place so that a command and its decoder never disagree on them.

// Discovery's INQUIRY and its adapter and device requests on the ASPI path, and the wrappers
// (TEST UNIT READY, vendor mode, the tray).
inline constexpr uint32_t kWrapperTimeoutSeconds = 15;
inline constexpr uint32_t kDiscoveryTimeoutSeconds = 15;
// The vendor feature list and GET CONFIGURATION of all features, as discovery's reads.
inline constexpr uint32_t kFeatureListTimeoutSeconds = 15;

// The Information page's standard reads.
inline constexpr uint32_t kInfoTimeoutSeconds = 15;

// The read test's layout reads and speed settings take as long as the other standard reads; a
// read of sectors may take a drive's retries over a bad spot.
inline constexpr uint32_t kLayoutTimeoutSeconds = 15;
inline constexpr uint32_t kSpeedTimeoutSeconds = 15;
inline constexpr uint32_t kReadSectorsTimeoutSeconds = 30;
// The read test's START STOP UNIT: a disc stopping or coming up to speed, a tray moving.
inline constexpr uint32_t kStartStopTimeoutSeconds = 60;

// The vendor book type read (and the standard reads around it) and the book type set.
inline constexpr uint32_t kBookTypeReadTimeoutSeconds = 200;
inline constexpr uint32_t kBookTypeSetTimeoutSeconds = 60;

// The option and switch commands, writes included.
inline constexpr uint32_t kOptionTimeoutSeconds = 200;

// The TE/FE reference and measurement commands.
inline constexpr uint32_t kTeFeTimeoutSeconds = 30;

}  // namespace dravix
