#pragma once

#include <QMainWindow>
#include <QPointer>

#include "editor/ui/frmTemplate.h"
#include "import/ui/frmContactImport.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
struct AppState;
struct Services;

// The start-up window and home of the program: the preparation phase ("Map It") and the
// processing phase (template choice, "Retrieve It", "Create It").
class frmMirelImportMain : public QMainWindow {
    Q_OBJECT

public:
    frmMirelImportMain(AppState &state, Services &services, QWidget *parent = nullptr);
    ~frmMirelImportMain() override;

    void Form_Load();
    void Form_Activate();
    void cboTemplates1_Click();
    void cmdMapIt_Click();
    void cmdRetrieve_Click();
    void cmdCreate_Click();
    void cmdOK_Click();
    frmContactImport *progressWindow() const { return m_progress; }
    void mnuFileUndo_Click();
    void mnuFileExit_Click();
    void mnuHelpContents_Click();
    void mnuHelpWeb_Click();
    void mnuHelpAbout_Click();

    frmTemplate *templateEditor() const { return m_editor; }

    QLabel *Label10;
    QLabel *Image1;
    QLabel *Label3;
    QGroupBox *Frame1;
    QPushButton *cmdMapIt;
    QLabel *Label7;
    QGroupBox *Frame2;
    QLabel *Label1;
    QComboBox *cboTemplates1;
    QPushButton *cmdRetrieve;
    QLabel *Label4;
    QPushButton *cmdCreate;
    QLabel *Label9;
    QTreeWidget *LV2;
    QTreeWidget *TV2;

    QMenu *mnuFile;
    QAction *mnuFileUndo;
    QAction *mnuFileExit;
    QMenu *mnuHelp;
    QAction *mnuHelpContents;
    QAction *mnuHelpBar1;
    QAction *mnuHelpWeb;
    QAction *mnuHelpBar2;
    QAction *mnuHelpAbout;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();

    AppState &m_state;
    Services &m_services;
    QPointer<frmTemplate> m_editor;
    QPointer<frmContactImport> m_progress;
};
