#pragma once

// Running command blocks on a virtual drive and checking what any drive owes its caller: the
// answer stays inside the data buffer and inside the command's allocation length, nothing is
// written into a buffer that carries data to the drive, a command that fails moves no data, and
// a refused request leaves the drive as it was.

#include <cstddef>
#include <cstdint>
#include <span>

#include "emu/VirtualDrive.h"

namespace dravix::fuzz {

// A drive whose time only moves when a command runs, and whose latencies do not sleep.
void MakeTimeless(emu::VirtualDrive& drive);

// Runs one command block (up to 16 bytes are sent; a longer length is passed on as given) with a
// buffer of exactly bufferLength bytes and checks the answer. Data for a data-out command comes
// from `data` (repeated or cut to the buffer's length). A drive given scripted replies (fault
// rules that answer in the drive's stead) is only held to the buffer, not to the allocation length.
void RunCheckedCommand(emu::VirtualDrive& drive, std::span<const uint8_t> cdb, size_t cdbLength,
                       int direction, uint32_t bufferLength, std::span<const uint8_t> data,
                       bool scriptedReplies = false);

}  // namespace dravix::fuzz
