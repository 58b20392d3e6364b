#include "drive/DriveNodes.h"

namespace dravix {

DriveIdentity IdentityOf(const DriveTable& table, int index) {
    DriveIdentity identity;
    if (index < 0 || index >= table.DriveCount()) return identity;
    const DriveEntry& entry = table.Entry(index);
    identity.label = table.DriveLabelAt(index);
    if (!entry.nodes.empty()) {
        identity.node = entry.nodes.front().path;
    } else if (!entry.nodeName.empty()) {
        identity.node = entry.nodeName;
    } else {
        identity.adapter = entry.adapterId;
        identity.target = entry.targetId;
    }
    return identity;
}

int FindDrive(const DriveTable& table, const DriveIdentity& identity) {
    if (identity.Empty()) return -1;
    for (int i = 0; i < table.DriveCount(); ++i) {
        if (IdentityOf(table, i) == identity) return i;
    }
    return -1;
}

std::string DriveNodesText(const DriveEntry& entry) {
    if (!entry.nodes.empty()) {
        std::string text;
        for (const DriveNode& node : entry.nodes) text += (text.empty() ? "" : ", ") + node.path;
        return text;
    }
    if (!entry.nodeName.empty()) return entry.nodeName;
    if (entry.adapterName == kVirtualAdapterName)
        return "virtual drive at target " + std::to_string(entry.targetId);
    return "adapter " + std::to_string(entry.adapterId) + ", target " + std::to_string(entry.targetId);
}

std::string DriveListLine(const DriveTable& table, int index) {
    if (index < 0 || index >= table.DriveCount()) return {};
    return table.DriveLabelAt(index) + kNodesSeparator + DriveNodesText(table.Entry(index));
}

}  // namespace dravix
