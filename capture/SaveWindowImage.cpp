#include "capture/SaveWindowImage.h"

#include <QFile>
#include <QPixmap>
#include <QPromise>
#include <QTimer>
#include <QWidget>
#include <array>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "base/SafeFile.h"
#include "capture/SaveDialog.h"
#include "export/ByteSink.h"
#include "export/ByteSource.h"
#include "export/CaptureBmp.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "ui/ScreenPicture.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

namespace {

// The capture is handed to the BMP writer as it lies in memory: Format_RGB32 keeps each pixel as
// one 32-bit 0xffRRGGBB word, which is blue, green, red, 0xff in memory only on little-endian
// machines.
static_assert(std::endian::native == std::endian::little, "the capture BMP assumes little-endian pixels");

constexpr std::chrono::milliseconds kDialogSettleTime{100};

// Two saves to one file would write and read back each other's capture: the second waits until
// the first is done with the file.
class PathLock final {
  public:
    explicit PathLock(const std::string& path) : m_key(Key(path)) {
        std::unique_lock lock(Mutex());
        Released().wait(lock, [&] { return !Busy().contains(m_key); });
        Busy().insert(m_key);
    }
    ~PathLock() {
        {
            std::lock_guard lock(Mutex());
            Busy().erase(m_key);
        }
        Released().notify_all();
    }
    PathLock(const PathLock&) = delete;
    PathLock& operator=(const PathLock&) = delete;

  private:
    static std::string Key(const std::string& path) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(path, error);
        return error ? path : absolute.lexically_normal().string();
    }
    static std::mutex& Mutex() {
        static std::mutex mutex;
        return mutex;
    }
    static std::condition_variable& Released() {
        static std::condition_variable released;
        return released;
    }
    static std::set<std::string>& Busy() {
        static std::set<std::string> busy;
        return busy;
    }

    std::string m_key;
};

SaveOutcome Failed(const std::string& path, const QString& message) {
    return SaveOutcome{SaveOutcome::Result::Failed, path, message};
}

// A container's text, or the "cannot open" text when it could not open the file or left none.
QString ContainerFailure(const ImageContainer& image) {
    if (image.OpenFailed() || image.GetLastError().empty()) return QString::fromLatin1(texts::kFailToSave);
    return QString::fromStdString(image.GetLastError());
}

// The future of one save. It is finished once: when the box has been shown, or with what the save
// came to when the window went before its box could be shown.
struct SaveJob {
    QPromise<SaveOutcome> promise;
    std::mutex mutex;
    std::optional<SaveOutcome> outcome;  // the file work's, from the worker
    bool finished = false;

    SaveJob() { promise.start(); }
    ~SaveJob() { Finish(outcome.value_or(SaveOutcome{})); }
    SaveJob(const SaveJob&) = delete;
    SaveJob& operator=(const SaveJob&) = delete;

    void Finish(SaveOutcome result) {
        std::lock_guard lock(mutex);
        if (finished) return;
        finished = true;
        promise.addResult(std::move(result));
        promise.finish();
    }
};

// UI thread: the box with the window as owner, then the future. The save's workers go with it.
void Report(const AppServices& services, Workers& workers, const std::shared_ptr<SaveJob>& job,
            const SaveOutcome& outcome) {
    services.Inform(qobject_cast<QWidget*>(workers.parent()), outcome.message);
    job->Finish(outcome);
    workers.deleteLater();
}

// UI thread, step 2 of SaveWindowImage.
void CaptureAndStart(QWidget& window, const AppServices& services, Workers& workers,
                     const std::shared_ptr<SaveJob>& job, const SaveChoice& choice) {
    const std::optional<SaveTarget> target =
        ResolveSaveTarget(QFile::encodeName(choice.path).toStdString(), choice.filterIndex);
    if (!target) {
        Report(services, workers, job, Failed(std::string(), QString::fromLatin1(texts::kUnsupportedType)));
        return;
    }
    const QImage capture = CaptureWindow(window);
    workers.Start([&services, &workers, job, capture, target = *target](const WorkerContext& context) {
        const SaveOutcome outcome = ExportCapture(capture, target);
        {
            std::lock_guard lock(job->mutex);
            job->outcome = outcome;
        }
        // Shown only while the window exists; otherwise the job finishes with the outcome.
        context.Post([&services, &workers, job, outcome] { Report(services, workers, job, outcome); });
    });
}

}  // namespace

