#pragma once

#include "core/ServerLogins.h"
#include "platform/qt/DesktopPasswordStore.h"

#include <QHash>
#include <memory>

class MessageBoxes;
class QWidget;

namespace outlook {
class Namespace;
class Store;
} // namespace outlook

// The window's logins of contact servers: those given in this run, then those kept in the
// desktop's password store, else the user is asked. A login is used for the rest of the run
// only once the server has taken it.
class QtServerLogins : public ServerLogins {
public:
    explicit QtServerLogins(MessageBoxes &boxes) : m_boxes(boxes) {}

    std::optional<ServerLogin> loginFor(const QUrl &server) override;

    // "Connect to Server...": asks for a server and its login, then opens it in ns as a store.
    // Null when the user cancels; raises AppError when the server cannot be opened, and then
    // nothing of the login is kept.
    std::shared_ptr<outlook::Store> connect(outlook::Namespace &ns, QWidget *parent);

private:
    bool opens(const QUrl &server, const ServerLogin &login, bool report);
    void keep(const QUrl &server, const ServerLogin &login, bool remember);

    MessageBoxes &m_boxes;
    DesktopPasswordStore m_passwords;
    QHash<QString, ServerLogin> m_session; // by the server's address
};
