// diagnose: the drive report (version, system, drives, their nodes and support, last commands),
// the same text Help > "Copy Drive Report" gives in the window.

#include "base/InstallLayout.h"
#include "base/Version.h"
#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/Support.h"
#include "procedures/Diagnosis.h"
#include "procedures/DriveReport.h"
#include "procedures/SupportTexts.h"

namespace dravix::cli {

namespace {

VirtualHint CliVirtualHint() {
    return UsesVirtualDrive() ? VirtualHint::None : VirtualHint::CommandLine;
}

schema::Json NodeJson(const DriveNode& node) {
    // As the text says them: "root" or "uid N", the group's name or "gid N".
    return {{"path", node.path},
            {"owner", node.uid == 0 ? std::string("root") : "uid " + std::to_string(node.uid)},
            {"group", node.groupName.empty() ? "gid " + std::to_string(node.gid) : node.groupName},
            {"mode", node.mode},
            {"opened", node.opened}};
}

schema::Json ReportJson(const DriveReport& report, const DriveTable& table) {
    schema::Json drives = schema::Json::array();
    for (size_t i = 0; i < report.drives.size(); ++i) {
        const DriveReportDrive& drive = report.drives[i];
        schema::Json entry = schema::Drive(table, static_cast<uint8_t>(i));
        schema::Json nodes = schema::Json::array();
        for (const DriveNode& node : drive.nodes) nodes.push_back(NodeJson(node));
        entry["node_details"] = nodes;
        entry["supported"] = drive.outcome == SupportOutcome::Supported;
        entry["support"] = drive.support;
        entry["features"] = drive.outcome == SupportOutcome::Supported ? schema::Json(drive.featureCodes)
                                                                       : schema::Json(nullptr);
        drives.push_back(entry);
    }
    schema::Json commands = schema::Json::array();
    for (const RepeatedCommand& folded : FoldRepeatedCommands(report.commands)) {
        const CommandTrace& command = folded.command;
        commands.push_back(
            {{"drive", command.drive},
             {"cdb", HexBytes(command.cdb.data(), command.cdb.size())},
             {"status", command.status},
             {"sense",
              {{"key", command.sense.key}, {"asc", command.sense.asc}, {"ascq", command.sense.ascq}}},
             {"os_error", command.osError != 0 ? schema::Json(command.osError) : nullptr},
             {"repeated", folded.repeated}});
    }
    schema::Json refused = schema::Json::array();
    for (const RefusedNode& node : report.refused) refused.push_back(node.path);
    const bool passThrough = report.facts.passThrough;
    return {{"version", report.version},
            {"kernel", report.system.kernel},
            {"distribution", report.system.distribution},
            {"transport", report.transport},
            {"sr_loaded", passThrough ? schema::Json(report.facts.cdromDriverLoaded) : nullptr},
            {"sg_loaded", passThrough ? schema::Json(report.facts.genericDriverLoaded) : nullptr},
            {"refused_nodes", refused},
            {"drives", drives},
            {"diagnosis",
             report.drives.empty() ? schema::Json(NoDriveDiagnosis(table, CliVirtualHint())) : nullptr},
            {"commands", commands}};
}

}  // namespace

int RunDiagnose(CliContext& context, const CommandArgs& args) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
    // The report is made whatever was found: an empty drive list is what it has to explain.
    DriveTable table(context.Drives());
    if (!table.InitTransport()) return context.Fail(kExitNoDrive, kMsgInitialFail);
    table.EnumerateDrives();
    const DriveReport report = GatherDriveReport(table, kVersionText, ReadSystemFacts(), true);
    const schema::Json json = ReportJson(report, table);
    for (const auto& [key, value] : json.items()) context.Result()[key] = value;
    if (!context.Json()) {
        context.Out() << DriveReportText(report);
        if (report.drives.empty()) context.Out() << NoDriveDiagnosis(table, CliVirtualHint()) << "\n";
    }
    return kExitOk;
}

}  // namespace dravix::cli
