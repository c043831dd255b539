#include "import/ui/frmContactImport.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QLineEdit *counterBox(QWidget *parent, const char *name)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(true);
    box->setMaximumWidth(90);
    box->setAlignment(Qt::AlignRight);
    return box;
}

} // namespace

frmContactImport::frmContactImport(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmContactImport"));
    setWindowTitle(QStringLiteral("ContactMirel Import"));
    auto *layout = new QGridLayout(this);

    lblProgress = new QLabel(this);
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    QFont bold = lblProgress->font();
    bold.setBold(true);
    lblProgress->setFont(bold);
    lblMinutes = new QLabel(QStringLiteral("this can take a few minutes depending on the number of contacts"), this);
    lblImporting = new QLabel(QStringLiteral("Importing Contact#:"), this);
    txtContactNum = counterBox(this, "txtContactNum");
    lblOf = new QLabel(QStringLiteral("of"), this);
    txtContactTotal = counterBox(this, "txtContactTotal");

    layout->addWidget(lblProgress, 0, 0, 1, 4);
    layout->addWidget(lblMinutes, 1, 0, 1, 4);
    auto *line = new QHBoxLayout;
    line->addWidget(lblImporting);
    line->addWidget(txtContactNum);
    line->addWidget(lblOf);
    line->addWidget(txtContactTotal);
    line->addStretch();
    layout->addLayout(line, 2, 0, 1, 4);

    txtTotalImported = counterBox(this, "txtTotalImported");
    txtBlankContacts = counterBox(this, "txtBlankContacts");
    txtNoContactName = counterBox(this, "txtNoContactName");
    txtNoCoName = counterBox(this, "txtNoCoName");
    txtInvalidEmail = counterBox(this, "txtInvalidEmail");
    txtNoAddr = counterBox(this, "txtNoAddr");
    txtNoPhone = counterBox(this, "txtNoPhone");
    const ImportCounter order[] = {ImportCounter::TotalImported, ImportCounter::Blank,
                                   ImportCounter::NoContactName, ImportCounter::NoCompanyName,
                                   ImportCounter::InvalidEmail,  ImportCounter::NoAddress,
                                   ImportCounter::NoPhone};
    int row = 3;
    for (const ImportCounter counter : order) {
        layout->addWidget(box(counter), row, 0);
        layout->addWidget(new QLabel(ImportCounterLabel(counter), this), row, 1, 1, 3);
        ++row;
    }
    txtDuplicates = counterBox(this, "txtDuplicates");
    lblDuplicates = new QLabel(this);
    layout->addWidget(txtDuplicates, row, 0);
    layout->addWidget(lblDuplicates, row, 1, 1, 3);
    txtDuplicates->hide();
    lblDuplicates->hide();
    ++row;
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    layout->addWidget(cmdOK, row, 3);
    connect(cmdOK, &QPushButton::clicked, this, &frmContactImport::okClicked);
}

QLineEdit *frmContactImport::box(ImportCounter counter) const
{
    switch (counter) {
    case ImportCounter::TotalImported:
        return txtTotalImported;
    case ImportCounter::Blank:
        return txtBlankContacts;
    case ImportCounter::NoContactName:
        return txtNoContactName;
    case ImportCounter::NoCompanyName:
        return txtNoCoName;
    case ImportCounter::InvalidEmail:
        return txtInvalidEmail;
    case ImportCounter::NoAddress:
        return txtNoAddr;
    case ImportCounter::NoPhone:
        return txtNoPhone;
    }
    return nullptr;
}

void frmContactImport::write(QLineEdit *box, int value)
{
    box->setText(QString::number(value));
    box->repaint(); // the run holds the event loop; only an explicit repaint shows the value
}

void frmContactImport::showTotal(int rows)
{
    write(txtContactTotal, rows);
}

void frmContactImport::showRowNumber(int row)
{
    write(txtContactNum, row);
}

void frmContactImport::showCounter(ImportCounter counter, int value)
{
    write(box(counter), value);
}

void frmContactImport::showDuplicates(DuplicatePolicy policy, int value)
{
    lblDuplicates->setText(policy == DuplicatePolicy::Skip ? QStringLiteral("Contacts skipped - already in folder")
                                                           : QStringLiteral("Contacts updated - already in folder"));
    lblDuplicates->show();
    txtDuplicates->show();
    write(txtDuplicates, value);
}

void frmContactImport::closeEvent(QCloseEvent *event)
{
    // Only "OK" ends the window, once the run is over.
    if (cmdOK->isEnabled()) {
        event->ignore();
        emit okClicked();
    } else {
        event->ignore();
    }
}
