#pragma once

// What the scan page and Smart report tests share: a virtual drive on the bus, a prompter that
// records every message box, a runner for modal dialogs, and a gate that holds TE/FE commands at
// the drive until the test lets them finish.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

#include "chart/ScanChart.h"
#include "scan/StatusLine.h"
#include "scan/TeFe.h"
#include "tests/scan/TeFeControls.h"
#include "tests/support/CommandGate.h"
#include "tests/support/Settle.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

namespace dravix::scan_test {

class RecordingPrompter final : public Prompter {
  public:
    PromptAnswer Show(QWidget*, const PromptRecord& record) override {
        {
            std::lock_guard lock(m_mutex);
            m_asked.push_back(record);
        }
        if (onShow) onShow(record);
        return PromptAnswer::Ok;
    }
    // Called as each box is shown (what the drive received by then, for order tests).
    std::function<void(const PromptRecord&)> onShow;
    std::vector<PromptRecord> Asked() const {
        std::lock_guard lock(m_mutex);
        return m_asked;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_asked.clear();
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<PromptRecord> m_asked;
};

// A maker's drive, the page on it, and the recorded message boxes and dialogs.
class PageFixture : public ::testing::Test {
  protected:
    PageFixture() { services.drives = bus.Drives(); }

    void SetUp() override {
        services.prompter = prompter;
        services.dialogRunner = [this](QDialog& dialog) {
            dialogs.push_back(dialog.objectName());
            if (dialogScript) return dialogScript(dialog);
            return static_cast<int>(QDialog::Rejected);
        };
    }

    void TearDown() override {
        gate.Open();
        delete page;
        page = nullptr;
    }

    emu::VirtualDrive& AddDrive(emu::DriveKind kind = emu::DriveKind::Maker) { return bus.AddDrive(kind); }

    // Creates the page and runs its initialisation to its end; the test ticks the poll itself.
    CTEFE& OpenPage() {
        page = new CTEFE(services);
        page->EnsureInitialised();
        EXPECT_TRUE(test::Settle(*page));
        PollTimer().stop();
        return *page;
    }

    // The page as its controls show it.
    QTimer& PollTimer() const {
        return *page->findChild<QTimer*>(QString::fromLatin1(CTEFE::kPollTimerName));
    }
    CScanChart* Chart() const { return page->findChild<CScanChart*>(); }
    StatusLine* Status() const { return Control<StatusLine>(CTEFE::kStatusId); }
    // The page's status text (the line shows it while the pointer is over no field).
    QString StatusText() const { return Status()->Text(); }
    // The last run's figures, as the status line's tool tip gives them.
    QString Figures() const { return Status()->toolTip(); }
    // The figures are a previous run's: the page's settings or its disc changed since.
    bool ShowsPreviousRun() const {
        return Figures().contains(QString::fromLatin1(CTEFE::kPreviousRunPrefix));
    }
    SamplingMode Mode() const {
        return SamplingModeOfEntry(Control<QComboBox>(CTEFE::kSamplingComboId)->currentIndex());
    }
    // The disc's last LBA, as the end box shows it.
    int32_t LastLba() const { return Control<QLineEdit>(CTEFE::kEndEditId)->text().toInt(); }
    // A run owns the page: its STOP button is usable.
    bool RunGoing() const { return Control<QPushButton>(CTEFE::kStopId)->isEnabledTo(page); }
    // The drive took vendor mode at the initialisation: no not-supported dialog, and the drive is
    // in vendor mode.
    bool DriveAccepted() {
        return std::find(dialogs.begin(), dialogs.end(), QStringLiteral("dialog161")) == dialogs.end() &&
               bus.Count() > 0 && bus.Drive(0).State().vendorMode;
    }

    // One tick of the poll timer, waited for until the poll has ended.
    void Tick() {
        page->OnTimer();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return test::RunningWorkers(*page) <= (RunGoing() ? 1u : 0u); }, 20000));
    }

    // A tick of the poll timer starts a poll: none while a run or the Smart report owns the page.
    // Not waited for.
    bool TickStartsAPoll() {
        const size_t before = test::RunningWorkers(*page);
        page->OnTimer();
        return test::RunningWorkers(*page) > before;
    }

    // Waits until the page has no run.
    bool WaitRunEnded() {
        return QTest::qWaitFor([&] { return !RunGoing(); }, 60000);
    }

    template <typename T = QWidget>
    T* Control(int id) const {
        return page->findChild<T*>(ControlName(id));
    }

    void ChooseMode(SamplingMode mode) {
        Control<QComboBox>(CTEFE::kSamplingComboId)->setCurrentIndex(static_cast<int>(mode));
    }
    void ChooseSpeed(uint8_t code) {
        const std::vector<uint8_t> codes = test::OfferedSpeedCodes(*page);
        const auto it = std::find(codes.begin(), codes.end(), code);
        ASSERT_NE(it, codes.end()) << "speed code " << int(code) << " not offered";
        Control<QComboBox>(CTEFE::kSpeedComboId)->setCurrentIndex(static_cast<int>(it - codes.begin()));
    }
    void ClickStart() { Control<QPushButton>(CTEFE::kStartId)->click(); }
    void ClickStop() { Control<QPushButton>(CTEFE::kStopId)->click(); }

    // Texts of the message boxes asked for so far.
    std::vector<QString> BoxTexts() const {
        std::vector<QString> texts;
        for (const PromptRecord& record : prompter->Asked()) texts.push_back(record.text);
        return texts;
    }

    std::shared_ptr<RecordingPrompter> prompter = std::make_shared<RecordingPrompter>();
    std::vector<QString> dialogs;
    std::function<int(QDialog&)> dialogScript;
    AppServices services;
    test::VirtualBus bus;
    test::CommandGate gate;
    CTEFE* page = nullptr;
};

}  // namespace dravix::scan_test
