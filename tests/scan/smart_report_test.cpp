// The Smart Mode Report opened from the page: disc information, one row per speed, results,
// progress, and Exit while a command is at the drive.

#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTemporaryDir>

#include "probix/ScanTexts.h"
#include "scan/SmartReport.h"
#include "tests/scan/PageTestSupport.h"
#include "turns/WorkerThreads.h"

namespace dravix {
namespace {

using scan_test::PageFixture;

QString Latin(const char* text) {
    return QString::fromLatin1(text);
}

// What the report showed when the test's runner let it go.
struct ReportSeen {
    QString discType, manufacturer, mediaType, capacity, outcome;
    std::vector<QString> speeds, results;
    int progress = -1, progressMaximum = -1;
    int speedWidth = 0, resultWidth = 0;
    QColor background;
    bool done = false;
};

class SmartReport : public PageFixture {
  protected:
    // Opens the page on a disc in a new drive, which the test may still change before the report.
    emu::VirtualDrive& OpenOn(const char* media) {
        auto& drive = AddDrive();
        drive.Insert(media);
        OpenPage();
        Tick();
        return drive;
    }

    // Opens the page on a disc and runs the report, its first measurement held at the gate while
    // `during` runs.
    void RunReport(const char* media, std::function<void(CSmartReportDlg&)> during = {}) {
        auto& drive = OpenOn(media);
        if (during) {
            gate.Install(drive);
            gate.Allow(2);  // the references of the first speed
        }
        Report(std::move(during));
    }

    // Chooses Smart mode and presses START; the runner waits for the measurement to end (or calls
    // `during` first), records the dialog and clicks Exit.
    void Report(std::function<void(CSmartReportDlg&)> during = {}) {
        ChooseMode(SamplingMode::Smart);
        dialogScript = [this, during](QDialog& dialog) {
            auto& report = static_cast<CSmartReportDlg&>(dialog);
            pollSilentWhileOpen = !TickStartsAPoll();
            if (during) {
                during(report);
            } else {
                EXPECT_TRUE(QTest::qWaitFor([&] { return report.MeasurementDone(); }, 30000));
            }
            Record(report);
            report.findChild<QPushButton*>(ControlName(CSmartReportDlg::kExitId))->click();
            return dialog.result();
        };
        ClickStart();
        ASSERT_TRUE(test::Settle(*page));
    }

    void Record(CSmartReportDlg& report) {
        auto text = [&](int id) { return report.findChild<QLabel*>(ControlName(id))->text(); };
        seen.discType = text(CSmartReportDlg::kDiscTypeId);
        seen.manufacturer = text(CSmartReportDlg::kManufacturerId);
        seen.mediaType = text(CSmartReportDlg::kMediaTypeId);
        seen.capacity = text(CSmartReportDlg::kCapacityId);
        seen.outcome = report.findChild<QLabel*>(QString::fromLatin1(CSmartReportDlg::kOutcomeName))->text();
        QTableWidget* list = report.ResultList();
        for (int row = 0; row < list->rowCount(); ++row) {
            seen.speeds.push_back(list->item(row, 0)->text());
            seen.results.push_back(report.ResultText(row));
        }
        seen.progress = report.Progress()->value();
        seen.progressMaximum = report.Progress()->maximum();
        seen.speedWidth = list->columnWidth(0);
        seen.resultWidth = list->columnWidth(1);
        seen.background = list->rowCount() ? list->item(0, 0)->background().color() : QColor();
        seen.done = report.MeasurementDone();
    }

