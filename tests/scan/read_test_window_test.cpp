// The Read Test window on virtual drives, through its controls: a run to its end, STOP, a drive
// pulled out, and the main window's drive list locked while a run holds the drive, on a drive that
// is not the maker's.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/MainDialog.h"
#include "chart/ReadTestChart.h"
#include "chart/ScanChart.h"
#include "chart/ScanChartCanvas.h"
#include "probix/ReadTest.h"
#include "probix/ReadTestFile.h"
#include "scan/ReadTestWindow.h"
#include "tests/support/MainWindowControls.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/Settle.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "ui/DriveSequence.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {
namespace {

// Holds the drive's reads once `free` of them have passed, until opened.
class ReadGate {
  public:
    explicit ReadGate(int free) : m_free(free) {}
    void Pass() {
        std::unique_lock lock(m_mutex);
        if (++m_passed > m_free) m_changed.wait(lock, [this] { return m_open; });
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    bool Holding() {
        std::lock_guard lock(m_mutex);
        return m_passed > m_free;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_free;
    int m_passed = 0;
    bool m_open = false;
};

struct ReadTestWindowTest : ::testing::Test {
    ReadTestWindowTest() { services.drives = bus.Drives(); }

    test::VirtualBus bus;
    std::shared_ptr<test::ScriptedPrompter> prompter = std::make_shared<test::ScriptedPrompter>();
    AppServices services;
    ReadGate gate{40};

    void SetUp() override {
        services.prompter = prompter;
        services.dialogRunner = [](QDialog&) { return int(QDialog::Accepted); };
    }
    void TearDown() override {
        gate.Open();
        JoinAllWorkers();
    }

    // A drive of another maker with a recorded CD whose reads take a tenth of the model's time,
    // or wait at the gate.
    emu::VirtualDrive& AddDrive(bool gated) {
        emu::VirtualDrive& drive = bus.AddDrive(emu::DriveKind::OtherMaker);
        EXPECT_TRUE(drive.Insert("cd-r-recorded"));
        drive.SetMicrosecondSleeper([this, gated](uint64_t us) {
            if (gated) gate.Pass();
            std::this_thread::sleep_for(std::chrono::microseconds(us / 10));
        });
        return drive;
    }

    template <typename T>
    static T* Find(const QWidget& window, const char* name) {
        T* control = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    static void ChooseRange(const QWidget& window, int first, int last) {
        Find<QComboBox>(window, "readTestRange")->setCurrentIndex(2);
        Find<QLineEdit>(window, "readTestFirstLba")->setText(QString::number(first));
        Find<QLineEdit>(window, "readTestLastLba")->setText(QString::number(last));
    }
    static bool WaitEnded(const CReadTestWindow& window) {
        return QTest::qWaitFor([&] { return !window.Running(); }, 60000);
    }
    // The chart's axis labels, top of the speed axis first.
    static std::vector<QString> AxisLabels(const QWidget& window) {
        std::vector<QString> texts;
        for (const ChartLabel& label : Find<CScanChart>(window, "readTestChart")->Canvas().Labels())
            texts.push_back(label.text);
        return texts;
    }
    // Pixels of the curve's colour on the chart.
    static int CurvePixels(const QWidget& window) {
        CScanChart* chart = Find<CScanChart>(window, "readTestChart");
        const QImage plot = chart->Canvas().PlotLayer();
        int count = 0;
        for (int y = 0; y < plot.height(); ++y) {
            for (int x = 0; x < plot.width(); ++x)
                count += plot.pixel(x, y) == read_chart::kSpeedColour ? 1 : 0;
        }
        return count;
    }
};

TEST_F(ReadTestWindowTest, ARunToItsEndShowsTheVerdictAndTheCurve) {
    emu::VirtualDrive& drive = AddDrive(false);
    drive.AddDamage({2000, 1});
    CReadTestWindow window(services);
    ASSERT_TRUE(test::Settle(window));
    EXPECT_TRUE(Find<QLabel>(window, "readTestDisc")->text().startsWith(QStringLiteral("CD R, ")))
        << Find<QLabel>(window, "readTestDisc")->text().toStdString();
    // Quick reads a tenth of the disc: nothing to verify against.
    Find<QComboBox>(window, "readTestRange")->setCurrentIndex(1);
    EXPECT_FALSE(Find<QLineEdit>(window, "readTestImage")->isEnabled());
    ChooseRange(window, 0, 9999);
    EXPECT_TRUE(Find<QLineEdit>(window, "readTestImage")->isEnabled());
    Find<QPushButton>(window, "readTestStart")->click();
    EXPECT_TRUE(window.Running());
    ASSERT_TRUE(WaitEnded(window));
    EXPECT_EQ(Find<QLabel>(window, "readTestVerdict")->text(), QStringLiteral("1 sector could not be read."));
    EXPECT_GT(CurvePixels(window), 100);
    EXPECT_TRUE(Find<QPushButton>(window, "readTestSaveResults")->isEnabled());
    EXPECT_EQ(services.State().scanIdle.load(), 1);
}

// A damaged stretch is read again sector by sector: the status line names the LBA and the count
// unreadable so far while it does, the drive's status texts cover none of the settings, and the
// window keeps its size when the figures come.
TEST_F(ReadTestWindowTest, RetriesSayWhereTheyAreAndTheWindowKeepsItsSize) {
    emu::VirtualDrive& drive = AddDrive(false);
    drive.AddDamage({5000, 64});
    CReadTestWindow window(services);
    window.show();
    ASSERT_TRUE(test::Settle(window));
    ChooseRange(window, 0, 9999);
    QApplication::processEvents();

    // "Drive activating..." has a line of its own in the settings.
    window.findChild<DriveSequence*>()->ShowStatus(QString::fromUtf8(kStatusDriveActivating));
    QApplication::processEvents();
    const QLabel* driveStatus = Find<QLabel>(window, "readTestDriveStatus");
    ASSERT_TRUE(driveStatus != nullptr && driveStatus->isVisible());
    for (const QWidget* control : driveStatus->parentWidget()->findChildren<QWidget*>()) {
        if (control != driveStatus && control->isVisible()) {
            EXPECT_FALSE(driveStatus->geometry().intersects(control->geometry())) << control->objectName().toStdString();
        }
    }
    window.findChild<DriveSequence*>()->EndStatus(QString::fromUtf8(kStatusDriveActivating));
    QApplication::processEvents();
    const QSize before = window.size();

    Find<QPushButton>(window, "readTestStart")->click();
    const QLabel* status = Find<QLabel>(window, "readTestStatus");
    QString retrying;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (status->text().startsWith(QStringLiteral("Reading LBA "))) retrying = status->text();
            return !retrying.isEmpty() || !window.Running();
        },
        60000));
    ASSERT_FALSE(retrying.isEmpty()) << "no retry shown";
    const uint32_t lba = retrying.section(QLatin1Char(' '), 2, 2).toUInt();
    EXPECT_TRUE(lba >= 4992 && lba < 5064) << retrying.toStdString();
    EXPECT_TRUE(retrying.contains(QStringLiteral("unreadable so far; this read "))) << retrying.toStdString();
    ASSERT_TRUE(WaitEnded(window));
    QApplication::processEvents();
    EXPECT_FALSE(status->text().startsWith(QStringLiteral("Reading LBA "))) << status->text().toStdString();
    const QString verdict = Find<QLabel>(window, "readTestVerdict")->text();
    EXPECT_TRUE(verdict.startsWith(QStringLiteral("64 sectors could not be read."))) << verdict.toStdString();
    EXPECT_EQ(window.size(), before);
}

TEST_F(ReadTestWindowTest, StopEndsTheRunBetweenRequestsAndKeepsWhatWasRead) {
    AddDrive(true);
    CReadTestWindow window(services);
    ASSERT_TRUE(test::Settle(window));
    // Before the run the chart has the axes the run draws on, not the scan chart's 0-1000.
    const std::vector<QString> before = AxisLabels(window);
    ASSERT_FALSE(before.empty());
    EXPECT_NE(before.front(), QStringLiteral("1000"));
    Find<QPushButton>(window, "readTestStart")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.Holding(); }, 20000));
    QApplication::processEvents();  // what the run posted before its reads
    EXPECT_EQ(AxisLabels(window), before);
    // STOP shows what was read at once, while a read is still at the drive; the drive is given
    // back (and START offered) when that read returns.
    Find<QPushButton>(window, "readTestStop")->click();
    EXPECT_TRUE(gate.Holding());
    EXPECT_EQ(Find<QLabel>(window, "readTestVerdict")->text(), QStringLiteral("User abort!"));
    EXPECT_GT(CurvePixels(window), 0);
    EXPECT_TRUE(Find<QPushButton>(window, "readTestSaveResults")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(window, "readTestStart")->isEnabled());
    gate.Open();
    ASSERT_TRUE(WaitEnded(window));
    EXPECT_EQ(Find<QLabel>(window, "readTestVerdict")->text(), QStringLiteral("User abort!"));
    EXPECT_TRUE(Find<QPushButton>(window, "readTestStart")->isEnabled());
}

