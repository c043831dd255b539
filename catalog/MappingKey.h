#pragma once

#include <QString>

// What a mapping's key names: a contact property ("LastName"), a group of the field tree
// ("@@Names"), a line of a street ("##COStreet1" ... "##OTStreet3"), a user-defined field
// ("UD" + its name), or one of the row's own fields ("##Value", "##TimeFrame", "##ProdID", and
// "##END", which closes a row). Letter case counts.
namespace MappingKey {

enum class Kind {
    None,           // the empty key: the column is not mapped
    Property,       // a contact property, or a key nothing handles
    FullStreet,     // the street property of one of the four addresses
    StreetLine,     // one line of an address's street, joined at the row's end
    Group,          // a group of the tree: no field at all
    UserDefined,    // a field of the contact's own, named after the column
    PotentialValue, // written to the notes
    TimeFrame,      // written to the notes
    ProductId,      // written to the categories
    RowEnd,         // closes the row
};

// The four addresses in the order the row's end joins their lines.
constexpr int kAddressCount = 4;
constexpr int kLinesPerStreet = 3;

struct Parsed {
    Kind kind = Kind::None;
    int address = -1; // a street line's or a full street's address: 0 business, 1 mailing, 2 home, 3 other
    int line = -1;    // a street line's line, 0 to 2
    QString name;     // a user-defined field's name
};

Parsed parse(const QString &key);

// The key of a user-defined field named after a column.
QString userDefined(const QString &fieldName);
// The street property of an address (0 to 3), which its joined lines are written to.
QString streetProperty(int address);
// The key that closes a row.
QString rowEnd();

} // namespace MappingKey
