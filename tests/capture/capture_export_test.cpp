// File > Save on a real widget with a scripted save dialog: the file name and format rules, the
// picture that lands in each format (decoded by other code than the writers), the refusals and
// failures with their texts, and saves that overlap or outlive their window.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>

#include "app/MainDialog.h"
#include "capture/SaveDialog.h"
#include "capture/SaveWindowImage.h"
#include "export/ImageTexts.h"
#include "tests/export/TestDecoders.h"
#include "tests/support/MainWindowControls.h"
#include "tests/support/ScriptedPrompter.h"
#include "ui/Services.h"

namespace dravix {
namespace {

namespace fs = std::filesystem;
using test::RgbImage;

RgbImage ToRgb(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    RgbImage rgb{static_cast<uint32_t>(image.width()), static_cast<uint32_t>(image.height()), {}};
    for (int y = 0; y < image.height(); ++y) {
        const uchar* line = image.constScanLine(y);
        rgb.rgb.insert(rgb.rgb.end(), line, line + 3 * image.width());
    }
    return rgb;
}

double MeanDifference(const RgbImage& a, const RgbImage& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 255;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
    return sum / double(a.rgb.size());
}

// Decodes a saved file by its extension, with other code than the writers.
RgbImage Decode(const std::string& path) {
    const std::vector<uint8_t> bytes = test::ReadFile(path);
    const QString extension = QString::fromStdString(path).section(QLatin1Char('.'), -1).toLower();
    RgbImage image;
    std::string why;
    if (extension == QStringLiteral("png")) {
        EXPECT_TRUE(test::DecodePng(bytes, image));
    } else if (extension == QStringLiteral("gif")) {
        test::GifFile gif;
        EXPECT_TRUE(test::DecodeGif(bytes, gif, why)) << why;
        image = gif.canvas;
    } else if (extension == QStringLiteral("pcx")) {
        test::PcxFile pcx;
        EXPECT_TRUE(test::DecodePcx(bytes, pcx, why)) << why;
        image = pcx.image;
    } else {
        image = ToRgb(QImage(QString::fromStdString(path)));
    }
    return image;
}

// Waits for a save by running the event loop, which the save needs for its timer and its box.
SaveOutcome Wait(const QFuture<SaveOutcome>& future) {
    QEventLoop loop;
    QFutureWatcher<SaveOutcome> watcher;
    QObject::connect(&watcher, &QFutureWatcher<SaveOutcome>::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);  // a hung save fails instead of blocking
    watcher.setFuture(future);
    if (!future.isFinished()) loop.exec();
    EXPECT_TRUE(future.isFinished() && future.resultCount() == 1);
    return future.resultCount() == 1 ? future.result() : SaveOutcome{};
}

struct CaptureExportTest : ::testing::Test {
    std::shared_ptr<test::ScriptedPrompter> prompter = std::make_shared<test::ScriptedPrompter>();
    std::deque<std::optional<SaveChoice>> choices;  // what the save dialog answers, in turn
    AppServices services;
    QTemporaryDir dir;
    QDialog window;
    QMenuBar* menuBar = new QMenuBar(&window);

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        services.prompter = prompter;
        services.saveDialog = [this] {
            std::optional<SaveChoice> choice = choices.front();
            choices.pop_front();
            return choice;
        };
        // A window wider than an icon may be, with sharp edges and smooth text to encode.
        window.resize(320, 200);
        menuBar->addMenu(QStringLiteral("File(&F)"))->addAction(QStringLiteral("&Save"));
        menuBar->setGeometry(0, 0, 320, menuBar->sizeHint().height());
        auto* block = new QLabel(&window);
        block->setStyleSheet(QStringLiteral("background: #c81e32"));
        block->setGeometry(20, 60, 110, 70);
        (new QLabel(QStringLiteral("Probix 16X"), &window))->move(160, 90);
        window.show();
    }
    std::string Path(const QString& name) const { return dir.filePath(name).toStdString(); }
    SaveOutcome Save(const QString& name, int filter) {
        choices.push_back(SaveChoice{dir.filePath(name), filter});
        return Wait(SaveWindowImage(window, services));
    }
    RgbImage Expected() { return ToRgb(window.grab().toImage()); }
    bool DirIsEmpty() const { return fs::is_empty(dir.path().toStdString()); }
};

TEST_F(CaptureExportTest, EachFilterAppendsItsExtensionAndWritesThePicture) {
    const RgbImage expected = Expected();
    ASSERT_EQ(expected.width, 320u);
    // The menu bar is part of the picture.
    const RgbImage bar = ToRgb(window.grab(menuBar->geometry()).toImage());
    ASSERT_GT(bar.height, 0u);
    EXPECT_TRUE(std::equal(bar.rgb.begin(), bar.rgb.end(), expected.rgb.begin()));

    const char* names[] = {"result.bmp", "result.jpg", "result.png", "result.gif", "result.pcx"};
    for (int filter = 1; filter <= 5; ++filter) {
        SCOPED_TRACE(names[filter - 1]);
        const SaveOutcome outcome = Save(QStringLiteral("result"), filter);
        EXPECT_EQ(outcome.result, SaveOutcome::Result::Saved);
        ASSERT_EQ(outcome.path, Path(QString::fromLatin1(names[filter - 1])));
        if (filter == 2) {
            RgbImage decoded;
            test::JpegInfo info;
            ASSERT_TRUE(test::DecodeJpeg(test::ReadFile(outcome.path), decoded, info));
            EXPECT_TRUE(info.jfif);
            EXPECT_EQ(info.densityUnit, 1);
            EXPECT_EQ(info.xDensity, 0);
            EXPECT_EQ(info.yDensity, 0);
            EXPECT_LT(MeanDifference(decoded, expected), 4.0);
        } else {
            EXPECT_EQ(test::MaxChannelDifference(Decode(outcome.path), expected), 0);
        }
    }
    const std::vector<uint8_t> bmp = test::ReadFile(Path(QStringLiteral("result.bmp")));
    ASSERT_GT(bmp.size(), 54u);
    EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);  // the 32-bit capture is saved as 24 bits
    EXPECT_EQ(bmp[10], 54);                 // and without a colour table
    EXPECT_EQ(prompter->Texts(), std::vector<QString>(5, QString::fromLatin1(texts::kSaveSuccess)));
    EXPECT_EQ(prompter->asked.front().caption, AppTitle());
}

