#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The contact properties the program writes: for each, what it holds, what it tells about the
// row it comes from, and how a vCard carries it. The one table every part reads.
namespace ContactProperties {

enum class Kind { Text, Date, Gender, Boolean };

// What a value in the property tells about its row.
enum class RowFlag { None, Phone, Address, ContactName, CompanyName, Email };

// How a vCard carries the property.
enum class Carrier {
    Field,      // X-MIREL-FIELD, the program's own, with the value's kind
    FullName,   // FN
    Component,  // one component (slot) of the structured property N, ORG or ADR of these types
    Email,      // EMAIL, its slot (1 to 3) in X-MIREL-SLOT
    Single,     // a property of one value; its types tell properties of one name apart
    Date,       // a date
    Categories, // CATEGORIES, one category each
    Gender,     // X-GENDER, by the code's name
};

struct Property {
    const char *name;
    Kind kind = Kind::Text;
    RowFlag flag = RowFlag::None;
    Carrier carrier = Carrier::Field;
    const char *vcard = ""; // the vCard property
    const char *types = ""; // its TYPE values, as a list: "WORK,VOICE"
    int slot = 0;           // the component, or the e-mail's slot
    int phoneRank = 0;      // phone numbers: the order a contact with no name is named after one, from 1
};

// Every property, in the order a card writes them.
const QList<Property> &all();
// The property of this name (letter case counts), or nullptr.
const Property *find(const QString &name);
// Its place in all(), or -1.
int indexOf(const QString &name);

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