    ReportSeen seen;
    bool pollSilentWhileOpen = false;
};

TEST_F(SmartReport, AGoodDvdPlusRIsFitUpTo12X) {
    RunReport("dvd+r");
    EXPECT_EQ(dialogs, std::vector<QString>{"dialog162"});
    EXPECT_TRUE(pollSilentWhileOpen);
    EXPECT_EQ(seen.discType, "DVD+R");
    EXPECT_EQ(seen.manufacturer, "ORIONDSC");
    EXPECT_EQ(seen.mediaType, "R16");
    EXPECT_EQ(seen.capacity, "4482.6 MB");
    EXPECT_EQ(seen.speeds, (std::vector<QString>{"2.4X", "4X", "6X", "8X", "10X", "12X", "16X"}));
    const QString ok = Latin(scan_texts::kSpeedOk), no = Latin(scan_texts::kSpeedNotRecommended);
    EXPECT_EQ(seen.results, (std::vector<QString>{ok, ok, ok, ok, ok, ok, no}));
    EXPECT_EQ(seen.outcome, "Highest recommended speed: 12X");
    EXPECT_EQ(seen.progress, 7);
    EXPECT_EQ(seen.progressMaximum, 7);
    EXPECT_EQ(seen.speedWidth, 60);
    EXPECT_EQ(seen.resultWidth, 155);
    EXPECT_EQ(seen.background, QColor(139, 179, 222));

    // The page is idle again (its poll goes on), its status line untouched, nothing drawn.
    EXPECT_TRUE(TickStartsAPoll());
    ASSERT_TRUE(test::Settle(*page));
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
    EXPECT_EQ(services.State().scanIdle.load(), 1);
    EXPECT_TRUE(prompter->Asked().empty());
}

// Save Results... names the file it wrote as the page names its run's, and a save that fails
// names none; the selected row stands out of the blue ones in the theme's highlight.
TEST_F(SmartReport, SavingNamesTheFileWrittenAndTheSelectedRowIsHighlighted) {
    OpenOn("dvd+r");
    QTemporaryDir folder;
    std::vector<QString> titles;
    QString answer;
    services.saveFileName = [&](QWidget*, const SaveQuestion& question) {
        titles.push_back(question.title);
        return answer;
    };
    QString afterSave, afterFailure;
    size_t boxesAfterSave = 0;
    std::vector<QColor> rowColours;
    std::vector<int> framePixels;  // of each row, along the top inside its cells
    QColor highlight;
    Report([&](CSmartReportDlg& report) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return report.MeasurementDone(); }, 30000));
        auto* savedAs = report.findChild<QLabel*>(Latin(CSmartReportDlg::kSavedAsName));
        auto* save = report.findChild<QPushButton*>(Latin(CSmartReportDlg::kSaveName));
        ASSERT_TRUE(savedAs && save);
        answer = folder.filePath("smart.csv");
        save->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !savedAs->text().isEmpty(); }, 20000));
        afterSave = savedAs->text();
        boxesAfterSave = prompter->Asked().size();
        answer = folder.filePath("no such folder/smart.csv");
        save->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return prompter->Asked().size() > boxesAfterSave; }, 20000));
        afterFailure = savedAs->text();

        report.show();
        report.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&report));
        QTableWidget* list = report.ResultList();
        list->selectRow(1);
        const QImage shot = list->viewport()->grab().toImage();
        // The picture is in device pixels, the cells in the window's.
        const qreal scale = shot.devicePixelRatio();
        auto pixel = [&](qreal x, qreal y) { return shot.pixelColor(int(x * scale), int(y * scale)); };
        const QColor frame = list->palette().color(QPalette::Active, QPalette::HighlightedText);
        for (int row = 0; row < list->rowCount(); ++row) {
            // Right of the result's text, inside the frame a selected row has.
            const QRect cell = list->visualItemRect(list->item(row, 1));
            rowColours.push_back(pixel(cell.left() + cell.width() * 9 / 10, cell.center().y()));
            int pixels = 0;
            const QRect whole = list->visualItemRect(list->item(row, 0)).united(cell);
            for (int x = int(whole.left() * scale); x <= int(whole.right() * scale); ++x)
                pixels += shot.pixelColor(x, int((whole.top() + 1) * scale)) == frame;
            framePixels.push_back(pixels);
        }
        highlight = list->palette().color(QPalette::Active, QPalette::Highlight);
    });
    EXPECT_EQ(titles, (std::vector<QString>{"Save Scan Results", "Save Scan Results"}));
    EXPECT_TRUE(QFileInfo::exists(folder.filePath("smart.csv")));
    EXPECT_EQ(afterSave, Latin(scan_texts::kSavedAs) + folder.filePath("smart.csv"));
    EXPECT_EQ(boxesAfterSave, 0u);
    EXPECT_EQ(afterFailure, "");

    ASSERT_EQ(rowColours.size(), 7u);
    for (size_t row = 0; row < rowColours.size(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(rowColours[row], row == 1 ? highlight : CSmartReportDlg::ListBackground());
        // The selected row's focus frame runs across both cells.
        if (row == 1) {
            EXPECT_GT(framePixels[row], CSmartReportDlg::kSpeedColumnWidth / 2);
        } else {
            EXPECT_EQ(framePixels[row], 0);
        }
    }
    EXPECT_NE(highlight, CSmartReportDlg::ListBackground());
}