TEST_F(CaptureExportTest, TypedExtensionDecidesTheFormatAndTheNameStaysAsTyped) {
    ASSERT_TRUE(fs::create_directory(Path(QStringLiteral("scan.old"))));
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("result.gif"), QStringLiteral("result.gif")},
        {QStringLiteral("RESULT.PNG"), QStringLiteral("RESULT.PNG")},
        {QStringLiteral("scan.old/result"), QStringLiteral("scan.old/result.pcx")},  // the folder's dot
    };
    for (const auto& [typed, written] : cases) {
        SCOPED_TRACE(typed.toStdString());
        EXPECT_EQ(Save(typed, 5).path, Path(written));  // the PCX filter is selected
        EXPECT_EQ(test::MaxChannelDifference(Decode(Path(written)), Expected()), 0);
    }
    EXPECT_FALSE(fs::exists(Path(QStringLiteral("result.gif.pcx"))));
    EXPECT_EQ(prompter->Texts(), std::vector<QString>(3, QString::fromLatin1(texts::kSaveSuccess)));
}

TEST_F(CaptureExportTest, UnknownTypesAndCancelWriteNothing) {
    const SaveOutcome doc = Save(QStringLiteral("result.doc"), 3);
    EXPECT_EQ(doc.result, SaveOutcome::Result::Failed);
    EXPECT_EQ(doc.message, QString::fromLatin1(texts::kUnsupportedType));
    Save(QStringLiteral("result"), 0);  // no extension and no known filter
    choices.push_back(std::nullopt);
    EXPECT_EQ(Wait(SaveWindowImage(window, services)).result, SaveOutcome::Result::Cancelled);

    EXPECT_TRUE(DirIsEmpty());
    EXPECT_EQ(prompter->Texts(), std::vector<QString>(2, QString::fromLatin1(texts::kUnsupportedType)));
}

