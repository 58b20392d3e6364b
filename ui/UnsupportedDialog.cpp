#include "ui/UnsupportedDialog.h"

#include "ui/HyperLink.h"
#include "ui/SmallDialog.h"
#include "ui/WebConfig.h"

namespace dravix {

CUnsupportedDialog::CUnsupportedDialog(const AppServices& services, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dialog%1").arg(kDialogId));
    SmallDialogBuilder build(*this, services, QStringLiteral("Dialog"), 181, 71);
    build.Frame(7, 7, 167, 35);
    build.Text(QStringLiteral("Sorry! Dravix is exclusive for Zarn drives.\n"
                              "For product information please visit Zarn website:"),
               12, 10, 158, 16);
    m_mainSite = build.Link(kMainSiteLinkId, 57, 30, 71, 9);
    build.OkButton(67, 49);
    OnInitDialog();
}

CUnsupportedDialog::~CUnsupportedDialog() = default;

void CUnsupportedDialog::OnInitDialog() {
    m_mainSite->SetTarget(MakerMainSite());
    m_mainSite->SetLinkText(MakerMainSite());
}

}  // namespace dravix
