#include "ImportFixtures.h"
#include "app/frmContactImport.h"
#include "app/frmMirelImportMain.h"
#include "editor/FieldCatalogTree.h"
#include "editor/ui/CatalogTreeView.h"
#include "editor/ui/MappingListView.h"
#include "editor/ui/frmTemplate.h"
#include "platform/VCardStore.h"
#include "store/TemplateStore.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDrag>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

const QString kCaption = QStringLiteral("ContactMirel - Create/Edit Import Template");
const QString kTypeCsh = QStringLiteral("CSH - Text/CSV Comma Del w/ Hdr");

// Keeps the last object made a child of the watched one: the drag a press and a move begin.
struct ChildCatcher : QObject {
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded)
            child = static_cast<QChildEvent *>(event)->child();
        return false;
    }
    QPointer<QObject> child;
};

// A drag begun by the mouse: a press at `at` and a move with the button held. Returns a copy of
// the data the drag carries, or nullptr when no drag began.
std::unique_ptr<QMimeData> beginDrag(QAbstractItemView *view, QPoint at)
{
    ChildCatcher catcher;
    view->installEventFilter(&catcher);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseMove(view->viewport(), at + QPoint(0, 6));
    view->removeEventFilter(&catcher);
    const auto *drag = qobject_cast<QDrag *>(catcher.child.data());
    if (!drag)
        return nullptr;
    auto carried = std::make_unique<QMimeData>();
    for (const QString &format : drag->mimeData()->formats())
        carried->setData(format, drag->mimeData()->data(format));
    return carried;
}

