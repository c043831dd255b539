#include "editor/ui/frmTemplate.h"

#include "catalog/FieldCatalog.h"
#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "editor/ui/CatalogTreeView.h"
#include "editor/ui/FieldCatalogTree.h"
#include "editor/ui/MappingListView.h"
#include "outlook/FolderChoice.h"
#include "platform/Help.h"
#include "platform/qt/ComboItemList.h"
#include "platform/qt/TreeWidgetGrid.h"
#include "platform/qt/frmAbout.h"
#include "source/CReadFile.h"
#include "source/FileChoice.h"
#include "source/FileTypes.h"
#include "store/TemplateDatabase.h"
#include "store/TemplateOperations.h"
#include "store/TemplateRecords.h"
#include "store/TemplateStore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>

namespace {

const QString kCaption = QStringLiteral("ContactMirel - Create/Edit Import Template");

} // namespace

frmTemplate::frmTemplate(AppState &state, Services &services, QWidget *home)
    : QWidget(nullptr), m_state(state), m_services(services), m_home(home)
{
    setObjectName(QStringLiteral("frmTemplate"));
    setWindowTitle(kCaption);
    setAttribute(Qt::WA_DeleteOnClose);
    buildControls();
    connectControls();
    Form_Load();
}

void frmTemplate::connectControls()
{
    connect(cboFileTypes, &QComboBox::activated, this, &frmTemplate::cboFileTypes_Click);
    connect(cboTemplates2, &QComboBox::activated, this, &frmTemplate::cboTemplates2_Click);
    connect(cmdGetSample, &QPushButton::clicked, this, &frmTemplate::cmdGetSample_Click);
    connect(LB, &QListWidget::itemClicked, this, &frmTemplate::LB_Click);
    connect(optNew, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optNew_Click();
    });
    connect(optExisting, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optExisting_Click();
    });
    connect(optOnImport, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optOnImport_Click();
    });
    connect(optFldrDefault, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            optFldrDefault_Click();
    });
    connect(txtTemplateName, &QLineEdit::editingFinished, this, &frmTemplate::txtTemplateName_Validate);
    connect(cmdClear, &QPushButton::clicked, this, &frmTemplate::cmdClear_Click);
    connect(cmdExit, &QPushButton::clicked, this, &frmTemplate::cmdExit_Click);
    connect(cmdUpdate, &QPushButton::clicked, this, &frmTemplate::cmdUpdate_Click);
    connect(cmdDelete, &QPushButton::clicked, this, &frmTemplate::cmdDelete_Click);
    connect(cmdAddUserFields, &QPushButton::clicked, this, &frmTemplate::cmdAddUserFields_Click);
    connect(mnuExit, &QAction::triggered, this, &frmTemplate::mnuExit_Click);
    connect(mnuContents, &QAction::triggered, this, &frmTemplate::mnuContents_Click);
    connect(mnuHelpWeb, &QAction::triggered, this, &frmTemplate::mnuHelpWeb_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &frmTemplate::mnuHelpAbout_Click);

    // The gestures of the tree and the list.
    connect(TV, &DragTree::pressed, this, [this](QTreeWidgetItem *item) {
        if (item)
            TV->setCurrentItem(item);
        TV_MouseDown(CatalogTreeView::keyOf(item));
    });
    connect(TV, &DragTree::movedWithButtons, this, &frmTemplate::TV_MouseMove);
    connect(TV, &DragTree::draggedOver, this, [this](const QMimeData *, QTreeWidgetItem *item) {
        if (item)
            TV->setCurrentItem(item); // the drop target
    });
    connect(TV, &DragTree::dropped, this, [this](const QMimeData *data) {
        takeDrag(data);
        TV_DragDrop();
    });
    connect(LV, &DragTree::pressed, this, [this](QTreeWidgetItem *item) { LV_MouseDown(LV->rowOf(item)); });
    connect(LV, &DragTree::movedWithButtons, this, [this] {
        if (!m_drag.listDragActive)
            return;
        LV->dragRow(m_drag.dragRowIndex);
        dragEnded();
    });
    connect(LV, &DragTree::released, this, [this] {
        m_drag.listDragActive = false; // a click without a drag moves nothing
    });
    connect(LV, &DragTree::draggedOver, this, [this](const QMimeData *data, QTreeWidgetItem *item) {
        takeDrag(data);
        LV_DragOver(LV->rowOf(item));
    });
    connect(LV, &DragTree::dropped, this, [this](const QMimeData *data, QTreeWidgetItem *item) {
        takeDrag(data);
        LV_DragDrop(LV->rowOf(item));
    });
}

