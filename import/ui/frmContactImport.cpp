#include "import/ui/frmContactImport.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QWindow>

namespace {

constexpr int kRefreshMs = 100;

// Swallows user input while it is installed on the application.
class InputDrop : public QObject {
protected:
    bool eventFilter(QObject *, QEvent *event) override { return event->isInputEvent(); }
};

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
    lblFolder = new QLabel(this);
    lblFolder->setObjectName(QStringLiteral("lblFolder"));
    lblFolder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblFolder->hide();
    layout->addWidget(lblFolder, row, 0, 1, 4);
    ++row;
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    layout->addWidget(cmdOK, row, 3);
    connect(cmdOK, &QPushButton::clicked, this, &frmContactImport::okClicked);

    for (int i = 0; i < kImportCounterCount; ++i)
        m_counters[i].box = box(static_cast<ImportCounter>(i));
    m_rowNumber.box = txtContactNum;
    m_total.box = txtContactTotal;
    m_duplicates.box = txtDuplicates;
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

void frmContactImport::write(Shown &shown, int value)
{
    // A box is written only when its value changes.
    shown.changed = shown.changed || value != shown.value;
    shown.value = value;
}

void frmContactImport::showTotal(int rows)
{
    write(m_total, rows);
}

void frmContactImport::showRowNumber(int row)
{
    write(m_rowNumber, row);
    if (m_sinceShown.hasExpired(kRefreshMs))
        showNow();
}

void frmContactImport::showCounter(ImportCounter counter, int value)
{
    write(m_counters[static_cast<int>(counter)], value);
}

void frmContactImport::showDuplicates(DuplicatePolicy policy, int value)
{
    if (txtDuplicates->isHidden()) {
        lblDuplicates->setText(policy == DuplicatePolicy::Skip
                                   ? QStringLiteral("Contacts skipped - already in folder")
                                   : QStringLiteral("Contacts updated - already in folder"));
        lblDuplicates->show();
        txtDuplicates->show();
    }
    write(m_duplicates, value);
}

void frmContactImport::showNow()
{
    m_sinceShown.start();
    for (Shown *shown : {&m_rowNumber, &m_total, &m_counters[0], &m_counters[1], &m_counters[2], &m_counters[3],
                         &m_counters[4], &m_counters[5], &m_counters[6], &m_duplicates}) {
        if (!shown->changed)
            continue;
        shown->changed = false;
        shown->box->setText(QString::number(shown->value));
        shown->box->repaint(); // painted and put on the screen now, without the event loop
    }
    // Window system events such as an uncovered window or the desktop asking whether the
    // program still answers; never user input, which stays queued until the run ends.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void frmContactImport::beginRun()
{
    lblProgress->setText(QStringLiteral("Contact Import Process in Progress"));
    cmdOK->setEnabled(false);
    show();
    // Painting reaches the screen only once the window is exposed there.
    QElapsedTimer waited;
    waited.start();
    while (!(windowHandle() && windowHandle()->isExposed()) && !waited.hasExpired(2000)) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    repaint();
    m_sinceShown.start();
}

void frmContactImport::endRun(const QString &folder)
{
    showNow();
    {
        InputDrop drop;
        qApp->installEventFilter(&drop);
        // Input left queued by the run's event processing waits for a new wake-up to be read.
        QAbstractEventDispatcher::instance()->wakeUp();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100); // until none is left
        qApp->removeEventFilter(&drop);
    }
    lblProgress->setText(QStringLiteral("Contact Import Complete - Click OK to continue"));
    if (!folder.isEmpty()) {
        lblFolder->setText(QStringLiteral("Contacts folder: %1").arg(folder));
        lblFolder->show();
    }
    cmdOK->setEnabled(true);
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
