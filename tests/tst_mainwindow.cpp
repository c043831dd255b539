#include "TestServices.h"
#include "app/AppError.h"
#include "app/frmMirelImportMain.h"
#include "platform/QtMessageBoxes.h"
#include "store/TemplateDatabase.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

const QString kCritical = QStringLiteral("A critical error has occured - Mirel cannot continue");
const QString kStartupTitle = QStringLiteral("Mirel Startup Verification");

QString textOf(QObject *object)
{
    if (auto *label = qobject_cast<QLabel *>(object))
        return label->text();
    if (auto *button = qobject_cast<QPushButton *>(object))
        return button->text();
    if (auto *frame = qobject_cast<QGroupBox *>(object))
        return frame->title();
    return QStringLiteral("<not a captioned control>");
}

void addTemplate(AppState &state, const QString &name, const QString &id)
{
    state.connection->execute(QStringLiteral("INSERT INTO tblTmpltIndex (TM_ID, TM_DESC, TM_HDRSYN) VALUES (?, ?, 0)"),
                              {id, name});
}

QStringList comboItems(QComboBox *box)
{
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    return items;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void captions_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Label10") << "Label10"
                                 << "\"ContactMirel Importer\"";
        QTest::newRow("Label3") << "Label3"
                                << "for Microsoft® Outlook®  2000/2002";
        QTest::newRow("Frame1") << "Frame1"
                                << "The Preparation Phase";
        QTest::newRow("cmdMapIt") << "cmdMapIt"
                                  << "Map It";
        QTest::newRow("Label7") << "Label7"
                                << "(Required once for every new source file/format)";
        QTest::newRow("Frame2") << "Frame2"
                                << "The Processing Phase";
        QTest::newRow("Label1") << "Label1"
                                << "Select Template:";
        QTest::newRow("cmdRetrieve") << "cmdRetrieve"
                                     << "Retrieve It";
        QTest::newRow("Label4") << "Label4"
                                << "Get/Verify the Source Input File ";
        QTest::newRow("cmdCreate") << "cmdCreate"
                                   << "Create It";
        QTest::newRow("Label9") << "Label9"
                                << "Select Outlook Contact folder and automatically create new contacts";
    }

    void captions()
    {
        QFETCH(QString, control);
        QFETCH(QString, caption);
        TestServices t;
        frmMirelImportMain window(t.state, t.services);
        QObject *found = window.findChild<QObject *>(control);
        QVERIFY2(found, qPrintable(control));
        QCOMPARE(textOf(found), caption);
    }

    void menusAndHiddenControls()
    {
        TestServices t;
        frmMirelImportMain window(t.state, t.services);
        QCOMPARE(window.cmdMapIt->toolTip(), QStringLiteral("Creates/Edits an import map"));
        QVERIFY(window.Frame1->isAncestorOf(window.cmdMapIt));
        QVERIFY(window.Frame2->isAncestorOf(window.cboTemplates1));
        QVERIFY(window.Frame2->isAncestorOf(window.cmdCreate));
        QVERIFY(!window.Image1->pixmap().isNull());

        const QList<std::pair<const char *, QString>> actions{{"mnuFileExit", "E&xit"},
                                                              {"mnuHelpContents", "&Contents"},
                                                              {"mnuHelpWeb", "ContactMirel &Website"},
                                                              {"mnuHelpAbout", "&About...."}};
        for (const auto &[name, text] : actions) {
            auto *action = window.findChild<QAction *>(QLatin1String(name));
            QVERIFY2(action, name);
            QCOMPARE(action->text(), text);
        }
        QCOMPARE(window.mnuFile->title(), QStringLiteral("&File"));
        QCOMPARE(window.mnuHelp->title(), QStringLiteral("&Help"));
        const QList<QAction *> help = window.mnuHelp->actions();
        QCOMPARE(help.size(), 5);
        QVERIFY(help[1]->isSeparator() && help[3]->isSeparator());
        QCOMPARE(help[1]->objectName(), QStringLiteral("mnuHelpBar1"));

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.LV2->isVisible());
        QVERIFY(!window.TV2->isVisible());
    }

    void firstStartCreatesDatabaseAndAddressBook()
    {
        TestServices t;
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();
        QCOMPARE(t.boxes.texts(),
                 QStringList{"The <MirelTmplts.mdb> file does not exist - a new one will be created automatically"});
        QCOMPARE(t.ended, 0);
        QCOMPARE(window.helpFile(), t.file(QStringLiteral("MirelImp.chm")));
        QVERIFY(QFile::exists(t.file(QStringLiteral("MirelTmplts.mdb"))));
        QCOMPARE(readBytes(t.file(QStringLiteral("AddressBooks/Contacts/displayname"))), QByteArray("Contacts"));
        QVERIFY(t.state.outlookApplication);
        QVERIFY(t.state.outlookNamespace);

        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.cboTemplates1->count(), 0);
        QCOMPARE(window.cboTemplates1->currentText(), QString());
        QVERIFY(window.cmdMapIt->isEnabled());
        QVERIFY(window.cmdRetrieve->isEnabled());
        QVERIFY(!window.cmdCreate->isEnabled());

        // The next start opens the same files without a word.
        ScriptedMessageBoxes second;
        AppState state2;
        t.services.messages = &second;
        frmMirelImportMain again(state2, t.services);
        again.Form_Load();
        QVERIFY(second.boxes.isEmpty());
        QVERIFY(t.boxes.problems().isEmpty());
    }

    void startupChecksRunInOrder_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("data access")
            << "data"
            << QStringList{"429 no engine", "ADO has not been installed on this computer or it has been deleted - "
                                            "\r\nplease re-install before running Mirel"}
            << QStringList{"Mirel", kStartupTitle};
        QTest::newRow("contact store") << "store"
                                       << QStringList{"429 no store",
                                                      "Outlook 2000 or 2002 must be installed in order to use Mirel"}
                                       << QStringList{"Mirel", kStartupTitle};
    }

    void startupChecksRunInOrder()
    {
        QFETCH(QString, failing);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, titles);
        TestServices t;
        QStringList calls;
        t.services.checkDataAccess = [&] {
            calls << QStringLiteral("data");
            if (failing == QLatin1String("data"))
                throw AppError(429, QStringLiteral("no engine"));
        };
        t.services.createContactApplication = [&](const QString &progId) -> std::shared_ptr<outlook::Application> {
            calls << progId;
            throw AppError(429, QStringLiteral("no store"));
        };
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();

        QCOMPARE(t.boxes.texts(), texts);
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::None);
        QCOMPARE(t.boxes.boxes[1].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(t.boxes.boxes[0].title, titles[0]);
        QCOMPARE(t.boxes.boxes[1].title, titles[1]);
        QCOMPARE(t.ended, 1);
        // The program ends before the database is opened or created.
        QVERIFY(!QFile::exists(t.file(QStringLiteral("MirelTmplts.mdb"))));
        const QStringList expectedCalls =
            failing == QLatin1String("data") ? QStringList{"data"} : QStringList{"data", "outlook.application"};
        QCOMPARE(calls, expectedCalls);
    }

    void unusableDatabaseEndsTheProgram_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("firstBox");
        QTest::newRow("another password") << "some other password"
                                          << "ERROR:  26 - The following error has occurred\r\nThe file '";
        QTest::newRow("empty system table")
            << QString(kTemplateDatabasePassword)
            << "Critical error - the template database is missing critical information\r\n"
               "You must restore or re-install the database from the original program setup";
    }

    void unusableDatabaseEndsTheProgram()
    {
        QFETCH(QString, password);
        QFETCH(QString, firstBox);
        TestServices t;
        const QString path = t.file(QStringLiteral("MirelTmplts.mdb"));
        {
            DataAccess::Catalog catalog;
            catalog.create(path, password);
            catalog.appendTable(SysParmsTableSchema());
            catalog.appendTable(TemplateIndexTableSchema());
        }
        const QByteArray before = readBytes(path);
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();

        const QStringList texts = t.boxes.texts();
        QCOMPARE(texts.size(), 2);
        QVERIFY2(texts[0].startsWith(firstBox), qPrintable(texts[0]));
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(texts[1], kCritical);
        QCOMPARE(t.boxes.boxes[1].icon, MessageBoxes::Icon::None);
        QCOMPARE(t.ended, 1);
        QCOMPARE(readBytes(path), before);
        QVERIFY(!t.state.outlookApplication); // the connection step never ran
    }

    void unwritableFolderReportsEachCreationStep()
    {
        TestServices t;
        t.services.appPath = t.file(QStringLiteral("not/there"));
        UseDefaultBackends(t.services);
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();

        const QStringList texts = t.boxes.texts();
        QCOMPARE(texts.size(), 6);
        QCOMPARE(texts[0],
                 QStringLiteral("The <MirelTmplts.mdb> file does not exist - a new one will be created automatically"));
        for (int i = 1; i <= 4; ++i)
            QVERIFY2(texts[i].startsWith(QStringLiteral("ERROR: ")), qPrintable(texts[i]));
        QCOMPARE(texts[5], kCritical);
        QCOMPARE(t.ended, 1);
        QVERIFY(!QFileInfo::exists(t.services.appPath));
    }

    void contactConnectionFailureStillOpensTheWindow()
    {
        TestServices t;
        auto real = t.services.createContactApplication;
        t.services.createContactApplication = [&](const QString &progId) {
            if (progId == QLatin1String("Outlook.Application"))
                throw AppError(ErrorCode::CannotCreateObject, QStringLiteral("busy"), QStringLiteral("Contacts"));
            return real(progId);
        };
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();
        QCOMPARE(t.ended, 0);
        QCOMPARE(t.boxes.texts().size(), 2);
        QCOMPARE(t.boxes.texts()[1], QStringLiteral("ERROR:  429 - The following error has occurred\r\nbusy\r\n"
                                                    "This request has been cancelled - retry"));
        QCOMPARE(t.boxes.boxes[1].title, QStringLiteral("Contacts"));
        QVERIFY(!t.state.outlookNamespace);
        QVERIFY(!window.cmdCreate->isEnabled());
    }

    void templateChoiceAndTheEditorRoundTrip()
    {
        TestServices t;
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();
        addTemplate(t.state, QStringLiteral("zeta"), QStringLiteral("Tmplt0001"));
        addTemplate(t.state, QStringLiteral("Alpha"), QStringLiteral("Tmplt0002"));
        addTemplate(t.state, QStringLiteral("beta"), QStringLiteral("Tmplt0003"));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(comboItems(window.cboTemplates1), (QStringList{"Alpha", "beta", "zeta"}));

        // Choosing a template disables "Create It": each run needs its own verification.
        window.cmdCreate->setEnabled(true);
        window.cboTemplates1->setFocus();
        QTest::keyClick(window.cboTemplates1, Qt::Key_Down);
        QCOMPARE(window.cboTemplates1->currentText(), QStringLiteral("Alpha"));
        QCOMPARE(t.state.templateName, QStringLiteral("Alpha"));
        QVERIFY(!window.cmdCreate->isEnabled());

        // "Map It" hides the main window behind the editor; leaving the editor brings it back, refilled.
        QTest::mouseClick(window.cmdMapIt, Qt::LeftButton);
        QVERIFY(!window.isVisible());
        QVERIFY(window.templateEditor());
        QVERIFY(window.templateEditor()->isVisible());
        QCOMPARE(window.templateEditor()->windowTitle(), QStringLiteral("ContactMirel - Create/Edit Import Template"));
        addTemplate(t.state, QStringLiteral("Made in the editor"), QStringLiteral("Tmplt0004"));
        window.templateEditor()->close();
        QVERIFY(window.isVisible());
        QCOMPARE(comboItems(window.cboTemplates1), (QStringList{"Alpha", "beta", "Made in the editor", "zeta"}));
        QCOMPARE(window.cboTemplates1->currentText(), QString());
    }

    void helpMenus()
    {
        TestServices t;
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();
        t.boxes.clear();

        window.mnuHelpContents->trigger();
        QCOMPARE(t.boxes.texts().size(), 1);
        QVERIFY(t.boxes.texts()[0].contains(QStringLiteral("MirelImp.chm")));
        QVERIFY(t.urls.opened.isEmpty());

        writeBytes(t.file(QStringLiteral("MirelImp.chm")), "help");
        t.boxes.clear();
        window.mnuHelpContents->trigger();
        QVERIFY(t.boxes.boxes.isEmpty());
        QCOMPARE(t.urls.opened, QList<QUrl>{QUrl::fromLocalFile(t.file(QStringLiteral("MirelImp.chm")))});

        t.urls.result = false; // no handler for the help file
        window.mnuHelpContents->trigger();
        QCOMPARE(t.boxes.texts().size(), 1);
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::None);

        t.urls.opened.clear();
        window.mnuHelpWeb->trigger();
        QCOMPARE(t.urls.opened, QList<QUrl>{QUrl(QStringLiteral("https://www.contactmirel.com/"))});
    }

    void aboutIsModal()
    {
        TestServices t;
        frmMirelImportMain window(t.state, t.services);
        QString seen;
        QTimer::singleShot(0, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            seen = modal->objectName();
            if (auto *version = modal->findChild<QLabel *>(QStringLiteral("lblVersion")))
                seen += QLatin1Char('|') + version->text();
            modal->close();
        });
        window.mnuHelpAbout->trigger();
        QCOMPARE(seen, QStringLiteral("frmAbout|Version ") + QStringLiteral(MIREL_VERSION));
    }

    void exitClosesEveryWindow()
    {
        TestServices t;
        frmMirelImportMain window(t.state, t.services);
        window.Form_Load();
        window.show();
        window.cmdMapIt_Click();
        QVERIFY(window.templateEditor()->isVisible());
        window.show();
        // Exit ends the event loop; a guard ends it too, but with another code, if Exit did not.
        QTimer::singleShot(0, window.mnuFileExit, &QAction::trigger);
        QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window.isVisible());
        QVERIFY(!window.templateEditor()->isVisible());
    }

    void qtMessageBoxesShowWhatTheyAreGiven_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("icon");
        QTest::addColumn<bool>("titled");
        QTest::addColumn<int>("expectedIcon");
        QTest::addColumn<int>("expectedButtons");
        QTest::addColumn<QString>("expectedTitle");
        QTest::newRow("ok, critical, own title")
            << int(MessageBoxes::Buttons::Ok) << int(MessageBoxes::Icon::Critical) << true << int(QMessageBox::Critical)
            << int(QMessageBox::Ok) << "Updating Contact";
        QTest::newRow("yes/no, no icon, application title")
            << int(MessageBoxes::Buttons::YesNo) << int(MessageBoxes::Icon::None) << false << int(QMessageBox::NoIcon)
            << int(QMessageBox::Yes | QMessageBox::No) << "Mirel";
    }

    void qtMessageBoxesShowWhatTheyAreGiven()
    {
        QFETCH(int, buttons);
        QFETCH(int, icon);
        QFETCH(bool, titled);
        QFETCH(int, expectedIcon);
        QFETCH(int, expectedButtons);
        QFETCH(QString, expectedTitle);
        QtMessageBoxes boxes;
        int seenIcon = -1;
        int seenButtons = -1;
        QString seenTitle;
        QString seenText;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seenIcon = box->icon();
            seenButtons = box->standardButtons();
            seenTitle = box->windowTitle();
            seenText = box->textFormat() == Qt::PlainText ? box->text() : QString();
            box->button(box->standardButtons() & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok)->click();
        });
        const auto answer =
            boxes.show(QStringLiteral("The <MirelTmplts.mdb> file\r\nline two"), MessageBoxes::Buttons(buttons),
                       MessageBoxes::Icon(icon), titled ? std::optional<QString>(expectedTitle) : std::nullopt);
        QCOMPARE(seenIcon, expectedIcon);
        QCOMPARE(seenButtons, expectedButtons);
        QCOMPARE(seenTitle, expectedTitle);
        QCOMPARE(seenText, QStringLiteral("The <MirelTmplts.mdb> file\r\nline two"));
        QCOMPARE(answer,
                 buttons == int(MessageBoxes::Buttons::YesNo) ? MessageBoxes::Answer::Yes : MessageBoxes::Answer::Ok);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
