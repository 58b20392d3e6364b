#include "cli/ResultsPictureFile.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <memory>

#include "scan/ResultsPicture.h"

namespace dravix::cli {

namespace {

// Text in a picture needs a GUI application; an offscreen one needs no display.
std::unique_ptr<QGuiApplication> EnsureGuiApplication() {
    if (QCoreApplication::instance() != nullptr) return nullptr;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "dravix-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace

std::string WriteResultsPicture(const std::string& path, const ScanResults& results,
                                const ScanResults* compared) {
    const auto app = EnsureGuiApplication();
    return SaveResultsPicture(path, results, compared);
}

std::string ResultsPicturePng(const ScanResults& results) {
    const auto app = EnsureGuiApplication();
    const QImage picture = RenderResultsPicture(results);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "PNG")) return {};
    return bytes.toStdString();
}

}  // namespace dravix::cli
