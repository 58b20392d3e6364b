#include "pages/Info.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "drive/InfoCommands.h"
#include "pages/PageDrive.h"
#include "procedures/InfoProcedures.h"
#include "procedures/SupportTexts.h"
#include "turns/AppState.h"
#include "ui/DialogUnits.h"
#include "ui/Services.h"

namespace dravix {

namespace {

// Drive and disc texts are bytes as the drive sent them; Latin-1 shows every byte as one
// character, as the dialog's static texts did.
QString FromDrive(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void SetIfReached(QLabel* field, const std::optional<std::string>& text) {
    if (text) field->setText(FromDrive(*text));
}

}  // namespace

CInfo::CInfo(const AppServices& services, QWidget* parent)
    : PropertyPage(kDialogId, QStringLiteral("Information"), kTabIconId, services, parent),
      m_drive(*this, services) {
    BuildControls();
}

CInfo::~CInfo() = default;

void CInfo::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
    page->setSpacing(units.Y(6));

    std::vector<QLabel*> labels;
    auto makeGroup = [&](const char* title, std::initializer_list<std::pair<const char*, QLabel**>> rows,
                         std::initializer_list<int> ids) {
        auto* group = new QGroupBox(QString::fromLatin1(title), this);
        auto* grid = new QGridLayout(group);
        grid->setHorizontalSpacing(units.X(8));
        grid->setVerticalSpacing(units.Y(4));
        grid->setColumnStretch(1, 1);
        auto id = ids.begin();
        int line = 0;
        for (const auto& [label, field] : rows) {
            labels.push_back(new QLabel(QString::fromLatin1(label), group));
            grid->addWidget(labels.back(), line, 0);
            *field = new QLabel(group);
            (*field)->setTextFormat(Qt::PlainText);
            (*field)->setTextInteractionFlags(Qt::TextSelectableByMouse);
            (*field)->setMinimumWidth(units.X(120));
            SetControlId(*field, *id++);
            grid->addWidget(*field, line++, 1);
        }
        page->addWidget(group);
    };

    makeGroup("Drive Info",
              {{kLabelFirmwareVersion, &m_firmware},
               {kLabelBufferSize, &m_buffer},
               {kLabelConnectionInterface, &m_interface},
               {kLabelRegionSetting, &m_region}},
              {kFirmwareId, kBufferId, kInterfaceId, kRegionId});
    makeGroup("Disc Info",
              {{kLabelDiscType, &m_discType},
               {kLabelManufactureId, &m_manufacturer},
               {kLabelMediaTypeId, &m_mediaType},
               {kLabelBlankDiscCapacity, &m_capacity}},
              {kDiscTypeId, kManufacturerId, kMediaTypeId, kCapacityId});
    // The groups are laid out apart; one label width for both lines their values up.
    int labelWidth = 0;
    for (QLabel* label : labels) labelWidth = std::max(labelWidth, label->sizeHint().width());
    for (QLabel* label : labels) label->setMinimumWidth(labelWidth);

    auto* bottom = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);
    SetControlId(m_status, kStatusId);
    m_refresh = new QPushButton(QStringLiteral("Refresh"), this);
    m_refresh->setMinimumSize(units.Size(50, 14));
    SetControlId(m_refresh, kRefreshId);
    bottom->addWidget(m_status, 1);
    bottom->addWidget(m_refresh);
    page->addLayout(bottom);
    page->addStretch(1);

    connect(m_refresh, &QPushButton::clicked, this, &CInfo::Refresh);
}

void CInfo::OnInitDialog() {
    DriveSequence& sequence = m_drive.Sequence();
    sequence.Start([this, &sequence] {
        sequence.Step(
            [state = Services().state](DriveTable& table, const WorkerContext&) -> std::optional<InfoFill> {
                const int drives = OpenPageDrive(*state, table);
                if (drives < 0) return std::nullopt;
                if (drives == 0) return InfoFill{};
                table.WaitUntilReady();
                return FillInfo(table);
            },
            [this](const std::optional<InfoFill>& fill) {
                if (!fill) {
                    Services().Inform(this, QString::fromLatin1(kMsgInitialFail));
                    return;
                }
                StoreDiscInfo(*fill);
                Show(*fill);
                // The fields are read a second time here, the way the page has always been filled.
                BeginRefresh();
            });
    });
}

void CInfo::OnSheetNotify() {
    Refresh();
}

void CInfo::Refresh() {
    m_drive.Sequence().Start([this] { BeginRefresh(); });
}

void CInfo::BeginRefresh() {
    struct Refreshed {
        bool transportReady = false;
        std::optional<InfoFill> fill;  // none: no drive found, the fields keep their texts
    };
    m_drive.Sequence().Step(
        [this, state = Services().state](DriveTable& table, const WorkerContext& context) {
            Refreshed refreshed;
            if (!table.InitTransport()) return refreshed;
            refreshed.transportReady = true;
            if (ListDrives(*state, table) == 0 || !state->SelectChosenDrive(table)) return refreshed;
            context.Post([this] { m_status->setText(QString::fromLatin1(kStatusDetect)); });
            table.WaitUntilReady();
            refreshed.fill = FillInfo(table);
            return refreshed;
        },
        [this](const Refreshed& refreshed) {
            if (!refreshed.transportReady) {
                Services().Inform(this, QString::fromLatin1(kMsgDriveNotSupportedAtRefresh));
                return;
            }
            if (!refreshed.fill) return;
            StoreDiscInfo(*refreshed.fill);
            Show(*refreshed.fill);
        });
}

void CInfo::Show(const InfoFill& fill) {
    SetIfReached(m_firmware, fill.firmwareVersion);
    SetIfReached(m_buffer, fill.bufferSize);
    SetIfReached(m_interface, fill.connectionInterface);
    SetIfReached(m_region, fill.regionSetting);
    SetIfReached(m_discType, fill.discType);
    SetIfReached(m_manufacturer, fill.manufactureId);
    SetIfReached(m_mediaType, fill.mediaTypeId);
    SetIfReached(m_capacity, fill.blankDiscCapacity);
    SetIfReached(m_status, fill.status);
}

}  // namespace dravix
