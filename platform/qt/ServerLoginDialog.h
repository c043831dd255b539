#pragma once

#include "core/ServerLogins.h"

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Asks for a contact server's address (http or https), the user name and password, whether to
// remember the password, and the CA file of a company's own certificate authority (optional).
class ServerLoginDialog : public QDialog {
    Q_OBJECT

public:
    // An empty address is typed by the user; a given one is shown and cannot be changed.
    // Without a password store, "Remember password" is disabled and a line says why.
    ServerLoginDialog(const QString &address, bool canRemember, QWidget *parent = nullptr);

    QString address() const;
    ServerLogin login() const;
    bool remember() const;
    // Shows a login given before (the password is typed again).
    void showLogin(const ServerLogin &login);

    QLineEdit *txtAddress;
    QLineEdit *txtUser;
    QLineEdit *txtPassword;
    QCheckBox *chkRemember;
    QLabel *lblRemember;
    QLineEdit *txtCaFile;
    QPushButton *cmdBrowseCa;
    QPushButton *cmdOK;
};
