// smart: the Smart Mode report from the command line: the disc's information and, for every speed
// the disc offers, whether it is fit for writing at it, judged at the outer-track points.

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/ScanSession.h"
#include "drive/DriveTable.h"
#include "scan/DiscReport.h"
#include "scan/ScanEngine.h"
#include "scan/ScanTexts.h"
#include "scan/SpeedList.h"
#include "ui/SharedDrive.h"

namespace dravix::cli {

int RunSmart(CliContext& context, const std::vector<std::string>& args) {
    bool json = context.Options().json;
    for (const std::string& arg : args) {
        if (arg != "--json") return UsageError(context, "smart: unknown argument '" + arg + "'");
        json = true;
    }
    ScanSession session;
    if (const int status = session.Open(context); status != kExitOk) return status;
    SharedDrive& drive = session.Drive();
    const DiscSurvey& survey = session.Survey();
    const StopRequested interrupted = session.Interrupted();

    const DiscInformation info = ReadDiscInformation(drive, survey.discTypeCode);
    if (info.identifierReadFailed) context.Err() << scan_texts::kDiscNotSupported << std::endl;
    if (!json) {
        context.Out() << "Disc Type: " << info.discType << "\n"
                      << "Manufacture ID: " << CliContext::Escaped(info.manufacturerId) << "\n"
                      << "Media Type ID: " << CliContext::Escaped(info.mediaTypeId) << "\n"
                      << "Blank Disc Capacity: " << info.capacity << "\n"
                      << std::flush;
    }

    bool allFit = true;
    nlohmann::json rows = nlohmann::json::array();
    for (size_t i = 0; i < survey.speeds.codes.size(); ++i) {
        const uint8_t code = survey.speeds.codes[i];
        const SpeedResult result = MeasureSpeed(drive, survey.discTypeCode, code, interrupted);
        if (result == SpeedResult::Stopped) {
            context.Err() << scan_texts::kUserAbort << std::endl;
            return kExitFailed;
        }
        allFit = allFit && result == SpeedResult::Fit;
        if (json) {
            rows.push_back({{"speed", ShortSpeedLabel(code)},
                            {"speed_kbps", survey.speeds.kbps[i]},
                            {"result", SpeedResultText(result)},
                            {"measured", result != SpeedResult::Failed}});
        } else {
            char line[64];
            std::snprintf(line, sizeof line, "%-6s%s", ShortSpeedLabel(code), SpeedResultText(result));
            context.Out() << line << std::endl;
        }
    }
    if (json) {
        context.PrintJson({{"disc_type", info.discType},
                           {"manufacturer_id", info.manufacturerId},
                           {"media_type_id", info.mediaTypeId},
                           {"capacity", info.capacity},
                           {"speeds", rows},
                           {"all_ok", allFit}});
    }
    return allFit ? kExitOk : kExitNotRecommended;
}

}  // namespace dravix::cli
