#include "ImportFixtures.h"
#include "app/frmContactImport.h"
#include "app/frmMirelImportMain.h"
#include "outlook/frmCustomFormInfo.h"
#include "platform/QtFolderPicker.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

namespace {

const MappingRows kTemplate{{1, "First", "First Name", "FirstName"},
                            {2, "Company", "Company Name", "CompanyName"},
                            {3, "Mail", "Primary Email Address", "EmailAddress"},
                            {4, "Phone", "Main Company Number", "BusinessTelephoneNumber"},
                            {5, "Street", "CO Street Addr1", "##COStreet1"}};

QStringList labelsOf(QWidget *window)
{
    QStringList texts;
    for (QLabel *label : window->findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

} // namespace

class TestImportWindow : public QObject {
    Q_OBJECT

private slots:
    void retrieveCreateAndOk()
    {
        ImportBench b;
        b.makeTemplate(QStringLiteral("Fair leads"), QStringLiteral("CSH"), kTemplate);
        frmMirelImportMain window(b.state, b.services);
        window.cmdCreate->setEnabled(false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QTest::mouseClick(window.cmdRetrieve, Qt::LeftButton);
        QCOMPARE(b.boxes.texts(), QStringList{"Please select an existing template first"});

        window.cboTemplates1->setFocus();
        QTest::keyClick(window.cboTemplates1, Qt::Key_Down);
        b.files.answers = {b.writeSource(QStringLiteral("fair.csv"), "First,Company,Mail,Phone,Street\r\n"
                                                                     "Ann,Acme,ann@acme.com,555,1 Main\r\n"
                                                                     ",,,,\r\n")};
        b.boxes.clear();
        QTest::mouseClick(window.cmdRetrieve, Qt::LeftButton);
        QCOMPARE(b.boxes.texts(), QStringList{"The input file has been verified to match the selected template"});
        QVERIFY(window.cmdCreate->isEnabled());
        QCOMPARE(window.LV2->topLevelItemCount(), 5);
        QCOMPARE(window.LV2->topLevelItem(4)->text(3), QStringLiteral("##COStreet1"));

        b.folders.answers = {QStringLiteral("Contacts")};
        QTest::mouseClick(window.cmdCreate, Qt::LeftButton);
        frmContactImport *progress = window.progressWindow();
        QVERIFY(progress);
        QVERIFY(progress->isVisible());
        QVERIFY(!window.isVisible());
        QCOMPARE(progress->windowTitle(), QStringLiteral("ContactMirel Import"));
        QCOMPARE(progress->lblProgress->text(), QStringLiteral("Contact Import Complete - Click OK to continue"));
        QVERIFY(progress->cmdOK->isEnabled());
        QCOMPARE(progress->cmdOK->text(), QStringLiteral("OK"));
        for (const char *text :
             {"Importing Contact#:", "of", "this can take a few minutes depending on the number of contacts",
              "Total Contacts Imported", "Contacts Skippped - Completely blank", "Contacts have no contact name",
              "Contacts have no company name", "Contacts have no or invalid email addresses",
              "Contacts have no physical addresses", "Contacts have no phone numbers"})
            QVERIFY2(labelsOf(progress).contains(QLatin1String(text)), text);
        QCOMPARE(progress->txtContactTotal->text(), QStringLiteral("2"));
        QCOMPARE(progress->txtContactNum->text(), QStringLiteral("2"));
        QCOMPARE(progress->txtTotalImported->text(), QStringLiteral("1"));
        QCOMPARE(progress->txtBlankContacts->text(), QStringLiteral("1"));
        for (QLineEdit *box : {progress->txtNoContactName, progress->txtNoCoName, progress->txtInvalidEmail,
                               progress->txtNoAddr, progress->txtNoPhone})
            QCOMPARE(box->text(), QString()); // a counter that stays at 0 leaves its box empty
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(window.cboTemplates1->currentText(), QString());
        QVERIFY(!window.cmdCreate->isEnabled());
        QVERIFY(!b.state.outlookNamespace);
        QCOMPARE(b.contactsIn(QStringLiteral("Contacts")).size(), 1);

        QTest::mouseClick(progress->cmdOK, Qt::LeftButton);
        QVERIFY(window.isVisible());
        QTRY_VERIFY(!window.progressWindow());

        // A second run needs a choice and a verification of its own, and finds a connection.
        window.cboTemplates1->setFocus();
        QTest::keyClick(window.cboTemplates1, Qt::Key_Down);
        b.files.answers = {b.file(QStringLiteral("fair.csv"))};
        QTest::mouseClick(window.cmdRetrieve, Qt::LeftButton);
        QVERIFY(window.cmdCreate->isEnabled());
        b.folders.answers = {QStringLiteral("Contacts")};
        QTest::mouseClick(window.cmdCreate, Qt::LeftButton);
        QCOMPARE(b.contactsIn(QStringLiteral("Contacts")).size(), 2);
        window.progressWindow()->close(); // its close box does what OK does once the run is over
        QVERIFY(window.isVisible());
    }

    void cancelledFolderChoiceChangesNothing()
    {
        ImportBench b;
        b.makeTemplate(QStringLiteral("T"), QStringLiteral("CSH"), kTemplate);
        frmMirelImportMain window(b.state, b.services);
        window.show();
        window.cboTemplates1->setFocus();
        QTest::keyClick(window.cboTemplates1, Qt::Key_Down);
        b.files.answers = {b.writeSource(QStringLiteral("t.csv"), "First,Company,Mail,Phone,Street\r\n")};
        QTest::mouseClick(window.cmdRetrieve, Qt::LeftButton);
        QTest::mouseClick(window.cmdCreate, Qt::LeftButton); // the picker is cancelled
        QVERIFY(window.isVisible());
        QVERIFY(!window.progressWindow());
        QVERIFY(window.cmdCreate->isEnabled());
    }

    void customFormWindow()
    {
        AppState state;
        state.customFormNotice = QStringLiteral("Notice <text>");
        state.userDefinedFields = {{"Region", "Text"}, {"Score", "Unknown 20"}};
        for (const bool yes : {true, false}) {
            frmCustomFormInfo window(state);
            QCOMPARE(window.windowTitle(), QStringLiteral("Custom Outlook Form Information"));
            QCOMPARE(window.Label1->text(), QStringLiteral("Please read the following before proceeding:"));
            QCOMPARE(window.lblCFInfo->text(), QStringLiteral("Notice <text>"));
            QCOMPARE(window.lblCFInfo->font().family(), QStringLiteral("Arial"));
            QCOMPARE(window.LV3->headerItem()->text(0), QStringLiteral("Column Name"));
            QCOMPARE(window.LV3->headerItem()->text(1), QStringLiteral("Data Type"));
            QCOMPARE(window.LV3->columnCount(), 2);
            QCOMPARE(window.LV3->columnWidth(0), TwipsToPixels(2880, window.LV3->logicalDpiX()));
            QCOMPARE(window.LV3->topLevelItemCount(), 2);
            QCOMPARE(window.LV3->topLevelItem(1)->text(1), QStringLiteral("Unknown 20"));
            QCOMPARE(window.Frame1->title(), QStringLiteral("Do you wish to use this folder?"));
            QCOMPARE(window.optYes->text(), QStringLiteral("Yes"));
            QCOMPARE(window.optNo->text(), QStringLiteral("No"));
            state.useCustomFolder = !yes;
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QRadioButton *option = yes ? window.optYes : window.optNo;
            QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2)); // on its circle
            QCOMPARE(state.useCustomFolder, yes);
            QVERIFY(!window.isVisible());
        }
        state.useCustomFolder = true;
        frmCustomFormInfo closed(state);
        closed.show();
        closed.close(); // its close box counts as No
        QVERIFY(!state.useCustomFolder);
    }

    void folderPickerDialog()
    {
        TestServices t;
        auto app = t.services.createContactApplication(QStringLiteral("Outlook.Application"));
        auto ns = app->GetNamespace(QStringLiteral("MAPI"));
        FolderPickerDialog dialog(*ns);
        QCOMPARE(dialog.tree->topLevelItemCount(), 1);
        QCOMPARE(dialog.tree->topLevelItem(0)->text(0), QStringLiteral("AddressBooks"));
        QCOMPARE(dialog.tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("Contacts"));
        QVERIFY(!dialog.cmdOK->isEnabled());
        dialog.tree->setCurrentItem(dialog.tree->topLevelItem(0)); // a store is not a folder
        QVERIFY(!dialog.cmdOK->isEnabled());
        QVERIFY(!dialog.chosenFolder());

        dialog.newFolder(QStringLiteral("Prospects"));
        QCOMPARE(dialog.chosenFolder()->Name(), QStringLiteral("Prospects"));
        QVERIFY(dialog.cmdOK->isEnabled());
        QCOMPARE(ns->Stores().first()->Folders().size(), 2);

        QTemporaryDir other;
        QDir(other.path()).mkdir(QStringLiteral("Shared"));
        dialog.openStore(other.path());
        QCOMPARE(dialog.tree->topLevelItemCount(), 2);
        QCOMPARE(dialog.tree->topLevelItem(1)->child(0)->text(0), QStringLiteral("Shared"));
    }
};

QTEST_MAIN(TestImportWindow)
#include "tst_importwindow.moc"
