// The help window over the built guide, and where a program finds the guide in the build tree and
// in an installed tree.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <functional>

#include "app/HelpWindow.h"
#include "base/InstallLayout.h"
#include "ui/Services.h"

namespace dravix {
namespace {

const QString kBuiltGuide = QStringLiteral(DRAVIX_TEST_BIN_DIR "/help");

void Touch(const QString& path) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

TEST(GuideLookup, BesideTheProgramElseAtTheInstalledPlace) {
    QTemporaryDir root;
    const QString bin = root.path() + QStringLiteral("/Zarn Tools/bin");
    const QString installed = QDir::cleanPath(
        bin + QLatin1Char('/') + QString::fromStdString(InstalledDataDirectory()) + QStringLiteral("/help"));
    ASSERT_FALSE(installed.startsWith(bin));  // the installed guide is not inside bin
    struct Case {
        const char* name;
        std::vector<QString> files;
        QString found;
    };
    const Case cases[] = {
        {"nothing", {}, QString()},
        {"a help folder without its first page", {bin + QStringLiteral("/help/style.css")}, QString()},
        {"build tree", {bin + QStringLiteral("/help/index.html")}, bin + QStringLiteral("/help")},
        {"installed tree", {installed + QStringLiteral("/index.html")}, installed},
        {"both: the one beside the program",
         {bin + QStringLiteral("/help/index.html"), installed + QStringLiteral("/index.html")},
         bin + QStringLiteral("/help")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(root.path() + QStringLiteral("/Zarn Tools")).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(bin));
        for (const QString& file : c.files) Touch(file);
        EXPECT_EQ(FindGuideDirectory(bin), c.found);
    }
}

// The help window opens within the screen's available area, frame included, over its window.
TEST(HelpPlacement, TheWindowLiesWithinTheAvailableAreaOverItsOwner) {
    struct Case {
        const char* name;
        QRect owner, available;
    };
    const Case cases[] = {
        {"owner in the lower right of a 1600x1200 screen", {1100, 900, 480, 280}, {0, 0, 1600, 1160}},
        {"owner at the top left", {0, 0, 400, 300}, {0, 0, 1600, 1160}},
        {"a screen smaller than the window", {0, 0, 400, 300}, {0, 0, 800, 560}},
        {"a second screen to the right, with a panel at its top", {2000, 100, 500, 400}, {1600, 30, 1280, 994}},
        {"owner partly off its screen", {-200, 700, 500, 400}, {0, 0, 1024, 768}},
    };
    for (const Case& c : cases) {
        const QRect place = HelpGeometry(c.owner, c.available, QSize(kHelpWidth, kHelpHeight));
        // The frame adds at most 16 x 40 around the window.
        const QRect framed(place.topLeft(), place.size() + QSize(16, 40));
        EXPECT_TRUE(c.available.contains(framed)) << c.name;
        EXPECT_EQ(place.size(), QSize(kHelpWidth, kHelpHeight).boundedTo(c.available.size() - QSize(16, 40)))
            << c.name;
    }
    // Where it fits, it is centred over its owner.
    const QRect owner(400, 300, 800, 600);
    EXPECT_EQ(HelpGeometry(owner, {0, 0, 1600, 1160}, QSize(kHelpWidth, kHelpHeight)).center(), owner.center());
}

TEST(GuideContents, TheContentsFileGivesTheTreeOfExistingPages) {
    QFile file(kBuiltGuide + QStringLiteral("/toc.hhc"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::vector<ContentsEntry> contents = ParseContents(QString::fromLatin1(file.readAll()));
    ASSERT_GE(contents.size(), 5u);
    EXPECT_EQ(contents.front(), (ContentsEntry{QStringLiteral("Welcome"), QStringLiteral("index.html"), {}}));
    // A heading without a page of its own holds the feature pages.
    const auto heading = std::find_if(contents.begin(), contents.end(),
                                      [](const ContentsEntry& e) { return e.page.isEmpty(); });
    ASSERT_NE(heading, contents.end());
    EXPECT_GE(heading->children.size(), 8u);
    int pages = 0;
    std::function<void(const std::vector<ContentsEntry>&)> check =
        [&](const std::vector<ContentsEntry>& list) {
            for (const ContentsEntry& entry : list) {
                EXPECT_FALSE(entry.title.isEmpty());
                if (!entry.page.isEmpty()) {
                    ++pages;
                    EXPECT_TRUE(QFileInfo::exists(kBuiltGuide + QLatin1Char('/') + entry.page))
                        << entry.page.toStdString();
                }
                check(entry.children);
            }
        };
    check(contents);
    EXPECT_EQ(pages, QDir(kBuiltGuide).entryList({QStringLiteral("*.html")}).size());
}

struct HelpWindowTest : ::testing::Test {
    std::vector<QUrl> opened;
    AppServices services;
    void SetUp() override {
        services.urlOpener = [this](const QUrl& url) {
            opened.push_back(url);
            return true;
        };
    }

    static QString Page(const HelpWindow& window) { return window.Browser()->source().fileName(); }
    static QString Selected(const HelpWindow& window) {
        const QTreeWidgetItem* item = window.Contents()->currentItem();
        return item != nullptr ? item->text(0) : QString();
    }
    static void Click(const HelpWindow& window, const char* button) {
        auto* b = window.findChild<QToolButton*>(QLatin1String(button));
        ASSERT_NE(b, nullptr) << button;
        ASSERT_TRUE(b->isEnabled()) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }
};

TEST_F(HelpWindowTest, ContentsLinksBackAndForwardMoveThroughTheGuide) {
    HelpWindow window(services, kBuiltGuide);
    window.show();
    EXPECT_EQ(Page(window), QStringLiteral("index.html"));
    EXPECT_EQ(Selected(window), QStringLiteral("Welcome"));
    EXPECT_TRUE(window.windowTitle().startsWith(QStringLiteral("Dravix Help - ")));
    EXPECT_FALSE(window.findChild<QToolButton*>(QStringLiteral("helpBack"))->isEnabled());

    // Choosing a line of the contents opens its page.
    const auto lumard =
        window.Contents()->findItems(QStringLiteral("Lumard"), Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_EQ(lumard.size(), 1);
    window.Contents()->setCurrentItem(lumard.front());
    EXPECT_EQ(Page(window), QStringLiteral("lumard.html"));

    // A link between pages, with an anchor, stays in the window; the contents follow.
    emit window.Browser()->anchorClicked(QUrl(QStringLiteral("troubleshooting.html#top")));
    EXPECT_EQ(Page(window), QStringLiteral("troubleshooting.html"));
    EXPECT_EQ(Selected(window), QStringLiteral("Troubleshooting and messages"));

    Click(window, "helpBack");
    EXPECT_EQ(Page(window), QStringLiteral("lumard.html"));
    EXPECT_EQ(Selected(window), QStringLiteral("Lumard"));
    Click(window, "helpForward");
    EXPECT_EQ(Page(window), QStringLiteral("troubleshooting.html"));
    Click(window, "helpHome");
    EXPECT_EQ(Page(window), QStringLiteral("index.html"));

    // A web address goes to the desktop; the page stays.
    EXPECT_TRUE(opened.empty());
    emit window.Browser()->anchorClicked(QUrl(QStringLiteral("https://www.example.com/")));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("https://www.example.com/")));
    EXPECT_EQ(Page(window), QStringLiteral("index.html"));
    EXPECT_FALSE(window.Browser()->toPlainText().isEmpty());
}

}  // namespace
}  // namespace dravix
