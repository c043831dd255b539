#pragma once

#include <QString>

struct AppState;
struct Services;
namespace outlook {
class ContactItem;
}

// Results of SetContactField.
namespace FieldResult {
constexpr qint16 Handled = -1;
constexpr qint16 Skipped = 0; // a user-defined field written, or a failure absorbed
constexpr qint16 Stop = 2;    // the user chose to stop the import
} // namespace FieldResult

// Writes AppState::currentValue into the pending contact by the mapping's key (letter case
// counts): a contact property, a street line, a note, the product category, a user-defined field
// ("UD" + name), or "##END", which closes the row. Sets the row flags.
qint16 SetContactField(AppState &state, Services &services, outlook::ContactItem &contact, const QString &key);
