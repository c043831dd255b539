#include "platform/qt/frmAbout.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QVBoxLayout>

frmAbout::frmAbout(const QString &dataFolder, QWidget *parent) : QDialog(parent)
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
    auto *where = new QLabel(
        QStringLiteral("Templates and the default address book are kept in %1").arg(QDir::toNativeSeparators(dataFolder)),
        this);
    where->setObjectName(QStringLiteral("lblDataFolder"));
    where->setWordWrap(true);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(name);
    layout->addWidget(version);
    layout->addWidget(purpose);
    layout->addWidget(where);
    layout->addWidget(buttons);
}