std::optional<SaveTarget> ResolveSaveTarget(const std::string& path, int filterIndex) {
    const std::string extension = GetFileExtension(path);
    if (!extension.empty()) {
        const ImageType type = ImageTypeFromExtension(extension);
        if (type == ImageType::kUnknown) return std::nullopt;
        return SaveTarget{path, type};
    }
    static constexpr std::array<std::pair<const char*, ImageType>, 5> kByFilter{{
        {".bmp", ImageType::kBmp},
        {".jpg", ImageType::kJpeg},
        {".png", ImageType::kPng},
        {".gif", ImageType::kGif},
        {".pcx", ImageType::kPcx},
    }};
    if (filterIndex < 1 || filterIndex > static_cast<int>(kByFilter.size())) return std::nullopt;
    const auto& [suffix, type] = kByFilter[static_cast<size_t>(filterIndex - 1)];
    return SaveTarget{path + suffix, type};
}

QImage CaptureWindow(QWidget& window) {
    const ScreenPicture picture(window);
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

SaveOutcome ExportCapture(const QImage& capture, const SaveTarget& target) {
    const PathLock fileInUse(target.path);
    // A name that stands for a FIFO, a device or a folder is refused with its own text; any other
    // target that cannot be written is the Part's "cannot open" case.
    if (const FileResult writable = CheckWritableTarget(target.path); !writable.Ok()) {
        return Failed(target.path, writable.problem == FileProblem::NotRegularFile
                                       ? QString::fromStdString(writable.WriteMessage(target.path))
                                       : QString::fromLatin1(texts::kFailToSave));
    }
    const QImage image =
        capture.format() == QImage::Format_RGB32 ? capture : capture.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) return Failed(target.path, QString::fromLatin1(texts::kFailToSave));

    const CaptureBitmap bitmap{static_cast<uint32_t>(image.width()),
                               static_cast<uint32_t>(image.height()),
                               32,
                               image.constBits(),
                               static_cast<size_t>(image.bytesPerLine()),
                               true,
                               {}};
    // The capture's BMP file is made and read back in memory: the target is written once, in
    // the chosen format, and only when that is complete.
    const std::optional<BitmapInfo> info = BuildBitmapInfo(bitmap);
    MemorySink captureFile;
    if (!info || !WriteBmpFile(captureFile, *info, bitmap)) {
        return Failed(target.path, QString::fromLatin1(texts::kFailToSave));
    }

    ImageContainer container;
    MemorySource readBack(captureFile.Bytes());
    if (!container.Load(readBack, target.type)) return Failed(target.path, ContainerFailure(container));
    if (!container.Save(target.path, target.type)) return Failed(target.path, ContainerFailure(container));
    return SaveOutcome{SaveOutcome::Result::Saved, target.path, QString::fromLatin1(texts::kSaveSuccess)};
}

QFuture<SaveOutcome> SaveWindowImage(QWidget& window, const AppServices& services) {
    auto job = std::make_shared<SaveJob>();
    QFuture<SaveOutcome> future = job->promise.future();

    const std::optional<SaveChoice> choice = AskForSaveTarget(services);
    if (!choice) {
        job->Finish(SaveOutcome{});
        return future;
    }
    // The save's way to a worker and back lives with the window: if the window goes first, the
    // capture below never happens (the save ends as cancelled) or its box is dropped. The dialog
    // has just closed: the window gets time to repaint before it is rendered, without holding up
    // the UI thread.
    auto* workers = new Workers(&window);
    QTimer::singleShot(kDialogSettleTime, workers, [&window, &services, workers, job, choice = *choice] {
        CaptureAndStart(window, services, *workers, job, choice);
    });
    return future;
}

}  // namespace dravix
