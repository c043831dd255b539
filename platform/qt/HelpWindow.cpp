#include "platform/qt/HelpWindow.h"

#include "core/UrlOpener.h"

#include <QAction>
#include <QPointer>
#include <QSplitter>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const QString kScheme = QStringLiteral("chm");

// The address the browser knows a page of the file by: "chm:///index.html".
QUrl pageUrl(const QString &local)
{
    return QUrl(kScheme + QStringLiteral(":///")).resolved(QUrl(local));
}

// A browser that reads every page and picture from the help file and nothing from elsewhere.
class HelpBrowser : public QTextBrowser {
public:
    HelpBrowser(std::unique_ptr<ChmFile> file, QWidget *parent) : QTextBrowser(parent), m_file(std::move(file)) {}

    QVariant loadResource(int type, const QUrl &name) override
    {
        const QUrl url = name.isRelative() ? source().resolved(name) : name;
        if (url.scheme() != kScheme)
            return {};
        if (const auto bytes = m_file->read(url.path()))
            return *bytes;
        if (type == QTextDocument::HtmlResource)
            return QStringLiteral("<p>The page %1 is not in the help file.</p>").arg(url.path().toHtmlEscaped());
        return {};
    }

private:
    std::unique_ptr<ChmFile> m_file;
};

QPointer<QWidget> &openWindow()
{
    static QPointer<QWidget> window;
    return window;
}

class HelpWindow : public QWidget {
public:
    HelpWindow(UrlOpener &urls, std::unique_ptr<ChmFile> file, const QList<HelpTopic> &contents)
        : QWidget(nullptr, Qt::Window)
    {
        setObjectName(QStringLiteral("frmHelp"));
        setAttribute(Qt::WA_DeleteOnClose);
        const QString title = file->title();
        setWindowTitle(title.isEmpty() ? QStringLiteral("ContactMirel Importer Help") : title);
        resize(900, 600);

        auto *browser = new HelpBrowser(std::move(file), this);
        browser->setObjectName(QStringLiteral("brwPage"));
        browser->setOpenLinks(false);
        connect(browser, &QTextBrowser::anchorClicked, this, [browser, &urls](const QUrl &url) {
            if (url.scheme() == kScheme)
                browser->setSource(url);
            else if (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https") ||
                     url.scheme() == QLatin1String("mailto"))
                urls.openUrl(url);
        });

        auto *toolBar = new QToolBar(this);
        QAction *back = toolBar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), QStringLiteral("&Back"),
                                           browser, &QTextBrowser::backward);
        QAction *forward = toolBar->addAction(style()->standardIcon(QStyle::SP_ArrowForward),
                                              QStringLiteral("&Forward"), browser, &QTextBrowser::forward);
        back->setShortcut(QKeySequence::Back);
        forward->setShortcut(QKeySequence::Forward);
        back->setEnabled(false);
        forward->setEnabled(false);
        connect(browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
        connect(browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);

        auto *tree = new QTreeWidget(this);
        tree->setObjectName(QStringLiteral("tvwContents"));
        tree->setHeaderHidden(true);
        QList<QTreeWidgetItem *> parents; // the last entry of each level above the one read
        QTreeWidgetItem *first = nullptr;
        for (const HelpTopic &topic : contents) {
            parents.resize(std::min<qsizetype>(topic.level, parents.size()));
            auto *item = parents.isEmpty() ? new QTreeWidgetItem(tree) : new QTreeWidgetItem(parents.last());
            item->setText(0, topic.name);
            item->setData(0, Qt::UserRole, topic.local);
            parents << item;
            if (!first && !topic.local.isEmpty())
                first = item;
        }
        tree->expandAll();
        const auto showPage = [browser](QTreeWidgetItem *item) {
            const QString local = item ? item->data(0, Qt::UserRole).toString() : QString();
            if (!local.isEmpty())
                browser->setSource(pageUrl(local));
        };
        connect(tree, &QTreeWidget::currentItemChanged, this, showPage);
        connect(tree, &QTreeWidget::itemClicked, this, showPage);
        tree->setCurrentItem(first);

        auto *splitter = new QSplitter(this);
        splitter->addWidget(tree);
        splitter->addWidget(browser);
        splitter->setStretchFactor(1, 3);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(toolBar);
        layout->addWidget(splitter);
    }
};

} // namespace

bool RaiseHelpWindow()
{
    QWidget *window = openWindow();
    if (!window || !window->isVisible())
        return false;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
    return true;
}

void ShowHelpWindow(UrlOpener &urls, std::unique_ptr<ChmFile> file, const QList<HelpTopic> &contents)
{
    if (openWindow())
        openWindow()->deleteLater(); // closed, its deletion still to come
    auto *window = new HelpWindow(urls, std::move(file), contents);
    openWindow() = window;
    window->show();
}
