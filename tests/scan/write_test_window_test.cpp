// The Write Test window on a virtual maker's drive with a blank DVD+R: Cancel on the first box
// sends nothing; a run ends finished with the disc blank and the switch as it was; while it runs
// the Test Write page's Check and Set are locked and the read test refuses; and a marker left by a
// run that did not end is offered to be checked at the program's start.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "app/MainDialog.h"
#include "app/PageRegistry.h"
#include "chart/ScanChart.h"
#include "chart/ScanChartCanvas.h"
#include "chart/WriteTestChart.h"
#include "pages/TestWrite.h"
#include "probix/WriteTestFile.h"
#include "probix/WriteTestSetup.h"
#include "scan/ReadTestWindow.h"
#include "scan/WriteTestWindow.h"
#include "tests/support/MainWindowControls.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/Settle.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {
namespace {

constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kModeSelect10 = 0x55;

struct WriteTestWindowTest : ::testing::Test {
    WriteTestWindowTest() { services.drives = bus.Drives(); }

    test::VirtualBus bus;
    std::shared_ptr<test::ScriptedPrompter> prompter = std::make_shared<test::ScriptedPrompter>();
    AppServices services;
    QTemporaryDir stateHome;
    QByteArray savedStateHome = qgetenv("XDG_STATE_HOME");
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> sent;  // every CDB the drive got
    int writesBeforeHold = -1;               // -1: never held
    bool open = false;

    void SetUp() override {
        ASSERT_TRUE(stateHome.isValid());
        qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.path()));
        services.prompter = prompter;
        services.dialogRunner = [](QDialog&) { return int(QDialog::Accepted); };
    }
    void TearDown() override {
        Release();
        JoinAllWorkers();
        qputenv("XDG_STATE_HOME", savedStateHome);
    }

    emu::VirtualDrive& AddDrive() {
        emu::VirtualDrive& drive = bus.AddDrive(emu::DriveKind::Maker);
        EXPECT_TRUE(drive.Insert("dvd+r"));
        drive.SetMicrosecondSleeper(
            [](uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 50)); });
        drive.SetTraceHook([this](const uint8_t* cdb, size_t length, const emu::ScsiOutcome&) {
            std::unique_lock lock(mutex);
            sent.emplace_back(cdb, cdb + length);
            if (cdb[0] == kWrite10 && writesBeforeHold >= 0 && Count(kWrite10) > writesBeforeHold)
                changed.wait(lock, [this] { return open; });
        });
        return drive;
    }
    // Commands with this opcode; the caller holds the mutex, or the drive is idle.
    int Count(uint8_t opcode) const {
        return static_cast<int>(
            std::count_if(sent.begin(), sent.end(), [&](const auto& c) { return c[0] == opcode; }));
    }
    int Sent() {
        std::lock_guard lock(mutex);
        return static_cast<int>(sent.size());
    }
    bool Held() {
        std::lock_guard lock(mutex);
        return writesBeforeHold >= 0 && Count(kWrite10) > writesBeforeHold;
    }
    void Release() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    std::string MarkerPath() const { return WriteTestMarkerPath(); }

    template <typename T>
    static T* Find(const QWidget& window, const char* name) {
        T* control = window.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    static void ChooseFirstMB(const QWidget& window, int mb) {
        Find<QComboBox>(window, "writeTestLength")->setCurrentIndex(1);
        Find<QLineEdit>(window, "writeTestLengthMB")->setText(QString::number(mb));
    }
    static bool WaitEnded(const CWriteTestWindow& window) {
        return QTest::qWaitFor([&] { return !window.Running(); }, 60000);
    }
};

TEST_F(WriteTestWindowTest, CancelOnTheFirstBoxSendsNothing) {
    AddDrive();
    CWriteTestWindow window(services);
    ASSERT_TRUE(test::Settle(window));
    ASSERT_TRUE(Find<QPushButton>(window, "writeTestStart")->isEnabled());
    const int before = Sent();
    prompter->answers = {PromptAnswer::Cancel};
    Find<QPushButton>(window, "writeTestStart")->click();
    ASSERT_TRUE(test::Settle(window));
    ASSERT_EQ(prompter->asked.size(), 1u);
    EXPECT_EQ(prompter->asked[0].text, QString::fromLatin1(kWriteTestQuestion));
    EXPECT_EQ(prompter->asked[0].buttons, PromptButtons::OkCancel);
    EXPECT_FALSE(window.Running());
    EXPECT_EQ(Sent(), before);
}

