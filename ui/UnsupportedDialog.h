#pragma once

#include <QDialog>

namespace dravix {

class AppServices;
class CHyperLink;

// The not-supported dialog (dialog 161), shown when the chosen drive is not one of the maker's:
// a short note and the maker's web site as a link (control 1034). Run it with
// AppServices::RunModal; OK or the close box ends it.
class CUnsupportedDialog final : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kDialogId = 161;
    static constexpr int kMainSiteLinkId = 1034;

    explicit CUnsupportedDialog(const AppServices& services, QWidget* parent = nullptr);
    ~CUnsupportedDialog() override;
    Q_DISABLE_COPY_MOVE(CUnsupportedDialog)

  private:
    void OnInitDialog();

    CHyperLink* m_mainSite = nullptr;
};

}  // namespace dravix
