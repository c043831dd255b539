#pragma once

#include <QString>

// Whether a text has the form of an e-mail address: an "@", a ".", and one to eight
// characters after the last ".". Deliberately loose. On False, code is "E1" (no "@" or no ".")
// or "E2" (nothing, or more than eight characters, after the last "."); on True it is left alone.
bool CheckEmailAddress(const QString &address, QString &code);
