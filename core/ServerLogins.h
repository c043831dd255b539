#pragma once

#include <QString>
#include <QUrl>
#include <optional>

// The user name and password for a contact server, and the CA that signs its certificate when it
// is a company's own (empty: the system's certificate store).
struct ServerLogin {
    QString user;
    QString password;
    QString caFile;
};

// Where the login for a server comes from: the window asks the user (and may keep the password
// in the desktop's password store); the batch importer takes it from its command line and
// environment. None: the server is not opened.
class ServerLogins {
public:
    virtual ~ServerLogins() = default;
    virtual std::optional<ServerLogin> loginFor(const QUrl &server) = 0;
};

// One login for every server.
class FixedServerLogin : public ServerLogins {
public:
    explicit FixedServerLogin(ServerLogin login) : m_login(std::move(login)) {}
    std::optional<ServerLogin> loginFor(const QUrl &) override { return m_login; }

private:
    ServerLogin m_login;
};