// The drive is pulled out in the middle of a run: what was read stays on the chart and savable,
// also after a START that finds no drive.
TEST_F(ReadTestWindowTest, WhatWasReadBeforeTheDriveWentStaysSavable) {
    AddDrive(true);
    CReadTestWindow window(services);
    ASSERT_TRUE(test::Settle(window));
    Find<QPushButton>(window, "readTestStart")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.Holding(); }, 20000));
    bus.Os().RemoveNode("/dev/sr0");
    bus.Os().RemoveNode("/dev/sg0");
    gate.Open();
    ASSERT_TRUE(WaitEnded(window));
    const int curve = CurvePixels(window);
    EXPECT_GT(curve, 0);
    EXPECT_TRUE(Find<QPushButton>(window, "readTestSaveResults")->isEnabled());

    Find<QPushButton>(window, "readTestStart")->click();
    ASSERT_TRUE(WaitEnded(window));
    EXPECT_EQ(Find<QLabel>(window, "readTestStatus")->text(), QString::fromLatin1(kReadTestNoDrive));
    EXPECT_EQ(CurvePixels(window), curve);
    EXPECT_TRUE(Find<QPushButton>(window, "readTestSaveResults")->isEnabled());
    EXPECT_TRUE(Find<QPushButton>(window, "readTestSavePicture")->isEnabled());
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("pulled.csv"));
    ASSERT_TRUE(window.SaveResults(path));
    const ReadTestRead read = ReadReadTestFile(QFile::encodeName(path).toStdString());
    ASSERT_TRUE(read.record.has_value()) << read.error;
    EXPECT_EQ(read.record->result.end, ReadTestEnd::DriveGone);
    EXPECT_FALSE(read.record->result.points.empty());
}

