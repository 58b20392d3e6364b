#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <csignal>

#include "app/AboutDialog.h"
#include "app/CloseOnSignal.h"
#include "tests/ui/LinkTestSupport.h"
#include "ui/DialogUnits.h"
#include "ui/HyperLink.h"
#include "ui/UnsupportedDialog.h"
#include "ui/WebConfig.h"

namespace dravix::test {
namespace {

QStringList Texts(const QDialog& dialog) {
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) texts << label->text();
    return texts;
}

// Where a control stands in dialog units of the dialog's font.
QPoint Dlu(const QDialog& dialog, int x, int y) {
    const DialogUnits units(dialog.font());
    return QPoint(units.X(x), units.Y(y));
}

using DialogTest = LinkFixture;

TEST(WebConfig, AddressesAreDistinctWebAddresses) {
    for (const QString& address : {MakerMainSite(), MakerSupportSite()}) {
        const QUrl url(address, QUrl::StrictMode);
        EXPECT_TRUE(url.isValid()) << address.toStdString();
        EXPECT_EQ(url.scheme(), QStringLiteral("https"));
        EXPECT_FALSE(url.host().isEmpty());
    }
    EXPECT_NE(MakerMainSite(), MakerSupportSite());
}

TEST_F(DialogTest, AboutBoxShowsTheProgramAndTheMakersTwoAddresses) {
    CAboutDialog about(services);
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Dravix"));
    EXPECT_TRUE(about.isModal());
    EXPECT_EQ(about.size(), DialogUnits(DialogFont()).Size(235, 101));
    EXPECT_TRUE(Texts(about).contains(QStringLiteral("Dravix Version 2.0")));
    EXPECT_TRUE(Texts(about).contains(QStringLiteral("Zarn Globe Web Site:")));
    EXPECT_TRUE(Texts(about).contains(QStringLiteral("Download User Manual:")));

    auto* main = about.findChild<CHyperLink*>(QStringLiteral("id1034"));
    auto* support = about.findChild<CHyperLink*>(QStringLiteral("id1035"));
    ASSERT_NE(main, nullptr);
    ASSERT_NE(support, nullptr);
    EXPECT_EQ(main->Target(), MakerMainSite());
    EXPECT_EQ(main->text(), MakerMainSite());
    EXPECT_EQ(main->toolTip(), MakerMainSite());
    EXPECT_EQ(support->Target(), MakerSupportSite());
    EXPECT_EQ(support->text(), MakerSupportSite());
    EXPECT_EQ(main->pos(), Dlu(about, 114, 61));
    EXPECT_EQ(support->pos(), Dlu(about, 114, 76));
    // Fitted to the address, and still inside the lower frame.
    EXPECT_EQ(support->width(), QFontMetrics(support->font()).horizontalAdvance(MakerSupportSite()));
    EXPECT_LT(support->geometry().right(), Dlu(about, 7 + 221, 0).x());

    auto* ok = about.findChild<QPushButton*>(QStringLiteral("id1"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_EQ(ok->pos(), Dlu(about, 157, 23));
}

TEST_F(DialogTest, UnsupportedDialogPointsToTheMakersSite) {
    CUnsupportedDialog dialog(services);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Dialog"));
    EXPECT_TRUE(dialog.isModal());
    EXPECT_EQ(dialog.size(), DialogUnits(DialogFont()).Size(181, 71));
    EXPECT_TRUE(Texts(dialog).contains(QStringLiteral(
        "Sorry! Dravix is exclusive for Zarn drives.\nFor product information please visit Zarn website:")));
    auto* link = dialog.findChild<CHyperLink*>(QStringLiteral("id1034"));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Target(), MakerMainSite());
    EXPECT_EQ(link->text(), MakerMainSite());
    EXPECT_EQ(link->pos(), Dlu(dialog, 57, 30));
    EXPECT_LT(link->geometry().right(), Dlu(dialog, 7 + 167, 0).x());
    auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("id1"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->pos(), Dlu(dialog, 67, 49));
}

TEST_F(DialogTest, OkAcceptsAndTheCloseBoxRejects) {
    CAboutDialog about(services);
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("id1")), Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
    EXPECT_FALSE(about.isVisible());

    CUnsupportedDialog dialog(services);
    dialog.show();
    dialog.close();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(DialogTest, ClickingADialogLinkOpensItsAddress) {
    CAboutDialog about(services);
    about.show();
    QTest::mouseClick(about.SupportSiteLink(), Qt::LeftButton, {}, about.SupportSiteLink()->rect().center());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl(MakerSupportSite()));
    EXPECT_TRUE(about.SupportSiteLink()->IsVisited());
    EXPECT_TRUE(about.isVisible());  // opening a link does not end the dialog
}

// SIGTERM and SIGHUP reach the event loop (the handler only writes into a pipe) and close as File >
// Exit: a box open above the window ends first, then the window.
TEST(CloseOnSignal, SigtermAndSighupCloseTheBoxesAndThenTheWindow) {
    for (const int number : {SIGTERM, SIGHUP}) {
        QDialog window;
        QDialog box(&window);
        int closes = 0;
        bool boxEnded = false;
        const CloseOnSignal watcher([&] {
            ++closes;
            CloseLikeFileExit(window);
        });
        QTimer::singleShot(0, &window, [&] {
            QTimer::singleShot(0, &box, [number] { std::raise(number); });
            box.exec();
            boxEnded = true;
        });
        // Should the signal never arrive, the test ends instead of hanging.
        QTimer::singleShot(10000, &window, [&] {
            box.reject();
            window.reject();
        });
        window.exec();
        EXPECT_EQ(closes, 1) << number;
        EXPECT_TRUE(boxEnded) << number;
        EXPECT_EQ(window.result(), QDialog::Rejected);
    }
}

}  // namespace
}  // namespace dravix::test