// A DVD+R is simulated through the maker's Test Write only: without it in the feature list the
// window says so and START stays off.
TEST_F(WriteTestWindowTest, ADvdPlusRWithoutTheMakersTestWriteIsNotOffered) {
    AddDrive().SetFeatureCodes({1, 2, 5});
    CWriteTestWindow window(services);
    ASSERT_TRUE(test::Settle(window));
    EXPECT_FALSE(Find<QPushButton>(window, "writeTestStart")->isEnabled());
    EXPECT_EQ(Find<QLabel>(window, "writeTestStatus")->text(), QString::fromLatin1(kWriteTestNoMakerSwitch));
}

TEST_F(WriteTestWindowTest, ADvdPlusRRunEndsFinishedWithTheDiscBlankAndTheSwitchAsBefore) {
    emu::VirtualDrive& drive = AddDrive();
    CWriteTestWindow window(services);
    ASSERT_TRUE(test::Settle(window));
    // The disc's own write speeds are offered after Max.
    EXPECT_GT(Find<QComboBox>(window, "writeTestSpeed")->count(), 1);
    ChooseFirstMB(window, 24);
    Find<QPushButton>(window, "writeTestStart")->click();
    ASSERT_TRUE(window.Running());
    ASSERT_TRUE(WaitEnded(window));
    ASSERT_TRUE(test::Settle(window));
    EXPECT_EQ(Find<QLabel>(window, "writeTestVerdict")->text(), QString::fromLatin1(kWriteTestFinished));
    EXPECT_TRUE(Find<QLabel>(window, "writeTestStatus")->text().startsWith(QStringLiteral("finished")));
    EXPECT_EQ(drive.State().disc->recordedSectors, 0u);
    EXPECT_FALSE(drive.State().testWrite);
    EXPECT_FALSE(std::filesystem::exists(MarkerPath()));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(Count(kWrite10) * 32, 24 * 512);  // requests of 32 sectors, 512 to the MB
        EXPECT_EQ(Count(kModeSelect10), 0);         // DVD+R: the maker's switch only
    }
    // The whole result is drawn: the speed curve and the buffer level.
    const QImage plot = Find<CScanChart>(window, "writeTestChart")->Canvas().PlotLayer();
    int speed = 0;
    int buffer = 0;
    for (int y = 0; y < plot.height(); ++y) {
        for (int x = 0; x < plot.width(); ++x) {
            speed += plot.pixel(x, y) == write_chart::kSpeedColour ? 1 : 0;
            buffer += plot.pixel(x, y) == write_chart::kBufferColour ? 1 : 0;
        }
    }
    EXPECT_GT(speed, 100);
    EXPECT_GT(buffer, 100);
    // The run shown is the one saved.
    const QString path = QDir(stateHome.path()).filePath(QStringLiteral("run.csv"));
    ASSERT_TRUE(window.SaveResults(path));
    const WriteTestRead read = ReadWriteTestFile(QFile::encodeName(path).toStdString());
    ASSERT_TRUE(read.record.has_value()) << read.error;
    EXPECT_EQ(read.record->result.end, WriteTestEnd::Finished);
    EXPECT_EQ(read.record->result.writtenSectors, 24u * 512);
    EXPECT_EQ(services.State().scanIdle.load(), 1);
    EXPECT_EQ(services.State().writeTestRunning.load(), 0);
}