void frmTemplate::Form_Load()
{
    BuildFieldCatalog(TV, m_services.boxes());
    ComboItemList types(cboFileTypes);
    FillFileTypeList(types);
    SetupMappingColumns(LV, m_services.boxes());
    SetLBVisible();
    m_state.editPending = false;
    cmdGetSample->setEnabled(false);
    cboTemplates2->setCurrentIndex(-1);
    cmdDelete->setEnabled(false);
    cmdUpdate->setEnabled(false);
    // As the window is designed: nothing to add, no folder shown, the folder options waiting for a source.
    cmdAddUserFields->setEnabled(false);
    txtFolderName->setVisible(false);
    lblCustomForm->setVisible(false);
    optOnImport->setEnabled(false);
    optFldrDefault->setEnabled(false);
    for (QWidget *w : findChildren<QWidget *>())
        w->installEventFilter(this);
}

void frmTemplate::Form_Activate()
{
    m_state.editPending = false;
    select(optNew);
    // The main window shares the working values and may have read another template into them
    // meanwhile: a template still open here could be saved with that one's settings.
    if (!m_opened.id.isEmpty())
        optNew_Click();
    ComboItemList list(cboTemplates2);
    LoadTemplateList(m_state, m_services, list);
    cboTemplates2->setCurrentIndex(-1);
}

void frmTemplate::select(QRadioButton *option)
{
    // Selecting an option runs its steps; selecting the one already selected runs nothing.
    if (!option->isChecked())
        option->setChecked(true);
}

void frmTemplate::deselectFolderOptions()
{
    for (QRadioButton *option : {optOnImport, optFldrDefault}) {
        option->setAutoExclusive(false);
        option->blockSignals(true);
        option->setChecked(false);
        option->blockSignals(false);
        option->setAutoExclusive(true);
    }
}

void frmTemplate::SetLvwVisible()
{
    LV->setVisible(true);
    LV->setEnabled(true);
    lblColNames->setVisible(true);
    lblTableNames->setVisible(false);
    LB->setVisible(false);
}

void frmTemplate::SetLBVisible()
{
    LV->setVisible(false);
    lblColNames->setVisible(false);
    lblTableNames->setVisible(true);
    LB->setVisible(true);
}

void frmTemplate::cboFileTypes_Click()
{
    m_state.fileType = FileTypeCode::codeOf(cboFileTypes->currentText());
    cboTemplates2->setVisible(false);
    cmdGetSample->setEnabled(true);
}

void frmTemplate::cmdGetSample_Click()
{
    m_state.loadMode = LoadMode::Add;
    const QString type = cboFileTypes->currentText();
    if (type.isEmpty()) {
        m_services.boxes().show(QStringLiteral("You have to select a valid File Type before selecting the file"));
        return;
    }
    if (!ChooseSourceFile(m_state, m_services, windowTitle(), type))
        return;
    TreeWidgetGrid grid(LV);
    if (FileTypeCode::family(type) == FileTypeCode::Family::Text) {
        SetLvwVisible();
        if (!LoadMappingGrid(m_state, m_services, grid, type)) {
            cmdClear_Click();
            return;
        }
        SetLvwVisible();
        cmdUpdate->setEnabled(true);
        cmdAddUserFields->setEnabled(true);
        cmdGetSample->setEnabled(false);
    } else {
        QStringList sheets;
        if (!ListWorksheets(m_services, m_state.filePath, sheets))
            return;
        if (sheets.isEmpty()) {
            m_services.boxes().show(QStringLiteral("Could not open Excel spreadsheet"));
            return;
        }
        if (sheets.size() == 1) {
            m_state.sheetName = sheets.first();
            SetLvwVisible();
            if (!LoadMappingGrid(m_state, m_services, grid, type)) {
                cmdClear_Click();
                return;
            }
            cmdUpdate->setEnabled(true);
            cmdAddUserFields->setEnabled(true);
        } else {
            LB->clear();
            LB->addItems(sheets);
            SetLBVisible();
            cmdUpdate->setEnabled(false);
        }
    }
    cboTemplates2->setVisible(false);
    txtTemplateName->setVisible(true);
    lblTmpltName->setVisible(true);
    cboFileTypes->setVisible(false);
    optOnImport->setEnabled(true);
    optFldrDefault->setEnabled(true);
    select(optOnImport);
    cmdGetSample->setEnabled(false);
    cmdDelete->setEnabled(false);
}