// The capture is never written at the target: a refused format leaves an existing file as it was,
// and an empty file only where there was none.
TEST_F(CaptureExportTest, RefusingWritersKeepAnExistingFileAndShowTheirText) {
    const std::vector<uint8_t> old(300, 0x5A);
    const std::pair<QString, const char*> cases[] = {
        {QStringLiteral("result.ico"), texts::kIcoSize},
        {QStringLiteral("result.wbmp"), texts::kWbmpSize},
        {QStringLiteral("result.wmf"), texts::kWmf},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Save(name, 1).message, QString::fromLatin1(text));
        EXPECT_EQ(fs::file_size(Path(name)), 0u);
        test::WriteFile(Path(name), old);
        EXPECT_EQ(Save(name, 1).message, QString::fromLatin1(text));
        EXPECT_EQ(test::ReadFile(Path(name)), old);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path().toStdString()), fs::directory_iterator()), 3);
}

TEST_F(CaptureExportTest, UnwritableFolderFailsAndAnExistingFileIsReplacedWithoutAPrompt) {
    test::WriteFile(Path(QStringLiteral("plain")), {'x'});
    const SaveOutcome failed = Save(QStringLiteral("plain/result.png"), 3);  // a file is no folder
    EXPECT_EQ(failed.result, SaveOutcome::Result::Failed);
    EXPECT_EQ(failed.message, QString::fromLatin1(texts::kFailToSave));
    // A name that stands for a FIFO is refused with its own text, and stays a FIFO.
    ASSERT_EQ(::mkfifo(Path(QStringLiteral("pipe.png")).c_str(), 0600), 0);
    const SaveOutcome fifo = Save(QStringLiteral("pipe.png"), 3);
    EXPECT_EQ(fifo.message, QString::fromStdString("'" + Path(QStringLiteral("pipe.png")) +
                                                   "' is not a regular file; choose another name."));
    EXPECT_TRUE(fs::is_fifo(Path(QStringLiteral("pipe.png"))));

    test::WriteFile(Path(QStringLiteral("old.png")), std::vector<uint8_t>(4096, 0xAB));
    EXPECT_EQ(Save(QStringLiteral("old.png"), 1).result, SaveOutcome::Result::Saved);
    EXPECT_EQ(test::MaxChannelDifference(Decode(Path(QStringLiteral("old.png"))), Expected()), 0);
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{QString::fromLatin1(texts::kFailToSave), fifo.message,
                                                       QString::fromLatin1(texts::kSaveSuccess)}));
}

TEST_F(CaptureExportTest, SavesStartedBackToBackAllComplete) {
    const QString names[] = {QStringLiteral("a.png"), QStringLiteral("b.bmp"), QStringLiteral("a.png")};
    std::vector<QFuture<SaveOutcome>> running;
    for (const QString& name : names) {
        choices.push_back(SaveChoice{dir.filePath(name), 1});
        running.push_back(SaveWindowImage(window, services));
    }
    for (const QFuture<SaveOutcome>& future : running)
        EXPECT_EQ(Wait(future).result, SaveOutcome::Result::Saved);
    // Two saves to one file leave one sound picture.
    EXPECT_EQ(test::MaxChannelDifference(Decode(Path(names[0])), Expected()), 0);
    EXPECT_EQ(prompter->asked.size(), 3u);
}

TEST_F(CaptureExportTest, AWindowClosedBeforeItsCaptureEndsTheSaveQuietly) {
    auto* doomed = new QDialog;
    doomed->resize(300, 100);
    choices.push_back(SaveChoice{dir.filePath(QStringLiteral("late.png")), 3});
    const QFuture<SaveOutcome> future = SaveWindowImage(*doomed, services);
    delete doomed;
    EXPECT_EQ(Wait(future).result, SaveOutcome::Result::Cancelled);
    EXPECT_TRUE(prompter->asked.empty());
    EXPECT_TRUE(DirIsEmpty());
}