TEST_F(WriteTestWindowTest, TestWriteCheckAndSetAreLockedWhileARunGoesAndTheReadTestRefuses) {
    AddDrive();
    writesBeforeHold = 2;
    CMainDialog main(services, DefaultPageFactory(services));
    main.OnInitDialog();
    ASSERT_TRUE(test::Settle(main));
    PropertyPage* testWrite = nullptr;
    for (int i = 0; i < main.Sheet()->PageCount(); ++i)
        if (qobject_cast<CTestWrite*>(main.Sheet()->Page(i))) testWrite = main.Sheet()->Page(i);
    ASSERT_NE(testWrite, nullptr);
    main.Sheet()->SetActivePage(testWrite);
    ASSERT_TRUE(test::Settle(main));
    QWidget* check = testWrite->Control(CTestWrite::kCheckId);
    QWidget* set = testWrite->Control(CTestWrite::kSetId);
    ASSERT_TRUE(check != nullptr && set != nullptr);
    ASSERT_TRUE(check->isEnabled() && set->isEnabled());

    test::MenuBarOf(main)->findChild<QAction*>(QStringLiteral("writeTest"))->trigger();
    auto* window = main.findChild<CWriteTestWindow*>();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(test::Settle(*window));
    ChooseFirstMB(*window, 8);
    Find<QPushButton>(*window, "writeTestStart")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Held(); }, 20000));
    EXPECT_FALSE(check->isEnabled());
    EXPECT_FALSE(set->isEnabled());
    EXPECT_FALSE(test::DriveListOf(main)->isEnabled());

    auto* readTest = new CReadTestWindow(services, &main);
    readTest->Start();
    EXPECT_FALSE(readTest->Running());
    EXPECT_EQ(Find<QLabel>(*readTest, "readTestStatus")->text(),
              QString::fromLatin1(kReadTestWriteTestRunning));
    delete readTest;

    Release();
    ASSERT_TRUE(WaitEnded(*window));
    EXPECT_EQ(Find<QLabel>(*window, "writeTestVerdict")->text(), QString::fromLatin1(kWriteTestFinished));
    EXPECT_TRUE(QTest::qWaitFor([&] { return check->isEnabled() && set->isEnabled(); }, 5000));
    EXPECT_TRUE(test::DriveListOf(main)->isEnabled());
}

// A marker of a run that did not end: warned of at the start. Yes reads the drive's switch and
// removes the marker when it is off; on, or No, keeps it.
TEST_F(WriteTestWindowTest, AMarkerLeftBehindIsOfferedToBeCheckedAtTheStart) {
    struct Case {
        const char* name;
        bool switchOn;
        PromptAnswer answer;
        const char* told;  // null: nothing told after the question
        bool kept;
    };
    const Case cases[] = {
        {"off", false, PromptAnswer::Yes, kWriteTestMarkerOff, false},
        {"still on", true, PromptAnswer::Yes, kWriteTestStillOn, true},
        {"not checked", false, PromptAnswer::No, nullptr, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::VirtualBus caseBus;
        AppServices caseServices;
        caseServices.drives = caseBus.Drives();
        auto casePrompter = std::make_shared<test::ScriptedPrompter>();
        caseServices.prompter = casePrompter;
        caseServices.dialogRunner = [](QDialog&) { return int(QDialog::Accepted); };
        emu::VirtualDrive& drive = caseBus.AddDrive(emu::DriveKind::Maker);
        drive.SetTestWrite(c.switchOn);
        std::filesystem::create_directories(std::filesystem::path(MarkerPath()).parent_path());
        std::ofstream(MarkerPath()) << "drive another drive\nsimulation switch\nearlier off\n";
        casePrompter->answer = [&](const PromptRecord& record) {
            if (record.text == QString::fromLatin1(kWriteTestMarkerQuestion)) return c.answer;
            return record.buttons == PromptButtons::YesNo ? PromptAnswer::Yes : PromptAnswer::Ok;
        };
        {
            CMainDialog main(caseServices, DefaultPageFactory(caseServices));
            main.OnInitDialog();
            ASSERT_TRUE(test::Settle(main));
            const std::vector<QString> texts = casePrompter->Texts();
            const auto asked =
                std::find(texts.begin(), texts.end(), QString::fromLatin1(kWriteTestMarkerQuestion));
            ASSERT_NE(asked, texts.end());
            const bool told = c.told != nullptr &&
                              std::find(asked, texts.end(), QString::fromLatin1(c.told)) != texts.end();
            EXPECT_EQ(told, c.told != nullptr);
            // The drive is probed after the check as at any start: its pages are there.
            EXPECT_GT(main.Sheet()->PageCount(), 1);
        }
        JoinAllWorkers();
        EXPECT_EQ(std::filesystem::exists(MarkerPath()), c.kept);
        EXPECT_EQ(drive.State().testWrite, c.switchOn);
        std::filesystem::remove(MarkerPath());
    }
}

}  // namespace
}  // namespace dravix
