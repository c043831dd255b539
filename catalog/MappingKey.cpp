#include "catalog/MappingKey.h"

namespace MappingKey {

namespace {

// Per address: the code of its street-line keys and its street property.
struct Address {
    const char *code;
    const char *street;
};
constexpr Address kAddresses[kAddressCount] = {{"CO", "BusinessAddressStreet"},
                                               {"ML", "MailingAddressStreet"},
                                               {"HM", "HomeAddressStreet"},
                                               {"OT", "OtherAddressStreet"}};

const QLatin1String kUserDefinedPrefix("UD");

// "##" + address code + "Street" + line 1 to 3.
bool parseStreetLine(const QString &key, Parsed &parsed)
{
    if (key.size() != 11 || !key.startsWith(QLatin1String("##")) || key.mid(4, 6) != QLatin1String("Street") ||
        key[10] < QLatin1Char('1') || key[10] > QLatin1Char('3'))
        return false;
    for (int a = 0; a < kAddressCount; ++a) {
        if (key.mid(2, 2) == QLatin1String(kAddresses[a].code)) {
            parsed.kind = Kind::StreetLine;
            parsed.address = a;
            parsed.line = key[10].digitValue() - 1;
            return true;
        }
    }
    return false;
}

} // namespace

Parsed parse(const QString &key)
{
    Parsed parsed;
    if (key.isEmpty())
        return parsed;
    if (key.startsWith(kUserDefinedPrefix)) {
        parsed.kind = Kind::UserDefined;
        parsed.name = key.mid(kUserDefinedPrefix.size());
        return parsed;
    }
    if (key.startsWith(QLatin1String("@@"))) {
        parsed.kind = Kind::Group;
        return parsed;
    }
    if (parseStreetLine(key, parsed))
        return parsed;
    const std::pair<const char *, Kind> ownFields[] = {{"##Value", Kind::PotentialValue},
                                                       {"##TimeFrame", Kind::TimeFrame},
                                                       {"##ProdID", Kind::ProductId},
                                                       {"##END", Kind::RowEnd}};
    for (const auto &[ownKey, kind] : ownFields) {
        if (key == QLatin1String(ownKey)) {
            parsed.kind = kind;
            return parsed;
        }
    }
    parsed.kind = Kind::Property;
    for (int a = 0; a < kAddressCount; ++a) {
        if (key == QLatin1String(kAddresses[a].street)) {
            parsed.kind = Kind::FullStreet;
            parsed.address = a;
        }
    }
    return parsed;
}

QString userDefined(const QString &fieldName)
{
    return kUserDefinedPrefix + fieldName;
}

QString streetProperty(int address)
{
    return QLatin1String(kAddresses[address].street);
}

QString rowEnd()
{
    return QStringLiteral("##END");
}

} // namespace MappingKey
