#include "pages/PageDrive.h"

#include <QString>

#include "drive/Support.h"
#include "procedures/SupportTexts.h"
#include "procedures/WriteCheck.h"
#include "turns/AppState.h"
#include "ui/Services.h"

namespace dravix {

PageDrive::PageDrive(QWidget& window, const AppServices& services, QLabel* status)
    : m_window(window),
      m_services(services),
      m_drive(std::make_shared<StoppableDrive>(services.drives)),
      m_sequence(new DriveSequence(window, services, m_drive, status)) {}

void PageDrive::Open(std::function<void(int drives)> opened) {
    m_sequence->Start([this, opened = std::move(opened)] {
        m_sequence->Step(
            [state = m_services.state](DriveTable& table, const WorkerContext&) {
                return OpenPageDrive(*state, table);
            },
            [this, opened](int drives) {
                if (drives < 0) {
                    m_services.Inform(&m_window, QString::fromLatin1(kMsgInitialFail));
                    return;
                }
                opened(drives);
            });
    });
}

QString AnswerLostMessage(const char* failure, const std::string& howToCheck) {
    return QString::fromLatin1(failure) + QStringLiteral("\n\n") +
           QString::fromStdString(write_texts::AnswerLostUnread(howToCheck));
}

int OpenPageDrive(const AppState& state, DriveTable& table) {
    if (!table.InitTransport()) return -1;
    const int count = ListDrives(state, table);
    if (count > 0) state.SelectChosenDrive(table);
    return count;
}

int ListDrives(const AppState& state, DriveTable& table) {
    const int count = table.EnumerateDrives();
    table.SetListingGeneration(state.driveListGeneration.load());
    return count;
}

void SelectPageDrive(const AppState& state, DriveTable& table) {
    state.SelectChosenDrive(table);
}

StateRead ReadStatesOnDrive(const AppState& state, DriveTable& table, StateReadCommand read) {
    StateRead result;
    const std::optional<uint8_t> status =
        WithVendorModeOnPageDrive(state, table, [&](DriveTable& t) { return read(t, result.reply); });
    result.vendorRefused = !status;
    result.status = status.value_or(kCommandFailed);
    return result;
}

}  // namespace dravix
