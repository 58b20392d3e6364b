#include "scan/SmartReport.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include "probix/DiscReport.h"
#include "probix/ResultsFile.h"
#include "probix/ScanEngine.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"
#include "turns/StoppableDrive.h"
#include "ui/DialogUnits.h"
#include "ui/DriveSequence.h"
#include "ui/GuidePage.h"
#include "ui/ProgramText.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

namespace dravix {

namespace {

// The rows' text background is the list's light blue; the list around them, its grid lines and
// a selected row are the theme's. Their text is black on the blue, readable under any theme.
void ColourRow(QTableWidgetItem& item) {
    item.setBackground(CSmartReportDlg::ListBackground());
    item.setForeground(QColor(Qt::black));
}

// Draws the rows in their own colours and the selected row in the theme's highlight, framed as a
// whole row: the blue of every row does not hide which one is selected.
class ResultRowDelegate final : public QStyledItemDelegate {
    static constexpr int kFrameRoom = 2;

  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell(option);
        initStyleOption(&cell, index);
        const bool selected = (cell.state & QStyle::State_Selected) != 0;
        QPalette::ColorGroup group = QPalette::Disabled;
        if (cell.state & QStyle::State_Enabled)
            group = (cell.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        const QWidget* widget = cell.widget;
        const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();

        painter->save();
        painter->fillRect(cell.rect,
                          selected ? cell.palette.brush(group, QPalette::Highlight) : cell.backgroundBrush);
        // A little room between a selected row's frame and its text.
        const QRect textRect =
            style->subElementRect(QStyle::SE_ItemViewItemText, &cell, widget).adjusted(kFrameRoom, 0, 0, 0);
        painter->setFont(cell.font);
        painter->setPen(cell.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(textRect, static_cast<int>(cell.displayAlignment),
                          cell.fontMetrics.elidedText(cell.text, cell.textElideMode, textRect.width()));
        if (selected)
            DrawRowFrame(*painter, cell, index, cell.palette.color(group, QPalette::HighlightedText));
        painter->restore();
    }

  private:
    // The focus frame around the whole row, of which each cell draws its own part.
    static void DrawRowFrame(QPainter& painter, const QStyleOptionViewItem& cell, const QModelIndex& index,
                             const QColor& colour) {
        QRect row = cell.rect;
        if (const auto* view = qobject_cast<const QAbstractItemView*>(cell.widget)) {
            const QAbstractItemModel* model = index.model();
            const QRect first = view->visualRect(model->index(index.row(), 0));
            const QRect last = view->visualRect(model->index(index.row(), model->columnCount() - 1));
            // The cells end before the grid line at their right.
            const int grid = cell.rect.right() < view->visualRect(index).right() ? 1 : 0;
            row.setLeft(first.left());
            row.setRight(last.right() - grid);
        }
        painter.setClipRect(cell.rect);
        painter.setPen(QPen(colour, 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(row.adjusted(1, 1, -2, -2));
    }
};

constexpr int kDialogWidth = 230;
// 24 dialog units below the note hold the report's outcome line and the file it was saved as.
constexpr int kDialogHeight = 264;
constexpr int kButtonsY = 243;

QLabel* SunkenField(QWidget* parent, int id, const DialogUnits& units, int x, int y) {
    auto* field = new QLabel(QString::fromLatin1(scan_texts::kNotAvailable), parent);
    SetControlId(field, id);
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    field->setTextFormat(Qt::PlainText);
    PlaceDlu(field, units, x, y, 110, 11);
    return field;
}

QLabel* Label(QWidget* parent, const char* text, const DialogUnits& units, int x, int y, int width,
              int height) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    PlaceDlu(label, units, x, y, width, height);
    return label;
}

}  // namespace

CSmartReportDlg::CSmartReportDlg(const AppServices& services, std::shared_ptr<StoppableDrive> drive,
                                 uint8_t discTypeCode, std::vector<uint8_t> speedCodes, QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_drive(std::move(drive)),
      m_discTypeCode(discTypeCode),
      m_speedCodes(std::move(speedCodes)),
      m_sequence(new DriveSequence(*this, services, m_drive)) {
    BuildControls();
    OnInitDialog();
}

// The workers may still wait for a command at the drive; they are asked to stop as the dialog
// goes, and end on their own.
CSmartReportDlg::~CSmartReportDlg() = default;

void CSmartReportDlg::BuildControls() {
    setObjectName(QStringLiteral("dialog%1").arg(kDialogId));
    setWindowTitle(QString::fromLatin1(scan_texts::kReportCaption));
    SetGuidePage(*this, QStringLiteral("smart-report.html"));
    setFont(DialogFont());
    setModal(true);
    const DialogUnits units(font());
    setFixedSize(units.Size(kDialogWidth, kDialogHeight));

    auto* info = new QGroupBox(QStringLiteral("Disc Info "), this);
    PlaceDlu(info, units, 7, 7, 216, 72);
    const DialogUnits inner(info->font());
    Label(info, "Disc Type:", inner, 8, 14, 80, 10);
    Label(info, "Manufacture ID:", inner, 8, 28, 80, 10);
    Label(info, "Media Type ID:", inner, 8, 42, 80, 10);
    Label(info, "Blank Disc Capacity:", inner, 8, 56, 80, 10);
    m_discType = SunkenField(info, kDiscTypeId, inner, 96, 13);
    m_manufacturer = SunkenField(info, kManufacturerId, inner, 96, 27);
    m_mediaType = SunkenField(info, kMediaTypeId, inner, 96, 41);
    m_capacity = SunkenField(info, kCapacityId, inner, 96, 55);

    auto* results = new QGroupBox(QStringLiteral("Result List"), this);
    PlaceDlu(results, units, 7, 84, 216, 108);
    m_list = new QTableWidget(0, 2, results);
    SetControlId(m_list, kResultListId);
    PlaceDlu(m_list, inner, 8, 12, 200, 74);
    m_list->setHorizontalHeaderLabels({QStringLiteral("Speed"), QStringLiteral("Result")});
    m_list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->setColumnWidth(0, kSpeedColumnWidth);
    m_list->setColumnWidth(1, kResultColumnWidth);
    m_list->verticalHeader()->hide();
    m_list->setShowGrid(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setItemDelegate(new ResultRowDelegate(m_list));

    m_progress = new QProgressBar(results);
    SetControlId(m_progress, kProgressId);
    m_progress->setTextVisible(false);
    PlaceDlu(m_progress, inner, 8, 90, 200, 9);

    QLabel* note = Label(this, scan_texts::kReportNote, units, 7, 196, 216, 18);
    // What the whole report amounts to, once it has measured: the same judgement as the command
    // line's and the results file's.
    m_outcome = Label(this, "", units, 7, 216, 216, 10);
    m_outcome->setObjectName(QString::fromLatin1(kOutcomeName));
    m_savedAs = new QLabel(this);
    m_savedAs->setObjectName(QString::fromLatin1(kSavedAsName));
    m_savedAs->setTextFormat(Qt::PlainText);
    PlaceDlu(m_savedAs, units, 7, 228, 216, 10);

    auto* exitButton = new QPushButton(QStringLiteral("Exit"), this);
    SetControlId(exitButton, kExitId);
    PlaceDlu(exitButton, units, 90, kButtonsY, 50, 14);
    connect(exitButton, &QPushButton::clicked, this, &CSmartReportDlg::reject);

    m_save = new QPushButton(QStringLiteral("Save Results..."), this);
    m_save->setObjectName(QString::fromLatin1(kSaveName));
    PlaceDlu(m_save, units, 150, kButtonsY, 70, 14);
    m_save->setEnabled(false);
    m_save->hide();
    connect(m_save, &QPushButton::clicked, this, [this] {
        if (m_saveHandler) m_saveHandler();
    });

    // Rows as tall as a list view's (the text and a little room), and a list tall enough to show
    // a row for every speed there is without scrolling; what it grows moves the rest down.
    const int rowHeight = m_list->fontMetrics().height() + 4;
    m_list->verticalHeader()->setMinimumSectionSize(rowHeight);
    m_list->verticalHeader()->setDefaultSectionSize(rowHeight);
    const int speeds = kLastSpeedCode - kFirstSpeedCode + 1;
    const int needed =
        m_list->horizontalHeader()->sizeHint().height() + speeds * rowHeight + 2 * m_list->frameWidth();
    if (const int extra = needed - m_list->height(); extra > 0) {
        m_list->resize(m_list->width(), needed);
        results->resize(results->width(), results->height() + extra);
        for (QWidget* below : {static_cast<QWidget*>(m_progress), static_cast<QWidget*>(note),
                               static_cast<QWidget*>(m_outcome), static_cast<QWidget*>(m_savedAs)})
            below->move(below->x(), below->y() + extra);
        for (QWidget* button : {static_cast<QWidget*>(exitButton), static_cast<QWidget*>(m_save)})
            button->move(button->x(), button->y() + extra);
        setFixedSize(width(), height() + extra);
    }
}

void CSmartReportDlg::SetSaveHandler(std::function<void()> save) {
    m_saveHandler = std::move(save);
    m_save->setVisible(static_cast<bool>(m_saveHandler));
}

void CSmartReportDlg::ShowSavedAs(const QString& path) {
    if (path.isEmpty()) {
        m_savedAs->clear();
        m_savedAs->setToolTip(QString());
        return;
    }
    // A long path keeps its start and its file name; the tip gives it whole.
    const QString text = ProgramText(scan_texts::kSavedAs) + path;
    m_savedAs->setText(m_savedAs->fontMetrics().elidedText(text, Qt::ElideMiddle, m_savedAs->width()));
    m_savedAs->setToolTip(text);
}

void CSmartReportDlg::OnInitDialog() {
    // The disc information first; the rows and the measurement when it is known.
    m_sequence->Start([this] {
        m_sequence->Step(
            [drive = m_drive, disc = m_discTypeCode](DriveTable&, const WorkerContext&) {
                return ReadDiscInformation(drive->Shared(), disc);
            },
            [this](const DiscInformation& info) {
                ShowDiscInformation(info);
                for (size_t i = 0; i < m_speedCodes.size(); ++i) {
                    const int row = m_list->rowCount();
                    m_list->insertRow(row);
                    auto* speed = new QTableWidgetItem(QString::fromLatin1(ShortSpeedLabel(m_speedCodes[i])));
                    ColourRow(*speed);
                    m_list->setItem(row, 0, speed);
                }
                StartMeasurement();
            });
    });
}

void CSmartReportDlg::ShowDiscInformation(const DiscInformation& info) {
    m_info = info;
    m_discType->setText(QString::fromStdString(info.discType));
    m_manufacturer->setText(QString::fromStdString(info.manufacturerId));
    m_mediaType->setText(QString::fromStdString(info.mediaTypeId));
    m_disc.identifiersUnread = info.identifierReadFailed;
    if (!info.identifierReadFailed) m_identifiers = DiscIdentifiers{info.manufacturerId, info.mediaTypeId};
    if (info.identifierReadFailed) {
        m_services.Inform(this, QString::fromLatin1(scan_texts::kDiscNotSupported));
        return;
    }
    m_capacity->setText(QString::fromStdString(info.capacity));
    m_lastLba = info.lastLba;
}

SmartVerdict CSmartReportDlg::Verdict(const std::vector<uint32_t>& speedKbps) const {
    std::vector<SmartRow> rows;
    for (size_t i = 0; i < m_results.size() && i < m_speedCodes.size(); ++i)
        rows.push_back({m_speedCodes[i], i < speedKbps.size() ? speedKbps[i] : 0, m_results[i]});
    SmartDisc disc = m_disc;
    // Closed before the last check: whatever the rows say, the report is not whole.
    disc.stoppedBeforeCheck = !m_done;
    return JudgeSmartReport(rows, disc);
}

SmartReportRun CSmartReportDlg::Run() const {
    SmartReportRun run;
    run.results = m_results;
    run.disc = m_disc;
    // Closed before the last check: whatever the rows say, the report is not whole.
    run.disc.stoppedBeforeCheck = !m_done;
    return run;
}

QString CSmartReportDlg::DiscType() const {
    return m_discType->text();
}
QString CSmartReportDlg::ManufacturerId() const {
    return m_manufacturer->text();
}
QString CSmartReportDlg::MediaTypeId() const {
    return m_mediaType->text();
}
QString CSmartReportDlg::Capacity() const {
    return m_capacity->text();
}

void CSmartReportDlg::StartMeasurement() {
    const int count = static_cast<int>(m_speedCodes.size());
    m_results.assign(m_speedCodes.size(), SpeedResult::Stopped);
    m_progress->setRange(0, count);
    m_progress->setValue(0);

    // A run of the dialog's sequence. It keeps only what outlives this dialog (the sequence keeps
    // the page's drive, the run copies of the disc and its speeds); it reaches the dialog only
    // through what it posts.
    m_sequence->Run(
        [this, disc = m_discTypeCode, codes = m_speedCodes, before = m_identifiers](
            SharedDrive& drive, const WorkerContext& context) -> std::optional<SmartDisc> {
            const StopRequested stopRequested = [&context] { return context.StopRequested(); };
            SmartCallbacks observer;
            observer.onSpeedStart = [this, &context](size_t i) {
                const int row = static_cast<int>(i);
                context.Post([this, row] {
                    SetResult(row, QString::fromLatin1(scan_texts::kSpeedTesting));
                    m_list->scrollToItem(m_list->item(row, 0));
                });
            };
            observer.onSpeedResult = [this, &context](size_t i, SpeedResult result) {
                const int row = static_cast<int>(i);
                context.Post([this, row, result] {
                    if (static_cast<size_t>(row) < m_results.size())
                        m_results[static_cast<size_t>(row)] = result;
                    m_endedAt = UtcTimestamp();
                    SetResult(row, QString::fromLatin1(SpeedResultText(result)));
                    m_progress->setValue(m_progress->value() + 1);
                });
            };
            // After the last speed the disc's identity once more tells whether the measurements (vendor
            // commands, which report no medium change) all measured the disc shown.
            const SmartReportRun run =
                RunSmartReport(drive, disc, codes, before ? &*before : nullptr, observer, stopRequested);
            if (run.disc.stoppedBeforeCheck) return std::nullopt;
            return run.disc;
        },
        [this](const std::optional<SmartDisc>& checked) {
            if (!checked) return;
            m_disc = *checked;
            m_done = true;
            m_outcome->setText(QString::fromStdString(Verdict().text));
            m_save->setEnabled(true);
        });
}

void CSmartReportDlg::SetResult(int row, const QString& text) {
    QTableWidgetItem* item = m_list->item(row, 1);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        ColourRow(*item);
        m_list->setItem(row, 1, item);
    }
    item->setText(text);
}

QString CSmartReportDlg::ResultText(int row) const {
    const QTableWidgetItem* item = m_list->item(row, 1);
    return item ? item->text() : QString();
}

void CSmartReportDlg::reject() {
    // The measurement sends nothing more once the command at the drive is back.
    m_sequence->Stop();
    QDialog::reject();
}

}  // namespace dravix
