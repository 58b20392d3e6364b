#pragma once

#include <QDialog>

namespace dravix {

class AppServices;
class CHyperLink;

// The About box (dialog 100): program name and version, and the maker's web site and manual
// download page as links (controls 1034 and 1035). Run it with AppServices::RunModal; OK or
// the close box ends it.
class CAboutDialog final : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kDialogId = 100;
    static constexpr int kMainSiteLinkId = 1034;
    static constexpr int kSupportSiteLinkId = 1035;

    explicit CAboutDialog(const AppServices& services, QWidget* parent = nullptr);
    ~CAboutDialog() override;
    Q_DISABLE_COPY_MOVE(CAboutDialog)

    CHyperLink* SupportSiteLink() const { return m_supportSite; }

  private:
    void OnInitDialog();

    CHyperLink* m_mainSite = nullptr;
    CHyperLink* m_supportSite = nullptr;
};

}  // namespace dravix
