#pragma once

#include <memory>
#include <optional>

#include "cli/Cli.h"
#include "drive/VendorMode.h"
#include "probix/ScanEngine.h"
#include "probix/SpeedList.h"
#include "turns/SharedDrive.h"

namespace dravix::cli {

// What the scan and smart commands share: the drive must offer Probix; the disc is waited for;
// the drive is in vendor mode for the session and left with vendor mode off whatever happens;
// the disc's type and speeds are known. Ctrl+C asks for a stop between commands, as STOP and
// Exit do on the page.
class ScanSession final {
  public:
    ScanSession() = default;
    ~ScanSession();
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    // Opens the chosen drive and surveys its disc. kExitOk when the disc is ready for a scan;
    // otherwise the failure has been recorded and its exit status is returned.
    int Open(CliContext& context);

    DriveTable& Table() { return *m_table; }
    SharedDrive& Drive() { return *m_drive; }
    const DiscSurvey& Survey() const { return m_survey; }
    static StopRequested Interrupted();

  private:
    DriveTable* m_table = nullptr;
    std::unique_ptr<SharedDrive> m_drive;
    std::optional<VendorModeScope> m_vendorMode;
    DiscSurvey m_survey;
};

}  // namespace dravix::cli
