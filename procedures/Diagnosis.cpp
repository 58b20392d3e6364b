#include "procedures/Diagnosis.h"

#include <cerrno>
#include <cstdio>
#include <set>

#include "drive/Timeouts.h"

namespace dravix {

namespace {

constexpr const char* kTryVirtual = "To see the program without a drive, start it with \"dravix --virtual\".";
constexpr const char* kTryVirtualCommandLine =
    "To see the program without a drive, start it with \"dravix-cli --virtual\".";
constexpr const char* kGenericDriverMissing =
    "The SCSI generic driver is not loaded: vendor commands need it (run \"modprobe sg\" as root).";

bool IsGenericNode(const std::string& path) {
    return path.rfind("/dev/sg", 0) == 0;
}

// A group whose membership can be suggested: one that exists and is not the administrator's.
bool JoinableGroup(const std::string& group) {
    return !group.empty() && group != "root";
}

}  // namespace

bool RefusedByKernel(const DriveTable::Failure& failure) {
    return failure.osError == EPERM || failure.osError == EACCES;
}

std::string VendorRefusalReason(const DriveTable& table, const DriveTable::Failure& failure) {
    if (!RefusedByKernel(failure)) return "refused by the drive";
    const uint8_t index = table.SelectedIndex();
    const std::string node = index < table.DriveCount() ? table.Entry(index).nodeName : std::string();
    return "refused by the kernel: permission denied on " + node +
           " (vendor commands need read and write access to the drive's SCSI generic node, /dev/sg*)";
}

std::string PermissionHint(const std::vector<RefusedNode>& refused) {
    if (refused.empty()) return {};
    std::string text = "Some drives could not be opened:";
    std::set<std::string> groups;
    bool moduleMissing = false;
    bool unjoinable = false;
    bool genericRefused = false;
    for (const RefusedNode& node : refused) {
        text += "\n  " + node.path;
        if (!node.groupName.empty()) text += " (group \"" + node.groupName + "\")";
        if (JoinableGroup(node.groupName)) {
            groups.insert(node.groupName);
        } else {
            unjoinable = true;
        }
        genericRefused = genericRefused || IsGenericNode(node.path);
        moduleMissing = moduleMissing || node.genericModuleMissing;
    }
    if (!groups.empty()) {
        text += "\nAsk for read and write access to these nodes, for example by joining the group";
        for (const std::string& g : groups) text += " \"" + g + "\"";
        text += " and logging in again.";
    }
    if (unjoinable) {
        text += "\nOnly the administrator may open ";
        text += groups.empty() ? "them" : "some of them";
        text += ": ask an administrator for access.";
    }
    // The rule opens generic nodes only; a drive whose sr node is refused is not listed at all.
    if (genericRefused) {
        text += std::string("\nThe Dravix package's access rule (") + kAccessRulePath +
                ") lets the user at the computer open every CD/DVD drive's SCSI generic node; "
                "installing the package, or reloading the rules after installing it "
                "(\"udevadm trigger\" as root), gives that access.";
    }
    if (moduleMissing) text += std::string("\n") + kGenericDriverMissing;
    return text;
}

std::string NoDriveDiagnosis(const DriveTable& table, VirtualHint hint) {
    const DiscoveryFacts& facts = table.Facts();
    std::string text;
    const std::string refused = PermissionHint(table.RefusedNodes());
    if (!refused.empty()) {
        text = refused;
    } else if (facts.inquiryTimeouts > 0) {
        // A drive that is there but hangs is no missing drive: name the command it left unanswered.
        text = (facts.inquiryTimeouts == 1 ? "The drive did not answer INQUIRY within "
                                           : "The drives did not answer INQUIRY within ") +
               std::to_string(kWrapperTimeoutSeconds) + " s.";
    } else if (!facts.passThrough) {
        text = "The ASPI library reports no CD/DVD drive.";
    } else if (!facts.cdromDriverLoaded) {
        text =
            "The kernel's CD/DVD driver is not loaded, so no drive node (/dev/srN) exists (run "
            "\"modprobe sr_mod\" as root).";
    } else if (facts.driveNodes == 0) {
        text =
            "This computer shows no CD/DVD drive: no drive node (/dev/srN) exists. A drive plugged "
            "in while the program runs appears in the list by itself.";
    } else {
        text = "The CD/DVD drives found did not answer the identification command (INQUIRY).";
    }
    if (facts.passThrough && !facts.genericDriverLoaded &&
        text.find(kGenericDriverMissing) == std::string::npos) {
        text += std::string("\n") + kGenericDriverMissing;
    }
    switch (hint) {
        case VirtualHint::Window:
            return text + "\n" + kTryVirtual;
        case VirtualHint::CommandLine:
            return text + "\n" + kTryVirtualCommandLine;
        case VirtualHint::None:
            break;
    }
    return text;
}

std::string KernelRefusalDiagnosis(const DriveTable& table) {
    const uint8_t index = table.SelectedIndex();
    if (index >= table.DriveCount()) return {};
    const DriveEntry& entry = table.Entry(index);
    std::string text = "The kernel, not the drive, refused its vendor commands: permission denied on " +
                       entry.nodeName +
                       ". Through /dev/srN the kernel passes them only to programs with raw-I/O rights; "
                       "they need read and write access to the drive's SCSI generic node (/dev/sgN).";
    // The refused nodes of this drive (its generic node beside the open block node).
    std::vector<RefusedNode> mine;
    for (const RefusedNode& node : table.RefusedNodes()) {
        for (const DriveNode& own : entry.nodes) {
            if (own.path == node.path) mine.push_back(node);
        }
    }
    if (!mine.empty()) {
        text += "\n" + PermissionHint(mine);
    } else if (!table.Facts().genericDriverLoaded) {
        text += std::string("\n") + kGenericDriverMissing;
    } else {
        text += std::string("\nThis drive has no SCSI generic node. The Dravix package's access rule (") +
                kAccessRulePath + ") gives the user at the computer access to it once it exists.";
    }
    return text;
}

std::string NodeFacts(const DriveNode& node) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", node.mode & 07777);
    // A device node belongs to a system account; any other owner is shown by number only.
    const std::string owner = node.uid == 0 ? "root" : "uid " + std::to_string(node.uid);
    const std::string group = node.groupName.empty() ? "gid " + std::to_string(node.gid) : node.groupName;
    return node.path + " (owner " + owner + ", group " + group + ", mode " + mode +
           (node.opened ? ", opened" : ", not opened") + ")";
}

}  // namespace dravix
