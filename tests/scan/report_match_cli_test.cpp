// "Make Report…" from the Tools menu and from the results window writes the report dravix-cli
// report writes for the same files. Only the moment the page says it was made may differ.

#include <gtest/gtest.h>

#include <QAction>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "app/MainDialog.h"
#include "scan/MakeReport.h"
#include "scan/ResultsWindow.h"
#include "tests/scan/PageTestSupport.h"
#include "tests/support/CliRunner.h"
#include "tests/support/MainWindowControls.h"
#include "tests/support/ScriptedPrompter.h"

namespace dravix {
namespace {

namespace fs = std::filesystem;

std::string Content(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The page with the moment of its making (", made 2026-12-09T16:00:00Z by") replaced; fails the
// test when the page does not say it.
std::string WithoutMadeTime(const std::string& page) {
    static const std::regex made(", made \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ by ");
    EXPECT_TRUE(std::regex_search(page, made)) << page.substr(0, 600);
    return std::regex_replace(page, made, ", made (time) by ", std::regex_constants::format_first_only);
}

// The two pages alike byte for byte, apart from the moment of their making; else where they part.
::testing::AssertionResult SamePage(const std::string& window, const std::string& cli) {
    const std::string a = WithoutMadeTime(window);
    const std::string b = WithoutMadeTime(cli);
    if (a == b) return ::testing::AssertionSuccess();
    const auto at = static_cast<size_t>(
        std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first - a.begin());
    const size_t from = at < 80 ? 0 : at - 80;
    return ::testing::AssertionFailure()
           << "the window's page (" << a.size() << " bytes) and the command line's (" << b.size()
           << " bytes) part at byte " << at << ":\n  window: " << a.substr(from, 160)
           << "\n  cli:    " << b.substr(from, 160);
}

class ReportMatch : public scan_test::PageFixture {
  protected:
    void SetUp() override {
        PageFixture::SetUp();
        services.prompter = boxes;
        m_dir = fs::path(::testing::TempDir()) / "report-match";
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        // A name with a character the page escapes and one that is not ASCII.
        good = m_dir /
               "good & f\xC3\xBC"
               "r.csv";
        bad = m_dir / "bad.csv";
        smart = m_dir / "smart.csv";
        readTest = m_dir / "read.csv";
        services.openFileNames = [this](QWidget*, const OpenQuestion& question) {
            asked.push_back(question.title);
            return picked;
        };
        services.saveFileName = [this](QWidget*, const SaveQuestion& question) {
            asked.push_back(question.title);
            return QString::fromStdString(saveAs.string());
        };
        services.urlOpener = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
    }
    void TearDown() override {
        PageFixture::TearDown();
        fs::remove_all(m_dir);
    }

    // Results files made by the command line on the virtual drive: two scans of different discs,
    // a Smart report, a read test.
    void MakeResults() {
        emu::VirtualDrive& drive = AddDrive();
        drive.SetMicrosecondSleeper(
            [](uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 10)); });
        ASSERT_TRUE(drive.Insert("dvd+r"));
        ASSERT_EQ(Cli({"scan", "--speed", "8X", "--csv", good.string()}).status, 0);
        ASSERT_EQ(Cli({"smart", "--csv", smart.string()}).status, 0);
        ASSERT_TRUE(drive.Insert("dvd+r-bad"));
        ASSERT_EQ(Cli({"scan", "--speed", "8X", "--csv", bad.string()}).status, 4);
        ASSERT_TRUE(drive.Insert("dvd-rom"));
        drive.AddDamage({1000, 2});
        // Unreadable sectors: exit status 4, and the file written.
        ASSERT_EQ(Cli({"readtest", "--start", "0", "--end", "2999", "--csv", readTest.string()}).status, 4);
    }

    test::CliRun Cli(const std::vector<std::string>& args) { return test::RunCliCapture(bus.Drives(), args); }

    // What dravix-cli report writes for `inputs`.
    std::string CliReport(const std::vector<fs::path>& inputs) {
        const fs::path html = m_dir / "cli.html";
        std::vector<std::string> args{"report"};
        for (const fs::path& input : inputs) args.push_back(input.string());
        args.insert(args.end(), {"-o", html.string()});
        const test::CliRun run = test::RunCliCapture(args);
        EXPECT_EQ(run.status, 0) << run.err;
        return Content(html);
    }

