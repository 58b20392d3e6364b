#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "drive/VendorMode.h"
#include "turns/StoppableDrive.h"
#include "ui/DriveSequence.h"

class QString;
class QWidget;

namespace dravix {

class AppServices;
struct AppState;

// A settings page's (or dialog's) own drive and the sequence its commands run in. Every window
// that talks to drives owns a DriveTable; all of them enumerate the drives in the same order, so
// the index the main window's list chose addresses the same drive here. The table is used only by
// the sequence's steps, on workers.
class PageDrive final {
  public:
    // The sequence shows its busy state over `window`, its status texts in `status` (null: a label
    // of its own at the bottom of the window); `services` are the window's.
    PageDrive(QWidget& window, const AppServices& services, QLabel* status = nullptr);

    DriveSequence& Sequence() { return *m_sequence; }

    // The start of the window's initialisation, as its first sequence: the transport and the
    // drives (OpenPageDrive). When the transport cannot be prepared the application message box
    // "Initial fail." ends the initialisation; otherwise `opened` goes on with the number of
    // drives found, inside the sequence.
    void Open(std::function<void(int drives)> opened);

  private:
    QWidget& m_window;
    const AppServices& m_services;
    std::shared_ptr<StoppableDrive> m_drive;
    DriveSequence* m_sequence;  // a child of the window
};

// A page's failure text for a write whose answer failed or was lost and whose setting could not be
// read back, with the sentence that says so and names how to read it (`"Check"`).
QString AnswerLostMessage(const char* failure, const std::string& howToCheck);

// What follows runs inside a step, on the worker, with the page's table.

// InitTransport, EnumerateDrives, and with drives the chosen drive selected (SelectPageDrive). The number of
// drives; -1 when the transport could not be prepared (the page then shows "Initial fail.").
int OpenPageDrive(const AppState& state, DriveTable& table);

// EnumerateDrives, noting which rescan of the program the listing follows.
int ListDrives(const AppState& state, DriveTable& table);

// Selects the drive chosen in the main window's list, found by its identity (SelectChosenDrive):
// when it is gone the table selects nothing, so no command reaches another drive.
void SelectPageDrive(const AppState& state, DriveTable& table);

// What a vendor read of option or switch states found.
struct StateRead {
    bool vendorRefused = false;  // vendor mode on was refused: nothing was read, no off was sent
    uint8_t status = kCommandFailed;
    OptionReply reply{};
};

using StateReadCommand = uint8_t (*)(DriveTable& table, OptionReply& reply);

// The common start of a page's vendor command sequence, then its commands: select if needed,
// WaitUntilReady, vendor mode on, `commands(table)`, vendor mode off. Empty when the drive refused
// vendor mode (nothing was sent after the refusal, no off either).
template <typename Commands>
auto WithVendorModeOnPageDrive(const AppState& state, DriveTable& table, Commands commands)
    -> std::optional<std::invoke_result_t<Commands&, DriveTable&>> {
    SelectPageDrive(state, table);
    table.WaitUntilReady();
    const VendorModeScope vendor(table);
    if (!vendor) return std::nullopt;
    return commands(table);
}

// Select if needed, WaitUntilReady, vendor mode on, the read, vendor mode off.
StateRead ReadStatesOnDrive(const AppState& state, DriveTable& table, StateReadCommand read);

}  // namespace dravix
