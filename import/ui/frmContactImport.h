#pragma once

#include "import/ImportRun.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The progress window of an import run: the row being imported of the total, and the seven
// counters. A box stays empty until its value is first written.
class frmContactImport : public QWidget, public ImportProgress {
    Q_OBJECT

public:
    explicit frmContactImport(QWidget *parent = nullptr);

    void showTotal(int rows) override;
    void showRowNumber(int row) override;
    void showCounter(ImportCounter counter, int value) override;
    void showDuplicates(DuplicatePolicy policy, int value) override;

    QLineEdit *box(ImportCounter counter) const;

    QLabel *lblProgress;
    QLabel *lblMinutes;
    QLabel *lblImporting;
    QLineEdit *txtContactNum;
    QLabel *lblOf;
    QLineEdit *txtContactTotal;
    QLineEdit *txtTotalImported;
    QLineEdit *txtBlankContacts;
    QLineEdit *txtNoContactName;
    QLineEdit *txtNoCoName;
    QLineEdit *txtInvalidEmail;
    QLineEdit *txtNoAddr;
    QLineEdit *txtNoPhone;
    // Under the seven, only in a run that skips or updates the people the folder holds already.
    QLineEdit *txtDuplicates;
    QLabel *lblDuplicates;
    QPushButton *cmdOK;

signals:
    void okClicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    static void write(QLineEdit *box, int value);
};
