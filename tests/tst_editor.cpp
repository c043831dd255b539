#include "ImportFixtures.h"
#include "app/ui/frmMirelImportMain.h"
#include "editor/ui/CatalogTreeView.h"
#include "editor/ui/FieldCatalogTree.h"
#include "editor/ui/MappingListView.h"
#include "platform/Connection.h"
#include "platform/VCardStore.h"
#include "store/TemplateStore.h"

#include <QComboBox>
#include <QDrag>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {

const QString kTypeCsh = QStringLiteral("CSH - Text/CSV Comma Del w/ Hdr");

// Chooses an entry of a drop-down with the keyboard, as the user does.
void pick(QComboBox *box, const QString &text)
{
    box->setCurrentIndex(box->findText(text) - 1);
    QTest::keyClick(box, Qt::Key_Down);
}

// Clicks a button where its text begins: a wide option's middle may lie past its text.
void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
}

// An editor shown as "Map It" shows it, over a fresh database and address book.
struct EditorBench : ImportBench {
    EditorBench() : own(new frmTemplate(state, services, &home)), editor(own.get())
    {
        editor->Form_Activate();
        editor->show();
    }

    // A sample CSV loaded with "Get Sample Source File".
    void sample(const QByteArray &text)
    {
        pick(editor->cboFileTypes, kTypeCsh);
        files.answers = {writeSource(QStringLiteral("sample.csv"), text)};
        QTest::mouseClick(editor->cmdGetSample, Qt::LeftButton);
    }
    // A drag with the mouse onto a row of the list (a row past the last drops below it; -1 drops
    // on the tree), from a node of the tree (its key; "" for the tree's empty space) or from a row
    // of the list ("row2").
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
        qDeleteAll(source->findChildren<QDrag *>()); // those of earlier drags
        QTest::mousePress(source->viewport(), Qt::LeftButton, {}, start);
        QTest::mouseMove(source->viewport(), start + QPoint(0, 6)); // the press and move begin a drag
        const auto *begun = source->findChild<QDrag *>();
        if (!begun)
            return;
        QMimeData carried; // a copy of the data the drag carries
        for (const QString &format : begun->mimeData()->formats())
            carried.setData(format, begun->mimeData()->data(format));
        // It ends as the window system delivers it: it enters, and is dropped when the view takes it.
        QAbstractItemView *view = toRow < 0 ? static_cast<QAbstractItemView *>(editor->TV) : editor->LV;
        QTreeWidgetItem *target = editor->LV->topLevelItem(toRow);
        const QPoint at = toRow < 0 ? QPoint(4, 4)
                          : target  ? editor->LV->visualItemRect(target).center()
                                    : QPoint(4, editor->LV->viewport()->height() - 4);
        QDragEnterEvent enter(at, Qt::MoveAction, &carried, Qt::LeftButton, {});
        QCoreApplication::sendEvent(view->viewport(), &enter);
        QDropEvent drop(at, Qt::MoveAction, &carried, Qt::LeftButton, {});
        if (enter.isAccepted())
            QCoreApplication::sendEvent(view->viewport(), &drop);
    }
    QVariant db(const QString &sql, const QVariantList &params = {}) { return state.connection->scalar(sql, params); }

    QWidget home;
    std::unique_ptr<frmTemplate> own;
    frmTemplate *editor; // the window under test: this one, or the one the main window opened
};

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<EditorBench> m_b;

