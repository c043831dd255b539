#include "ImportFixtures.h"
#include "app/frmContactImport.h"
#include "app/frmMirelImportMain.h"
#include "editor/FieldCatalogTree.h"
#include "editor/frmTemplate.h"
#include "platform/VCardStore.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

const QString kCaption = QStringLiteral("ContactMirel - Create/Edit Import Template");
const QString kTypeCsh = QStringLiteral("CSH - Text/CSV Comma Del w/ Hdr");

// An editor shown as "Map It" shows it, over a fresh database and address book.
struct EditorBench : ImportBench {
    EditorBench() : editor(new frmTemplate(state, services, &home))
    {
        editor->Form_Activate();
        editor->show();
    }
    ~EditorBench() { delete editor; }

    void chooseType(const QString &type)
    {
        editor->cboFileTypes->setCurrentText(type);
        editor->cboFileTypes_Click();
    }
    // A sample CSV loaded the way "Get Sample Source File" loads it.
    void sample(const QByteArray &text, const QString &type = kTypeCsh)
    {
        chooseType(type);
        files.answers = {writeSource(QStringLiteral("sample.csv"), text)};
        editor->cmdGetSample_Click();
    }
    // A catalog node dropped on a row, through the window's own gesture handlers.
    void map(const QString &key, int row)
    {
        editor->TV->setCurrentItem(FindCatalogItem(editor->TV, key));
        editor->TV_MouseDown(key);
        editor->dragState().treeDragActive = true;
        editor->LV_DragOver(row);
        editor->LV_DragDrop(row);
    }
    QStringList rowTexts(int row) const
    {
        const QTreeWidgetItem *item = editor->LV->topLevelItem(row);
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }
    QVariant db(const QString &sql) { return state.connection->scalar(sql); }

    QWidget home;
    frmTemplate *editor;
};

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

