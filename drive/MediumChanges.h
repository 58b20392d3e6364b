#pragma once

#include <cstdint>

#include "drive/DriveNodes.h"

namespace dravix {

// How many times each drive has reported that its medium may have changed (unit attention 28h).
// A drive reports a change once, to the first command after it, whichever window sends that
// command; so every DriveTable of the program counts the report here, and a window that shows
// the drive's disc compares the count with the one its disc was read under: no other window's
// command (a page's ready-wait, a tray poll) can keep the change from it. Safe from any thread.
uint64_t MediumChangesOf(const DriveIdentity& drive);
// Called by DriveTable for a command that ended with the report.
void CountMediumChange(const DriveIdentity& drive);

}  // namespace dravix
