#pragma once

// Why a drive could not be used, in words a user can act on. The program's window, its drive
// report and the command line all explain with these.

#include <string>
#include <vector>

#include "drive/DriveTable.h"

namespace dravix {

// Where the installed package puts the rule that opens the drives' SCSI generic nodes to the
// user at the computer.
inline constexpr const char* kAccessRulePath = "/lib/udev/rules.d/70-dravix.rules";

// The failure was the kernel's refusal (permission denied), not the drive's answer.
bool RefusedByKernel(const DriveTable::Failure& failure);

// Why vendor mode was refused on the selected drive, after the command failed:
// "refused by the kernel: permission denied on /dev/sr0 (...)" or "refused by the drive".
std::string VendorRefusalReason(const DriveTable& table, const DriveTable::Failure& failure);

// The nodes we may not open, with how to get access; empty when nothing was refused. Never
// suggests joining the group "root": for such nodes, the package's access rule or an
// administrator.
std::string PermissionHint(const std::vector<RefusedNode>& refused);

// Which program to start to see it without a drive: the window's, the command line's, or none
// (the program already runs on the virtual drive).
enum class VirtualHint : uint8_t { Window, CommandLine, None };

// Why the last listing found no drive: no CD/DVD drive, the sr or sg driver missing, nodes
// refused, and, where it is true, that `dravix --virtual` (or `dravix-cli --virtual`) shows the
// program without a drive.
std::string NoDriveDiagnosis(const DriveTable& table, VirtualHint hint = VirtualHint::Window);

// For the window when the kernel refused vendor mode on the selected drive: that it was the
// kernel, on which node, and how to get access to the drive's SCSI generic node.
std::string KernelRefusalDiagnosis(const DriveTable& table);

// "crw-rw---- root cdrom" style facts of a node for the drive report.
std::string NodeFacts(const DriveNode& node);

}  // namespace dravix
