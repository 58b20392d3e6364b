#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include "tests/ui/LinkTestSupport.h"
#include "ui/HyperLink.h"
#include "ui/TextColour.h"

namespace dravix::test {
namespace {

const QString kSite = QStringLiteral("https://www.example.test/drives");

// A link placed in a window the way a dialog lays it out: the text "Static" in a 200 × 30 box.
class HyperLinkTest : public LinkFixture {
  protected:
    void SetUp() override {
        LinkFixture::SetUp();
        host.resize(400, 200);
        link = new CHyperLink(services, QStringLiteral("Static"), &host);
        link->setGeometry(10, 20, 200, 30);
        other = new QLineEdit(&host);
        other->setGeometry(10, 150, 100, 20);
    }

    void ShowActive() {
        host.show();
        host.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    }

    QColor Drawn() const { return link->palette().color(QPalette::WindowText); }
    // A link colour as the window shows it: the same on a light window, made readable on a dark one.
    QColor Readable(const QColor& colour) const {
        return FixedColourOn(colour, link->palette().color(QPalette::Window));
    }

    QWidget host;
    CHyperLink* link = nullptr;
    QLineEdit* other = nullptr;
};

// --- colours and states ---

TEST_F(HyperLinkTest, StartsAsAnUnvisitedLinkWithTheDefaultStyle) {
    link->Attach();
    EXPECT_EQ(link->LinkStyle(), 0x15u);
    EXPECT_FALSE(link->IsActive());
    EXPECT_FALSE(link->IsHovering());
    EXPECT_FALSE(link->IsVisited());
    EXPECT_EQ(Drawn(), Readable(QColor(0, 0, 255)));
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(link->Target(), QStringLiteral("Static"));  // an empty target takes the text
    EXPECT_EQ(link->toolTip(), QStringLiteral("Static"));
}

TEST_F(HyperLinkTest, AnEmptyTextTakesTheTarget) {
    auto* bare = new CHyperLink(services, QString(), &host);
    bare->SetTarget(kSite);
    bare->Attach();
    EXPECT_EQ(bare->text(), kSite);
}

TEST_F(HyperLinkTest, StyleBitsSwitchUnderlineAndHandCursor) {
    link->SetLinkStyle(CHyperLink::kResizeToFit | CHyperLink::kNoHandCursor);
    link->Attach();
    EXPECT_FALSE(link->font().underline());
    EXPECT_NE(link->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(HyperLinkTest, FocusDrawsTheActiveColourUntilItIsLost) {
    link->SetTarget(kSite);
    ShowActive();
    link->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(link->IsActive());
    EXPECT_EQ(Drawn(), Readable(QColor(0, 128, 128)));
    other->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(link->IsActive());
    EXPECT_EQ(Drawn(), Readable(QColor(0, 0, 255)));

    link->SetLinkStyle(link->LinkStyle() | CHyperLink::kNoActiveColour);
    link->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(link->IsActive());
    EXPECT_EQ(Drawn(), Readable(QColor(0, 0, 255)));
}

TEST_F(HyperLinkTest, HoverTogglesButChangesTheColourOnlyWithTheHoverBit) {
    ShowActive();
    const QPoint inside = link->rect().center();
    QTest::mouseMove(link, inside);
    EXPECT_TRUE(link->IsHovering());
    EXPECT_EQ(Drawn(), Readable(QColor(0, 0, 255)));  // the default style has no hover colour
    QTest::mouseMove(&host, QPoint(300, 180));
    EXPECT_FALSE(link->IsHovering());

    link->SetLinkStyle(link->LinkStyle() | CHyperLink::kHoverColour);
    QTest::mouseMove(link, inside);
    EXPECT_EQ(Drawn(), Readable(QColor(255, 0, 0)));
    QTest::mouseMove(&host, QPoint(300, 180));
    EXPECT_EQ(Drawn(), Readable(QColor(0, 0, 255)));
}

TEST_F(HyperLinkTest, VisitedOnlyAfterASuccessfulOpening) {
    link->SetTarget(kSite);
    desktopOpens = false;
    launchResult = kLinkFileNotFound;
    EXPECT_FALSE(link->OpenLink());
    EXPECT_FALSE(link->IsVisited());
    EXPECT_EQ(Drawn(), Readable(QColor(0, 0, 255)));
    ASSERT_EQ(Boxes().size(), 1u);

    desktopOpens = true;
    EXPECT_TRUE(link->OpenLink());
    EXPECT_TRUE(link->IsVisited());
    EXPECT_EQ(Drawn(), Readable(QColor(128, 0, 128)));
    EXPECT_EQ(Boxes().size(), 1u);  // success says nothing
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened.back(), QUrl(kSite));
}

TEST_F(HyperLinkTest, ActiveColourWinsOverVisited) {
    link->SetTarget(kSite);
    ShowActive();
    ASSERT_TRUE(link->OpenLink());
    link->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(Drawn(), Readable(QColor(0, 128, 128)));
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(Drawn(), Readable(QColor(128, 0, 128)));
}

// --- resize to fit ---

TEST_F(HyperLinkTest, FitsALeftAlignedLinkToItsText) {
    link->Attach();
    link->SetTarget(kSite);
    link->SetLinkText(kSite);
    const QFontMetrics metrics(link->font());
    EXPECT_EQ(link->text(), kSite);
    EXPECT_EQ(link->toolTip(), kSite);
    EXPECT_EQ(link->geometry(), QRect(10, 20, metrics.horizontalAdvance(kSite), metrics.height()));
}

TEST_F(HyperLinkTest, FitsCentredAndRightAlignedLinksAroundTheirBox) {
    link->setAlignment(Qt::AlignCenter);
    link->SetLinkText(kSite);
    link->Attach();
    const QFontMetrics metrics(link->font());
    const int width = metrics.horizontalAdvance(kSite);
    const int height = metrics.height();
    const int shrinkX = (200 - width) / 2;
    const int shrinkY = (30 - height) / 2;
    EXPECT_EQ(link->geometry(), QRect(10 + shrinkX, 20 + shrinkY, 200 - 2 * shrinkX, 30 - 2 * shrinkY));

    auto* right = new CHyperLink(services, kSite, &host);
    right->setGeometry(10, 60, 300, 30);
    right->setAlignment(Qt::AlignRight | Qt::AlignTop);
    right->Attach();
    EXPECT_EQ(right->geometry(), QRect(310 - width, 60, width, height));
}

TEST_F(HyperLinkTest, KeepsItsBoxWithoutTheResizeBit) {
    link->SetLinkStyle(CHyperLink::kUnderline);
    link->Attach();
    link->SetLinkText(kSite);
    EXPECT_EQ(link->geometry(), QRect(10, 20, 200, 30));
}

// --- keyboard and mouse ---

TEST_F(HyperLinkTest, SpaceOpensAndOtherKeysDoNot) {
    link->SetTarget(kSite);
    ShowActive();
    link->setFocus(Qt::TabFocusReason);
    QTest::keyClick(link, Qt::Key_Return);
    QTest::keyClick(link, Qt::Key_A);
    QTest::keyClick(link, Qt::Key_Tab);
    EXPECT_TRUE(opened.empty());
    link->setFocus(Qt::TabFocusReason);
    QTest::keyClick(link, Qt::Key_Space);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(kSite));
    // A held key repeats; the page is not opened once per repeat.
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(link, &repeat);
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(HyperLinkTest, OpensOnReleaseInsideAndTakesTheFocusOnPress) {
    link->SetTarget(kSite);
    ShowActive();
    const QPoint inside = link->rect().center();
    QTest::mousePress(link, Qt::LeftButton, {}, inside);
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(link->hasFocus());
    EXPECT_TRUE(link->IsActive());
    QTest::mouseRelease(link, Qt::LeftButton, {}, inside);
    EXPECT_EQ(opened.size(), 1u);

    // Letting go outside the link does not open it.
    QTest::mousePress(link, Qt::LeftButton, {}, inside);
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() + 50, inside.y()));
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(HyperLinkTest, PressBitsOpenOnPressAndLeaveTheFocus) {
    link->SetTarget(kSite);
    link->SetLinkStyle(CHyperLink::kUnderline | CHyperLink::kOpenOnPress);
    ShowActive();
    other->setFocus(Qt::TabFocusReason);
    const QPoint inside = link->rect().center();
    QTest::mousePress(link, Qt::LeftButton, {}, inside);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_FALSE(link->hasFocus());
    QTest::mouseRelease(link, Qt::LeftButton, {}, inside);
    EXPECT_EQ(opened.size(), 1u);
}

// --- the browser fallback ---

TEST(BrowserCommand, CutsAtThePlaceholderAndAppendsTheTargetAsOneArgument) {
    struct Case {
        const char* command;
        QString program;
        QStringList arguments;
    };
    const QString target = kSite;
    const Case cases[] = {
        {R"(firefox --new-window "%s")", "firefox", {"--new-window", target}},
        {"firefox '%s'", "firefox", {target}},
        {"chromium %s --ignored", "chromium", {target}},
        {"lynx -accept_all_cookies", "lynx", {"-accept_all_cookies", target}},
        {R"("/opt/My Browser/browse" --private "%s")", "/opt/My Browser/browse", {"--private", target}},
        {R"(/opt/My\ Browser/browse)", "/opt/My Browser/browse", {target}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::optional<LaunchCommand> command =
            BrowserLaunchCommand(QString::fromUtf8(c.command), target);
        ASSERT_TRUE(command.has_value());
        EXPECT_EQ(command->program, c.program);
        EXPECT_EQ(command->arguments, c.arguments);
    }
}

TEST(BrowserCommand, ATargetWithBlanksAndShellCharactersStaysOneArgument) {
    const QString hostile = QStringLiteral("https://x.test/a b;rm -rf ~ $(id) `id` \"q\" 'r' | cat > /tmp/x");
    const std::optional<LaunchCommand> command = BrowserLaunchCommand(QStringLiteral("browser %s"), hostile);
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->program, QStringLiteral("browser"));
    EXPECT_EQ(command->arguments, QStringList{hostile});
}

TEST(BrowserCommand, NamesNoProgramWhenThereIsNone) {
    for (const char* text : {"", "   ", "%s", "\"%s\"", "\"\" %s"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(BrowserLaunchCommand(QString::fromUtf8(text), kSite).has_value());
    }
}

TEST(BrowserCommand, SplitsWordsHonouringQuotesAndEscapes) {
    EXPECT_EQ(SplitCommandLine(QStringLiteral(R"(  a  "b c"  'd "e"' f\ g "h\"i" '' x"y"z )")),
              (QStringList{"a", "b c", R"(d "e")", "f g", R"(h"i)", "", "xyz"}));
    EXPECT_EQ(SplitCommandLine(QStringLiteral(R"(a "unterminated b)")), (QStringList{"a", "unterminated b"}));
}

TEST_F(HyperLinkTest, FallsBackToTheBrowserVariableWhenTheDesktopFails) {
    qputenv("BROWSER", R"(my-browser --tab "%s")");
    desktopOpens = false;
    const QString target = QStringLiteral("https://x.test/a b;echo hi");
    link->SetTarget(target);
    EXPECT_TRUE(link->OpenLink());
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].program, QStringLiteral("my-browser"));
    EXPECT_EQ(launched[0].arguments, (QStringList{"--tab", target}));
    EXPECT_TRUE(link->IsVisited());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(HyperLinkTest, WithoutTheBrowserVariableUsesTheSystemBrowserOrReportsNone) {
    qunsetenv("BROWSER");
    desktopOpens = false;
    link->SetTarget(kSite);
    QTemporaryDir bin;
    ASSERT_TRUE(bin.isValid());
    qputenv("PATH", QFile::encodeName(bin.path()));

    // No system browser on the path: nothing to start.
    EXPECT_FALSE(link->OpenLink());
    EXPECT_TRUE(launched.empty());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].text, LinkErrorMessage(kLinkNoAssociation));

    QFile browser(bin.filePath(QStringLiteral("x-www-browser")));
    ASSERT_TRUE(browser.open(QIODevice::WriteOnly));
    browser.close();
    browser.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_TRUE(link->OpenLink());
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_EQ(launched[0].program, QStringLiteral("x-www-browser"));
    EXPECT_EQ(launched[0].arguments, QStringList{kSite});
}

TEST_F(HyperLinkTest, AFailedFallbackIsReportedAsAnApplicationExclamationBox) {
    desktopOpens = false;
    launchResult = kLinkAccessDenied;
    link->SetTarget(kSite);
    EXPECT_FALSE(link->OpenLink());
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].caption, AppTitle());
    EXPECT_EQ(
        Boxes()[0].text,
        QStringLiteral("Can't open link:\n\nThe operating system denied\naccess to the specified file."));
    EXPECT_EQ(Boxes()[0].icon, PromptIcon::Exclamation);
    EXPECT_EQ(Boxes()[0].buttons, PromptButtons::Ok);
}

// The real start, with programs that cannot be started: the failure is named, nothing runs.
TEST(LaunchDetached, NamesWhyAProgramCannotBeStarted) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plain = dir.filePath(QStringLiteral("not-executable"));
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    EXPECT_EQ(LaunchDetached({QStringLiteral("dravix-no-such-browser-here"), {kSite}}), kLinkFileNotFound);
    EXPECT_EQ(LaunchDetached({dir.filePath(QStringLiteral("missing")), {kSite}}), kLinkFileNotFound);
    EXPECT_EQ(LaunchDetached({dir.filePath(QStringLiteral("no-dir/browser")), {kSite}}), kLinkPathNotFound);
    EXPECT_EQ(LaunchDetached({plain, {kSite}}), kLinkAccessDenied);
    EXPECT_EQ(LaunchDetached({dir.path(), {kSite}}), kLinkAccessDenied);
}

// --- error texts ---

TEST(LinkErrors, TextsOfTheTable) {
    EXPECT_EQ(LinkErrorMessage(31), QStringLiteral("Can't open link:\n\nThere is no application associated\n"
                                                   "with the given filename extension."));
    EXPECT_EQ(LinkErrorText(26), QStringLiteral("A sharing violation occurred. "));
    EXPECT_EQ(LinkErrorText(2), QStringLiteral("The specified file was not found."));
    EXPECT_EQ(LinkErrorText(99), QStringLiteral("Unknown Error (99) occurred."));
    EXPECT_EQ(LinkErrorText(1), QStringLiteral("Unknown Error (1) occurred."));
    // Every code of the table has its own text; the neighbours of the table do not.
    QStringList texts;
    for (int code : {0, 2, 3, 5, 8, 11, 26, 27, 28, 29, 30, 31, 32}) {
        EXPECT_FALSE(LinkErrorText(code).startsWith(QStringLiteral("Unknown"))) << code;
        texts << LinkErrorText(code);
    }
    texts.removeDuplicates();
    EXPECT_EQ(texts.size(), 13);
    EXPECT_EQ(LinkErrorText(33), QStringLiteral("Unknown Error (33) occurred."));
}

}  // namespace
}  // namespace dravix::test
