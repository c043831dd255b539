#include "DavServer.h"
#include "ImportFixtures.h"
#include "ModalWindows.h"
#include "app/ui/frmMirelImportMain.h"
#include "outlook/ui/frmCustomFormInfo.h"
#include "platform/qt/QtFolderPicker.h"
#include "platform/qt/QtServerLogins.h"
#include "platform/qt/ServerLoginDialog.h"
#include "store/TemplateStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTreeWidget>
#include <qpa/qwindowsysteminterface.h>

namespace {
const MappingRows kTemplate{{1, "First", "First Name", "FirstName"},
                            {2, "Company", "Company Name", "CompanyName"},
                            {3, "Mail", "Primary Email Address", "EmailAddress"},
                            {4, "Phone", "Main Company Number", "BusinessTelephoneNumber"},
                            {5, "Street", "CO Street Addr1", "##COStreet1"}};
// Shows the run in the progress window, calling beforeRow first for each row.
class ObservedProgress : public ImportProgress {
public:
    explicit ObservedProgress(frmContactImport &form) : m_form(form) {}
    void showTotal(int rows) override { m_form.showTotal(rows); }
    void showRowNumber(int row) override
    {
        beforeRow(row);
        m_form.showRowNumber(row);
    }
    void showCounter(ImportCounter counter, int value) override { m_form.showCounter(counter, value); }
    void showNow() override { m_form.showNow(); }
    std::function<void(int)> beforeRow;

private:
    frmContactImport &m_form;
};

// The text of a box as the screen shows it; "?" when the screen shows something else.
QString onScreen(QLineEdit *box)
{
    QWidget *window = box->window();
    const QImage screen = window->screen()->grabWindow(window->winId()).toImage();
    const QImage drawn = box->grab().toImage();
    return screen.copy(QRect(box->mapTo(window, QPoint()), box->size())) == drawn.convertToFormat(screen.format())
               ? box->text()
               : QStringLiteral("?");
}

// A click queued as the window system queues it, delivered whenever the program reads its input.
void queueClick(QWidget *button)
{
    QWindow *window = button->window()->windowHandle();
    const QPointF at = button->mapTo(button->window(), button->rect().center());
    const QPointF global = button->mapToGlobal(button->rect().center());
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QWindowSystemInterface::handleMouseEvent<QWindowSystemInterface::AsynchronousDelivery>(
            window, at, global, type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::LeftButton,
            type);
}
} // namespace

// The windows of an import run, driven from the main window by clicks and keys. Each test
// gets a template database with two templates of one layout, an address book and a shown main
// window.
class TestImportWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<ImportBench> b;
    std::unique_ptr<frmMirelImportMain> m_window;

    // Chooses the template by keyboard and verifies the source with "Retrieve It".
    void chooseAndVerify(const QByteArray &source)
    {
        QTest::keyClick(m_window->cboTemplates1, Qt::Key_Down);
        b->files.answers = {b->writeSource(QStringLiteral("in.csv"), source)};
        QTest::mouseClick(m_window->cmdRetrieve, Qt::LeftButton);
        QCOMPARE(b->boxes.texts(), QStringList{"The input file has been verified to match the selected template"});
        b->boxes.clear();
    }

