#pragma once

#include "core/ServerLogins.h"

#include <optional>

// The desktop's password store (the Secret Service or KWallet, through QtKeychain): the login of
// each server kept under the server's address. Nothing of it is written anywhere else.
class DesktopPasswordStore {
public:
    // True when a password store runs on the desktop's session bus. Asked once; where no session
    // bus is known the answer is no at once, without starting one.
    bool available();
    // The login kept for the server; none when there is none or the store does not answer.
    std::optional<ServerLogin> read(const QUrl &server);
    // Raises AppError with the store's reason when it refuses.
    void write(const QUrl &server, const ServerLogin &login);
    // Forgets the server's login; nothing kept is no error.
    void remove(const QUrl &server);

private:
    std::optional<bool> m_available;
};
