#include "platform/qt/frmAbout.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About ContactMirel Importer"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    auto *name = new QLabel(QStringLiteral("ContactMirel Importer"), this);
    name->setObjectName(QStringLiteral("lblProduct"));
    QFont font = name->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.4);
    name->setFont(font);
    auto *version = new QLabel(QStringLiteral("Version %1").arg(QStringLiteral(MIREL_VERSION)), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    auto *purpose = new QLabel(
        QStringLiteral("Creates contacts in address-book folders from comma-delimited text files and Excel workbooks."),
        this);
    purpose->setWordWrap(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(purpose);
    layout->addWidget(buttons);
}
