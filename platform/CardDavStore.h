#pragma once

#include "core/ServerLogins.h"
#include "outlook/ContactStore.h"

#include <QUrl>
#include <functional>
#include <optional>

// The CardDAV backend of the contact store: a server is a store, its address books are the
// folders, and each contact is one card stored on the server. A contact counts as saved only
// when the server has confirmed it; nothing on the server is ever overwritten.
namespace carddav {

using Login = ServerLogin;

// Asked for the login of a server when a store on it is opened; none: the store stays closed.
using LoginSource = std::function<std::optional<Login>(const QUrl &server)>;

// True for an http or https address, which names a server rather than a directory.
bool isServerLocation(const QString &location);

// Connects to the server at this address and finds the user's address books.
std::shared_ptr<outlook::Store> OpenServerStore(const QUrl &address, const Login &login);

// The address book at this address on the server of a store that OpenServerStore made.
std::shared_ptr<outlook::Folder> OpenServerFolder(outlook::Store &store, const QUrl &addressBook);

} // namespace carddav
