#pragma once

#include <QString>
#include <QStringList>

// The contact properties the program writes, and what each one holds.
namespace ContactProperties {

enum class Kind { Text, Date, Gender, Boolean };

// False when the name is not a contact property (letter case counts).
bool kindOf(const QString &name, Kind &kind);
const QStringList &names();
// The numbers that count as the contact's phone numbers, the primary one first.
const QStringList &phoneNumbers();

// The store's gender codes.
constexpr int olUnspecified = 0;
constexpr int olFemale = 1;
constexpr int olMale = 2;

} // namespace ContactProperties
