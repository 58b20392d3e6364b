#include "app/HelpWindow.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPalette>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "base/InstallLayout.h"
#include "res/Icons.h"
#include "ui/Services.h"

namespace dravix {

namespace {

constexpr const char* kFirstPage = kGuideFirstPage;
constexpr const char* kContentsFile = "toc.hhc";
constexpr const char* kWindowTitle = "Dravix Help";
constexpr int kPageRole = Qt::UserRole;
constexpr int kProgramIcon = 128;

QString Attribute(const QString& attributes, const QString& name) {
    const QRegularExpression pattern(name + QStringLiteral(R"re(\s*=\s*"([^"]*)")re"),
                                     QRegularExpression::CaseInsensitiveOption);
    QString value = pattern.match(attributes).captured(1);
    value.replace(QLatin1String("&quot;"), QLatin1String("\""));
    value.replace(QLatin1String("&lt;"), QLatin1String("<"));
    value.replace(QLatin1String("&gt;"), QLatin1String(">"));
    value.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return value;
}

// A palette is dark when its page colour is darker than its text.
bool IsDark(const QPalette& palette) {
    return palette.color(QPalette::Base).lightness() < palette.color(QPalette::Text).lightness();
}

// The guide's style sheet is made for a light page; under a dark palette the page takes the
// palette's colours, and the headings, tables and notes shades that read on it.
QString DarkRules(const QPalette& palette) {
    const QColor base = palette.color(QPalette::Base);
    const QColor text = palette.color(QPalette::Text);
    const QColor shade = base.lighter(160);
    const QColor line = base.lighter(260);
    return QStringLiteral(
               "\n"
               "body { color: %1; background: %2; }\n"
               "h1, h2, h3 { color: #9cc3ff; }\n"
               "h1 { border-bottom-color: %4; }\n"
               "a { color: #8ab8ff; }\n"
               "th, td { border-color: %4; }\n"
               "th { background: %3; }\n"
               "pre { background: %3; border-color: %4; }\n"
               "p.note { background: #3d3520; border-left-color: #c89a00; }\n"
               "p.foot { color: #a0a0a0; border-top-color: %4; }\n"
               "span.ok { color: #5fd35f; }\n"
               "span.bad { color: #ff6b6b; }\n")
        .arg(text.name(), base.name(), shade.name(), line.name());
}

// The guide's pages as the palette wants them: under a dark palette the style sheet gets rules
// of its own after the guide's, and a palette change shows the page again.
class GuideBrowser final : public QTextBrowser {
  public:
    using QTextBrowser::QTextBrowser;

    QVariant loadResource(int type, const QUrl& name) override {
        QVariant resource = QTextBrowser::loadResource(type, name);
        if (type != QTextDocument::StyleSheetResource || !IsDark(palette())) return resource;
        const QString rules = resource.typeId() == QMetaType::QByteArray
                                  ? QString::fromUtf8(resource.toByteArray())
                                  : resource.toString();
        return rules + DarkRules(palette());
    }

  protected:
    void changeEvent(QEvent* event) override {
        QTextBrowser::changeEvent(event);
        if (event->type() == QEvent::PaletteChange && !source().isEmpty()) reload();
    }
};

// The page part of a link inside the guide: its file name without the anchor.
QString PageOf(const QUrl& url) {
    return QFileInfo(url.toLocalFile()).fileName();
}

}  // namespace

QString FindGuideDirectory(const QString& programDirectory) {
    const std::string index = FindProgramFile(QDir::cleanPath(programDirectory).toStdString(),
                                              InstalledDataDirectory(), std::string("help/") + kFirstPage);
    if (index.empty()) return {};
    return QDir::cleanPath(QFileInfo(QString::fromStdString(index)).absolutePath());
}

std::vector<ContentsEntry> ParseContents(const QString& text) {
    std::vector<ContentsEntry> root;
    // The lists being filled, innermost last; the first <UL> opens the root list.
    std::vector<std::vector<ContentsEntry>*> lists;
    bool inEntry = false;
    ContentsEntry entry;
    static const QRegularExpression tag(QStringLiteral(R"re(<\s*(/?)\s*(ul|object|param)\b([^>]*)>)re"),
                                        QRegularExpression::CaseInsensitiveOption);
    for (auto it = tag.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const bool closing = !match.captured(1).isEmpty();
        const QString name = match.captured(2).toLower();
        const QString attributes = match.captured(3);
        if (name == QLatin1String("ul")) {
            if (closing) {
                if (lists.size() > 1) lists.pop_back();
            } else if (lists.empty()) {
                lists.push_back(&root);
            } else if (!lists.back()->empty()) {
                // A nested list belongs to the line before it.
                lists.push_back(&lists.back()->back().children);
            }
        } else if (name == QLatin1String("object")) {
            if (!closing) {
                inEntry = Attribute(attributes, QStringLiteral("type"))
                              .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0;
                entry = {};
            } else if (inEntry) {
                inEntry = false;
                if (!entry.title.isEmpty() && !lists.empty()) lists.back()->push_back(std::move(entry));
            }
        } else if (inEntry && !closing) {
            const QString param = Attribute(attributes, QStringLiteral("name"));
            if (param.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0) {
                entry.title = Attribute(attributes, QStringLiteral("value"));
            } else if (param.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0) {
                entry.page = Attribute(attributes, QStringLiteral("value"));
            }
        }
    }
    return root;
}

HelpWindow::HelpWindow(const AppServices& services, const QString& directory, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(services), m_directory(directory) {
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowIcon(LoadIcon(kProgramIcon));

    auto makeButton = [this](const char* name, const QString& text, QStyle::StandardPixmap icon) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1String(name));
        button->setText(text);
        button->setIcon(style()->standardIcon(icon));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setAutoRaise(true);
        return button;
    };
    m_back = makeButton("helpBack", tr("Back"), QStyle::SP_ArrowBack);
    m_forward = makeButton("helpForward", tr("Forward"), QStyle::SP_ArrowForward);
    m_home = makeButton("helpHome", tr("Contents"), QStyle::SP_DirHomeIcon);

    m_contents = new QTreeWidget(this);
    m_contents->setObjectName(QStringLiteral("helpContents"));
    m_contents->setHeaderHidden(true);
    m_contents->setRootIsDecorated(true);
    m_browser = new GuideBrowser(this);
    m_browser->setObjectName(QStringLiteral("helpPage"));
    // Links are followed here so that web addresses go to the desktop and pages stay in the window.
    m_browser->setOpenLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_back);
    buttons->addWidget(m_forward);
    buttons->addWidget(m_home);
    buttons->addStretch(1);
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_contents);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({250, 610});
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);
    resize(kHelpWidth, kHelpHeight);

    QFile contents(QDir(m_directory).filePath(QLatin1String(kContentsFile)));
    if (contents.open(QIODevice::ReadOnly)) {
        FillContents(nullptr, ParseContents(QString::fromLatin1(contents.readAll())));
        m_contents->expandAll();
    }

    m_back->setEnabled(false);
    m_forward->setEnabled(false);
    connect(m_back, &QToolButton::clicked, m_browser, &QTextBrowser::backward);
    connect(m_forward, &QToolButton::clicked, m_browser, &QTextBrowser::forward);
    connect(m_home, &QToolButton::clicked, this, [this] { ShowPage(QLatin1String(kFirstPage)); });
    connect(m_browser, &QTextBrowser::backwardAvailable, m_back, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::forwardAvailable, m_forward, &QToolButton::setEnabled);
    connect(m_browser, &QTextBrowser::anchorClicked, this, &HelpWindow::OnLinkClicked);
    connect(m_browser, &QTextBrowser::sourceChanged, this, &HelpWindow::OnPageShown);
    connect(m_contents, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const QString page = item != nullptr ? item->data(0, kPageRole).toString() : QString();
        if (!page.isEmpty() && page != PageOf(m_browser->source())) ShowPage(page);
    });

    // Escape closes the window, as it closes a dialog.
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &QWidget::close);

    ShowPage(QLatin1String(kFirstPage));
}

