#include "cli/ScanSession.h"

#include "cli/Terminal.h"
#include "drive/DriveTable.h"
#include "drive/Support.h"
#include "probix/DiscReport.h"
#include "probix/ScanTexts.h"

namespace dravix::cli {

ScanSession::~ScanSession() {
    m_vendorMode.reset();
}

StopRequested ScanSession::Interrupted() {
    return [] { return cli::Interrupted(); };
}

int ScanSession::Open(CliContext& context) {
    const DriveNeeds needs{.feature = kFeatureProbix};
    // The support check's vendor mode lasts for the session: no off and on again between them.
    m_vendorMode.emplace();
    m_table = context.UseDrive(needs, nullptr, &*m_vendorMode);
    if (m_table == nullptr) return context.FailedStatus();
    m_drive = std::make_unique<SharedDrive>(*m_table);

    if (TestUnitReadyAfterAttention(*m_table) != kCommandCompleted)
        return context.Fail(kExitNoDrive, scan_texts::kInsertBlankDisc);

    m_survey = SurveyDisc(*m_drive, Interrupted());
    switch (m_survey.kind) {
        case DiscSurvey::Kind::Abandoned:
            return context.Fail(kExitFailed, scan_texts::kUserAbort);
        case DiscSurvey::Kind::NotSupported:
        case DiscSurvey::Kind::NoKnownSpeed:
            return context.Fail(kExitNoDrive, scan_texts::kDiscNotSupported);
        case DiscSurvey::Kind::SpeedsUnreadable:
            return context.Fail(kExitNoDrive, scan_texts::kInsertBlankDisc);
        case DiscSurvey::Kind::Ready:
            break;
    }
    return kExitOk;
}

}  // namespace dravix::cli