TEST_F(CaptureExportTest, TheMainWindowsSaveCommandSavesThePictureOfTheMainWindow) {
    CMainDialog main(services, [](uint8_t) -> PropertyPage* { return nullptr; });
    main.show();
    QFuture<SaveOutcome> started;
    services.saveHandler = [&](QWidget& w) { started = SaveWindowImage(w, services); };
    choices.push_back(SaveChoice{dir.filePath(QStringLiteral("main")), 3});
    main.findChild<QAction*>(QStringLiteral("id32773"))->trigger();
    ASSERT_EQ(Wait(started).result, SaveOutcome::Result::Saved);

    const RgbImage decoded = Decode(Path(QStringLiteral("main.png")));
    EXPECT_EQ(test::MaxChannelDifference(decoded, ToRgb(main.grab().toImage())), 0);
    const RgbImage bar = ToRgb(test::MenuBarOf(main)->grab().toImage());
    EXPECT_TRUE(std::equal(bar.rgb.begin(), bar.rgb.end(), decoded.rgb.begin()));
}

// The program's dialog itself, driven through the modal-dialog runner.
TEST(SaveDialogTest, StandardDialogIsASaveDialogWithTheFiveFiltersAndNoPrompt) {
    const QStringList filters = SaveDialogFilters();
    ASSERT_EQ(filters,
              (QStringList{"tttmap File (*.bmp)", "JPEG File (*.jpeg;*.jpg)",
                           "Portable Network Graphics (*.png)", "GIF File(*.gif)", "PCX File(*.pcx)"}));
    int answer = QDialog::Accepted;
    AppServices services;
    services.dialogRunner = [&](QDialog& d) {
        auto& dialog = dynamic_cast<QFileDialog&>(d);
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Save Image File"));
        EXPECT_EQ(dialog.parentWidget(), nullptr);
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_TRUE(dialog.defaultSuffix().isEmpty());
        EXPECT_EQ(dialog.nameFilters(), filters);
        EXPECT_EQ(dialog.selectedNameFilter(), filters[0]);
        EXPECT_TRUE(dialog.selectedFiles().value(0).endsWith(QStringLiteral("/Dravix")));
        dialog.selectFile(QStringLiteral("/tmp/picked"));
        dialog.selectNameFilter(filters[3]);
        return answer;
    };
    const std::optional<SaveChoice> chosen = RunStandardSaveDialog(services);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(chosen->path, QStringLiteral("/tmp/picked"));
    EXPECT_EQ(chosen->filterIndex, 4);
    answer = QDialog::Rejected;
    EXPECT_FALSE(RunStandardSaveDialog(services).has_value());
}

// The JPEG entry's text names two patterns joined by ";"; choosing it lists files of both.
TEST(SaveDialogTest, JpegFilterListsBothExtensions) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char* name : {"a.jpeg", "b.jpg", "c.png", "d.bmp"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    QStringList shown;
    QString chosenFilter;
    AppServices services;
    services.dialogRunner = [&](QDialog& d) {
        auto& dialog = dynamic_cast<QFileDialog&>(d);
        dialog.setDirectory(folder.path());
        // As the user does it: the file type list, one step down.
        auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        EXPECT_NE(types, nullptr);
        if (types == nullptr) return int{QDialog::Rejected};
        types->setFocus();
        QTest::keyClick(types, Qt::Key_Down);
        chosenFilter = dialog.selectedNameFilter();
        auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
        const auto names = [&] {
            QStringList names;
            for (int row = 0; row < list->model()->rowCount(list->rootIndex()); ++row)
                names << list->model()->index(row, 0, list->rootIndex()).data().toString();
            names.sort();
            return names;
        };
        static_cast<void>(QTest::qWaitFor([&] { return names().size() >= 2; }, 10000));  // checked below
        shown = names();
        return int{QDialog::Rejected};
    };
    EXPECT_FALSE(RunStandardSaveDialog(services).has_value());
    EXPECT_EQ(chosenFilter, QStringLiteral("JPEG File (*.jpeg;*.jpg)"));
    EXPECT_EQ(shown, (QStringList{"a.jpeg", "b.jpg"}));
}

}  // namespace
}  // namespace dravix
