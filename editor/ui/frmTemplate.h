#pragma once

#include "editor/MappingRules.h"
#include "store/TemplateOperations.h"

#include <QHash>
#include <QPixmap>
#include <QWidget>

class CatalogTreeView;
class MappingListView;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QMimeData;
class QPushButton;
class QRadioButton;
struct AppState;
struct Services;

// The template editor: a template is made from a sample file or opened from the store, its
// columns mapped by dragging catalog fields onto them, its folder chosen, and saved or deleted.
class frmTemplate : public QWidget {
    Q_OBJECT

public:
    frmTemplate(AppState &state, Services &services, QWidget *home);

    // Handlers, named after control and event.
    void Form_Activate();
    void cboFileTypes_Click();
    void cmdGetSample_Click();
    void LB_Click();
    void optNew_Click();
    void optExisting_Click();
    void cboTemplates2_Click();
    bool txtTemplateName_Validate();
    void cmdClear_Click();
    void cmdExit_Click();
    void mnuExit_Click() { cmdExit_Click(); }
    void mnuContents_Click();
    void mnuHelpWeb_Click();
    void mnuHelpAbout_Click();
    void optOnImport_Click();
    void optFldrDefault_Click();
    void cmdUpdate_Click();
    void cmdDelete_Click();
    void cmdAddUserFields_Click();

    // The gestures, callable with the row and node a drag would give.
    void TV_MouseDown(const QString &nodeKey);
    void TV_MouseMove(Qt::MouseButtons buttons);
    void LV_MouseDown(int row);
    void LV_DragOver(int row);
    void LV_DragDrop(int row);
    void TV_DragDrop();

    void SetLvwVisible();
    void SetLBVisible();
    QVariant CheckForUserDefinedFields() { return QVariant(); }

    QPixmap dragCursor() const { return m_images.value(QStringLiteral("dragcol")); }

    QPushButton *cmdExit;
    QPushButton *cmdAddUserFields;
    QLineEdit *txtXLSName;
    QLineEdit *txtFolderName;
    QGroupBox *Frame3;
    QRadioButton *optOnImport;
    QRadioButton *optFldrDefault;
    QGroupBox *Frame2;
    QRadioButton *optExisting;
    QRadioButton *optNew;
    QPushButton *cmdClear;
    QListWidget *LB;
    QPushButton *cmdDelete;
    QPushButton *cmdUpdate;
    QComboBox *cboFileTypes;
    QComboBox *cboTemplates2;
    QPushButton *cmdGetSample;
    CatalogTreeView *TV;
    MappingListView *LV;
    QLineEdit *txtTemplateName;
    QLabel *lblCustomForm;
    QLabel *lblXLSName;
    QLabel *lblTmpltName;
    QLabel *lblTableNames;
    QLabel *lblFileType;
    QLabel *lblTemplate;
    QLabel *Label2;
    QLabel *lblColNames;
    QMenuBar *menuBar;
    QMenu *mnuFile;
    QAction *mnuExit;
    QMenu *mnuHelp;
    QAction *mnuContents;
    QAction *mnuHelpBar1;
    QAction *mnuHelpWeb;
    QAction *mnuHelpBar2;
    QAction *mnuHelpAbout;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildControls(); // in frmTemplateControls.cpp
    void connectControls();
    void Form_Load();
    void select(QRadioButton *option);
    void deselectFolderOptions();
    bool confirmLeaving();
    void leave();
    void dragEnded();
    // A drop does what the drag it ends carries (a row of the list or a node of the tree),
    // whatever an earlier gesture left behind.
    void takeDrag(const QMimeData *data);
    void forgetOpenTemplate();

    AppState &m_state;
    Services &m_services;
    QWidget *m_home;
    DragState m_drag;
    // The stored template open in the editor: a save in place writes this one and no other.
    OpenedTemplate m_opened;
    QHash<QString, QPixmap> m_images; // ImageList1
};
