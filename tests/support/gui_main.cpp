#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    // Each test process keeps its settings (autosave among them) in a folder of its own: tests run
    // side by side, and one test's settings must not reach a run of another, nor the user's.
    const QTemporaryDir settings(QDir::tempPath() + QStringLiteral("/dravix-test-settings-XXXXXX"));
    if (!settings.isValid()) return 2;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
