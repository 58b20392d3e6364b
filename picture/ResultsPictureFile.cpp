#include "picture/ResultsPictureFile.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <clocale>
#include <cstdio>
#include <memory>

#include "picture/ReadTestPicture.h"
#include "picture/ResultsPicture.h"
#include "picture/WriteTestPicture.h"

namespace dravix {

namespace {

// Text in a picture needs a GUI application. The command line never needs a display, whatever
// platform the environment names (an ssh or cron session may name xcb or wayland): always the
// offscreen one. Qt sets the user's locale when it starts; numbers printed after that stay in the
// C locale's form.
// Qt's remarks about its own set-up (no XDG_RUNTIME_DIR under cron, fonts) are not the command's
// to tell; only its critical messages reach standard error.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "dravix-cli: %s\n", qPrintable(message));
}

std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
    if (QCoreApplication::instance() != nullptr) return nullptr;
    qInstallMessageHandler(QtMessages);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "dravix-cli";
    static char* argv[] = {name, nullptr};
    auto app = std::make_unique<QGuiApplication>(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    return app;
}

std::string PngDataUri(const QImage& picture) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) return {};
    return "data:image/png;base64," + bytes.toBase64().toStdString();
}

}  // namespace

Result<void> WriteResultsPicture(const std::string& path, const ScanResults& results,
                                 const ScanResults* compared) {
    const auto app = EnsureGuiApplication();
    return SaveResultsPicture(path, results, compared);
}

std::string ResultsPictureDataUri(const ScanResults& results) {
    const auto app = EnsureGuiApplication();
    return PngDataUri(RenderResultsPicture(results));
}

Result<void> WriteReadTestPicture(const std::string& path, const ReadTestRecord& record,
                                  const ReadTestRecord* compared) {
    const auto app = EnsureGuiApplication();
    return SaveReadTestPicture(path, record, compared);
}

std::string ReadTestPictureDataUri(const ReadTestRecord& record) {
    const auto app = EnsureGuiApplication();
    return PngDataUri(RenderReadTestPicture(record));
}

Result<void> WriteWriteTestPicture(const std::string& path, const WriteTestRecord& record,
                                   const WriteTestRecord* compared) {
    const auto app = EnsureGuiApplication();
    return SaveWriteTestPicture(path, record, compared);
}

std::string WriteTestPictureDataUri(const WriteTestRecord& record) {
    const auto app = EnsureGuiApplication();
    return PngDataUri(RenderWriteTestPicture(record));
}

}  // namespace dravix
