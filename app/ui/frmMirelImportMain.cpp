#include "app/ui/frmMirelImportMain.h"

#include "app/StartupVerification.h"
#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "editor/ui/frmTemplate.h"
#include "import/ImportRun.h"
#include "import/ui/frmUndoImport.h"
#include "platform/Help.h"
#include "platform/qt/ComboItemList.h"
#include "platform/qt/TreeWidgetGrid.h"
#include "platform/qt/frmAbout.h"
#include "store/TemplateDatabase.h"
#include "store/TemplateStore.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The product picture: an address card.
QPixmap productPicture()
{
    QPixmap pixmap(72, 56);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 70, 120), 2));
    p.setBrush(QColor(235, 242, 252));
    p.drawRoundedRect(QRectF(2, 2, 68, 52), 6, 6);
    p.setBrush(QColor(40, 70, 120));
    p.drawEllipse(QRectF(10, 12, 16, 16));
    p.drawPie(QRectF(6, 30, 24, 22), 0, 180 * 16);
    p.setPen(QPen(QColor(40, 70, 120), 3));
    for (int y : {16, 26, 36})
        p.drawLine(36, y, 62, y);
    return pixmap;
}

template <typename T> T *named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

} // namespace

frmMirelImportMain::frmMirelImportMain(AppState &state, Services &services, QWidget *parent)
    : QMainWindow(parent), m_state(state), m_services(services)
{
    setObjectName(QStringLiteral("frmMirelImportMain"));
    setWindowTitle(QStringLiteral("ContactMirel Importer"));
    buildControls();
    buildMenus();
}

frmMirelImportMain::~frmMirelImportMain()
{
    delete m_editor;
    delete m_progress;
}

void frmMirelImportMain::buildControls()
{
    auto *central = new QWidget(this);
    auto *layout = new QVBoxLayout(central);

    // Band: picture at the left, the title above the platform line to its right.
    auto *band = new QHBoxLayout;
    Image1 = named(new QLabel(central), "Image1");
    Image1->setPixmap(productPicture());
    Label10 = named(new QLabel(QStringLiteral("\"ContactMirel Importer\""), central), "Label10");
    QFont titleFont = Label10->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.8);
    titleFont.setBold(true);
    Label10->setFont(titleFont);
    Label3 = named(new QLabel(QStringLiteral("for Microsoft® Outlook®  2000/2002"), central), "Label3");
    auto *titles = new QVBoxLayout;
    titles->addWidget(Label10);
    titles->addWidget(Label3);
    band->addWidget(Image1);
    band->addLayout(titles, 1);
    layout->addLayout(band);

    Frame1 = named(new QGroupBox(QStringLiteral("The Preparation Phase"), central), "Frame1");
    auto *prep = new QGridLayout(Frame1);
    cmdMapIt = named(new QPushButton(QStringLiteral("Map It"), Frame1), "cmdMapIt");
    cmdMapIt->setToolTip(QStringLiteral("Creates/Edits an import map"));
    Label7 = named(new QLabel(QStringLiteral("(Required once for every new source file/format)"), Frame1), "Label7");
    prep->addWidget(cmdMapIt, 0, 0);
    prep->addWidget(Label7, 0, 1);
    prep->setColumnStretch(1, 1);
    layout->addWidget(Frame1);

    Frame2 = named(new QGroupBox(QStringLiteral("The Processing Phase"), central), "Frame2");
    auto *proc = new QGridLayout(Frame2);
    Label1 = named(new QLabel(QStringLiteral("Select Template:"), Frame2), "Label1");
    cboTemplates1 = named(new QComboBox(Frame2), "cboTemplates1");
    cboTemplates1->setMinimumContentsLength(30);
    cmdRetrieve = named(new QPushButton(QStringLiteral("Retrieve It"), Frame2), "cmdRetrieve");
    Label4 = named(new QLabel(QStringLiteral("Get/Verify the Source Input File "), Frame2), "Label4");
    cmdCreate = named(new QPushButton(QStringLiteral("Create It"), Frame2), "cmdCreate");
    Label9 =
        named(new QLabel(QStringLiteral("Select Outlook Contact folder and automatically create new contacts"), Frame2),
              "Label9");
    proc->addWidget(Label1, 0, 0);
    proc->addWidget(cboTemplates1, 0, 1);
    proc->addWidget(cmdRetrieve, 1, 0);
    proc->addWidget(Label4, 1, 1);
    proc->addWidget(cmdCreate, 2, 0);
    proc->addWidget(Label9, 2, 1);
    proc->setColumnStretch(1, 1);
    layout->addWidget(Frame2);

    // The import's mapping grid and the tree handed with it to the grid loader; never shown.
    LV2 = named(new QTreeWidget(central), "LV2");
    LV2->setHeaderLabels({QStringLiteral("Col#"), QStringLiteral("Column Name"), QStringLiteral("Outlook Field"),
                          QStringLiteral("Key")});
    LV2->setVisible(false);
    TV2 = named(new QTreeWidget(central), "TV2");
    TV2->setVisible(false);

    setCentralWidget(central);

    connect(cmdMapIt, &QPushButton::clicked, this, &frmMirelImportMain::cmdMapIt_Click);
    connect(cmdRetrieve, &QPushButton::clicked, this, &frmMirelImportMain::cmdRetrieve_Click);
    connect(cmdCreate, &QPushButton::clicked, this, &frmMirelImportMain::cmdCreate_Click);
    connect(cboTemplates1, &QComboBox::activated, this, &frmMirelImportMain::cboTemplates1_Click);
}