private slots:
    void captions_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("caption");
        const QList<std::pair<const char *, const char *>> captions{{"cmdExit", "Exit"},
                                                                    {"cmdAddUserFields", "Add User Fields"},
                                                                    {"Frame3", "Outlook Folder Manager"},
                                                                    {"optOnImport", "Select when Importing"},
                                                                    {"optFldrDefault", "Select Default"},
                                                                    {"Frame2", " Template Manager"},
                                                                    {"optExisting", "Select Existing"},
                                                                    {"optNew", "Create New"},
                                                                    {"cmdClear", "Clear"},
                                                                    {"cmdDelete", "Delete"},
                                                                    {"cmdUpdate", "Save/Update"},
                                                                    {"cmdGetSample", "Get Sample Source File"},
                                                                    {"lblCustomForm", "Uses Custom Form"},
                                                                    {"lblXLSName", "Sheet/Table Name:"},
                                                                    {"lblTmpltName", "Enter Tmplt Name:"},
                                                                    {"lblTableNames", "Source File Table/Sheet Names"},
                                                                    {"lblFileType", "Select File Type:"},
                                                                    {"lblTemplate", "Select Template:"},
                                                                    {"Label2", "Outlook Fields  "},
                                                                    {"lblColNames", "Source File Column Names"},
                                                                    {"mnuFile", "&File"},
                                                                    {"mnuExit", "&Exit"},
                                                                    {"mnuHelp", "&Help"},
                                                                    {"mnuContents", "&Contents"},
                                                                    {"mnuHelpWeb", "ContactMirel &Website"},
                                                                    {"mnuHelpAbout", "&About"}};
        for (const auto &[control, caption] : captions)
            QTest::newRow(control) << control << caption;
    }

    void captions()
    {
        QFETCH(QString, control);
        QFETCH(QString, caption);
        EditorBench b;
        QCOMPARE(b.editor->windowTitle(), kCaption);
        QObject *found = b.editor->findChild<QObject *>(control);
        QVERIFY2(found, qPrintable(control));
        QString text;
        if (auto *button = qobject_cast<QAbstractButton *>(found))
            text = button->text();
        else if (auto *label = qobject_cast<QLabel *>(found))
            text = label->text();
        else if (auto *frame = qobject_cast<QGroupBox *>(found))
            text = frame->title();
        else if (auto *action = qobject_cast<QAction *>(found))
            text = action->text();
        else if (auto *menu = qobject_cast<QMenu *>(found))
            text = menu->title();
        QCOMPARE(text, caption);
    }

    void stateAfterActivation()
    {
        EditorBench b;
        QVERIFY(b.editor->optNew->isChecked());
        QCOMPARE(b.editor->cboFileTypes->count(), 4);
        QCOMPARE(b.editor->cboFileTypes->currentText(), QString());
        QVERIFY(b.editor->LB->isVisible() && !b.editor->LV->isVisible()); // one place, one list
        for (QWidget *w : {static_cast<QWidget *>(b.editor->cmdGetSample), static_cast<QWidget *>(b.editor->cmdDelete),
                           static_cast<QWidget *>(b.editor->cmdUpdate)})
            QVERIFY(!w->isEnabled());
        QCOMPARE(b.editor->TV->topLevelItemCount(), 15);
        QVERIFY(!b.editor->dragCursor().isNull()); // "dragcol"
        b.chooseType(QStringLiteral("XLN - Excel w/o Header"));
        QCOMPARE(b.state.fileType, QStringLiteral("XLN"));
        QVERIFY(b.editor->cmdGetSample->isEnabled());
    }

    void newTemplateSavedAndReopened()
    {
        EditorBench b;
        b.sample("First Name,Region,Street\r\nAnn,North,1 Main\r\n");
        QVERIFY(b.editor->LV->isVisible());
        QCOMPARE(b.rowTexts(0), (QStringList{"1", "First Name", "First Name", "FirstName"}));
        QVERIFY(b.editor->cmdUpdate->isEnabled());
        QVERIFY(b.editor->optOnImport->isChecked());
        b.map(QStringLiteral("##COStreet1"), 2);
        QCOMPARE(b.rowTexts(2), (QStringList{"3", "Street", "CO Street Addr1", "##COStreet1"}));
        QVERIFY(b.state.business.streetLines);
        b.boxes.answer(MessageBoxes::Answer::Yes);
        b.editor->cmdAddUserFields_Click();
        QCOMPARE(b.rowTexts(1), (QStringList{"2", "Region", "USERDEFINED", "UDRegion"}));

        b.editor->txtTemplateName->setText(QStringLiteral("Fair leads"));
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.db(QStringLiteral(
                          "SELECT TM_ID || '|' || TM_FILETYPE || '|' || TM_NOOFCOLS || '|' || TM_COMBBADDR || '|' "
                          "|| TM_DEFAULTFOLDER FROM tblTmpltIndex"))
                     .toString(),
                 QStringLiteral("Tmplt0001|CSH|3|-1|0"));
        QCOMPARE(b.db(QStringLiteral("SELECT SYS_CURTMPLTNUM FROM tblSysParms")).toInt(), 1);
        QCOMPARE(b.editor->cboTemplates2->findText(QStringLiteral("Fair leads")), 0);
        QVERIFY(b.editor->optNew->isChecked()); // cleared after the save
        QVERIFY(!b.state.editPending);
        QVERIFY(!b.state.business.streetLines);

        b.editor->optExisting->setChecked(true);
        b.editor->cboTemplates2->setCurrentIndex(0);
        b.editor->cboTemplates2_Click();
        QCOMPARE(b.editor->LV->topLevelItemCount(), 3);
        QCOMPARE(b.rowTexts(1), (QStringList{"2", "Region", "USERDEFINED", "UDRegion"}));
        QCOMPARE(b.rowTexts(2), (QStringList{"3", "Street", "CO Street Addr1", "##COStreet1"}));
        QVERIFY(b.state.business.streetLines);
        QVERIFY(b.editor->txtXLSName->isHidden());
        QVERIFY(b.editor->cmdDelete->isEnabled());
        QVERIFY(b.state.editPending);

        // Saved again in place: the same table, rows rewritten in list order.
        b.map(QStringLiteral("JobTitle"), 0);
        b.editor->cmdUpdate_Click();
        QCOMPARE(
            b.db(QStringLiteral(
                     "SELECT group_concat(TMP_OLKEY) FROM (SELECT TMP_OLKEY FROM Tmplt0001 ORDER BY TMP_SRCCOLNUM)"))
                .toString(),
            QStringLiteral("JobTitle,UDRegion,##COStreet1"));
        QCOMPARE(b.db(QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 1);
        QVERIFY(b.boxes.problems().isEmpty());
    }

    void workbookWithThreeSheets()
    {
        EditorBench b;
        b.chooseType(QStringLiteral("XLH - Excel w/ Header"));
        b.files.answers = {QStringLiteral(MIREL_FIXTURES "/three_sheets.xls")};
        b.editor->cmdGetSample_Click();
        QVERIFY(b.editor->LB->isVisible());
        QCOMPARE(b.editor->LB->count(), 3);
        QCOMPARE(b.editor->LB->item(2)->text(), QStringLiteral("Données"));
        QVERIFY(!b.editor->cmdUpdate->isEnabled());
        QVERIFY(b.editor->txtTemplateName->isVisible());
        b.editor->LB->setCurrentRow(1);
        b.editor->LB_Click();
        QVERIFY(b.editor->LV->isVisible() && !b.editor->LB->isVisible());
        QCOMPARE(b.editor->txtXLSName->text(), QStringLiteral("Clients été"));
        QCOMPARE(b.editor->LV->topLevelItemCount(), 2);
        QVERIFY(b.editor->cmdUpdate->isEnabled());
        b.editor->txtTemplateName->setText(QStringLiteral("Sheets"));
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.db(QStringLiteral("SELECT TM_SHTTBLNAME || TM_HDRSYN FROM tblTmpltIndex")).toString(),
                 QStringLiteral("Clients été-1"));

        // A workbook with one sheet loads at once.
        b.chooseType(QStringLiteral("XLH - Excel w/ Header"));
        b.files.answers = {QStringLiteral(MIREL_FIXTURES "/one_sheet.xls")};
        b.editor->cmdGetSample_Click();
        QCOMPARE(b.state.sheetName, QStringLiteral("Contacts"));
        QCOMPARE(b.editor->LV->topLevelItemCount(), 4);
        QVERIFY(b.editor->cmdUpdate->isEnabled());
    }

    void sampleProblems()
    {
        EditorBench b;
        b.editor->cmdGetSample_Click();
        QCOMPARE(b.boxes.texts(), QStringList{"You have to select a valid File Type before selecting the file"});
        b.boxes.clear();
        b.sample("1,2,3\r\n"); // numbers as names: the load fails and the editor is cleared
        QCOMPARE(b.boxes.texts().size(), 1);
        QVERIFY(b.boxes.texts()[0].startsWith(QStringLiteral("The file you have selected does not have valid names")));
        QVERIFY(!b.editor->cmdUpdate->isEnabled());
        QVERIFY(!b.editor->TV->isEnabled());
        b.boxes.clear();
        b.chooseType(QStringLiteral("XLH - Excel w/ Header"));
        b.files.answers = {QStringLiteral(MIREL_FIXTURES "/bom.csv")};
        b.editor->cmdGetSample_Click();
        QCOMPARE(b.boxes.texts(), QStringList{"Could not open Excel spreadsheet"});
    }

    void templateNames()
    {
        EditorBench b;
        b.sample("Name\r\n");
        b.editor->txtTemplateName->setText(QString(31, QLatin1Char('n')));
        QVERIFY(!b.editor->txtTemplateName_Validate());
        QCOMPARE(b.boxes.texts(), QStringList{"Template Name cannot exceed 30 characters"});
        b.editor->txtTemplateName->setText(QString(30, QLatin1Char('n')));
        b.state.editPending = false;
        QVERIFY(b.editor->txtTemplateName_Validate());
        QVERIFY(b.state.editPending);

        // Enter moves on to the next control (and runs the check on the way).
        b.editor->activateWindow();
        b.editor->txtTemplateName->setFocus();
        QTest::keyClick(b.editor->txtTemplateName, Qt::Key_Return);
        QVERIFY(!b.editor->txtTemplateName->hasFocus());

        b.boxes.clear();
        b.editor->txtTemplateName->clear();
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.boxes.texts(), QStringList{"Please Enter a Description for this new template"});
        QCOMPARE(b.db(QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 0);
    }

    void takenNameAndFailedSaveKeepEverything()
    {
        EditorBench b;
        b.makeTemplate(QStringLiteral("Taken"), QStringLiteral("CSN"), {{1, "F1", "", ""}});
        b.editor->Form_Activate();
        const QVariant counter = b.db(QStringLiteral("SELECT SYS_CURTMPLTNUM FROM tblSysParms"));
        b.sample("Name,City\r\n");
        b.editor->txtTemplateName->setText(QStringLiteral("TAKEN"));
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.boxes.texts(), QStringList{"A template by this name already exists"});
        QCOMPARE(b.db(QStringLiteral("SELECT SYS_CURTMPLTNUM FROM tblSysParms")), counter);
        QCOMPARE(b.editor->LV->topLevelItemCount(), 2);

        // A column name too long for the store fails the save half-way: nothing is kept.
        b.boxes.clear();
        b.sample("Name," + QByteArray(60, 'x') + "\r\n");
        b.editor->txtTemplateName->setText(QStringLiteral("Half"));
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.boxes.texts().size(), 1);
        QVERIFY(b.boxes.texts()[0].startsWith(QStringLiteral("FILE")));
        QCOMPARE(b.db(QStringLiteral("SELECT SYS_CURTMPLTNUM FROM tblSysParms")), counter);
        QCOMPARE(b.db(QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 1);
        QCOMPARE(b.db(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'Tmplt0002'")).toInt(), 0);
        QCOMPARE(b.editor->txtTemplateName->text(), QStringLiteral("Half")); // kept for another try
        QCOMPARE(b.editor->LV->topLevelItemCount(), 2);
    }

    void deleteThenNextNumber()
    {
        EditorBench b;
        b.sample("Name\r\n");
        b.editor->txtTemplateName->setText(QStringLiteral("One"));
        b.editor->cmdUpdate_Click();
        b.editor->optExisting->setChecked(true);
        b.editor->cboTemplates2->setCurrentIndex(b.editor->cboTemplates2->findText(QStringLiteral("One")));
        b.editor->cboTemplates2_Click();
        b.editor->cmdDelete_Click(); // asks nothing
        QCOMPARE(b.editor->cboTemplates2->findText(QStringLiteral("One")), -1);
        QCOMPARE(b.db(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'Tmplt0001'")).toInt(), 0);
        QCOMPARE(b.db(QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 0);
        QCOMPARE(b.editor->LV->topLevelItemCount(), 0);
        b.sample("Name\r\n");
        b.editor->txtTemplateName->setText(QStringLiteral("Two"));
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.db(QStringLiteral("SELECT TM_ID FROM tblTmpltIndex")).toString(), QStringLiteral("Tmplt0002"));
        QVERIFY(b.boxes.boxes.isEmpty());
    }

    void folderOptions()
    {
        EditorBench b;
        auto leads = b.folder(QStringLiteral("Leads"));
        auto first = leads->Items()->Add(QStringLiteral("IPM.Contact.Lead"));
        first->Close(outlook::olSave);
        b.sample("Name,Region\r\n");
        b.boxes.answer(MessageBoxes::Answer::Yes);
        b.editor->cmdAddUserFields_Click(); // both rows become user-defined

        // A custom-form folder while rows are user-defined: refused once, back to "when importing".
        b.customForms.answer = true;
        b.folders.answers = {QStringLiteral("Leads")};
        b.editor->optFldrDefault->setChecked(true);
        QCOMPARE(b.boxes.texts().last(), QStringLiteral("You cannot have fields set to <USERDEFINED> and select a "
                                                        "contact folder that also has a custom form attached to it"));
        QCOMPARE(b.boxes.boxes.last().title, kCaption);
        QCOMPARE(b.boxes.boxes.size(), 2);
        QVERIFY(b.editor->optOnImport->isChecked());
        QVERIFY(!b.state.defaultFolder);
        QVERIFY(b.editor->txtFolderName->isHidden());
        QVERIFY(b.editor->isVisible());

        // Cancelled: still "when importing".
        b.folders.answers = {QString()};
        b.editor->optFldrDefault->setChecked(true);
        QVERIFY(b.editor->optOnImport->isChecked());

        // A plain folder is accepted with user-defined rows, and saved with the template.
        b.folders.answers = {QStringLiteral("Contacts")};
        b.editor->optFldrDefault->setChecked(true);
        QVERIFY(b.state.defaultFolder);
        QCOMPARE(b.editor->txtFolderName->text(), QStringLiteral("Contacts"));
        QVERIFY(b.editor->txtFolderName->isVisible());
        QVERIFY(b.editor->cmdAddUserFields->isEnabled());
        b.editor->txtTemplateName->setText(QStringLiteral("Fixed"));
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.db(QStringLiteral("SELECT TM_DEFAULTFOLDER || '|' || TM_FOLDERNAME FROM tblTmpltIndex")).toString(),
                 QStringLiteral("-1|Contacts"));
        QCOMPARE(b.db(QStringLiteral("SELECT TM_ENTRYID FROM tblTmpltIndex")).toString(),
                 b.folder("Contacts")->EntryID());

        // Opened again: the folder shows and no folder is asked for until "when importing" is chosen.
        b.editor->optExisting->setChecked(true);
        b.editor->cboTemplates2->setCurrentIndex(b.editor->cboTemplates2->findText(QStringLiteral("Fixed")));
        b.editor->cboTemplates2_Click();
        QVERIFY(b.editor->optFldrDefault->isChecked());
        QCOMPARE(b.editor->txtFolderName->text(), QStringLiteral("Contacts"));
        QCOMPARE(b.folders.shown, 3);
        b.editor->optOnImport->setChecked(true);
        b.editor->cmdUpdate_Click();
        QCOMPARE(b.db(QStringLiteral("SELECT TM_DEFAULTFOLDER || '|' || TM_FOLDERNAME || '|' || TM_ENTRYID FROM "
                                     "tblTmpltIndex"))
                     .toString(),
                 QStringLiteral("0||"));

        // A custom-form folder without user-defined rows is taken, and the label shows.
        b.sample("Name\r\n");
        b.folders.answers = {QStringLiteral("Leads")};
        b.editor->optFldrDefault->setChecked(true);
        QVERIFY(b.state.defaultFolder);
        QVERIFY(b.editor->lblCustomForm->isVisible());
        QVERIFY(!b.editor->cmdAddUserFields->isEnabled());
    }

    void leaving()
    {
        EditorBench b;
        b.editor->cmdExit_Click(); // nothing pending: no question
        QVERIFY(!b.editor->isVisible());
        QVERIFY(b.home.isVisible());
        QVERIFY(b.boxes.boxes.isEmpty());

        b.editor->Form_Activate();
        b.editor->show();
        b.state.editPending = true;
        b.boxes.answer(MessageBoxes::Answer::No);
        b.editor->mnuExit->trigger();
        QVERIFY(b.editor->isVisible());
        QCOMPARE(b.boxes.texts(),
                 QStringList{"You have not saved/updated you latest entries - do you still wish to Exit?"});
        QCOMPARE(b.boxes.boxes[0].title, kCaption);
        QCOMPARE(b.boxes.boxes[0].buttons, MessageBoxes::Buttons::YesNo);
        b.boxes.answer(MessageBoxes::Answer::No);
        QVERIFY(!b.editor->close()); // the close box asks too, and No keeps the editor
        QVERIFY(b.editor->isVisible());
        b.boxes.answer(MessageBoxes::Answer::Yes);
        b.editor->cmdExit_Click();
        QVERIFY(!b.editor->isVisible());
        QVERIFY(!b.state.editPending);
    }

    void groupDropOpensTheGroup()
    {
        EditorBench b;
        b.sample("Name\r\n");
        b.map(QStringLiteral("@@PhoneNumbers"), 0);
        QVERIFY(FindCatalogItem(b.editor->TV, QStringLiteral("@@PhoneNumbers"))->isExpanded());
        QCOMPARE(b.boxes.texts().size(), 1);
        QCOMPARE(b.rowTexts(0)[3], QString());
    }

    void wholeJourney()
    {
        ImportBench b;
        frmMirelImportMain window(b.state, b.services);
        window.show();
        QTest::mouseClick(window.cmdMapIt, Qt::LeftButton);
        frmTemplate *editor = window.templateEditor();
        QVERIFY(editor && editor->isVisible() && !window.isVisible());

        editor->cboFileTypes->setCurrentText(kTypeCsh);
        editor->cboFileTypes_Click();
        b.files.answers = {b.writeSource(QStringLiteral("sample.csv"), "Who,Company Name,Phone,Mail\r\n")};
        QTest::mouseClick(editor->cmdGetSample, Qt::LeftButton);
        for (const auto &[key, row] :
             QList<std::pair<QString, int>>{{"FullName", 0}, {"BusinessTelephoneNumber", 2}, {"EmailAddress", 3}}) {
            editor->TV->setCurrentItem(FindCatalogItem(editor->TV, key));
            editor->TV_MouseDown(key);
            editor->LV_DragOver(row);
            editor->LV_DragDrop(row);
        }
        editor->txtTemplateName->setText(QStringLiteral("Journey"));
        QTest::mouseClick(editor->cmdUpdate, Qt::LeftButton);
        QTest::mouseClick(editor->cmdExit, Qt::LeftButton);
        QVERIFY(window.isVisible());
        QCOMPARE(window.cboTemplates1->itemText(0), QStringLiteral("Journey"));

        window.cboTemplates1->setFocus();
        QTest::keyClick(window.cboTemplates1, Qt::Key_Down);
        b.files.answers = {b.writeSource(QStringLiteral("in.csv"), "Who,Company Name,Phone,Mail\r\n"
                                                                   "Ann Lee,Acme,555-0100,ann@acme.com\r\n"
                                                                   ",,,\r\n"
                                                                   ",Bolt,,bad\r\n")};
        QTest::mouseClick(window.cmdRetrieve, Qt::LeftButton);
        b.folders.answers = {QStringLiteral("Contacts")};
        QTest::mouseClick(window.cmdCreate, Qt::LeftButton);
        frmContactImport *progress = window.progressWindow();
        QCOMPARE(progress->txtTotalImported->text(), QStringLiteral("2"));
        QCOMPARE(progress->txtBlankContacts->text(), QStringLiteral("1"));
        QCOMPARE(progress->txtNoContactName->text(), QStringLiteral("1"));
        QCOMPARE(progress->txtNoCoName->text(), QString());
        QCOMPARE(progress->txtInvalidEmail->text(), QStringLiteral("1"));
        QCOMPARE(progress->txtNoAddr->text(), QStringLiteral("2"));
        QCOMPARE(progress->txtNoPhone->text(), QStringLiteral("1"));
        const auto cards = b.contactsIn(QStringLiteral("Contacts"));
        QCOMPARE(cards.size(), 2);
        QCOMPARE(cards[0].property(QStringLiteral("FullName")), QVariant(QStringLiteral("Ann Lee")));
        QCOMPARE(cards[0].property(QStringLiteral("CompanyName")), QVariant(QStringLiteral("Acme")));
        QCOMPARE(cards[1].property(QStringLiteral("EmailAddress")), QVariant(QStringLiteral("bad")));
        QTest::mouseClick(progress->cmdOK, Qt::LeftButton);
        QVERIFY(window.isVisible());
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
