#pragma once

#include <memory>

#include "cli/Cli.h"
#include "scan/ScanEngine.h"
#include "scan/SpeedList.h"
#include "ui/SharedDrive.h"

namespace dravix::cli {

// What the scan and smart commands share: Ctrl+C asks for a stop between commands, as STOP and
// Exit do on the page; the disc is waited for; the drive is in vendor mode for the session and
// left with vendor mode off whatever happens; the disc's type and speeds are known.
class ScanSession final {
  public:
    ScanSession();
    ~ScanSession();
    ScanSession(const ScanSession&) = delete;
    ScanSession& operator=(const ScanSession&) = delete;

    // Opens the chosen drive and surveys its disc. kExitOk when the disc is ready for a scan;
    // otherwise the reason has been printed and the exit status is returned.
    int Open(CliContext& context);

    DriveTable& Table() { return *m_table; }
    SharedDrive& Drive() { return *m_drive; }
    const DiscSurvey& Survey() const { return m_survey; }
    StopRequested Interrupted() const;

  private:
    DriveTable* m_table = nullptr;
    std::unique_ptr<SharedDrive> m_drive;
    bool m_vendorModeOn = false;
    DiscSurvey m_survey;
    void (*m_previousHandler)(int) = nullptr;
};

}  // namespace dravix::cli