QRect HelpGeometry(const QRect& owner, const QRect& available, const QSize& wanted) {
    // Room for the title bar and the borders the window manager adds around the window.
    constexpr int kFrameWidth = 16, kFrameHeight = 40;
    const QSize room(std::max(0, available.width() - kFrameWidth), std::max(0, available.height() - kFrameHeight));
    const QSize size = wanted.boundedTo(room);
    QRect place(QPoint(0, 0), size);
    place.moveCenter(owner.center());
    // The frame's top left corner is where the window is placed; keep its far edges on screen too.
    const int right = available.right() - kFrameWidth - size.width() + 1;
    const int bottom = available.bottom() - kFrameHeight - size.height() + 1;
    place.moveTo(std::clamp(place.x(), available.left(), std::max(available.left(), right)),
                 std::clamp(place.y(), available.top(), std::max(available.top(), bottom)));
    return place;
}

void HelpWindow::ShowPage(const QString& page) {
    m_browser->setSource(QUrl::fromLocalFile(m_directory + QLatin1Char('/')).resolved(QUrl(page)));
}

void HelpWindow::FillContents(QTreeWidgetItem* parent, const std::vector<ContentsEntry>& entries) {
    for (const ContentsEntry& entry : entries) {
        auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_contents);
        item->setText(0, entry.title);
        item->setData(0, kPageRole, entry.page);
        FillContents(item, entry.children);
    }
}

void HelpWindow::OnLinkClicked(const QUrl& link) {
    const QUrl target = m_browser->source().resolved(link);
    if (target.isLocalFile()) {
        m_browser->setSource(target);
    } else {
        m_services.OpenUrl(target);
    }
}

void HelpWindow::OnPageShown(const QUrl& source) {
    const QString title = m_browser->documentTitle();
    setWindowTitle(title.isEmpty() ? QString::fromLatin1(kWindowTitle)
                                   : QString::fromLatin1(kWindowTitle) + QStringLiteral(" - ") + title);
    // The contents follow the page, also when it was reached through a link or back and forward.
    const QString page = PageOf(source);
    for (QTreeWidgetItemIterator it(m_contents); *it != nullptr; ++it) {
        if ((*it)->data(0, kPageRole).toString() == page) {
            const QSignalBlocker quiet(m_contents);
            m_contents->setCurrentItem(*it);
            return;
        }
    }
}

}  // namespace dravix
