// The window and the command line make a run's results record in one place: the same run on the
// same virtual drive gives the same results file from both. What only the clock decides (the
// date, the elapsed time, a read test's measured speeds) is left out of the comparison.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "scan/Autosave.h"
#include "scan/ReadTestWindow.h"
#include "scan/SmartReport.h"
#include "tests/probix/ScanTestSupport.h"
#include "tests/scan/PageTestSupport.h"
#include "tests/support/CliRunner.h"
#include "ui/Workers.h"

namespace dravix {
namespace {

namespace fs = std::filesystem;

enum class Front { Scan, Smart, ReadTest };

struct RecordCase {
    const char* name;
    Front front;
    emu::DriveKind kind;
    const char* media;
    // Faults and damage, set again before each of the two runs.
    std::function<void(emu::VirtualDrive&)> prepare;
    uint8_t speedCode;        // a scan's
    const char* cliCommand;   // without --csv
    std::vector<std::string> cliOptions;
    const char* result;       // the file's "# result: " line, so each row runs what it says
};

// The file's lines as a record: the clock's lines dropped, a read test's points without their
// measured speed.
std::vector<std::string> RecordLines(const fs::path& path, Front front) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    bool points = false;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("# date: ", 0) == 0 || line.rfind("# elapsed: ", 0) == 0) continue;
        if (front == Front::ReadTest) {
            if (line.rfind("# transfer: ", 0) == 0) continue;
            if (line.rfind("lba,", 0) == 0) points = true;
            // The speed and the rotation are timed: LBA and position stay.
            if (points) line = line.substr(0, line.find(',', line.find(',') + 1));
        }
        lines.push_back(line);
    }
    return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

class RecordsMatch : public scan_test::PageFixture, public ::testing::WithParamInterface<RecordCase> {
  protected:
    void SetUp() override {
        PageFixture::SetUp();
        QStandardPaths::setTestModeEnabled(true);
        m_dir = fs::path(::testing::TempDir()) / (std::string("records-") + GetParam().name);
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "autosave");
    }
    void TearDown() override {
        StoreAutosaveSettings(AutosaveSettings{});
        PageFixture::TearDown();
        fs::remove_all(m_dir);
    }

    // The run in the window; the path of the results file it wrote.
    fs::path RunInWindow(emu::VirtualDrive& drive) {
        const RecordCase& c = GetParam();
        if (c.prepare) c.prepare(drive);
        if (c.front == Front::ReadTest) return RunReadTestWindow();
        // The page autosaves every scan and Smart report it ends.
        StoreAutosaveSettings({true, QString::fromStdString((m_dir / "autosave").string()),
                               QStringLiteral("window")});
        OpenPage();
        Tick();
        if (c.front == Front::Smart) {
            ChooseMode(SamplingMode::Smart);
            dialogScript = [](QDialog& dialog) {
                auto& report = static_cast<CSmartReportDlg&>(dialog);
                EXPECT_TRUE(QTest::qWaitFor([&] { return report.MeasurementDone(); }, 30000));
                report.findChild<QPushButton*>(ControlName(CSmartReportDlg::kExitId))->click();
                return dialog.result();
            };
        } else {
            ChooseSpeed(c.speedCode);
        }
        ClickStart();
        EXPECT_TRUE(WaitRunEnded());
        EXPECT_TRUE(test::Settle(*page));
        delete page;  // its drive's turn and vendor mode go with it
        page = nullptr;
        fs::path written;
        for (const auto& entry : fs::directory_iterator(m_dir / "autosave")) written = entry.path();
        return written;
    }

    fs::path RunReadTestWindow() {
        const fs::path path = m_dir / "window.csv";
        CReadTestWindow window(services);
        EXPECT_TRUE(test::Settle(window));
        window.findChild<QComboBox*>(QStringLiteral("readTestRange"))->setCurrentIndex(2);
        window.findChild<QLineEdit*>(QStringLiteral("readTestFirstLba"))->setText(QStringLiteral("0"));
        window.findChild<QLineEdit*>(QStringLiteral("readTestLastLba"))->setText(QStringLiteral("9999"));
        window.findChild<QPushButton*>(QStringLiteral("readTestStart"))->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window.Running(); }, 60000));
        EXPECT_TRUE(test::Settle(window));
        EXPECT_TRUE(window.SaveResults(QString::fromStdString(path.string())));
        return path;
    }

    fs::path RunInCli(emu::VirtualDrive& drive) {
        const RecordCase& c = GetParam();
        drive.ClearFaults();
        if (c.prepare) c.prepare(drive);
        const fs::path path = m_dir / "cli.csv";
        std::vector<std::string> args{c.cliCommand};
        args.insert(args.end(), c.cliOptions.begin(), c.cliOptions.end());
        args.insert(args.end(), {"--csv", path.string()});
        const test::CliRun run = test::RunCliCapture(bus.Drives(), args);
        EXPECT_NE(run.status, 2) << run.err;
        return path;
    }

    fs::path m_dir;
};

TEST_P(RecordsMatch, TheWindowAndTheCommandLineWriteTheSameRecord) {
    const RecordCase& c = GetParam();
    emu::VirtualDrive& drive = AddDrive(c.kind);
    ASSERT_TRUE(drive.Insert(c.media));
    // Reads at a tenth of the model's time.
    drive.SetMicrosecondSleeper(
        [](uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 10)); });

    const fs::path window = RunInWindow(drive);
    ASSERT_FALSE(window.empty());
    const fs::path cli = RunInCli(drive);
    const std::vector<std::string> fromWindow = RecordLines(window, c.front);
    const std::vector<std::string> fromCli = RecordLines(cli, c.front);
    ASSERT_GT(fromWindow.size(), 10u);
    EXPECT_TRUE(HasLine(fromWindow, std::string("# result: ") + c.result));
    EXPECT_EQ(fromWindow, fromCli);
}

emu::FaultRule WrongAnswerAfter(int commands) {
    emu::FaultRule rule = scan_test::TeFeRule(0x00);
    rule.action = emu::FaultRule::Action::BadAnswer;
    rule.after = commands;
    return rule;
}

INSTANTIATE_TEST_SUITE_P(
    OneRunEach, RecordsMatch,
    ::testing::Values(
        RecordCase{"ScanToItsEnd", Front::Scan, emu::DriveKind::Maker, "dvd+r", {}, 14, "scan",
                   {"--speed", "4X"}, "ok"},
        RecordCase{"ScanNotRecommended", Front::Scan, emu::DriveKind::Maker, "dvd+r-marginal", {}, 18, "scan",
                   {"--speed", "12X"}, "not_recommended"},
        RecordCase{"ScanTheDriveAnswersWronglyMidway", Front::Scan, emu::DriveKind::Maker, "dvd+r",
                   [](emu::VirtualDrive& d) { d.AddFault(WrongAnswerAfter(12)); }, 14, "scan",
                   {"--speed", "4X"}, "failed"},
        RecordCase{"SmartReport", Front::Smart, emu::DriveKind::Maker, "dvd+r-marginal", {}, 0, "smart", {}, "ok"},
        RecordCase{"ReadTestWithUnreadableSectors", Front::ReadTest, emu::DriveKind::OtherMaker, "cd-r-recorded",
                   [](emu::VirtualDrive& d) { d.AddDamage({2000, 3}); }, 0, "readtest",
                   {"--start", "0", "--end", "9999"}, "finished"}),
    [](const ::testing::TestParamInfo<RecordCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dravix
