#include "ui/PropertyPage.h"

#include <QPointer>
#include <QProxyStyle>
#include <QTabBar>
#include <algorithm>
#include <utility>

#include "res/Icons.h"
#include "turns/AppState.h"
#include "ui/DriveSequence.h"

namespace dravix {

QString ControlName(int id) {
    return QStringLiteral("id%1").arg(id);
}

void SetControlId(QWidget* control, int id) {
    control->setObjectName(ControlName(id));
}

PropertyPage::PropertyPage(int dialogId, QString title, int tabIconId, const AppServices& services,
                           QWidget* parent)
    : QWidget(parent),
      m_services(services),
      m_dialogId(dialogId),
      m_title(std::move(title)),
      m_tabIconId(tabIconId) {}

PropertyPage::~PropertyPage() = default;

void PropertyPage::EnsureInitialised() {
    if (m_initialised) return;
    m_initialised = true;
    OnInitDialog();
}

bool PropertyPage::SequenceRunning() const {
    const QList<DriveSequence*> sequences = findChildren<DriveSequence*>();
    return std::any_of(sequences.begin(), sequences.end(),
                       [](const DriveSequence* sequence) { return sequence->Running(); });
}

namespace {

// Tabs as narrow as a dialog's property sheet draws them, so a drive's seven pages fit in one row
// of the sheet's width without scroll arrows.
class CompactTabStyle final : public QProxyStyle {
  public:
    CompactTabStyle() : QProxyStyle(nullptr) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_TabBarTabHSpace ? value / 2 : value;
    }
};

}  // namespace

PropertySheet::PropertySheet(std::shared_ptr<const AppState> state, QWidget* parent)
    : QTabWidget(parent), m_state(std::move(state)) {
    auto* style = new CompactTabStyle;
    style->setParent(this);
    tabBar()->setStyle(style);
    connect(this, &QTabWidget::currentChanged, this, &PropertySheet::OnCurrentChanged);
}

void PropertySheet::Create() {
    if (m_created) return;
    m_created = true;
    OnCurrentChanged(currentIndex());
}

void PropertySheet::AddPage(PropertyPage* page) {
    // The first page added to an empty sheet becomes current at once, which initialises it.
    addTab(page, LoadIcon(page->TabIconId()), page->Title());
}

void PropertySheet::RemovePage(PropertyPage* page) {
    const int index = indexOf(page);
    if (index < 0) return;
    if (m_active == page) {
        // Leaving the page is its last notification, unless the main window is taking all pages
        // down for another drive: a page on its way out must not talk to the new drive.
        if (page->IsInitialised() && m_state->pagesRemoving == 0) page->OnSheetNotify();
        m_active = nullptr;
    }
    removeTab(index);
    delete page;
    emit ActivePageChanged();
}

void PropertySheet::SetActivePage(PropertyPage* page) {
    const int index = indexOf(page);
    if (index < 0) return;
    if (currentIndex() == index) {
        if (m_active != page) OnCurrentChanged(index);
        return;
    }
    setCurrentIndex(index);
}

PropertyPage* PropertySheet::ActivePage() const {
    return m_active;
}

PropertyPage* PropertySheet::Page(int index) const {
    return qobject_cast<PropertyPage*>(widget(index));
}

void PropertySheet::OnCurrentChanged(int index) {
    if (!m_created) return;
    QPointer<PropertyPage> previous = m_active;
    PropertyPage* next = Page(index);
    if (previous == next) return;
    m_active = next;
    emit ActivePageChanged();
    // While the main window removes every page, the pages that become current one after the
    // other are about to go too: they are neither created nor told.
    if (m_state->pagesRemoving != 0) return;
    if (previous && previous->IsInitialised()) previous->OnSheetNotify();
    if (next == nullptr) return;
    if (!next->IsInitialised()) {
        next->EnsureInitialised();
    } else {
        next->OnSheetNotify();
    }
}

}  // namespace dravix
