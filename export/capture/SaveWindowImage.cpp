#include "export/capture/SaveWindowImage.h"

#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QPixmap>
#include <QPromise>
#include <QThreadPool>
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

#include "app/Prompter.h"
#include "export/CaptureBmp.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/capture/SaveDialog.h"

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

// What one save shares between the UI thread and its worker.
struct SaveJob {
    std::mutex mutex;
    QObject* reporter = nullptr;         // the UI-side end, a child of the window; null once gone
    std::optional<SaveOutcome> pending;  // an outcome whose message box is still to be shown
    bool workerStarted = false;
    bool finished = false;
    QPromise<SaveOutcome> promise;

    void FinishLocked(SaveOutcome outcome) {
        if (finished) return;
        finished = true;
        promise.addResult(std::move(outcome));
        promise.finish();
    }
};

// Lives on the UI thread as a child of the window, so it goes away with the window: the timer of
// step 2 then never fires and a worker's message box is dropped.
class SaveReporter final : public QObject {
  public:
    SaveReporter(QWidget& window, std::shared_ptr<SaveJob> job) : QObject(&window), m_job(std::move(job)) {
        std::lock_guard lock(m_job->mutex);
        m_job->reporter = this;
    }
    ~SaveReporter() override {
        std::lock_guard lock(m_job->mutex);
        m_job->reporter = nullptr;
        if (m_job->pending) {
            m_job->FinishLocked(*std::exchange(m_job->pending, std::nullopt));
        } else if (!m_job->workerStarted) {
            m_job->FinishLocked(SaveOutcome{});  // the window closed before it was captured
        }
    }
    Q_DISABLE_COPY_MOVE(SaveReporter)

  private:
    std::shared_ptr<SaveJob> m_job;
};

// UI thread: shows the pending outcome's box, then finishes the future.
void Report(const std::shared_ptr<SaveJob>& job) {
    QWidget* owner = nullptr;
    SaveOutcome outcome;
    {
        std::lock_guard lock(job->mutex);
        if (!job->pending || job->reporter == nullptr) return;
        owner = qobject_cast<QWidget*>(job->reporter->parent());
        outcome = *job->pending;
    }
    Inform(owner, outcome.message);
    QObject* reporter = nullptr;
    {
        std::lock_guard lock(job->mutex);
        job->pending.reset();
        job->FinishLocked(std::move(outcome));
        reporter = job->reporter;
    }
    if (reporter != nullptr) reporter->deleteLater();
}

// Worker thread: hands the outcome to the UI thread, or finishes at once when the window is gone.
void Deliver(const std::shared_ptr<SaveJob>& job, SaveOutcome outcome) {
    std::lock_guard lock(job->mutex);
    if (job->reporter == nullptr) {
        job->FinishLocked(std::move(outcome));
        return;
    }
    job->pending = std::move(outcome);
    // Posted under the lock, so the reporter cannot be destroyed in between; if it is destroyed
    // before the call runs, the call is dropped and its destructor finishes the future.
    QMetaObject::invokeMethod(
        job->reporter, [job] { Report(job); }, Qt::QueuedConnection);
}

// UI thread, step 2 of SaveWindowImage.
void CaptureAndStart(QWidget& window, const std::shared_ptr<SaveJob>& job, const SaveChoice& choice) {
    const std::optional<SaveTarget> target =
        ResolveSaveTarget(QFile::encodeName(choice.path).toStdString(), choice.filterIndex);
    if (!target) {
        {
            std::lock_guard lock(job->mutex);
            job->pending = Failed(std::string(), QString::fromLatin1(texts::kUnsupportedType));
        }
        Report(job);
        return;
    }
    const QImage capture = CaptureWindow(window);
    {
        std::lock_guard lock(job->mutex);
        job->workerStarted = true;
    }
    QThreadPool::globalInstance()->start(
        [job, capture, target = *target] { Deliver(job, ExportCapture(capture, target)); });
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
    return window.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

SaveOutcome ExportCapture(const QImage& capture, const SaveTarget& target) {
    const PathLock fileInUse(target.path);
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
    const std::optional<BitmapInfo> info = BuildBitmapInfo(bitmap);
    // A capture that could not be written stops here: reading on would find whatever file was at
    // the path before and save that picture as if it were the window's.
    if (!info || !WriteBmpFile(target.path, *info, bitmap)) {
        return Failed(target.path, QString::fromLatin1(texts::kFailToSave));
    }

    ImageContainer container(target.path, target.type);
    if (!container.IsValid()) return Failed(target.path, ContainerFailure(container));
    if (!container.Save(target.path, target.type)) return Failed(target.path, ContainerFailure(container));
    return SaveOutcome{SaveOutcome::Result::Saved, target.path, QString::fromLatin1(texts::kSaveSuccess)};
}

QFuture<SaveOutcome> SaveWindowImage(QWidget& window) {
    auto job = std::make_shared<SaveJob>();
    job->promise.start();
    QFuture<SaveOutcome> future = job->promise.future();

    const std::optional<SaveChoice> choice = AskForSaveTarget();
    if (!choice) {
        std::lock_guard lock(job->mutex);
        job->FinishLocked(SaveOutcome{});
        return future;
    }
    // The dialog has just closed: give the window time to repaint before it is rendered, without
    // holding up the UI thread.
    auto* reporter = new SaveReporter(window, job);
    QTimer::singleShot(kDialogSettleTime, reporter,
                       [&window, job, choice = *choice] { CaptureAndStart(window, job, choice); });
    return future;
}

}  // namespace dravix
