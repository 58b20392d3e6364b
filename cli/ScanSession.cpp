#include "cli/ScanSession.h"

#include <atomic>
#include <csignal>
#include <ostream>

#include "drive/DriveTable.h"
#include "scan/DiscReport.h"
#include "scan/ScanTexts.h"

namespace dravix::cli {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    g_interrupted.store(true);
}

}  // namespace

ScanSession::ScanSession() {
    g_interrupted = false;
    m_previousHandler = std::signal(SIGINT, OnInterrupt);
}

ScanSession::~ScanSession() {
    m_vendorMode.reset();
    std::signal(SIGINT, m_previousHandler == SIG_ERR ? SIG_DFL : m_previousHandler);
}

StopRequested ScanSession::Interrupted() const {
    return [] { return g_interrupted.load(); };
}

int ScanSession::Open(CliContext& context) {
    m_table = context.OpenDrive();
    if (m_table == nullptr) return kExitNoDrive;
    m_drive = std::make_unique<SharedDrive>(*m_table);

    // A disc just loaded may still be spinning up: wait for it as the pages do.
    m_table->WaitUntilReady();
    if (TestUnitReadyAfterAttention(*m_table) != kCommandCompleted) {
        context.Err() << scan_texts::kInsertBlankDisc << std::endl;
        return kExitNoDrive;
    }
    m_vendorMode.emplace(*m_table);
    if (!*m_vendorMode) {
        context.Err() << "vendor mode refused: Dravix is exclusive for Zarn drives" << std::endl;
        return kExitNoDrive;
    }

    m_survey = SurveyDisc(*m_drive, Interrupted());
    switch (m_survey.kind) {
        case DiscSurvey::Kind::Abandoned:
            context.Err() << scan_texts::kUserAbort << std::endl;
            return kExitFailed;
        case DiscSurvey::Kind::NotSupported:
        case DiscSurvey::Kind::NoKnownSpeed:
            context.Err() << scan_texts::kDiscNotSupported << std::endl;
            return kExitNoDrive;
        case DiscSurvey::Kind::SpeedsUnreadable:
            context.Err() << scan_texts::kInsertBlankDisc << std::endl;
            return kExitNoDrive;
        case DiscSurvey::Kind::Ready:
            break;
    }
    return kExitOk;
}

}  // namespace dravix::cli