void frmMirelImportMain::buildMenus()
{
    mnuFile = named(menuBar()->addMenu(QStringLiteral("&File")), "mnuFile");
    mnuFileUndo = named(mnuFile->addAction(QStringLiteral("&Undo an Import...")), "mnuFileUndo");
    mnuFileExit = named(mnuFile->addAction(QStringLiteral("E&xit")), "mnuFileExit");
    mnuHelp = named(menuBar()->addMenu(QStringLiteral("&Help")), "mnuHelp");
    mnuHelpContents = named(mnuHelp->addAction(QStringLiteral("&Contents")), "mnuHelpContents");
    mnuHelpBar1 = named(mnuHelp->addSeparator(), "mnuHelpBar1");
    mnuHelpWeb = named(mnuHelp->addAction(QStringLiteral("ContactMirel &Website")), "mnuHelpWeb");
    mnuHelpBar2 = named(mnuHelp->addSeparator(), "mnuHelpBar2");
    mnuHelpAbout = named(mnuHelp->addAction(QStringLiteral("&About....")), "mnuHelpAbout");

    connect(mnuFileUndo, &QAction::triggered, this, &frmMirelImportMain::mnuFileUndo_Click);
    connect(mnuFileExit, &QAction::triggered, this, &frmMirelImportMain::mnuFileExit_Click);
    connect(mnuHelpContents, &QAction::triggered, this, &frmMirelImportMain::mnuHelpContents_Click);
    connect(mnuHelpWeb, &QAction::triggered, this, &frmMirelImportMain::mnuHelpWeb_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &frmMirelImportMain::mnuHelpAbout_Click);
}

void frmMirelImportMain::Form_Load()
{
    try {
        if (!StartupVerification(m_state, m_services))
            return; // the program has been ended
        cmdCreate->setEnabled(false);
    } catch (const std::exception &e) {
        ReportFileError(m_services.boxes(), TrappedError(e));
    }
}

void frmMirelImportMain::Form_Activate()
{
    ComboItemList list(cboTemplates1);
    LoadTemplateList(m_state, m_services, list);
    cboTemplates1->setCurrentIndex(-1); // no template is chosen until the user picks one
}

void frmMirelImportMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Shown by the program (at start, back from the editor or an import), not restored by the desktop.
    if (!event->spontaneous())
        Form_Activate();
}

void frmMirelImportMain::closeEvent(QCloseEvent *event)
{
    // Unloading the main window ends the program, whatever else is open.
    QMainWindow::closeEvent(event);
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window != this)
            window->hide();
    QCoreApplication::quit();
}

void frmMirelImportMain::cboTemplates1_Click()
{
    cmdCreate->setEnabled(false);
    m_state.templateName = cboTemplates1->currentText();
}

void frmMirelImportMain::cmdMapIt_Click()
{
    if (!m_editor)
        m_editor = new frmTemplate(m_state, m_services, this);
    m_editor->Form_Activate();
    m_editor->show();
    hide();
}

void frmMirelImportMain::cmdRetrieve_Click()
{
    if (cboTemplates1->currentText().isEmpty()) {
        m_services.boxes().show(QStringLiteral("Please select an existing template first"));
        cboTemplates1->setFocus();
        return;
    }
    TreeWidgetGrid grid(LV2);
    if (VerifyInputFile(m_state, m_services, grid, windowTitle())) {
        cmdCreate->setEnabled(true);
        cmdCreate->setFocus();
    }
}

void frmMirelImportMain::cmdCreate_Click()
{
    if (!PrepareImportRun(m_state, m_services))
        return;
    try { // the choice made with the folder holds for the template's next run
        RememberDuplicatePolicy(m_state);
    } catch (const std::exception &e) {
        ReportError(m_services.boxes(), TrappedError(e));
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    hide();
    delete m_progress;
    m_progress = new frmContactImport(nullptr);
    m_progress->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(m_progress, &frmContactImport::okClicked, this, &frmMirelImportMain::cmdOK_Click);
    m_progress->beginRun();

    TreeWidgetGrid grid(LV2);
    CreateContacts(m_state, m_services, grid, *m_progress);

    m_progress->endRun(m_state.folderEntryId);
    QApplication::restoreOverrideCursor();
    cboTemplates1->setCurrentIndex(-1);
    cmdCreate->setEnabled(false);
    ReleaseContactConnection(m_state);
}

void frmMirelImportMain::cmdOK_Click()
{
    ReleaseContactConnection(m_state);
    show();
    if (m_progress) {
        m_progress->hide();
        m_progress->deleteLater();
    }
}

void frmMirelImportMain::mnuFileUndo_Click()
{
    frmUndoImport undo(m_state, m_services, this);
    undo.exec();
}

void frmMirelImportMain::mnuFileExit_Click()
{
    close();
}

void frmMirelImportMain::mnuHelpContents_Click()
{
    OpenHelpContents(m_services);
}

void frmMirelImportMain::mnuHelpWeb_Click()
{
    OpenProductWebSite(m_services);
}

void frmMirelImportMain::mnuHelpAbout_Click()
{
    frmAbout about(m_services.dataPath, this);
    about.exec();
}
