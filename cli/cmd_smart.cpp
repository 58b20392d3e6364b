// smart: the Smart Mode report from the command line: the disc's information and, for every speed
// the disc offers, whether it is fit for writing at it, judged at the outer-track points.

#include <atomic>
#include <csignal>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "scan/DiscReport.h"
#include "scan/ScanEngine.h"
#include "scan/ScanTexts.h"
#include "scan/SharedDrive.h"
#include "scan/SpeedList.h"

namespace dravix::cli {

namespace {

// Ctrl+C stops between commands and leaves the drive usable.
std::atomic<bool> g_smartInterrupted{false};

extern "C" void OnSmartInterrupt(int) {
    g_smartInterrupted.store(true);
}

}  // namespace

int RunSmart(CliContext& context, const std::vector<std::string>& args) {
    bool json = context.Options().json;
    for (const std::string& arg : args) {
        if (arg != "--json") return UsageError(context, "smart: unknown argument '" + arg + "'");
        json = true;
    }
    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;
    SharedDrive drive(*table);

    g_smartInterrupted = false;
    void (*previous)(int) = std::signal(SIGINT, OnSmartInterrupt);
    struct RestoreSignal {
        void (*handler)(int);
        ~RestoreSignal() { std::signal(SIGINT, handler == SIG_ERR ? SIG_DFL : handler); }
    } restore{previous};
    const StopRequested interrupted = [] { return g_smartInterrupted.load(); };

    // A disc just loaded may still be spinning up: wait for it as the pages do.
    table->WaitUntilReady();
    if (TestUnitReadyAfterAttention(*table) != kCommandCompleted) {
        context.Err() << scan_texts::kInsertBlankDisc << std::endl;
        return kExitNoDrive;
    }
    if (!table->SetVendorMode(true)) {
        context.Err() << "vendor mode refused: Dravix is exclusive for Zarn drives" << std::endl;
        return kExitNoDrive;
    }
    struct VendorModeOff {
        DriveTable& table;
        ~VendorModeOff() { table.SetVendorMode(false); }
    } vendorModeOff{*table};

    const DiscSurvey survey = SurveyDisc(drive, interrupted);
    if (survey.kind == DiscSurvey::Kind::Abandoned) {
        context.Err() << scan_texts::kUserAbort << std::endl;
        return kExitFailed;
    }
    if (survey.kind != DiscSurvey::Kind::Ready) {
        context.Err() << (survey.kind == DiscSurvey::Kind::SpeedsUnreadable ? scan_texts::kInsertBlankDisc
                                                                            : scan_texts::kDiscNotSupported)
                      << std::endl;
        return kExitNoDrive;
    }

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