private slots:
    void init() { m_b = std::make_unique<EditorBench>(); }
    void cleanup() { m_b.reset(); }

    // Gestures, then Save/Update: the store holds what the editor shows of the template saved, and
    // no other template changes. Templates at hand: Full (Tmplt0001), Lines (0002), Leads (0003,
    // custom-form folder); a sample "A,B,C" becomes Saved (0004). "stored" is `query` read from
    // the index row of template `id`. A refused save, pressed twice, keeps the store, the counter
    // and the entries as they were.
    void gesturesThenSave_data()
    {
        QTest::addColumn<QStringList>("gestures");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("stored");
        const QString keys = QStringLiteral("(SELECT group_concat(coalesce(TMP_OLKEY, '')) FROM (SELECT TMP_OLKEY FROM "
                                            "Tmplt0004 ORDER BY TMP_SRCCOLNUM))");
        const QString form = QStringLiteral("TM_CUSTOMFORM || '|' || TM_CUSTOMFORMNAME || '|' || TM_CUSTOMFIELDS");
        const QString folder = QStringLiteral("TM_DEFAULTFOLDER || TM_FOLDERNAME || TM_CUSTOMFORM");
        // "key>row": a tree node (or "" for empty tree space) dragged onto a row; "row0>row": a row dragged.
        QTest::newRow("street line saved")
            << QStringList{"sample", "##COStreet1>0"} << "TM_COMBBADDR || TM_NOOFCOLS" << 4 << "-13";
        QTest::newRow("saved in place")
            << QStringList{"open Full", "JobTitle>0"}
            << "(SELECT group_concat(TMP_OLKEY) FROM Tmplt0001) || (SELECT count(*) FROM tblTmpltIndex)" << 1
            << "JobTitle3";
        QTest::newRow("street line replaced")
            << QStringList{"sample", "##COStreet1>0", "JobTitle>0"} << "TM_COMBBADDR || ''" << 4 << "0";
        QTest::newRow("row dropped below the last")
            << QStringList{"sample", "CompanyName>0", "row0>9", "JobTitle>1"} << keys << 4 << "CompanyName,JobTitle,";
        QTest::newRow("row moved") << QStringList{"sample", "CompanyName>0", "row0>2"} << keys << 4 << ",,CompanyName";
        QTest::newRow("row dropped on the tree")
            << QStringList{"sample", "CompanyName>1", "row1>-1"} << keys << 4 << ",,";
        QTest::newRow("row refused as a group")
            << QStringList{"sample", "CompanyName>0", "@@Names>1", "row0>1", "JobTitle>2"} << keys << 4
            << "CompanyName,,JobTitle";
        QTest::newRow("press over empty tree space") << QStringList{"sample", "JobTitle>9", ">1"} << keys << 4 << ",,";
        QTest::newRow("opened after a full street")
            << QStringList{"open Full", "open Lines", "##COStreet1>0"} << "TM_COMBBADDR || ''" << 2 << "-1";
        QTest::newRow("Create New chosen")
            << QStringList{"open Full", "click optNew"} << "TM_DESC || TM_NOOFCOLS" << 1 << "Full1";
        QTest::newRow("a template picked that is gone")
            << QStringList{"open Full", "gone Lines", "open Lines"} << "TM_DESC || TM_NOOFCOLS" << 1 << "Full1";
        QTest::newRow("main window read another meanwhile")
            << QStringList{"click cmdClear", "pick Full", "retrieve Leads", "activate"}
            << "TM_DEFAULTFOLDER || TM_CUSTOMFORM" << 1 << "00";
        QTest::newRow("workbook sheet chosen")
            << QStringList{"workbook"} << "TM_SHTTBLNAME || TM_HDRSYN || TM_NOOFCOLS" << 4 << "Clients été-12";
        // Deleted without a question, table and all; its number is not given again.
        QTest::newRow("deleted") << QStringList{"open Leads", "click cmdDelete", "sample"}
                                 << "(SELECT count(*) FROM sqlite_master WHERE name = 'Tmplt0003') || "
                                    "(SELECT group_concat(TM_DESC) FROM tblTmpltIndex)"
                                 << 4 << "0Full,Lines,Saved";
        QTest::newRow("custom form kept") << QStringList{"open Leads"} << form << 3 << "-1|IPM.Contact.Lead|2";
        QTest::newRow("re-pointed to a plain folder")
            << QStringList{"open Leads", "click optOnImport", "folder Contacts"} << form << 3 << "0||0";
        QTest::newRow("user-defined rows refuse a custom-form folder")
            << QStringList{"sample", "userfields", "folder Leads"} << folder << 4 << "00";
        QTest::newRow("user-defined rows take a plain folder")
            << QStringList{"sample", "userfields", "folder Contacts"} << folder << 4 << "-1Contacts0";
        const QString kept = QStringLiteral("(SELECT SYS_CURTMPLTNUM FROM tblSysParms) || (SELECT group_concat(TM_ID) "
                                            "FROM tblTmpltIndex) || (SELECT count(*) FROM sqlite_master WHERE name = "
                                            "'Tmplt0004')");
        const QString before = QStringLiteral("3Tmplt0001,Tmplt0002,Tmplt00030");
        QTest::newRow("no name") << QStringList{"sample", "name ", "refused Please Enter a Description"} << kept << 1
                                 << before;
        QTest::newRow("name too long") << QStringList{"sample", "name " + QString(31, QLatin1Char('n')),
                                                      "refused Template Name cannot exceed 30 characters"}
                                       << kept << 1 << before;
        QTest::newRow("name taken") << QStringList{"sample", "name FULL",
                                                   "refused A template by this name already exists"}
                                    << kept << 1 << before;
        QTest::newRow("column too long for the store, half-way")
            << QStringList{"sample A," + QString(60, QLatin1Char('x')) + ",C", "name Half", "refused FILE"} << kept << 1
            << before;
    }

    void gesturesThenSave()
    {
        QFETCH(QStringList, gestures);
        QFETCH(int, id);
        QFETCH(QString, query);
        QFETCH(QString, stored);
        EditorBench &b = *m_b;
        b.makeTemplate(QStringLiteral("Full"), QStringLiteral("CSH"),
                       {{1, "Street", "CO Street Address (Full)", "BusinessAddressStreet"}});
        b.makeTemplate(QStringLiteral("Lines"), QStringLiteral("CSH"), {{1, "Line", "", ""}});
        b.makeTemplate(QStringLiteral("Leads"), QStringLiteral("CSH"), {{1, "Name", "", ""}});
        b.db(
            QStringLiteral("UPDATE tblTmpltIndex SET TM_DEFAULTFOLDER = -1, TM_FOLDERNAME = 'Leads', TM_ENTRYID = 'x', "
                           "TM_CUSTOMFORM = -1, TM_CUSTOMFORMNAME = 'IPM.Contact.Lead', TM_CUSTOMFIELDS = 2 "
                           "WHERE TM_DESC = 'Leads'"));
        b.folder(QStringLiteral("Leads"))->Items()->Add(QStringLiteral("IPM.Contact.Lead"))->Close(outlook::olSave);
        b.customForms.answer = true;
        b.editor->Form_Activate();
        for (const QString &gesture : gestures) {
            const QString word = gesture.section(QLatin1Char(' '), 0, 0);
            const QString what = gesture.section(QLatin1Char(' '), 1);
            if (word == QLatin1String("sample")) {
                b.sample((what.isEmpty() ? QStringLiteral("A,B,C") : what).toUtf8() + "\r\n");
                QTest::keyClicks(b.editor->txtTemplateName, QStringLiteral("Saved"));
            } else if (word == QLatin1String("name")) {
                b.editor->txtTemplateName->clear();
                QTest::keyClicks(b.editor->txtTemplateName, what);
            } else if (word == QLatin1String("refused")) { // every box says why; the entries stay
                const QString name = b.editor->txtTemplateName->text();
                QTest::mouseClick(b.editor->cmdUpdate, Qt::LeftButton);
                QTest::mouseClick(b.editor->cmdUpdate, Qt::LeftButton);
                QCOMPARE(b.boxes.texts().size(), 2);
                for (const QString &text : b.boxes.texts())
                    QVERIFY2(text.startsWith(what), qPrintable(text));
                QCOMPARE(b.editor->txtTemplateName->text(), name);
                QCOMPARE(b.editor->LV->topLevelItemCount(), 3);
            } else if (word == QLatin1String("workbook")) { // its second sheet clicked
                pick(b.editor->cboFileTypes, QStringLiteral("XLH - Excel w/ Header"));
                b.files.answers = {QStringLiteral(MIREL_FIXTURES "/three_sheets.xls")};
                QTest::mouseClick(b.editor->cmdGetSample, Qt::LeftButton);
                QVERIFY(!b.editor->cmdUpdate->isEnabled());
                QTest::mouseClick(b.editor->LB->viewport(), Qt::LeftButton, {},
                                  b.editor->LB->visualItemRect(b.editor->LB->item(1)).center());
                QTest::keyClicks(b.editor->txtTemplateName, QStringLiteral("Saved"));
            } else if (word == QLatin1String("open")) { // "Select Existing", then the name by keyboard
                click(b.editor->optExisting);
                pick(b.editor->cboTemplates2, what);
            } else if (word == QLatin1String("click")) {
                click(b.editor->findChild<QAbstractButton *>(what));
            } else if (word == QLatin1String("folder")) {
                b.folders.answers = {what};
                click(b.editor->optFldrDefault);
                QVERIFY(b.folders.answers.isEmpty());   // the folder was asked for
            } else if (word == QLatin1String("pick")) { // from the list that Clear leaves under "Create New"
                pick(b.editor->cboTemplates2, what);
            } else if (word == QLatin1String("retrieve")) { // "Retrieve It" in the main window
                b.state.templateName = what;
                QVERIFY(FindTemplate(b.state, b.services, FindMode::Read));
            } else if (word == QLatin1String("activate")) {
                b.editor->Form_Activate();
            } else if (word == QLatin1String("gone")) {
                b.db(QStringLiteral("DELETE FROM tblTmpltIndex WHERE TM_DESC = ?"), {what});
            } else if (word == QLatin1String("userfields")) {
                b.boxes.answer(MessageBoxes::Answer::Yes);
                QTest::mouseClick(b.editor->cmdAddUserFields, Qt::LeftButton);
            } else {
                b.drag(gesture.section(QLatin1Char('>'), 0, 0), gesture.section(QLatin1Char('>'), 1).toInt());
            }
        }
        QTest::mouseClick(b.editor->cmdUpdate, Qt::LeftButton);
        QCOMPARE(b.db(QStringLiteral("SELECT %1 FROM tblTmpltIndex WHERE TM_ID = 'Tmplt000%2'").arg(query).arg(id))
                     .toString(),
                 stored);
    }

    // From "Map It" to the contacts imported with the template made there, under a name with
    // both kinds of quote, and out by Exit.
    void wholeJourney()
    {
        EditorBench &b = *m_b;
        b.own.reset();
        frmMirelImportMain window(b.state, b.services);
        window.show();
        QTest::mouseClick(window.cmdMapIt, Qt::LeftButton);
        b.editor = window.templateEditor();
        QVERIFY(b.editor && b.editor->isVisible() && !window.isVisible());

        b.sample("Who,Company Name,Phone,Mail\r\n");
        b.drag(QStringLiteral("FullName"), 0);
        b.drag(QStringLiteral("BusinessTelephoneNumber"), 2);
        b.drag(QStringLiteral("EmailAddress"), 3);
        const QString name = QStringLiteral("Fair \"O'Neil\" leads");
        QTest::keyClicks(b.editor->txtTemplateName, name);
        QTest::keyClick(b.editor->txtTemplateName, Qt::Key_Return); // Enter moves on, and the entry counts
        QVERIFY(!b.editor->txtTemplateName->hasFocus());
        b.boxes.answer(MessageBoxes::Answer::No);
        QTest::mouseClick(b.editor->cmdExit, Qt::LeftButton); // not saved yet: asked, and stays
        QCOMPARE(b.boxes.texts(),
                 QStringList{"You have not saved/updated you latest entries - do you still wish to Exit?"});
        QTest::mouseClick(b.editor->cmdUpdate, Qt::LeftButton);
        QTest::mouseClick(b.editor->cmdExit, Qt::LeftButton);
        QVERIFY(window.isVisible() && !b.editor->isVisible());

        pick(window.cboTemplates1, name);
        b.files.answers = {b.writeSource(QStringLiteral("in.csv"), "Who,Company Name,Phone,Mail\r\n"
                                                                   "Ann Lee,Acme,555-0100,ann@acme.com\r\n"
                                                                   ",,,\r\n"
                                                                   ",Bolt,,bad\r\n")};
        QTest::mouseClick(window.cmdRetrieve, Qt::LeftButton);
        b.folders.answers = {QStringLiteral("Contacts")};
        QTest::mouseClick(window.cmdCreate, Qt::LeftButton);
        const auto cards = b.contactsIn(QStringLiteral("Contacts"));
        QCOMPARE(cards.size(), 2);
        QCOMPARE(cards[0].property(QStringLiteral("FullName")), QVariant(QStringLiteral("Ann Lee")));
        QCOMPARE(cards[0].property(QStringLiteral("CompanyName")), QVariant(QStringLiteral("Acme")));
        QCOMPARE(cards[1].property(QStringLiteral("EmailAddress")), QVariant(QStringLiteral("bad")));
        QTest::mouseClick(window.progressWindow()->cmdOK, Qt::LeftButton);
        QTest::mouseClick(window.cmdMapIt, Qt::LeftButton);
        window.show();
        // Exit ends the event loop and closes every window; a guard ends it with another code.
        QTimer::singleShot(0, window.mnuFileExit, &QAction::trigger);
        QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window.isVisible() && !window.templateEditor()->isVisible());
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