void frmTemplate::LB_Click()
{
    if (!LB->currentItem())
        return;
    m_state.sheetName = LB->currentItem()->text();
    lblXLSName->setVisible(true);
    txtXLSName->setVisible(true);
    txtXLSName->setText(m_state.sheetName);
    m_state.loadMode = LoadMode::Add;
    LB->setVisible(false);
    lblTableNames->setVisible(false);
    LV->setVisible(true);
    lblColNames->setVisible(true);
    TreeWidgetGrid grid(LV);
    LoadMappingGrid(m_state, m_services, grid, cboFileTypes->currentText());
    cmdUpdate->setEnabled(true);
    cmdAddUserFields->setEnabled(true);
    cmdDelete->setEnabled(false);
}

void frmTemplate::forgetOpenTemplate()
{
    m_opened = OpenedTemplate();
    Records(m_state).indexRecord.close();
    Records(m_state).mappingRecords.close();
}

void frmTemplate::optNew_Click()
{
    forgetOpenTemplate(); // a save can no longer reach the template that was open
    cboFileTypes->setCurrentIndex(-1);
    cboFileTypes->setVisible(true);
    cboTemplates2->setCurrentIndex(-1);
    cboTemplates2->setVisible(false);
    lblTemplate->setVisible(false);
    lblTmpltName->setVisible(false);
    lblFileType->setVisible(true);
    txtXLSName->clear();
    txtXLSName->setVisible(false);
    lblXLSName->setVisible(false);
    txtTemplateName->setVisible(false);
    LV->clear();
    TV->setEnabled(true);
    LB->setEnabled(true);
    cmdGetSample->setEnabled(false);
    cmdDelete->setEnabled(false);
    cmdUpdate->setEnabled(false);
    cmdAddUserFields->setEnabled(false);
}

void frmTemplate::optExisting_Click()
{
    cboFileTypes->setVisible(false);
    lblFileType->setVisible(false);
    cboTemplates2->setVisible(true);
    lblTemplate->setVisible(true);
    lblTmpltName->setVisible(false);
    cmdGetSample->setEnabled(false);
    cmdAddUserFields->setEnabled(false);
    cmdUpdate->setEnabled(false);
    cmdDelete->setEnabled(false);
}

void frmTemplate::cboTemplates2_Click()
{
    const OpenOutcome outcome = OpenTemplate(m_state, m_services, cboTemplates2->currentText());
    if (outcome == OpenOutcome::Missing)
        return;
    // AppState now holds this template's values: the one shown before can no longer be saved.
    m_opened = OpenedTemplate();
    const bool workbook = m_state.fileType == FileTypeCode::XLH || m_state.fileType == FileTypeCode::XLN;
    txtXLSName->setText(workbook ? m_state.sheetName : QString());
    txtXLSName->setVisible(workbook);
    lblXLSName->setVisible(workbook);
    optFldrDefault->setEnabled(true);
    optOnImport->setEnabled(true);
    if (m_state.defaultFolder) {
        txtFolderName->setText(m_state.folderName);
        txtFolderName->setVisible(true);
        select(optFldrDefault);
        lblCustomForm->setVisible(m_state.customForm);
        cmdAddUserFields->setEnabled(!m_state.customForm);
    } else {
        txtFolderName->clear();
        txtFolderName->setVisible(false);
        select(optOnImport);
        cmdAddUserFields->setEnabled(true);
    }
    if (outcome == OpenOutcome::RowsUnreadable) {
        cboTemplates2->setFocus();
        return;
    }
    TreeWidgetGrid grid(LV);
    if (LoadMappingGrid(m_state, m_services, grid, m_state.fileType))
        m_opened = OpenedTemplate{m_state.mappingTable, m_state.templateName};
    MappingRules::rebuildStreetFlags(m_state, grid); // from this template's rows alone
    SetLvwVisible();
    m_state.editPending = true;
    cboFileTypes->setVisible(false);
    cmdGetSample->setEnabled(false);
    cmdDelete->setEnabled(true);
    cmdUpdate->setEnabled(true);
}

