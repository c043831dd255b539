// The editor's controls and their places: the template and folder controls and the buttons on
// the left, the field tree in the middle, the mapping list and the sheet list sharing the right.
#include "editor/ui/CatalogTreeView.h"
#include "editor/ui/MappingListView.h"
#include "editor/ui/frmTemplate.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

template <typename T> T *named(T *object, const char *name)
{
    object->setObjectName(QLatin1String(name));
    return object;
}

// The drag cursor: a small column with an arrow.
QPixmap dragColumnPicture()
{
    QPixmap pixmap(28, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(40, 70, 120), 2));
    p.setBrush(QColor(235, 242, 252, 220));
    p.drawRect(QRect(2, 2, 14, 18));
    p.drawLine(5, 8, 13, 8);
    p.drawLine(5, 13, 13, 13);
    p.drawLine(18, 11, 26, 11);
    p.drawLine(22, 7, 26, 11);
    p.drawLine(22, 15, 26, 11);
    return pixmap;
}

} // namespace

void frmTemplate::buildControls()
{
    auto *outer = new QVBoxLayout(this);
    menuBar = new QMenuBar(this);
    outer->setMenuBar(menuBar);
    mnuFile = named(menuBar->addMenu(QStringLiteral("&File")), "mnuFile");
    mnuExit = named(mnuFile->addAction(QStringLiteral("&Exit")), "mnuExit");
    mnuHelp = named(menuBar->addMenu(QStringLiteral("&Help")), "mnuHelp");
    mnuContents = named(mnuHelp->addAction(QStringLiteral("&Contents")), "mnuContents");
    mnuHelpBar1 = named(mnuHelp->addSeparator(), "mnuHelpBar1");
    mnuHelpWeb = named(mnuHelp->addAction(QStringLiteral("ContactMirel &Website")), "mnuHelpWeb");
    mnuHelpBar2 = named(mnuHelp->addSeparator(), "mnuHelpBar2");
    mnuHelpAbout = named(mnuHelp->addAction(QStringLiteral("&About")), "mnuHelpAbout");

    auto *columns = new QHBoxLayout;
    outer->addLayout(columns, 1);

    // Left: template, source and folder controls, and the buttons.
    auto *left = new QVBoxLayout;
    Frame2 = named(new QGroupBox(QStringLiteral(" Template Manager"), this), "Frame2");
    optExisting = named(new QRadioButton(QStringLiteral("Select Existing"), Frame2), "optExisting");
    optNew = named(new QRadioButton(QStringLiteral("Create New"), Frame2), "optNew");
    auto *modes = new QVBoxLayout(Frame2);
    modes->addWidget(optNew);
    modes->addWidget(optExisting);
    left->addWidget(Frame2);

    lblFileType = named(new QLabel(QStringLiteral("Select File Type:"), this), "lblFileType");
    cboFileTypes = named(new QComboBox(this), "cboFileTypes");
    lblTemplate = named(new QLabel(QStringLiteral("Select Template:"), this), "lblTemplate");
    cboTemplates2 = named(new QComboBox(this), "cboTemplates2");
    cmdGetSample = named(new QPushButton(QStringLiteral("Get Sample Source File"), this), "cmdGetSample");
    lblTmpltName = named(new QLabel(QStringLiteral("Enter Tmplt Name:"), this), "lblTmpltName");
    txtTemplateName = named(new QLineEdit(this), "txtTemplateName");
    lblXLSName = named(new QLabel(QStringLiteral("Sheet/Table Name:"), this), "lblXLSName");
    txtXLSName = named(new QLineEdit(this), "txtXLSName");
    txtXLSName->setReadOnly(true);
    for (QWidget *w :
         std::initializer_list<QWidget *>{lblFileType, cboFileTypes, lblTemplate, cboTemplates2, cmdGetSample,
                                          lblTmpltName, txtTemplateName, lblXLSName, txtXLSName})
        left->addWidget(w);

    Frame3 = named(new QGroupBox(QStringLiteral("Outlook Folder Manager"), this), "Frame3");
    optOnImport = named(new QRadioButton(QStringLiteral("Select when Importing"), Frame3), "optOnImport");
    optFldrDefault = named(new QRadioButton(QStringLiteral("Select Default"), Frame3), "optFldrDefault");
    txtFolderName = named(new QLineEdit(Frame3), "txtFolderName");
    txtFolderName->setReadOnly(true);
    lblCustomForm = named(new QLabel(QStringLiteral("Uses Custom Form"), Frame3), "lblCustomForm");
    auto *folder = new QVBoxLayout(Frame3);
    folder->addWidget(optOnImport);
    folder->addWidget(optFldrDefault);
    folder->addWidget(txtFolderName);
    folder->addWidget(lblCustomForm);
    left->addWidget(Frame3);
    left->addStretch();

    cmdUpdate = named(new QPushButton(QStringLiteral("Save/Update"), this), "cmdUpdate");
    cmdDelete = named(new QPushButton(QStringLiteral("Delete"), this), "cmdDelete");
    cmdAddUserFields = named(new QPushButton(QStringLiteral("Add User Fields"), this), "cmdAddUserFields");
    cmdClear = named(new QPushButton(QStringLiteral("Clear"), this), "cmdClear");
    cmdExit = named(new QPushButton(QStringLiteral("Exit"), this), "cmdExit");
    auto *buttons = new QGridLayout;
    buttons->addWidget(cmdUpdate, 0, 0);
    buttons->addWidget(cmdDelete, 0, 1);
    buttons->addWidget(cmdAddUserFields, 1, 0);
    buttons->addWidget(cmdClear, 1, 1);
    buttons->addWidget(cmdExit, 2, 1);
    left->addLayout(buttons);
    columns->addLayout(left);

    // Middle: the field tree.
    auto *middle = new QVBoxLayout;
    Label2 = named(new QLabel(QStringLiteral("Outlook Fields  "), this), "Label2");
    TV = named(new CatalogTreeView(this), "TV");
    middle->addWidget(Label2);
    middle->addWidget(TV, 1);
    columns->addLayout(middle, 1);

    // Right: the mapping list and the worksheet list share one place.
    auto *right = new QGridLayout;
    lblColNames = named(new QLabel(QStringLiteral("Source File Column Names"), this), "lblColNames");
    lblTableNames = named(new QLabel(QStringLiteral("Source File Table/Sheet Names"), this), "lblTableNames");
    LV = named(new MappingListView(this), "LV");
    LB = named(new QListWidget(this), "LB");
    right->addWidget(lblColNames, 0, 0);
    right->addWidget(lblTableNames, 0, 0);
    right->addWidget(LV, 1, 0);
    right->addWidget(LB, 1, 0);
    right->setRowStretch(1, 1);
    columns->addLayout(right, 2);
    resize(980, 600);

    m_images.insert(QStringLiteral("dragcol"), dragColumnPicture());
    TV->setDragCursor(dragCursor());
    LV->setDragCursor(dragCursor());
}
