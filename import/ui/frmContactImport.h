#pragma once

#include "import/ImportRun.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

// The progress window of an import run: the row being imported of the total, and the seven
// counters. A box stays empty until its value is first written.
//
// The run holds the window thread, so the window paints only when told to: the values are kept
// as they come and the boxes that changed are painted onto the screen at most every 100 ms,
// before each question of the run and at its end. User input that arrives during the run is
// dropped when it ends, so that a click meant for a busy window cannot press "OK" afterwards.
class frmContactImport : public QWidget, public ImportProgress {
    Q_OBJECT

public:
    explicit frmContactImport(QWidget *parent = nullptr);

    void showTotal(int rows) override;
    void showRowNumber(int row) override;
    void showCounter(ImportCounter counter, int value) override;
    void showDuplicates(DuplicatePolicy policy, int value) override;
    void showNow() override;

    // Around the run: shown with "OK" disabled and on the screen before the first row; at the end
    // the last values are painted, the input of the run dropped and "OK" enabled.
    void beginRun();
    void endRun(const QString &folder);

    QLineEdit *box(ImportCounter counter) const;

    QLabel *lblProgress;
    QLabel *lblMinutes;
    // At the end of a run: where its contacts went (a folder's path or an address book's address).
    QLabel *lblFolder;
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
    // A box and the value it is to show; -1 while nothing was written.
    struct Shown {
        QLineEdit *box = nullptr;
        int value = -1;
        bool changed = false;
    };
    void write(Shown &shown, int value);

    std::array<Shown, kImportCounterCount> m_counters;
    Shown m_rowNumber;
    Shown m_total;
    Shown m_duplicates;
    QElapsedTimer m_sinceShown;
};
