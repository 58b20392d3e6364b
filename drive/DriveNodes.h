#pragma once

// How a drive is told apart from another one that looks the same: by the nodes it has on this
// system, or on the ASPI path by its adapter and target.

#include <compare>
#include <string>

#include "drive/DriveTable.h"

namespace dravix {

// What identifies a drive across listings: its block node (pass-through) or adapter and target
// (ASPI), together with its label, so that another drive that later takes the same node is not
// taken for it. Neither moves when other drives come or go (a node or target stays the drive's
// while it is plugged in, the virtual drive's targets included), whereas a drive's index in a
// listing does: this, not the index, is how the program tells one drive from another.
struct DriveIdentity {
    std::string node;  // "/dev/sr0"; empty on the ASPI path
    int adapter = -1;  // ASPI only
    int target = -1;   // ASPI only
    std::string label;

    bool Empty() const { return node.empty() && adapter < 0 && label.empty(); }
    auto operator<=>(const DriveIdentity&) const = default;
};

DriveIdentity IdentityOf(const DriveTable& table, int index);

// The index of the drive with that identity in the table's listing; -1 when it is not listed.
int FindDrive(const DriveTable& table, const DriveIdentity& identity);

// Where the drive sits on this system: "/dev/sr0, /dev/sg1"; on the ASPI path "adapter 0,
// target 1", or "virtual drive at target 1" for the program's own virtual drive (the target that
// dravix-vdrive show gives it).
std::string DriveNodesText(const DriveEntry& entry);

// What the drive list and `dravix-cli drives` show: the label as it stands (28 characters,
// padding kept), then the separator and the nodes.
inline constexpr const char* kNodesSeparator = " \u2014 ";
std::string DriveListLine(const DriveTable& table, int index);

// The identifier the virtual drive's library gives its host adapter.
inline constexpr const char* kVirtualAdapterName = "VIRTUAL";

}  // namespace dravix
