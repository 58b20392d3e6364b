#pragma once

// The drive report for bug reports: what the program, the system and each drive say, and the last
// commands with their sense. Nothing in it names the user: the kernel line is cut before its
// builder, node owners other than root are numbers, and no path outside /dev appears.

#include <cstdint>
#include <string>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/HotPlug.h"
#include "drive/Support.h"
#include "drive/Trace.h"

namespace dravix {

struct DriveReportDrive {
    std::string label;     // the drive layer's 28-character label
    std::string location;  // DriveNodesText
    std::vector<DriveNode> nodes;
    bool checked = false;  // the support check ran
    SupportOutcome outcome = SupportOutcome::FirmwareNotSupported;
    std::string support;  // "supported", "vendor mode refused (refused by the drive)", ...
    std::vector<uint8_t> featureCodes;
};

struct DriveReport {
    std::string version;
    SystemFacts system;
    std::string transport;  // "pass-through" or "ASPI"
    DiscoveryFacts facts;
    std::vector<RefusedNode> refused;
    std::vector<DriveReportDrive> drives;
    std::vector<CommandTrace> commands;  // the command trace, oldest first
};

// A command of the report with the number of times it came in a row (the disc poll's TEST UNIT
// READY, say): one line for all of them.
struct RepeatedCommand {
    CommandTrace command;
    int repeated = 1;
};

// The commands with each run of identical ones (same drive, same command, same answer) folded
// into its first, oldest first.
std::vector<RepeatedCommand> FoldRepeatedCommands(const std::vector<CommandTrace>& commands);

// The report over the drives `table` listed last. With `checkSupport` each drive gets the support
// check (vendor mode on, feature list, off again when it was on); the selection is kept.
DriveReport GatherDriveReport(DriveTable& table, const std::string& version, const SystemFacts& system,
                              bool checkSupport);

std::string DriveReportText(const DriveReport& report);

}  // namespace dravix
