#pragma once

#include <QList>
#include <QString>
#include <QTabWidget>
#include <QWidget>
#include <memory>
#include <vector>

class QAction;

namespace dravix {

struct AppState;

class AppServices;

// Gives a control its resource id as object name ("id1015"), so the main window and tests find it.
void SetControlId(QWidget* control, int id);
QString ControlName(int id);

// What a running media scan locks on a page. While ScanIdle is 0 the main window's timer disables
// them on the active page; without a scan it enables `controls` at every tick, and of
// `untilGivenBack` only `givenBack`, once after each scan (the rest stay as the page left them).
struct ScanLock {
    std::vector<int> controls{};
    std::vector<int> untilGivenBack{};
    std::vector<int> givenBack{};
};

// A page of the property sheet. Its window is created when the page is first shown, which runs
// OnInitDialog once; afterwards every notification from the sheet (the page becoming active and
// being left) reaches OnSheetNotify.
class PropertyPage : public QWidget {
    Q_OBJECT
  public:
    // `services`: what the page asks of the user and the desktop (it outlives the page).
    PropertyPage(int dialogId, QString title, int tabIconId, const AppServices& services,
                 QWidget* parent = nullptr);
    ~PropertyPage() override;

    int DialogId() const { return m_dialogId; }
    QString Title() const { return m_title; }
    int TabIconId() const { return m_tabIconId; }
    const AppServices& Services() const { return m_services; }
    bool IsInitialised() const { return m_initialised; }

    // Runs OnInitDialog the first time.
    void EnsureInitialised();
    virtual void OnSheetNotify() {}
    // What a running scan locks on this page; nothing unless the page says so.
    virtual ScanLock LockedByScan() const { return {}; }
    // Commands the page offers besides its controls, for the main window's File menu while the
    // page is the active one. The page owns them and enables them as their subject exists.
    virtual QList<QAction*> Commands() const { return {}; }
    // A drive command sequence of the page is running (its controls are the sequence's until it
    // has ended).
    bool SequenceRunning() const;
    // The page's drive is no longer there, and the page is removed right after: what the user
    // would lose with it (a run's curves) goes to a window of the program that needs no drive.
    virtual void OnDriveGone() {}

    // The control with the given resource id, or null.
    template <typename T = QWidget>
    T* Control(int id) const {
        return findChild<T*>(ControlName(id));
    }

  signals:
    // A command of the page found its drive gone, and the page has said so ("The drive is no
    // longer there."): the main window looks for the drives again and does not say it twice.
    void DriveGoneTold();

  protected:
    virtual void OnInitDialog() = 0;

  private:
    const AppServices& m_services;
    int m_dialogId;
    QString m_title;
    int m_tabIconId;
    bool m_initialised = false;
};

// The property sheet: pages as tabs. Adding a page does not create its window; the page is
// initialised when it first becomes active in a created sheet. Removing a page destroys it.
class PropertySheet final : public QTabWidget {
    Q_OBJECT
  public:
    // `state`: the program's, which tells whether the main window is taking its pages down.
    explicit PropertySheet(std::shared_ptr<const AppState> state, QWidget* parent = nullptr);

    // Until the sheet is created no page is initialised; creating it initialises the active page.
    void Create();

    void AddPage(PropertyPage* page);  // takes ownership
    void RemovePage(PropertyPage* page);
    void SetActivePage(PropertyPage* page);
    PropertyPage* ActivePage() const;
    PropertyPage* Page(int index) const;
    int PageCount() const { return count(); }

  signals:
    // Another page became the active one, or the active page went (the sheet may then have none).
    void ActivePageChanged();

  private:
    void OnCurrentChanged(int index);

    std::shared_ptr<const AppState> m_state;
    PropertyPage* m_active = nullptr;
    bool m_created = false;
};

}  // namespace dravix
