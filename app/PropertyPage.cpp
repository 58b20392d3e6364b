#include "app/PropertyPage.h"

#include <QPointer>
#include <utility>

#include "res/Icons.h"

namespace dravix {

QString ControlName(int id) { return QStringLiteral("id%1").arg(id); }

void SetControlId(QWidget* control, int id) { control->setObjectName(ControlName(id)); }

PropertyPage::PropertyPage(int dialogId, QString title, int tabIconId, QWidget* parent)
    : QWidget(parent), m_dialogId(dialogId), m_title(std::move(title)), m_tabIconId(tabIconId) {}

PropertyPage::~PropertyPage() = default;

void PropertyPage::EnsureInitialised() {
    if (m_initialised) return;
    m_initialised = true;
    OnInitDialog();
}

PropertySheet::PropertySheet(QWidget* parent) : QTabWidget(parent) {
    connect(this, &QTabWidget::currentChanged, this, &PropertySheet::OnCurrentChanged);
}

void PropertySheet::AddPage(PropertyPage* page) {
    // The first page added to an empty sheet becomes current at once, which initialises it.
    addTab(page, LoadIcon(page->TabIconId()), page->Title());
}

void PropertySheet::RemovePage(PropertyPage* page) {
    const int index = indexOf(page);
    if (index < 0) return;
    if (m_active == page) {
        // Leaving the page is its last notification.
        if (page->IsInitialised()) page->OnSheetNotify();
        m_active = nullptr;
    }
    removeTab(index);
    delete page;
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

PropertyPage* PropertySheet::ActivePage() const { return m_active; }

PropertyPage* PropertySheet::Page(int index) const { return qobject_cast<PropertyPage*>(widget(index)); }

void PropertySheet::OnCurrentChanged(int index) {
    QPointer<PropertyPage> previous = m_active;
    PropertyPage* next = Page(index);
    if (previous == next) return;
    m_active = next;
    if (previous && previous->IsInitialised()) previous->OnSheetNotify();
    if (next == nullptr) return;
    if (!next->IsInitialised()) {
        next->EnsureInitialised();
    } else {
        next->OnSheetNotify();
    }
}

}  // namespace dravix