// The drag ends over `at` in the view, as the window system delivers it: it enters, and is
// dropped when the view takes it.
void endDrag(QAbstractItemView *view, QPoint at, const QMimeData *carried)
{
    QDragEnterEvent enter(at, Qt::MoveAction, carried, Qt::LeftButton, {});
    QCoreApplication::sendEvent(view->viewport(), &enter);
    if (!enter.isAccepted())
        return;
    QDropEvent drop(at, Qt::MoveAction, carried, Qt::LeftButton, {});
    QCoreApplication::sendEvent(view->viewport(), &drop);
}

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
    // A drag with the mouse onto a row of the list (a row past the last drops below it), from a
    // node of the tree (its key; "" for the tree's empty space) or from a row of the list ("row2").
    void drag(const QString &from, int toRow)
    {
        QTreeWidget *source = editor->TV;
        QPoint start(4, source->viewport()->height() - 4);
        if (from.startsWith(QLatin1String("row"))) {
            source = editor->LV;
            start = source->visualItemRect(source->topLevelItem(from.mid(3).toInt())).center();
        } else if (!from.isEmpty()) {
            QTreeWidgetItem *node = FindCatalogItem(source, from);
            source->scrollToItem(node);
            start = source->visualItemRect(node).center();
        }
        QVERIFY(from.isEmpty() == !source->itemAt(start));
        const std::unique_ptr<QMimeData> carried = beginDrag(source, start);
        if (!carried)
            return;
        QTreeWidgetItem *target = editor->LV->topLevelItem(toRow);
        endDrag(editor->LV,
                target ? editor->LV->visualItemRect(target).center() : QPoint(4, editor->LV->viewport()->height() - 4),
                carried.get());
    }
    // A stored template chosen with "Select Existing" and the keyboard.
    void open(const QString &name)
    {
        QTest::mouseClick(editor->optExisting, Qt::LeftButton);
        editor->cboTemplates2->setCurrentIndex(editor->cboTemplates2->findText(name) - 1);
        QTest::keyClick(editor->cboTemplates2, Qt::Key_Down);
    }
    QStringList rowTexts(int row) const
    {
        const QTreeWidgetItem *item = editor->LV->topLevelItem(row);
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }
    QVariant db(const QString &sql, const QVariantList &params = {}) { return state.connection->scalar(sql, params); }

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
        b.drag(QStringLiteral("##COStreet1"), 2);
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
        b.drag(QStringLiteral("JobTitle"), 0);
        b.editor->cmdUpdate_Click();
        QCOMPARE(
            b.db(QStringLiteral(
                     "SELECT group_concat(TMP_OLKEY) FROM (SELECT TMP_OLKEY FROM Tmplt0001 ORDER BY TMP_SRCCOLNUM)"))
                .toString(),
            QStringLiteral("JobTitle,UDRegion,##COStreet1"));
        QCOMPARE(b.db(QStringLiteral("SELECT count(*) FROM tblTmpltIndex")).toInt(), 1);
        QVERIFY(b.boxes.problems().isEmpty());
    }

    // Gestures, then Save/Update: the store holds what the editor shows of the template saved, and
    // no other template changes. Templates at hand: Full (Tmplt0001), Lines (0002), Leads (0003,
    // custom-form folder); a sample "A,B,C" becomes Saved (0004).
    void gesturesThenSave_data()
    {
        QTest::addColumn<QStringList>("gestures");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("stored");
        const QString keys = QStringLiteral("SELECT group_concat(coalesce(TMP_OLKEY, '')) FROM (SELECT TMP_OLKEY FROM "
                                            "Tmplt0004 ORDER BY TMP_SRCCOLNUM)");
        const QString full =
            QStringLiteral("SELECT TM_DESC || TM_NOOFCOLS FROM tblTmpltIndex WHERE TM_ID = 'Tmplt0001'");
        const QString form =
            QStringLiteral("SELECT TM_CUSTOMFORM || '|' || TM_CUSTOMFORMNAME || '|' || TM_CUSTOMFIELDS "
                           "FROM tblTmpltIndex WHERE TM_ID = 'Tmplt0003'");
        // "key>row": a tree node (or "" for empty tree space) dragged onto a row; "row0>row": a row dragged.
        QTest::newRow("street line replaced")
            << QStringList{"sample", "##COStreet1>0", "JobTitle>0"}
            << "SELECT TM_COMBBADDR || '' FROM tblTmpltIndex WHERE TM_ID = 'Tmplt0004'"
            << "0";
        QTest::newRow("row dropped below the last")
            << QStringList{"sample", "CompanyName>0", "row0>9", "JobTitle>1"} << keys << "CompanyName,JobTitle,";
        QTest::newRow("row refused as a group")
            << QStringList{"sample", "CompanyName>0", "@@Names>1", "row0>1", "JobTitle>2"} << keys
            << "CompanyName,,JobTitle";
        QTest::newRow("press over empty tree space") << QStringList{"sample", "JobTitle>9", ">1"} << keys << ",,";
        QTest::newRow("opened after a full street")
            << QStringList{"open Full", "open Lines", "##COStreet1>0"}
            << "SELECT TM_COMBBADDR || '' FROM tblTmpltIndex WHERE TM_ID = 'Tmplt0002'"
            << "-1";
        QTest::newRow("Create New chosen") << QStringList{"open Full", "click optNew"} << full << "Full1";
        QTest::newRow("a template picked that is gone")
            << QStringList{"open Full", "gone Lines", "open Lines"} << full << "Full1";
        QTest::newRow("main window read another meanwhile")
            << QStringList{"click cmdClear", "pick Full", "retrieve Leads", "activate"}
            << "SELECT TM_DEFAULTFOLDER || TM_CUSTOMFORM FROM tblTmpltIndex WHERE TM_ID = 'Tmplt0001'" << "00";
        QTest::newRow("custom form kept") << QStringList{"open Leads"} << form << "-1|IPM.Contact.Lead|2";
        QTest::newRow("re-pointed to a plain folder")
            << QStringList{"open Leads", "click optOnImport", "folder Contacts"} << form << "0||0";
    }

    void gesturesThenSave()
    {
        QFETCH(QStringList, gestures);
        QFETCH(QString, query);
        QFETCH(QString, stored);
        EditorBench b;
        b.makeTemplate(QStringLiteral("Full"), QStringLiteral("CSH"),
                       {{1, "Street", "CO Street Address (Full)", "BusinessAddressStreet"}});
        b.makeTemplate(QStringLiteral("Lines"), QStringLiteral("CSH"), {{1, "Line", "", ""}});
        b.makeTemplate(QStringLiteral("Leads"), QStringLiteral("CSH"), {{1, "Name", "", ""}});
        b.db(
            QStringLiteral("UPDATE tblTmpltIndex SET TM_DEFAULTFOLDER = -1, TM_FOLDERNAME = 'Leads', TM_ENTRYID = 'x', "
                           "TM_CUSTOMFORM = -1, TM_CUSTOMFORMNAME = 'IPM.Contact.Lead', TM_CUSTOMFIELDS = 2 "
                           "WHERE TM_DESC = 'Leads'"));
        b.editor->Form_Activate();
        for (const QString &gesture : gestures) {
            const QString word = gesture.section(QLatin1Char(' '), 0, 0);
            const QString what = gesture.section(QLatin1Char(' '), 1);
            if (word == QLatin1String("sample")) {
                b.sample("A,B,C\r\n");
                QTest::keyClicks(b.editor->txtTemplateName, QStringLiteral("Saved"));
            } else if (word == QLatin1String("open")) {
                b.open(what);
            } else if (word == QLatin1String("click")) {
                QTest::mouseClick(b.editor->findChild<QAbstractButton *>(what), Qt::LeftButton);
            } else if (word == QLatin1String("folder")) {
                b.folders.answers = {what};
                QTest::mouseClick(b.editor->optFldrDefault, Qt::LeftButton);
            } else if (word == QLatin1String("pick")) { // from the list that Clear leaves under "Create New"
                b.editor->cboTemplates2->setCurrentIndex(b.editor->cboTemplates2->findText(what) - 1);
                QTest::keyClick(b.editor->cboTemplates2, Qt::Key_Down);
            } else if (word == QLatin1String("retrieve")) { // "Retrieve It" in the main window
                b.state.templateName = what;
                QVERIFY(FindTemplate(b.state, b.services, kFindRead));
            } else if (word == QLatin1String("activate")) {
                b.editor->Form_Activate();
            } else if (word == QLatin1String("gone")) {
                b.db(QStringLiteral("DELETE FROM tblTmpltIndex WHERE TM_DESC = ?"), {what});
            } else {
                b.drag(gesture.section(QLatin1Char('>'), 0, 0), gesture.section(QLatin1Char('>'), 1).toInt());
            }
        }
        QTest::mouseClick(b.editor->cmdUpdate, Qt::LeftButton);
        QCOMPARE(b.db(query).toString(), stored);
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

        // Save/Update checks the length itself, at every press.
        b.boxes.clear();
        QTest::keyClicks(b.editor->txtTemplateName, QString(31, QLatin1Char('n')));
        QTest::mouseClick(b.editor->cmdUpdate, Qt::LeftButton);
        QTest::mouseClick(b.editor->cmdUpdate, Qt::LeftButton);
        QVERIFY(b.boxes.texts().size() >= 2);
        QCOMPARE(b.boxes.texts().count(QStringLiteral("Template Name cannot exceed 30 characters")),
                 b.boxes.texts().size());
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
        b.drag(QStringLiteral("@@PhoneNumbers"), 0);
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
