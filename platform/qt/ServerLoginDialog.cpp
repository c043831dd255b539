#include "platform/qt/ServerLoginDialog.h"

#include "platform/CardDavStore.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

ServerLoginDialog::ServerLoginDialog(const QString &address, bool canRemember, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ServerLoginDialog"));
    setWindowTitle(QStringLiteral("Connect to Server"));
    auto *form = new QFormLayout(this);
    auto field = [this](const QString &name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(name);
        return edit;
    };
    txtAddress = field(QStringLiteral("txtAddress"));
    txtAddress->setPlaceholderText(QStringLiteral("https://contacts.example.com/"));
    txtAddress->setText(address);
    txtAddress->setReadOnly(!address.isEmpty());
    form->addRow(QStringLiteral("Server address:"), txtAddress);
    txtUser = field(QStringLiteral("txtUser"));
    form->addRow(QStringLiteral("User name:"), txtUser);
    txtPassword = field(QStringLiteral("txtPassword"));
    txtPassword->setEchoMode(QLineEdit::Password);
    form->addRow(QStringLiteral("Password:"), txtPassword);
    chkRemember = new QCheckBox(QStringLiteral("Remember password"), this);
    chkRemember->setObjectName(QStringLiteral("chkRemember"));
    chkRemember->setEnabled(canRemember);
    form->addRow(QString(), chkRemember);
    lblRemember = new QLabel(QStringLiteral("No password store is running on this desktop: the password is kept "
                                            "until the program ends."),
                             this);
    lblRemember->setObjectName(QStringLiteral("lblRemember"));
    lblRemember->setWordWrap(true);
    lblRemember->setVisible(!canRemember);
    form->addRow(QString(), lblRemember);
    txtCaFile = field(QStringLiteral("txtCaFile"));
    txtCaFile->setPlaceholderText(QStringLiteral("optional: a company's own CA (PEM)"));
    cmdBrowseCa = new QPushButton(QStringLiteral("Browse..."), this);
    auto *caRow = new QHBoxLayout;
    caRow->addWidget(txtCaFile);
    caRow->addWidget(cmdBrowseCa);
    form->addRow(QStringLiteral("CA file:"), caRow);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    cmdOK = buttons->button(QDialogButtonBox::Ok);
    form->addRow(buttons);
    setMinimumWidth(460);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto check = [this] { cmdOK->setEnabled(carddav::isServerLocation(this->address())); };
    connect(txtAddress, &QLineEdit::textChanged, this, check);
    check();
    connect(cmdBrowseCa, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("CA Certificate"), QString(),
                                                          QStringLiteral("Certificates (*.pem *.crt);;All files (*)"));
        if (!file.isEmpty())
            txtCaFile->setText(file);
    });
    if (!address.isEmpty())
        txtUser->setFocus();
}

QString ServerLoginDialog::address() const
{
    return txtAddress->text().trimmed();
}

ServerLogin ServerLoginDialog::login() const
{
    return {txtUser->text(), txtPassword->text(), txtCaFile->text().trimmed()};
}

bool ServerLoginDialog::remember() const
{
    return chkRemember->isEnabled() && chkRemember->isChecked();
}

void ServerLoginDialog::showLogin(const ServerLogin &login)
{
    txtUser->setText(login.user);
    txtCaFile->setText(login.caFile);
    txtPassword->setFocus();
}