bool frmTemplate::txtTemplateName_Validate()
{
    if (txtTemplateName->text().size() >= 31) {
        m_services.boxes().show(QStringLiteral("Template Name cannot exceed 30 characters"));
        txtTemplateName->setFocus();
        return false;
    }
    m_state.editPending = true;
    return true;
}

void frmTemplate::cmdClear_Click()
{
    forgetOpenTemplate();
    m_state.street.fill({});
    txtXLSName->clear();
    txtXLSName->setVisible(false);
    lblXLSName->setVisible(false);
    lblCustomForm->setVisible(false);
    cboTemplates2->setCurrentIndex(-1);
    cboTemplates2->setVisible(true);
    txtTemplateName->clear();
    txtTemplateName->setVisible(false);
    m_state.folderStoreId.clear();
    m_state.folderName.clear();
    txtFolderName->clear();
    txtFolderName->setVisible(false);
    cboFileTypes->setVisible(true);
    cboFileTypes->setCurrentIndex(-1);
    lblTemplate->setText(QStringLiteral("Select Template:"));
    lblFileType->setVisible(true);
    lblTemplate->setVisible(false);
    deselectFolderOptions();
    optOnImport->setEnabled(false);
    optFldrDefault->setEnabled(false);
    select(optNew);
    LB->clear();
    TV->setEnabled(false);
    LV->setEnabled(false);
    SetLBVisible();
    cmdGetSample->setEnabled(false);
    cmdDelete->setEnabled(false);
    cmdUpdate->setEnabled(false);
    cmdAddUserFields->setEnabled(false);
    m_state.editPending = false;
}

bool frmTemplate::confirmLeaving()
{
    if (!m_state.editPending)
        return true;
    if (m_services.boxes().show(
            QStringLiteral("You have not saved/updated you latest entries - do you still wish to Exit?"),
            MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::Critical, windowTitle()) != MessageBoxes::Answer::Yes)
        return false;
    m_state.editPending = false;
    return true;
}

void frmTemplate::leave()
{
    hide();
    if (m_home)
        m_home->show();
}

void frmTemplate::cmdExit_Click()
{
    if (confirmLeaving())
        leave();
}

void frmTemplate::closeEvent(QCloseEvent *event)
{
    if (!confirmLeaving()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    if (m_home)
        m_home->show();
}

bool frmTemplate::eventFilter(QObject *watched, QEvent *event)
{
    // Enter moves the focus on to the next control, and still reaches the control.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            focusNextChild();
    }
    return QWidget::eventFilter(watched, event);
}

void frmTemplate::mnuContents_Click()
{
    OpenHelpContents(m_services);
}

void frmTemplate::mnuHelpWeb_Click()
{
    OpenProductWebSite(m_services);
}

void frmTemplate::mnuHelpAbout_Click()
{
    frmAbout about(m_services.dataPath, this);
    about.exec();
}

void frmTemplate::optOnImport_Click()
{
    m_state.suppressFolderChoice = false;
    m_state.defaultFolder = false;
    m_state.folderStoreId.clear();
    m_state.folderName.clear();
    txtFolderName->clear();
    txtFolderName->setVisible(false);
    lblCustomForm->setVisible(false);
    TV->setEnabled(true);
    LV->setEnabled(true);
}

void frmTemplate::optFldrDefault_Click()
{
    if (m_state.suppressFolderChoice)
        return;
    hide();
    if (ChooseContactFolder(m_state, m_services)) {
        m_state.defaultFolder = true;
        TreeWidgetGrid grid(LV);
        if (m_state.customForm && MappingRules::hasUserDefinedRow(grid)) {
            m_services.boxes().show(QStringLiteral("You cannot have fields set to <USERDEFINED> and ") +
                                        QStringLiteral("select a contact folder that also has ") +
                                        QStringLiteral("a custom form attached to it"),
                                    MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical, windowTitle());
            m_state.defaultFolder = false;
            select(optOnImport);
            txtFolderName->setVisible(false);
            lblCustomForm->setVisible(false);
        }
        if (m_state.defaultFolder) {
            txtFolderName->setText(m_state.folderName);
            txtFolderName->setVisible(true);
            lblCustomForm->setVisible(m_state.customForm);
            cmdAddUserFields->setEnabled(!m_state.customForm);
        }
    } else {
        m_state.defaultFolder = false;
        select(optOnImport);
        txtFolderName->setVisible(false);
        lblCustomForm->setVisible(false);
    }
    show();
    TV->setEnabled(true);
    LV->setEnabled(true);
}