TEST_F(SmartReport, ADualLayerDiscIsMeasuredAtFourPointsPerSpeed) {
    RunReport("dvd+r-dl");
    EXPECT_EQ(seen.discType, "DVD+R DL");
    EXPECT_EQ(seen.mediaType, "D08");
    const QString ok = Latin(scan_texts::kSpeedOk), no = Latin(scan_texts::kSpeedNotRecommended);
    EXPECT_EQ(seen.speeds, (std::vector<QString>{"2.4X", "4X", "6X", "8X"}));
    EXPECT_EQ(seen.results, (std::vector<QString>{ok, ok, ok, no}));
    size_t points = 0;
    for (const auto& cdb : bus.Commands()) points += cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0 ? 1 : 0;
    // Four points at each fit speed, at least one at the unfit one.
    EXPECT_GE(points, 3u * 4 + 1);
    EXPECT_LE(points, 4u * 4);
}

TEST_F(SmartReport, ADashRDiscReadsItsPrerecordedIdentifiers) {
    RunReport("dvd-r");
    EXPECT_EQ(seen.discType, "DVD-R");
    EXPECT_EQ(seen.manufacturer, "PRISMA");
    EXPECT_EQ(seen.mediaType, "DR16G1");
    EXPECT_EQ(seen.speeds, (std::vector<QString>{"4X", "8X", "16X"}));
}

TEST_F(SmartReport, AnIdentifierReadFailureLeavesTheFieldsAndMeasuresAnyway) {
    auto& drive = OpenOn("dvd+r");
    emu::FaultRule structure;
    structure.opcode = 0xAD;
    structure.sense = emu::kCannotReadIncompatibleFormat;
    drive.AddFault(structure);
    Report();
    EXPECT_EQ(prompter->Asked().size(), 1u);
    EXPECT_EQ(prompter->Asked().at(0).text, Latin(scan_texts::kDiscNotSupported));
    EXPECT_EQ(seen.discType, "DVD+R");
    EXPECT_EQ(seen.manufacturer, "N/A");
    EXPECT_EQ(seen.capacity, "N/A");  // not read after the failure
    EXPECT_EQ(seen.results.size(), 7u);
    EXPECT_EQ(seen.outcome, Latin(scan_texts::kIdentifiersUnread));
}

// The measurements are vendor commands, which report no medium change: the identity read after
// the last speed finds the swap, and the report recommends nothing, as the command line does.
TEST_F(SmartReport, ADiscSwappedDuringTheReportGivesNoVerdict) {
    auto& drive = OpenOn("dvd+r");
    int references = 0;
    drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0x03 && ++references == 3) drive.Insert("dvd+r");
    });
    Report();
    drive.SetTraceHook(nullptr);
    EXPECT_EQ(seen.results.size(), 7u);
    EXPECT_EQ(seen.outcome, Latin(scan_texts::kDiscChanged));
}

TEST_F(SmartReport, ExitDuringAMeasurementClosesAtOnceAndTheWorkerStopsBetweenCommands) {
    int heldAt = 0;
    RunReport("dvd+r", [&](CSmartReportDlg& report) {
        // Hold the third command (the first point of 2.4X) at the drive.
        ASSERT_TRUE(gate.WaitArrived(3));
        heldAt = gate.Arrived();
        QApplication::processEvents();
        EXPECT_EQ(report.ResultText(0), Latin(scan_texts::kSpeedTesting));
        EXPECT_FALSE(report.MeasurementDone());
    });
    // The dialog closed while the command was still at the drive.
    EXPECT_EQ(heldAt, 3);
    EXPECT_EQ(seen.results.at(0), Latin(scan_texts::kSpeedTesting));
    EXPECT_EQ(seen.progress, 0);
    EXPECT_TRUE(TickStartsAPoll());  // it waits for the stopped measurement's command
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));

    // The held answer returns; the worker sends nothing more and ends.
    gate.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return WorkerThreads::Program().Running() == 0; }, 20000));
    EXPECT_EQ(gate.Arrived(), 3);

    // The drive answers normally: a new report measures every speed.
    bool done = false;
    dialogScript = [&done](QDialog& dialog) {
        auto& report = static_cast<CSmartReportDlg&>(dialog);
        done = QTest::qWaitFor([&] { return report.MeasurementDone(); }, 30000);
        return 0;
    };
    ClickStart();
    ASSERT_TRUE(test::Settle(*page));
    EXPECT_TRUE(done);
    EXPECT_GE(gate.Arrived(), 3 + 7 * 3);  // each speed: two references and at least one point
}

}  // namespace
}  // namespace dravix
