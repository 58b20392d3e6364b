#include "app/AboutDialog.h"

#include "ui/HyperLink.h"
#include "ui/SmallDialog.h"
#include "ui/WebConfig.h"

namespace dravix {

namespace {
constexpr int kAboutIcon = 176;
}  // namespace

CAboutDialog::CAboutDialog(const AppServices& services, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dialog%1").arg(kDialogId));
    SmallDialogBuilder build(*this, services, QStringLiteral("Dravix"), 235, 101);
    // Frames first, so that everything inside them is drawn on top.
    build.Frame(7, 7, 221, 41);
    build.Frame(7, 53, 221, 41);
    build.Icon(kAboutIcon, 17, 20);
    build.Text(QStringLiteral("Dravix Version 2.0"), 51, 15, 100, 8);
    build.Text(QStringLiteral("For Zarn DVD recorders"), 51, 31, 100, 8);
    build.Text(QStringLiteral("Zarn Globe Web Site:"), 15, 61, 95, 8);
    build.Text(QStringLiteral("Download User Manual:"), 15, 76, 95, 8);
    m_mainSite = build.Link(kMainSiteLinkId, 114, 61, 71, 9);
    m_supportSite = build.Link(kSupportSiteLinkId, 114, 76, 71, 9);
    build.OkButton(157, 23);
    OnInitDialog();
}

CAboutDialog::~CAboutDialog() = default;

void CAboutDialog::OnInitDialog() {
    m_supportSite->SetTarget(MakerSupportSite());
    m_supportSite->SetLinkText(MakerSupportSite());
    m_mainSite->SetTarget(MakerMainSite());
    m_mainSite->SetLinkText(MakerMainSite());
}

}  // namespace dravix
