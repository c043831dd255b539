#include "ImportFixtures.h"
#include "ModalWindows.h"
#include "app/ui/frmMirelImportMain.h"
#include "import/ui/frmUndoImport.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/frmAbout.h"
#include "store/ImportJournal.h"
#include "store/TemplateDatabase.h"

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>
#include <QTest>

namespace {
const QString kCritical = QStringLiteral("A critical error has occured - Mirel cannot continue");
} // namespace

// Each test gets a fresh application folder and a main window that has not started yet.
class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TestServices> m_t;
    std::unique_ptr<frmMirelImportMain> m_window;

    QString database() const { return m_t->file(QStringLiteral("MirelTmplts.mdb")); }

private slots:
    void init()
    {
        m_t = std::make_unique<TestServices>();
        m_window = std::make_unique<frmMirelImportMain>(m_t->state, m_t->services);
    }

    void cleanup()
    {
        m_window.reset();
        CloseStrayWindows();
        m_t.reset();
    }

    // A first start creates the database and the address book; a contact store that is busy is
    // reported and the window opens all the same; any other failure ends the program.
    void startup_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("boxes");
        QTest::addColumn<QString>("firstBox"); // how the first box starts
        QTest::addColumn<QString>("lastBox");
        const QString missing =
            QStringLiteral("The <MirelTmplts.mdb> file does not exist - a new one will be created automatically");
        QTest::newRow("first start") << "" << 1 << missing << missing;
        QTest::newRow("contact store busy") << "busy" << 2 << missing
                                            << "ERROR:  429 - The following error has occurred\r\nbusy\r\n"
                                               "This request has been cancelled - retry";
        QTest::newRow("no data access") << "data" << 2 << "429 no engine"
                                        << "ADO has not been installed on this computer or it has been deleted - "
                                           "\r\nplease re-install before running Mirel";
        QTest::newRow("no contact store") << "store" << 2 << "429 no store"
                                          << "Outlook 2000 or 2002 must be installed in order to use Mirel";
        QTest::newRow("another password")
            << "password" << 2 << "ERROR:  26 - The following error has occurred\r\nThe file '" << kCritical;
        QTest::newRow("empty system table")
            << "table" << 2 << "Critical error - the template database is missing critical information" << kCritical;
        QTest::newRow("unwritable folder") << "folder" << 6 << "The <MirelTmplts.mdb> file does not exist" << kCritical;
    }

    void startup()
    {
        QFETCH(QString, fault);
        QFETCH(int, boxes);
        QFETCH(QString, firstBox);
        QFETCH(QString, lastBox);
        Services &services = m_t->services;
        if (fault == QLatin1String("data"))
            services.checkDataAccess = [] { throw AppError(429, QStringLiteral("no engine")); };
        if (fault == QLatin1String("data") || fault == QLatin1String("store"))
            services.createContactApplication = [](const QString &) -> std::shared_ptr<outlook::Application> {
                throw AppError(429, QStringLiteral("no store"));
            };
        auto real = services.createContactApplication;
        if (fault == QLatin1String("busy"))
            services.createContactApplication = [&](const QString &progId) {
                if (progId == QLatin1String("Outlook.Application"))
                    throw AppError(ErrorCode::CannotCreateObject, QStringLiteral("busy"), QStringLiteral("Contacts"));
                return real(progId);
            };
        if (fault == QLatin1String("password") || fault == QLatin1String("table")) {
            DataAccess::Catalog catalog;
            catalog.create(database(), fault == QLatin1String("table") ? QString(kTemplateDatabasePassword)
                                                                       : QStringLiteral("some other password"));
            catalog.appendTable(SysParmsTableSchema());
            catalog.appendTable(TemplateIndexTableSchema());
        }
        if (fault == QLatin1String("folder")) {
            services.dataPath = m_t->file(QStringLiteral("not/there"));
            UseDefaultBackends(services);
        }
        const QByteArray before = readBytes(database());
        m_window->Form_Load();

        const QStringList texts = m_t->boxes.texts();
        QCOMPARE(texts.size(), boxes);
        QVERIFY2(texts.first().startsWith(firstBox), qPrintable(texts.first()));
        QCOMPARE(texts.last(), lastBox);
        QCOMPARE(bool(m_t->state.outlookNamespace), fault.isEmpty());
        if (fault.isEmpty())
            QCOMPARE(readBytes(m_t->file(QStringLiteral("AddressBooks/Contacts/displayname"))), QByteArray("Contacts"));
        const bool ends = !fault.isEmpty() && fault != QLatin1String("busy");
        QCOMPARE(m_t->ended, int(ends));
        QCOMPARE(QFile::exists(database()), !ends || !before.isEmpty());
        if (!ends)
            return;
        // Nothing is created, a database that is there stays as it was, and the contact store
        // is not connected after a database failure.
        QCOMPARE(readBytes(database()), before);
        QCOMPARE(QDir(services.dataPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 before.isEmpty() ? QStringList() : QStringList{"MirelTmplts.mdb"});
        QVERIFY(!m_t->state.outlookApplication);
    }

    // File, "Undo an Import..." by the keyboard; the run chosen by a click, undone after the
    // question: its contacts are gone and it is marked undone.
    void undoAnImport()
    {
        m_window->Form_Load();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_t->boxes.clear();
        auto folder = m_t->state.outlookNamespace->Stores().first()->Folders().first();
        ImportRunRecord run;
        run.id = QStringLiteral("run-1");
        run.entryId = folder->EntryID();
        run.started = QDateTime::currentDateTime();
        QList<ImportRunContact> made;
        for (const QString &name : {QStringLiteral("Lee"), QStringLiteral("Ray")}) {
            auto contact = folder->Items()->Add(outlook::kStandardContactClass);
            contact->SetProperty(QStringLiteral("LastName"), name);
            contact->Close(outlook::olSave);
            made << ImportRunContact{contact->savedUid(), int(made.size()) + 1, contact->savedStamp()};
        }
        run.outcome = QStringLiteral("completed");
        BeginImportRun(m_t->state.connection, run);
        FinishImportRun(m_t->state.connection, run, made);

        QString outcome;
        WhenModal<frmUndoImport>([&](frmUndoImport *dialog) {
            const QRect first = dialog->lstRuns->visualItemRect(dialog->lstRuns->topLevelItem(0));
            QTest::mouseClick(dialog->lstRuns->viewport(), Qt::LeftButton, {}, first.center());
            m_t->boxes.answer(MessageBoxes::Answer::Yes);
            QTest::mouseClick(dialog->cmdUndo, Qt::LeftButton);
            outcome = dialog->lstRuns->topLevelItem(0)->text(5);
            QTest::mouseClick(dialog->cmdClose, Qt::LeftButton);
        });
        QTest::keyClick(m_window.get(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(m_window->mnuFile->isVisible());
        QTest::keyClick(m_window->mnuFile, Qt::Key_U);
        QTRY_COMPARE(outcome, QStringLiteral("undone"));
        QVERIFY2(m_t->boxes.texts().value(0).startsWith(QStringLiteral("2 contacts created by the import of")),
                 qPrintable(m_t->boxes.texts().join('|')));
        QCOMPARE(m_t->boxes.texts().value(1), QStringLiteral("Contacts deleted: 2\r\nContacts kept - changed since: "
                                                             "0\r\nContacts already gone: 0"));
        QVERIFY(QDir(folder->EntryID()).entryList({QStringLiteral("*.vcf")}).isEmpty());
    }

    // Help, "About...." by the keyboard: the box names the folder that holds the templates.
    void aboutNamesTheDataFolder()
    {
        m_window->Form_Load();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_t->services.dataPath = m_t->file(QStringLiteral("data")); // apart from the program's folder
        QString shown;
        WhenModal<frmAbout>([&](frmAbout *about) {
            shown = about->findChild<QLabel *>(QStringLiteral("lblDataFolder"))->text();
            QTest::keyClick(about, Qt::Key_Return);
        });
        QTest::keyClick(m_window.get(), Qt::Key_H, Qt::AltModifier);
        QTRY_VERIFY(m_window->mnuHelp->isVisible());
        QTest::keyClick(m_window->mnuHelp, Qt::Key_A);
        QTRY_VERIFY2(shown.endsWith(QDir::toNativeSeparators(m_t->services.dataPath)), qPrintable(shown));
    }

    // The real boxes: the text as it is (not read as markup), the icon, the buttons, the
    // application's title when the box has none of its own, and the answer clicked.
    void qtMessageBoxesShowWhatTheyAreGiven()
    {
        const QString text = QStringLiteral("The <MirelTmplts.mdb> file\r\nline two");
        WhenModal<QMessageBox>([&](QMessageBox *box) {
            QCOMPARE(box->icon(), QMessageBox::Critical);
            QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box->windowTitle() + box->text(), kAppTitle + text);
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
        });
        QCOMPARE(QtMessageBoxes().show(text, MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::Critical, std::nullopt),
                 MessageBoxes::Answer::Yes);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