    std::shared_ptr<test::ScriptedPrompter> boxes = std::make_shared<test::ScriptedPrompter>();
    fs::path m_dir;
    fs::path good, bad, smart, readTest, saveAs;
    QStringList picked;
    std::vector<QString> asked;  // the titles of the file dialogs, in order
    std::vector<QUrl> opened;
};

TEST_F(ReportMatch, TheToolsMenuWritesTheCommandLinesReportAndOffersToOpenIt) {
    MakeResults();
    if (HasFatalFailure()) return;
    CMainDialog window(services, [](uint8_t) -> PropertyPage* { return nullptr; });
    QAction* item = test::MenuBarOf(window)->findChild<QAction*>(QStringLiteral("makeReport"));
    ASSERT_NE(item, nullptr);

    // A file that is no results file: its reader's message, and no report is asked for.
    const fs::path broken = m_dir / "broken.csv";
    std::ofstream(broken) << "# Dravix Probix TE/FE scan\n# format version: 1\n";
    picked = {QString::fromStdString(good.string()), QString::fromStdString(broken.string())};
    saveAs = m_dir / "never.html";
    item->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes->asked.empty(); }, 20000));
    EXPECT_EQ(boxes->asked.back().icon, PromptIcon::Exclamation);
    EXPECT_TRUE(boxes->asked.back().text.contains(QString::fromStdString(broken.string())))
        << boxes->asked.back().text.toStdString();
    EXPECT_EQ(asked, (std::vector<QString>{QStringLiteral("Make Report")}));
    EXPECT_FALSE(fs::exists(saveAs));

    const std::vector<fs::path> inputs{good, smart, readTest, bad};
    picked.clear();
    for (const fs::path& input : inputs) picked << QString::fromStdString(input.string());
    saveAs = m_dir / "window.html";
    boxes->asked.clear();
    asked.clear();
    item->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, 20000));
    EXPECT_EQ(asked, (std::vector<QString>{QStringLiteral("Make Report"), QStringLiteral("Save Report")}));
    const std::string fromWindow = Content(saveAs);
    ASSERT_FALSE(fromWindow.empty());
    EXPECT_TRUE(SamePage(fromWindow, CliReport(inputs)));
    // Written, then offered; the browser is given the file written.
    ASSERT_EQ(boxes->asked.size(), 1u);
    EXPECT_EQ(boxes->asked[0].buttons, PromptButtons::YesNo);
    EXPECT_TRUE(boxes->asked[0].text.contains(QString::fromStdString(saveAs.string())));
    EXPECT_EQ(opened, (std::vector<QUrl>{QUrl::fromLocalFile(QString::fromStdString(saveAs.string()))}));

    // Never over one of the files it reports on: refused, the file as it was, nothing offered.
    const std::string kept = Content(smart);
    saveAs = smart;
    boxes->asked.clear();
    item->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes->asked.empty(); }, 20000));
    EXPECT_EQ(boxes->asked.back().text.toStdString(),
              "'" + smart.string() + "' is also an input of this window; choose another name.");
    EXPECT_EQ(Content(smart), kept);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(ReportMatch, TheResultsWindowReportsWhatItShowsWithTheResultLaidOverIt) {
    MakeResults();
    if (HasFatalFailure()) return;
    QWidget owner;
    CResultsWindow* window = nullptr;
    CResultsWindow::Open(services, &owner, QString::fromStdString(good.string()),
                         [&](CResultsWindow* w) { window = w; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window != nullptr; }, 20000));
    bool compared = false;
    window->CompareFile(QString::fromStdString(bad.string()), [&](bool done) { compared = done; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return compared; }, 20000));

    saveAs = m_dir / "overlay.html";
    boxes->answers = {PromptAnswer::No};  // written, not opened
    window->findChild<QPushButton*>(QStringLiteral("makeReport"))->click();
    EXPECT_EQ(asked, (std::vector<QString>{QStringLiteral("Save Report")}));
    EXPECT_TRUE(SamePage(Content(saveAs), CliReport({good, bad})));
    EXPECT_TRUE(opened.empty());
}

}  // namespace
}  // namespace dravix
