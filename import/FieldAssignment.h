#pragma once

#include "catalog/MappingKey.h"

#include <QString>

struct AppState;
struct Services;
namespace outlook {
class ContactItem;
}
namespace ContactProperties {
struct Property;
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

// A mapping's key as SetContactField reads it, worked out once for a run's every row.
struct FieldKey {
    explicit FieldKey(const QString &key);
    QString key;
    MappingKey::Parsed parsed;
    const ContactProperties::Property *property = nullptr; // a contact property's row of the table
};
qint16 SetContactField(AppState &state, Services &services, outlook::ContactItem &contact, const FieldKey &key);
