#pragma once

#include "pages/PageDrive.h"
#include "ui/PropertyPage.h"

class QLabel;
class QPushButton;

namespace dravix {

struct InfoFill;

// The Information page (dialog 154): firmware, buffer size, interface and region of the drive,
// type, identifiers and free capacity of its disc. It only reads, with standard commands, and
// reads again at every notification from the sheet. Its reads run in the page's drive sequence.
class CInfo final : public PropertyPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CInfo)
  public:
    explicit CInfo(const AppServices& services, QWidget* parent = nullptr);
    ~CInfo() override;

    void OnSheetNotify() override;

    static constexpr int kDialogId = 154;
    static constexpr int kTabIconId = 152;
    static constexpr int kRefreshId = 1015;
    static constexpr int kStatusId = 1025;
    static constexpr int kFirmwareId = 1046;
    static constexpr int kBufferId = 1047;
    static constexpr int kInterfaceId = 1048;
    static constexpr int kRegionId = 1051;
    static constexpr int kDiscTypeId = 1052;
    static constexpr int kManufacturerId = 1053;
    static constexpr int kMediaTypeId = 1054;
    static constexpr int kCapacityId = 1055;

    ScanLock LockedByScan() const override { return {.controls = {kRefreshId}}; }

  protected:
    void OnInitDialog() override;

  private:
    void BuildControls();
    void Refresh();
    void BeginRefresh();
    void Show(const InfoFill& fill);

    PageDrive m_drive;
    QPushButton* m_refresh = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_firmware = nullptr;
    QLabel* m_buffer = nullptr;
    QLabel* m_interface = nullptr;
    QLabel* m_region = nullptr;
    QLabel* m_discType = nullptr;
    QLabel* m_manufacturer = nullptr;
    QLabel* m_mediaType = nullptr;
    QLabel* m_capacity = nullptr;
};

}  // namespace dravix
