#include "procedures/DriveReport.h"

#include "drive/DriveNodes.h"
#include "procedures/Diagnosis.h"

namespace dravix {

namespace {

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

}  // namespace

DriveReport GatherDriveReport(DriveTable& table, const std::string& version, const SystemFacts& system,
                              bool checkSupport) {
    DriveReport report;
    report.version = version;
    report.system = system;
    report.transport = table.UsePassThrough() ? "pass-through" : "ASPI";
    report.facts = table.Facts();
    report.refused = table.RefusedNodes();
    const uint8_t selected = table.SelectedIndex();
    for (int i = 0; i < table.DriveCount(); ++i) {
        DriveReportDrive drive;
        drive.label = table.DriveLabelAt(i);
        drive.location = DriveNodesText(table.Entry(i));
        drive.nodes = table.Entry(i).nodes;
        if (checkSupport && table.SelectDrive(static_cast<uint8_t>(i))) {
            // Vendor mode, when the drive took it, goes off before the next drive is selected.
            const SupportResult result = CheckDriveSupport(table);
            const DriveTable::Failure failure = table.LastFailure();
            drive.checked = true;
            drive.outcome = result.outcome;
            switch (result.outcome) {
                case SupportOutcome::Supported:
                    drive.support = "supported";
                    drive.featureCodes = result.featureCodes;
                    break;
                case SupportOutcome::VendorModeRefused:
                    drive.support = "vendor mode refused (" + VendorRefusalReason(table, failure) + ")";
                    break;
                case SupportOutcome::FirmwareNotSupported:
                    drive.support = "firmware or product not supported" + FailureDetail(failure);
                    break;
            }
        }
        report.drives.push_back(std::move(drive));
    }
    if (selected < table.DriveCount()) table.SelectDrive(selected);
    report.commands = RecentTraces();
    return report;
}

std::vector<RepeatedCommand> FoldRepeatedCommands(const std::vector<CommandTrace>& commands) {
    std::vector<RepeatedCommand> folded;
    std::string previous;
    for (const CommandTrace& command : commands) {
        // The log line holds the command, its status, sense and data: equal lines of the same
        // drive are the same exchange.
        std::string line = command.drive + '\n' + FormatTrace(command);
        if (!folded.empty() && line == previous) {
            ++folded.back().repeated;
        } else {
            folded.push_back({command, 1});
            previous = std::move(line);
        }
    }
    return folded;
}

std::string DriveReportText(const DriveReport& report) {
    std::string text = "Dravix drive report\n";
    text += "version: " + report.version + "\n";
    text +=
        "kernel: " + (report.system.kernel.empty() ? std::string("unknown") : report.system.kernel) + "\n";
    text += "distribution: " +
            (report.system.distribution.empty() ? std::string("unknown") : report.system.distribution) + "\n";
    text += "transport: " + report.transport + "\n";
    if (report.facts.passThrough) {
        text += std::string("sr driver loaded: ") + YesNo(report.facts.cdromDriverLoaded) + "\n";
        text += std::string("sg driver loaded: ") + YesNo(report.facts.genericDriverLoaded) + "\n";
        text += "drive nodes: " + std::to_string(report.facts.driveNodes) + "\n";
    }
    for (const RefusedNode& node : report.refused) {
        text += "refused node: " + node.path;
        if (!node.groupName.empty()) text += " (group " + node.groupName + ")";
        text += "\n";
    }
    text += "drives: " + std::to_string(report.drives.size()) + "\n";
    for (size_t i = 0; i < report.drives.size(); ++i) {
        const DriveReportDrive& drive = report.drives[i];
        text += std::to_string(i) + ": \"" + drive.label + "\" at " + drive.location + "\n";
        for (const DriveNode& node : drive.nodes) text += "   node " + NodeFacts(node) + "\n";
        if (drive.checked) {
            text += "   support: " + drive.support + "\n";
            if (drive.outcome == SupportOutcome::Supported) {
                text += "   feature codes:";
                if (drive.featureCodes.empty()) text += " none";
                for (uint8_t code : drive.featureCodes) text += " " + std::to_string(code);
                text += "\n";
            }
        }
    }
    text += "last commands: " + std::to_string(report.commands.size()) + "\n";
    for (const RepeatedCommand& folded : FoldRepeatedCommands(report.commands)) {
        const CommandTrace& command = folded.command;
        text += "  " + (command.drive.empty() ? std::string() : command.drive + " ") + FormatTrace(command);
        if (folded.repeated > 1) text += " \u00D7" + std::to_string(folded.repeated);
        text += "\n";
    }
    return text;
}

}  // namespace dravix
