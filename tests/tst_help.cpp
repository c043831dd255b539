#include "TestServices.h"
#include "app/ui/frmMirelImportMain.h"
#include "platform/ChmFile.h"

#include <QApplication>
#include <QDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>

namespace {
const QString kHelpFile = QStringLiteral(MIREL_HELP_FILE);

QList<QWidget *> helpWindows()
{
    QList<QWidget *> open;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->objectName() == QLatin1String("frmHelp") && window->isVisible())
            open << window;
    return open;
}

// The text a page of the file shows.
QString pageText(const ChmFile &file, const QString &entry)
{
    QTextDocument page;
    page.setHtml(QString::fromUtf8(file.read(entry).value_or("missing")));
    return page.toPlainText();
}

// Clicks the first link of the page shown; gives its target.
QString clickFirstLink(QTextBrowser *browser)
{
    for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isAnchor()) {
                const QString target = it.fragment().charFormat().anchorHref();
                QTextCursor inside(browser->document());
                inside.setPosition(it.fragment().position() + 1);
                QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, browser->cursorRect(inside).center());
                return target;
            }
    return {};
}
} // namespace

class TestHelp : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServices> m_t;
    std::unique_ptr<frmMirelImportMain> m_window;

private slots:
    void init()
    {
        m_t = std::make_unique<TestServices>();
        m_window = std::make_unique<frmMirelImportMain>(m_t->state, m_t->services);
    }

    void cleanup()
    {
        m_window.reset();
        qDeleteAll(helpWindows());
        m_t.reset();
    }

    // Every entry of the help file's contents opens a page of the file; the first opens index.html.
    void contentsOfTheHelpFile()
    {
        QString reason;
        const auto file = ChmFile::open(kHelpFile, reason);
        QVERIFY2(file, qPrintable(reason));
        const QList<HelpTopic> topics = file->contents();
        QVERIFY(topics.size() > 1);
        QCOMPARE(topics.first().local, QStringLiteral("index.html"));
        for (const HelpTopic &topic : topics)
            QVERIFY2(file->read(topic.local).value_or("").contains("</h1>") && !topic.name.isEmpty(),
                     qPrintable(topic.local));
    }

    // Contents written as loose HTML: unquoted attributes, missing end tags, comments, nesting.
    void sitemap_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("topics"); // level:name=page, joined by |
        QTest::newRow("loose") << R"(<UL><LI><OBJECT type=text/sitemap><param name=Name value="A &amp; B">
            <param name=Local value=a.html></OBJECT><UL><LI><object type="text/sitemap"><param name="Name"
            value="Sub"><param name="Local" value="x.chm::/sub/b.html"><LI><object type="text/sitemap">
            <param name="Local" value="c.html"></UL><LI><object type="text/sitemap"><param name="Name" value=D>)"
                               << "0:A & B=a.html|1:Sub=/sub/b.html|1:c.html=c.html|0:D=";
        QTest::newRow("comment, properties, nesting with no parent")
            << R"(<!-- <ul><object type="text/sitemap"><param name="Name" value="hidden"> --><object
            type="text/site properties"><param name="Name" value="x"></object><ul><ul><li><object
            type='TEXT/SITEMAP'><param name='Name' value='Deep'><param name='Local' value='d.html'></object>)"
            << "0:Deep=d.html";
        QTest::newRow("no list") << "<html><body>no contents</body></html>"
                                 << "";
    }

    void sitemap()
    {
        QFETCH(QString, html);
        QStringList topics;
        for (const HelpTopic &topic : ParseSitemap(html))
            topics << QStringLiteral("%1:%2=%3").arg(topic.level).arg(topic.name, topic.local);
        QTEST(topics.join(QLatin1Char('|')), "topics");
    }

    // A missing help file and one that is no compiled help: a box naming the file, no window.
    void badHelpFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("box");
        QTest::newRow("missing") << QByteArray() << "The help file %1 could not be found.";
        QTest::newRow("text") << QByteArray("help")
                              << "The help file %1 cannot be opened: it is not a compiled help file.";
    }

    void badHelpFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, box);
        const QString file = m_t->file(QStringLiteral("MirelImp.chm"));
        if (!bytes.isNull())
            writeBytes(file, bytes);
        m_window->mnuHelpContents->trigger();
        QCOMPARE(m_t->boxes.texts(), QStringList{box.arg(QDir::toNativeSeparators(file))});
        QVERIFY(helpWindows().isEmpty());
    }

    // Help, Contents of the main window opens the help window on the first page; a link in a page
    // and a click in the tree show pages of the file; a web link goes to the desktop's browser;
    // Help, Contents again raises the same window.
    void helpWindow()
    {
        QVERIFY(QFile::copy(kHelpFile, m_t->file(QStringLiteral("MirelImp.chm"))));
        QString reason;
        const auto file = ChmFile::open(kHelpFile, reason);
        const QList<HelpTopic> topics = file->contents();
        m_window->mnuHelpContents->trigger();
        QWidget *window = helpWindows().value(0);
        QVERIFY(window && QTest::qWaitForWindowExposed(window));
        auto *tree = window->findChild<QTreeWidget *>(QStringLiteral("tvwContents"));
        auto *browser = window->findChild<QTextBrowser *>(QStringLiteral("brwPage"));
        QCOMPARE(browser->source().path(), QLatin1Char('/') + topics.first().local);
        QCOMPARE(browser->toPlainText(), pageText(*file, topics.first().local));

        const QUrl first = browser->source();
        const QString link = clickFirstLink(browser);
        QCOMPARE(browser->source(), first.resolved(QUrl(link)));
        QCOMPARE(browser->toPlainText(), pageText(*file, browser->source().path()));

        QTreeWidgetItem *last = tree->findItems(topics.last().name, Qt::MatchExactly | Qt::MatchRecursive).value(0);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(last).center());
        QCOMPARE(browser->toPlainText(), pageText(*file, topics.last().local));

        const QUrl shown = browser->source();
        QTextCursor(browser->document()).insertHtml(QStringLiteral("<a href=\"https://example.org/a\">web</a> "));
        QCOMPARE(clickFirstLink(browser), QStringLiteral("https://example.org/a"));
        QCOMPARE(m_t->urls.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/a"))});
        QCOMPARE(browser->source(), shown);

        m_window->mnuHelpContents->trigger();
        QCOMPARE(helpWindows(), QList<QWidget *>{window});
        QVERIFY(m_t->boxes.texts().isEmpty());
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
