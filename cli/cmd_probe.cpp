// probe: the support check on the chosen drive, as the main window runs it.

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/Support.h"
#include "procedures/Diagnosis.h"
#include "procedures/PageTitles.h"
#include "procedures/SupportTexts.h"

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

int RunProbe(CliContext& context, const CommandArgs& args) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
    DriveTable* table = context.UseDrive({});
    if (table == nullptr) return context.FailedStatus();

    // UseDrive has just waited for the drive.
    SupportResult result = CheckReadyDriveSupport(*table);
    schema::Json& json = context.Result();
    json["supported"] = result.outcome == SupportOutcome::Supported;
    json["features"] = nullptr;
    json["pages"] = nullptr;
    switch (result.outcome) {
        case SupportOutcome::Supported: {
            result.vendorMode.End();
            const std::vector<std::string> pages = PagesFor(result.featureCodes);
            json["features"] = result.featureCodes;
            json["pages"] = pages;
            if (!context.Json()) {
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
            const std::string why = VendorRefusalReason(*table, table->LastFailure());
            return context.Fail(kExitNoDrive, "vendor mode refused (" + why + ")");
        }
        case SupportOutcome::FirmwareNotSupported:
            break;
    }
    // As the window does: no vendor mode off follows a feature list without the signature.
    return context.Fail(kExitNoDrive, kMsgFirmwareNotSupported);
}

}  // namespace dravix::cli