private slots:
    void init()
    {
        b = std::make_unique<ImportBench>();
        b->makeTemplate(QStringLiteral("Fair leads"), QStringLiteral("CSH"), kTemplate);
        b->makeTemplate(QStringLiteral("Other"), QStringLiteral("CSH"), kTemplate);
        m_window = std::make_unique<frmMirelImportMain>(b->state, b->services);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup()
    {
        m_window.reset();
        CloseStrayWindows();
        b.reset();
    }

    void progressWindow()
    {
        QTest::mouseClick(m_window->cmdRetrieve, Qt::LeftButton);
        QCOMPARE(b->boxes.texts(), QStringList{"Please select an existing template first"});
        b->boxes.clear();
        const QByteArray source = "First,Company,Mail,Phone,Street\r\nAnn,Acme,ann@acme.com,555,1 Main\r\n,,,,\r\n";
        chooseAndVerify(source);
        QTest::keyClick(m_window->cboTemplates1, Qt::Key_Down); // another template needs its own verification
        QVERIFY(!m_window->cmdCreate->isEnabled());
        chooseAndVerify(source);
        QTest::mouseClick(m_window->cmdCreate, Qt::LeftButton); // the folder picker is cancelled
        QVERIFY(m_window->isVisible() && !m_window->progressWindow());
        b->folders.answers = {QStringLiteral("Contacts")};
        QTest::mouseClick(m_window->cmdCreate, Qt::LeftButton);
        frmContactImport *progress = m_window->progressWindow();
        QVERIFY(progress && progress->isVisible() && !m_window->isVisible());
        QCOMPARE(progress->lblProgress->text(), QStringLiteral("Contact Import Complete - Click OK to continue"));
        QStringList counters; // a counter that stays at 0 leaves its box empty
        for (QLineEdit *box : {progress->txtContactTotal, progress->txtContactNum, progress->txtTotalImported,
                               progress->txtBlankContacts, progress->txtNoContactName, progress->txtNoCoName,
                               progress->txtInvalidEmail, progress->txtNoAddr, progress->txtNoPhone})
            counters << box->text();
        QCOMPARE(counters.join(QLatin1Char('|')), QStringLiteral("2|2|1|1|||||"));
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(!m_window->cmdCreate->isEnabled());
        QVERIFY(!b->state.outlookNamespace);
        QCOMPARE(b->contactsIn(QStringLiteral("Contacts")).size(), 1);
        QCOMPARE(progress->lblFolder->text(), "Contacts folder: " + b->folder(QStringLiteral("Contacts"))->EntryID());

        QTest::mouseClick(progress->cmdOK, Qt::LeftButton);
        QVERIFY(m_window->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!m_window->progressWindow());

        // A second run finds a connection of its own; the close box does what OK does.
        chooseAndVerify("First,Company,Mail,Phone,Street\r\nBo,Bolt,,,\r\n");
        b->folders.answers = {QStringLiteral("Contacts")};
        QTest::mouseClick(m_window->cmdCreate, Qt::LeftButton);
        QCOMPARE(b->contactsIn(QStringLiteral("Contacts")).size(), 2);
        m_window->progressWindow()->close();
        QVERIFY(m_window->isVisible());
    }

    // The run holds the window thread, yet what the progress window shows reaches the screen as
    // the run goes; clicks made during the run do nothing, then or after it.
    void progressDuringTheRun()
    {
        // A contact counts once its batch lasts: the first batch is counted when its commit ends,
        // which is at its last row or some rows later.
        const int rows = kContactsPerBatch + 200;
        QByteArray source = "First,Company,Mail,Phone,Street\r\n";
        for (int i = 1; i <= rows; ++i)
            source += "P" + QByteArray::number(i) + ",Acme,,,\r\n";
        b->state.templateName = QStringLiteral("Fair leads");
        QVERIFY(b->verify(b->writeSource(QStringLiteral("in.csv"), source)));
        b->boxes.clear();
        frmContactImport form;
        QSignalSpy ok(&form, &frmContactImport::okClicked);
        ObservedProgress progress(form);
        QStringList seen;
        progress.beforeRow = [&](int row) {
            if (row % 100 == 0)
                QThread::msleep(110); // long enough for this row to be shown
            if (row % kContactsPerBatch == 101)
                seen << onScreen(form.txtContactNum) + QLatin1Char('/') + onScreen(form.txtTotalImported);
            if (row == 150) {
                queueClick(form.cmdOK);
                queueClick(m_window->cmdMapIt);
            }
        };
        form.beginRun();
        QVERIFY(b->create(QStringLiteral("Contacts"), &progress));
        form.endRun(QString());
        seen << onScreen(form.txtContactNum) + QLatin1Char('/') + onScreen(form.txtTotalImported);
        const QString batch = QString::number(kContactsPerBatch);
        const QString middle = QString::number(kContactsPerBatch + 100) + '/';
        QVERIFY2(seen.size() == 3 && (seen[1] == middle || seen[1] == middle + batch), qPrintable(seen.join(' ')));
        QCOMPARE(seen.first(), QStringLiteral("100/"));
        QCOMPARE(seen.last(), QString::number(rows) + '/' + QString::number(rows));
        QCoreApplication::processEvents();
        QVERIFY(ok.isEmpty());
        QVERIFY(m_window->isVisible());
        QTest::mouseClick(form.cmdOK, Qt::LeftButton);
        QCOMPARE(ok.size(), 1);
    }

    // A folder whose contacts use a custom form: the window shows the notice, and only Yes
    // imports into it.
    void customFormWindow_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("contacts");
        QTest::newRow("Yes") << "optYes" << 2;
        QTest::newRow("No") << "optNo" << 1;
        QTest::newRow("Escape") << "" << 1;
    }

    void customFormWindow()
    {
        QFETCH(QString, answer);
        QFETCH(int, contacts);
        CustomFormWindowPrompt prompt;
        b->services.customForms = &prompt;
        writeBytes(
            b->folder(QStringLiteral("Leads"))->EntryID() + QStringLiteral("/first.vcf"),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nN:A;;;;\r\nX-MIREL-MESSAGE-CLASS:IPM.Contact.Lead\r\nEND:VCARD\r\n");
        chooseAndVerify("First,Company,Mail,Phone,Street\r\nAnn,Acme,,,\r\n");
        b->folders.answers = {QStringLiteral("Leads")};
        QString notice;
        WhenModal<frmCustomFormInfo>([&](frmCustomFormInfo *window) {
            notice = window->lblCFInfo->text();
            if (auto *option = window->findChild<QRadioButton *>(answer))
                QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2)); // on its circle
            else
                QTest::keyClick(window, Qt::Key_Escape);
        });
        QTest::mouseClick(m_window->cmdCreate, Qt::LeftButton);
        QVERIFY(!notice.isEmpty() && notice == b->state.customFormNotice);
        QCOMPARE(b->contactsIn(QStringLiteral("Leads")).size(), contacts);
        QCOMPARE(bool(m_window->progressWindow()), contacts == 2);
    }

    // New folders are made from the picker; a failure is reported in the program's own box.
    void folderPicker_data()
    {
        QTest::addColumn<bool>("storeGone");
        QTest::newRow("new folder") << false;
        QTest::newRow("address book gone") << true;
    }

    void folderPicker()
    {
        QFETCH(bool, storeGone);
        QtFolderPicker picker(b->boxes);
        WhenModal<FolderPickerDialog>([&](FolderPickerDialog *dialog) {
            if (storeGone)
                QDir(b->file(QStringLiteral("AddressBooks"))).removeRecursively();
            WhenModal<QInputDialog>([](QInputDialog *input) {
                QTest::keyClicks(input->findChild<QLineEdit *>(), QStringLiteral("Prospects"));
                QTest::keyClick(input, Qt::Key_Return);
            });
            QTest::mouseClick(dialog->cmdNewFolder, Qt::LeftButton);
            QTest::mouseClick(dialog->cmdOK, Qt::LeftButton); // disabled while no folder is chosen
        });
        WhenModal<QMessageBox>([](QMessageBox *) {}); // a box past the script is closed, and missed below
        const auto chosen = picker.pickFolder(*b->ns);
        QCOMPARE(chosen ? chosen->Name() : QString(), storeGone ? QString() : QStringLiteral("Prospects"));
        QCOMPARE(b->boxes.boxes.size(), storeGone ? 1 : 0);
        if (storeGone)
            QVERIFY2(b->boxes.texts()[0].contains(QStringLiteral("'Prospects' could not be created")),
                     qPrintable(b->boxes.texts()[0]));
    }

    // The second import of one file, skipping the people the folder holds: chosen in the picker
    // by the keyboard, counted on the progress window, and kept with the template.
    void skipChosenWithTheFolder()
    {
        QtFolderPicker picker(b->boxes);
        b->services.folders = &picker;
        const QByteArray source = "First,Company,Mail,Phone,Street\r\nAnn,Acme,ann@acme.com,555,1 Main\r\n";
        for (const bool skip : {false, true}) {
            chooseAndVerify(source);
            WhenModal<FolderPickerDialog>([&](FolderPickerDialog *dialog) {
                if (skip)
                    QTest::keyClick(dialog->cboDuplicates, Qt::Key_Down);
                const auto contacts =
                    dialog->tree->findItems(QStringLiteral("Contacts"), Qt::MatchExactly | Qt::MatchRecursive);
                QTest::mouseClick(dialog->tree->viewport(), Qt::LeftButton, {},
                                  dialog->tree->visualItemRect(contacts.value(0)).center());
                QTest::mouseClick(dialog->cmdOK, Qt::LeftButton);
            });
            QTest::mouseClick(m_window->cmdCreate, Qt::LeftButton);
            frmContactImport *progress = m_window->progressWindow();
            QVERIFY(progress);
            QCOMPARE(progress->txtTotalImported->text(), skip ? QString() : QStringLiteral("1"));
            QCOMPARE(progress->txtDuplicates->isVisibleTo(progress), skip);
            QCOMPARE(progress->txtDuplicates->text(), skip ? QStringLiteral("1") : QString());
            QTest::mouseClick(progress->cmdOK, Qt::LeftButton);
        }
        QCOMPARE(b->contactsIn(QStringLiteral("Contacts")).size(), 1);
        b->state.templateName = QStringLiteral("Fair leads");
        QVERIFY(FindTemplate(b->state, b->services, FindMode::Read));
        QCOMPARE(b->state.duplicatePolicy, DuplicatePolicy::Skip);
    }

    // "Connect to Server..." adds a server with its address books; "New Folder..." on it makes an
    // address book there; a wrong password is reported and adds nothing.
    void connectToServer_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("newFolder");
        QTest::newRow("address book") << "s3cret"
                                      << "";
        QTest::newRow("new address book") << "s3cret"
                                          << "Prospects";
        QTest::newRow("wrong password") << "wrong"
                                        << "";
    }

    void connectToServer()
    {
        QFETCH(QString, password);
        QFETCH(QString, newFolder);
        DavServer server({});
        if (!server.running())
            QSKIP(qPrintable(server.why()));
        qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // no password store on any machine
        qunsetenv("XDG_RUNTIME_DIR");
        QtServerLogins logins(b->boxes);
        b->services.logins = &logins;
        QtFolderPicker picker(b->boxes, &logins);
        bool rememberOffered = true;
        WhenModal<FolderPickerDialog>([&](FolderPickerDialog *dialog) {
            WhenModal<ServerLoginDialog>([&](ServerLoginDialog *login) {
                rememberOffered = login->chkRemember->isEnabled();
                QTest::keyClicks(login->txtAddress, server.url().toString());
                QTest::keyClicks(login->txtUser, QStringLiteral("ann"));
                QTest::keyClicks(login->txtPassword, password);
                QTest::mouseClick(login->cmdOK, Qt::LeftButton);
            });
            QTest::mouseClick(dialog->cmdConnect, Qt::LeftButton);
            const auto servers =
                dialog->tree->findItems(server.url().toString(QUrl::StripTrailingSlash), Qt::MatchExactly);
            if (servers.isEmpty() || !servers[0]->childCount())
                return;
            const QPoint book = dialog->tree->visualItemRect(servers[0]->child(0)).center();
            QTest::mouseClick(dialog->tree->viewport(), Qt::LeftButton, {}, book);
            if (!newFolder.isEmpty()) {
                WhenModal<QInputDialog>([&](QInputDialog *input) {
                    QTest::keyClicks(input->findChild<QLineEdit *>(), newFolder);
                    QTest::keyClick(input, Qt::Key_Return);
                });
                QTest::mouseClick(dialog->cmdNewFolder, Qt::LeftButton);
            }
            QTest::mouseClick(dialog->cmdOK, Qt::LeftButton);
        });
        const auto chosen = picker.pickFolder(*b->ns);
        QVERIFY(!rememberOffered);
        if (password != QStringLiteral("s3cret")) {
            QVERIFY(!chosen);
            QCOMPARE(b->ns->Stores().size(), 1);
            QCOMPARE(b->boxes.boxes.size(), 1);
            QVERIFY2(b->boxes.texts()[0].contains(QStringLiteral("refused the user name or password")),
                     qPrintable(b->boxes.texts()[0]));
            return;
        }
        QVERIFY2(b->boxes.boxes.isEmpty(), qPrintable(b->boxes.texts().join('\n')));
        QVERIFY(chosen);
        if (newFolder.isEmpty()) {
            QCOMPARE(chosen->EntryID(), server.addressBookUrl().toString());
        } else {
            QCOMPARE(chosen->Name(), newFolder);
            QVERIFY(chosen->EntryID().startsWith(server.url().toString()));
        }
    }
};

QTEST_MAIN(TestImportWindow)
#include "tst_importwindow.moc"
