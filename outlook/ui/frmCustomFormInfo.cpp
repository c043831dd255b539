#include "outlook/ui/frmCustomFormInfo.h"

#include "core/AppState.h"
#include "platform/Twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>

frmCustomFormInfo::frmCustomFormInfo(AppState &state, QWidget *parent) : QDialog(parent), m_state(state)
{
    setObjectName(QStringLiteral("frmCustomFormInfo"));
    setWindowTitle(QStringLiteral("Custom Outlook Form Information"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    Label1 = new QLabel(QStringLiteral("Please read the following before proceeding:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    lblCFInfo = new QLabel(state.customFormNotice, this);
    lblCFInfo->setObjectName(QStringLiteral("lblCFInfo"));
    lblCFInfo->setTextFormat(Qt::PlainText);
    lblCFInfo->setWordWrap(true);
    lblCFInfo->setFont(QFont(QStringLiteral("Arial")));
    LV3 = new QTreeWidget(this);
    LV3->setObjectName(QStringLiteral("LV3"));
    LV3->setRootIsDecorated(false);
    LV3->setColumnCount(0); // any earlier headers go before the two columns are added
    LV3->setHeaderLabels({QStringLiteral("Column Name"), QStringLiteral("Data Type")});
    LV3->setColumnWidth(0, TwipsToPixels(2880, LV3->logicalDpiX()));
    LV3->setColumnWidth(1, TwipsToPixels(1440, LV3->logicalDpiX()));
    for (const auto &[name, type] : state.userDefinedFields)
        new QTreeWidgetItem(LV3, {name, type});
    Frame1 = new QGroupBox(QStringLiteral("Do you wish to use this folder?"), this);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    optYes = new QRadioButton(QStringLiteral("Yes"), Frame1);
    optYes->setObjectName(QStringLiteral("optYes"));
    optNo = new QRadioButton(QStringLiteral("No"), Frame1);
    optNo->setObjectName(QStringLiteral("optNo"));
    auto *options = new QHBoxLayout(Frame1);
    options->addWidget(optYes);
    options->addWidget(optNo);
    layout->addWidget(Label1);
    layout->addWidget(lblCFInfo);
    layout->addWidget(LV3);
    layout->addWidget(Frame1);
    resize(560, 440);
    connect(optYes, &QRadioButton::clicked, this, &frmCustomFormInfo::optYes_Click);
    connect(optNo, &QRadioButton::clicked, this, &frmCustomFormInfo::optNo_Click);
}

void frmCustomFormInfo::optYes_Click()
{
    m_state.useCustomFolder = true;
    m_answered = true;
    accept();
}

void frmCustomFormInfo::optNo_Click()
{
    m_state.useCustomFolder = false;
    m_answered = true;
    reject();
}

void frmCustomFormInfo::closeEvent(QCloseEvent *event)
{
    // Closed without an answer: the folder is not used.
    if (!m_answered)
        m_state.useCustomFolder = false;
    QDialog::closeEvent(event);
}

void CustomFormWindowPrompt::ask(AppState &state)
{
    frmCustomFormInfo window(state, QApplication::activeWindow());
    state.useCustomFolder = false; // an answer must be given for the folder to be used
    window.exec();
}