TEST_F(ReadTestWindowTest, TheDriveListIsLockedWhileARunHoldsTheDrive) {
    AddDrive(true);
    CMainDialog main(services, {});
    main.OnInitDialog();
    ASSERT_TRUE(test::Settle(main));
    ASSERT_TRUE(test::DriveListOf(main)->isEnabled());
    // Not the maker's drive: no pages, yet the read test is there.
    QAction* item = test::MenuBarOf(main)->findChild<QAction*>(QStringLiteral("readTest"));
    ASSERT_NE(item, nullptr);
    item->trigger();
    auto* window = main.findChild<CReadTestWindow*>();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(test::Settle(*window));
    Find<QPushButton>(*window, "readTestStart")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.Holding(); }, 20000));
    EXPECT_FALSE(test::DriveListOf(main)->isEnabled());
    // Closing the window stops the run and gives the list back.
    window->close();
    gate.Open();
    EXPECT_TRUE(QTest::qWaitFor([&] { return test::DriveListOf(main)->isEnabled(); }, 20000));
    EXPECT_EQ(services.State().scanIdle.load(), 1);
}

// A benchmark asks before it opens the tray: "No" starts nothing and opens no tray. Let go, the
// run opens and closes it, and the figures show each test's time; the window learns of the disc
// change the reload brings and reads the disc again.
TEST_F(ReadTestWindowTest, ABenchmarkAsksBeforeTheTrayOpensAndShowsItsFigures) {
    emu::VirtualDrive& drive = AddDrive(false);
    std::atomic<int> ejects{0};
    std::atomic<bool> loaded{false};
    std::atomic<int> tocReadsAfterLoad{0};
    drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        constexpr uint8_t kStartStopUnit = 0x1B, kReadToc = 0x43, kLoEjStart = 0x03, kEject = 0x02;
        if (cdb[0] == kStartStopUnit && (cdb[4] & kLoEjStart) == kEject) ++ejects;
        if (cdb[0] == kStartStopUnit && (cdb[4] & kLoEjStart) == kLoEjStart) loaded = true;
        if (cdb[0] == kReadToc && loaded) ++tocReadsAfterLoad;
    });
    CReadTestWindow window(services);
    ASSERT_TRUE(test::Settle(window));
    auto* loadEject = Find<QCheckBox>(window, "readTestLoadEject");
    EXPECT_FALSE(loadEject->isEnabled());
    Find<QComboBox>(window, "readTestKind")->setCurrentText(QStringLiteral("Benchmark"));
    ASSERT_TRUE(loadEject->isEnabled());
    loadEject->setChecked(true);

    prompter->answers = {PromptAnswer::No};
    Find<QPushButton>(window, "readTestStart")->click();
    EXPECT_FALSE(window.Running());
    ASSERT_EQ(prompter->Texts(), std::vector<QString>{QString::fromUtf8(kLoadEjectQuestion)});
    ASSERT_TRUE(test::Settle(window));
    EXPECT_EQ(ejects.load(), 0);

    Find<QPushButton>(window, "readTestStart")->click();
    ASSERT_TRUE(window.Running());
    ASSERT_TRUE(WaitEnded(window));
    EXPECT_EQ(ejects.load(), 1);
    const QString figures = Find<QLabel>(window, "readTestSummary")->text();
    for (const char* figure : {"Burst rate: ", "Spin-down time: ", "Spin-up time: ", "Eject time: ",
                               "Load time: "}) {
        SCOPED_TRACE(figure);
        const qsizetype at = figures.indexOf(QString::fromLatin1(figure));
        ASSERT_GE(at, 0) << figures.toStdString();
        // A figure, not the reason there is none.
        EXPECT_TRUE(figures.at(at + qsizetype(std::strlen(figure))).isDigit()) << figures.toStdString();
    }
    EXPECT_TRUE(figures.contains(QStringLiteral("The burst rate should exceed"))) << figures.toStdString();
    EXPECT_TRUE(Find<QPushButton>(window, "readTestSaveResults")->isEnabled());
    // The reloaded disc is read again, as after any disc change (the run itself reads no TOC once
    // the tray has closed).
    EXPECT_TRUE(QTest::qWaitFor([&] { return tocReadsAfterLoad.load() > 0; }, 20000));
}

}  // namespace
}  // namespace dravix
