#pragma once

#include "outlook/FolderChoice.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QRadioButton;
class QTreeWidget;
struct AppState;

// Tells about a folder's custom form and its user-defined fields, and asks whether to use it.
class frmCustomFormInfo : public QDialog {
    Q_OBJECT

public:
    explicit frmCustomFormInfo(AppState &state, QWidget *parent = nullptr);

    void optYes_Click();
    void optNo_Click();

    QLabel *Label1;
    QLabel *lblCFInfo;
    QTreeWidget *LV3;
    QGroupBox *Frame1;
    QRadioButton *optYes;
    QRadioButton *optNo;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    AppState &m_state;
    bool m_answered = false;
};

// The window as the folder choice asks it.
class CustomFormWindowPrompt : public CustomFormPrompt {
public:
    void ask(AppState &state) override;
};
