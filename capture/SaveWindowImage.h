#pragma once

#include <QFuture>
#include <QImage>
#include <QString>
#include <optional>
#include <string>

#include "export/ImageType.h"

class QWidget;

namespace dravix {

class AppServices;

// Where a save goes: the file name (with the filter's extension appended when none was typed)
// and the format its extension or the filter selects.
struct SaveTarget {
    std::string path;  // in the file system's encoding
    ImageType type = ImageType::kUnknown;
};

// The typed extension wins, compared without regard to case; a name without one takes the
// extension and format of the 1-based filter index (.bmp, .jpg, .png, .gif, .pcx). Empty for an
// unknown extension or a filter index outside 1..5.
std::optional<SaveTarget> ResolveSaveTarget(const std::string& path, int filterIndex);

// The window's picture, menu bar included, as rendered by Qt (not read from the screen, so no
// other window can cover it). Format RGB32. UI thread only.
QImage CaptureWindow(QWidget& window);

struct SaveOutcome {
    enum class Result { Cancelled, Saved, Failed };
    Result result = Result::Cancelled;
    std::string path;  // the file written (empty when cancelled)
    QString message;   // the text of the message box (empty when cancelled)
};

// The file work of a save, on any thread: the capture is made into a 32-bit BMP file in memory,
// read back into an ImageContainer and written at the target in the target's format, beside it
// first and in its place only when complete; a failure leaves an existing file as it was. Saves
// to one path are serialised so that two saves to the same file cannot interleave.
SaveOutcome ExportCapture(const QImage& capture, const SaveTarget& target);

// File > Save for `window`, started on the UI thread. In order:
//  1. the save dialog (AskForSaveTarget with `services`), on the UI thread as Qt requires; cancel
//     ends silently;
//  2. 100 ms later (a timer, the UI keeps running), the target is resolved — an unknown type
//     ends with "Can't support this image type." — and the window is rendered, on the UI thread;
//  3. ExportCapture runs on a worker of the program, which the caller does not wait for (the
//     program waits for its workers when it ends, so a file is not cut short at exit);
//  4. the message box is shown on the UI thread with `window` as owner; if the window is gone by
//     then, the box is dropped.
// The future finishes after the message box has been answered (at once when cancelled).
// Two saves started one after the other run independently.
QFuture<SaveOutcome> SaveWindowImage(QWidget& window, const AppServices& services);

}  // namespace dravix
