#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;
struct AppState;
struct Services;

// File, "Undo an Import...": the import runs, newest first, and the undo of the one chosen
// after a question that says how many contacts will be deleted.
class frmUndoImport : public QDialog {
    Q_OBJECT

public:
    frmUndoImport(AppState &state, Services &services, QWidget *parent = nullptr);

    void cmdUndo_Click();

    QTreeWidget *lstRuns;
    QPushButton *cmdUndo;
    QPushButton *cmdClose;

private:
    void fill();

    AppState &m_state;
    Services &m_services;
};
