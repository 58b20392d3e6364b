// probe: the support check on the chosen drive, as the main window runs it.

#include <cerrno>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/Support.h"

namespace dravix::cli {

namespace {

// Feature pages in the order the main window adds them.
constexpr uint8_t kPageOrder[] = {kFeatureBookType,  kFeatureProbix, kFeatureWopc,
                                  kFeatureTestWrite, kFeatureLumard, kFeatureOverSpeed};

std::vector<std::string> PagesFor(const std::vector<uint8_t>& codes) {
    std::vector<std::string> pages = {"Information"};
    for (uint8_t code : kPageOrder) {
        for (uint8_t c : codes) {
            if (c == code) {
                pages.emplace_back(FeaturePageTitle(code));
                break;
            }
        }
    }
    return pages;
}

}  // namespace

int RunProbe(CliContext& context, const std::vector<std::string>& args) {
    if (!args.empty()) return UsageError(context, "probe takes no arguments");
    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;

    const SupportResult result = CheckDriveSupport(*table);
    const bool json = context.Options().json;
    switch (result.outcome) {
        case SupportOutcome::Supported: {
            table->SetVendorMode(false);
            const std::vector<std::string> pages = PagesFor(result.featureCodes);
            if (json) {
                context.PrintJson({{"drive", table->DriveLabel()},
                                   {"supported", true},
                                   {"features", result.featureCodes},
                                   {"pages", pages}});
            } else {
                context.Out() << "supported\nfeatures:";
                for (uint8_t c : result.featureCodes) context.Out() << " " << static_cast<int>(c);
                context.Out() << "\npages:";
                for (size_t i = 0; i < pages.size(); ++i) context.Out() << (i ? ", " : " ") << pages[i];
                context.Out() << "\n";
            }
            return kExitOk;
        }
        case SupportOutcome::VendorModeRefused: {
            // A kernel that filters vendor command codes refuses them before the drive sees them.
            const bool byKernel = table->LastOsError() == EPERM || table->LastOsError() == EACCES;
            const std::string why = byKernel ? "refused by the kernel: permission denied on " +
                                                   table->Entry(table->SelectedIndex()).nodeName +
                                                   " (vendor commands need read and write access to the "
                                                   "drive's SCSI generic node, /dev/sg*)"
                                             : "refused by the drive";
            if (json) {
                context.PrintJson({{"drive", table->DriveLabel()},
                                   {"supported", false},
                                   {"reason", "vendor mode refused"},
                                   {"detail", why}});
            } else {
                context.Out() << "vendor mode refused (" << why << ")\n";
            }
            return kExitNoDrive;
        }
        case SupportOutcome::FirmwareNotSupported:
            break;
    }
    if (json) {
        context.PrintJson(
            {{"drive", table->DriveLabel()}, {"supported", false}, {"reason", kMsgFirmwareNotSupported}});
    } else {
        context.Out() << kMsgFirmwareNotSupported << "\n";
    }
    return kExitNoDrive;
}

}  // namespace dravix::cli