void frmTemplate::cmdUpdate_Click()
{
    const bool isNew = !txtTemplateName->isHidden();
    TreeWidgetGrid grid(LV);
    TemplateDraft draft{txtTemplateName->text(), m_state.fileType, {}};
    for (int i = 0; i < grid.rowCount(); ++i)
        draft.rows << grid.row(i);
    SetStreetFlags(m_state, draft.rows); // saved as the rows hold them now
    const SaveOutcome outcome = SaveTemplate(m_state, m_services, draft, isNew ? nullptr : &m_opened);
    if (outcome == SaveOutcome::NameRefused)
        txtTemplateName->setFocus();
    if (outcome != SaveOutcome::Saved)
        return; // the entries stay for another try
    if (isNew)
        cboTemplates2->addItem(draft.name);
    cmdClear_Click();
}

void frmTemplate::cmdDelete_Click()
{
    if (!DeleteOpenTemplate(m_state, m_services))
        return;
    cboTemplates2->removeItem(cboTemplates2->currentIndex());
    LV->clear(); // the deleted template's rows are not shown again
    cmdClear_Click();
}

void frmTemplate::cmdAddUserFields_Click()
{
    TreeWidgetGrid grid(LV);
    MappingRules(m_state, m_services.boxes()).addUserFields(grid, windowTitle());
}

// ---- gestures ----

void frmTemplate::dragEnded()
{
    // The drag is over, wherever it ended: a drop that missed both controls leaves nothing pending.
    m_drag.listDragActive = false;
    m_drag.treeDragActive = false;
}

void frmTemplate::takeDrag(const QMimeData *data)
{
    m_drag.listDragActive = data->hasFormat(kMappingRowFormat);
    m_drag.treeDragActive = data->hasFormat(kCatalogNodeFormat);
    if (m_drag.listDragActive)
        m_drag.dragRowIndex = data->data(kMappingRowFormat).toInt();
}

void frmTemplate::TV_MouseDown(const QString &nodeKey)
{
    m_drag.pressOnNode = !nodeKey.isEmpty();
    if (m_drag.pressOnNode)
        m_drag.pressedNodeKey = nodeKey;
}

void frmTemplate::TV_MouseMove(Qt::MouseButtons buttons)
{
    // A press over empty space starts no drag, whichever node was selected before.
    if (buttons != Qt::LeftButton || !m_drag.pressOnNode)
        return;
    m_drag.treeDragActive = true;
    TV->dragNode(m_drag.pressedNodeKey);
    dragEnded();
}

void frmTemplate::LV_MouseDown(int row)
{
    if (row < 0)
        return;
    LV->setCurrentItem(LV->topLevelItem(row));
    m_drag.dragRowIndex = row;
    m_drag.listDragActive = true;
}

void frmTemplate::LV_DragOver(int row)
{
    if (row < 0)
        return;
    LV->setCurrentItem(LV->topLevelItem(row));
    if (!m_drag.listDragActive)
        m_drag.dragRowIndex = row;
}

void frmTemplate::LV_DragDrop(int row)
{
    TreeWidgetGrid grid(LV);
    const auto result = MappingRules(m_state, m_services.boxes()).dropOnList(grid, m_drag, row, TV->selectedKey());
    if (result == MappingRules::Drop::GroupRefused && TV->currentItem())
        TV->currentItem()->setExpanded(true);
    if (result == MappingRules::Drop::Mapped)
        LV->setCurrentItem(nullptr);
}

void frmTemplate::TV_DragDrop()
{
    TreeWidgetGrid grid(LV);
    MappingRules(m_state, m_services.boxes()).dropOnTree(grid, m_drag);
}
