#include "platform/qt/QtServerLogins.h"

#include "core/ErrorReport.h"
#include "outlook/ContactStore.h"
#include "platform/CardDav.h"
#include "platform/CardDavStore.h"
#include "platform/qt/ServerLoginDialog.h"

#include <QApplication>

std::optional<ServerLogin> QtServerLogins::loginFor(const QUrl &server)
{
    const QString key = server.toString();
    if (m_session.contains(key))
        return m_session.value(key);
    // A kept login the server no longer takes (the password was changed) is asked for again.
    const std::optional<ServerLogin> kept = m_passwords.read(server);
    if (kept && opens(server, *kept, false)) {
        m_session.insert(key, *kept);
        return kept;
    }
    ServerLoginDialog dialog(key, m_passwords.available(), QApplication::activeWindow());
    if (kept)
        dialog.showLogin(*kept);
    while (dialog.exec() == QDialog::Accepted) {
        if (opens(server, dialog.login(), true)) {
            m_session.insert(key, dialog.login());
            keep(server, dialog.login(), dialog.remember());
            return dialog.login();
        }
    }
    return std::nullopt;
}

std::shared_ptr<outlook::Store> QtServerLogins::connect(outlook::Namespace &ns, QWidget *parent)
{
    ServerLoginDialog dialog(QString(), m_passwords.available(), parent);
    if (dialog.exec() != QDialog::Accepted)
        return nullptr;
    const QUrl server = carddav::serverOf(dialog.address());
    const QString key = server.toString();
    // Refused with the namespace's own message; an open server keeps the login it was opened with.
    if (server.isEmpty())
        return ns.AddStore(dialog.address());
    for (const auto &store : ns.Stores())
        if (store->StoreID() == key)
            return store;
    const std::optional<ServerLogin> earlier =
        m_session.contains(key) ? std::optional(m_session.value(key)) : std::nullopt;
    m_session.insert(key, dialog.login()); // the namespace asks for it at once
    std::shared_ptr<outlook::Store> store;
    try {
        store = ns.AddStore(dialog.address());
    } catch (...) {
        if (earlier)
            m_session.insert(key, *earlier);
        else
            m_session.remove(key);
        throw;
    }
    keep(server, dialog.login(), dialog.remember());
    return store;
}

// Tries the login on the server; report: a refusal is shown.
bool QtServerLogins::opens(const QUrl &server, const ServerLogin &login, bool report)
{
    try {
        carddav::OpenServerStore(server, login);
        return true;
    } catch (const std::exception &e) {
        if (report)
            ReportFileError(m_boxes, TrappedError(e));
        return false;
    }
}

// The password store keeps the login when the user asked for it, and forgets it otherwise.
void QtServerLogins::keep(const QUrl &server, const ServerLogin &login, bool remember)
{
    if (!m_passwords.available())
        return;
    try {
        if (remember)
            m_passwords.write(server, login);
        else
            m_passwords.remove(server);
    } catch (const std::exception &e) {
        ReportFileError(m_boxes, TrappedError(e));
    }
}
