#pragma once

#include <QRect>
#include <QString>
#include <QWidget>
#include <vector>

class QTextBrowser;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

namespace dravix {

class AppServices;

// The guide's first page (its welcome and contents).
inline constexpr const char* kGuideFirstPage = "index.html";

// The folder of the user's guide (the one holding its index.html) for a program in
// `programDirectory`: beside the program in the build tree, else in the installed data folder.
// Empty when the guide is in neither place.
QString FindGuideDirectory(const QString& programDirectory);

// One line of the guide's contents: its title, the page it opens (empty for a heading) and the
// lines under it.
struct ContentsEntry {
    QString title;
    QString page;
    std::vector<ContentsEntry> children;
    bool operator==(const ContentsEntry&) const = default;
};

// Reads the contents file the help compiler reads too (toc.hhc): a nested list of objects with
// "Name" and "Local" parameters.
std::vector<ContentsEntry> ParseContents(const QString& text);

// The help window's size where the screen has room for it.
inline constexpr int kHelpWidth = 860;
inline constexpr int kHelpHeight = 620;

// Where the help window opens: `wanted` as far as the screen's `available` area allows it (less
// room for the window's frame, which is not known before it is shown), centred over the window
// it belongs to (`owner`, frame included) and moved into the available area where it would stick
// out of it.
QRect HelpGeometry(const QRect& owner, const QRect& available, const QSize& wanted);

// The user's guide in the program's own window: the contents beside the page, links between the
// pages, back, forward and the first page. Web addresses go to the desktop's handler.
class HelpWindow final : public QWidget {
    Q_OBJECT
  public:
    // Shows the guide in `directory` from its first page; web addresses open through `services`.
    HelpWindow(const AppServices& services, const QString& directory, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(HelpWindow)

    // A page of the guide by its file name, with an optional "#anchor".
    void ShowPage(const QString& page);

    QTextBrowser* Browser() const { return m_browser; }
    QTreeWidget* Contents() const { return m_contents; }

  private:
    void FillContents(QTreeWidgetItem* parent, const std::vector<ContentsEntry>& entries);
    void OnLinkClicked(const QUrl& link);
    void OnPageShown(const QUrl& source);

    const AppServices& m_services;
    QString m_directory;
    QTextBrowser* m_browser = nullptr;
    QTreeWidget* m_contents = nullptr;
    QToolButton* m_back = nullptr;
    QToolButton* m_forward = nullptr;
    QToolButton* m_home = nullptr;
};

}  // namespace dravix
