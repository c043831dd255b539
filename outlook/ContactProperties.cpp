#include "outlook/ContactProperties.h"

#include <QHash>

#include <algorithm>

namespace ContactProperties {

namespace {

constexpr Kind Text = Kind::Text;
constexpr Kind Boolean = Kind::Boolean;
constexpr Carrier FullName = Carrier::FullName;
constexpr Carrier Component = Carrier::Component;
constexpr Carrier Email = Carrier::Email;
constexpr Carrier Single = Carrier::Single;
constexpr RowFlag None = RowFlag::None;
constexpr RowFlag Phone = RowFlag::Phone;
constexpr RowFlag Address = RowFlag::Address;
constexpr RowFlag ContactName = RowFlag::ContactName;

// name, kind, row flag, carrier, vCard property, types, slot, phone rank. ADR's components:
// 0 post office box, 2 street, 3 locality, 4 region, 5 postal code, 6 country.
constexpr Property kTable[] = {
    {"FullName", Text, ContactName, FullName, "FN"},
    {"LastName", Text, ContactName, Component, "N", "", 0},
    {"FirstName", Text, ContactName, Component, "N", "", 1},
    {"MiddleName", Text, None, Component, "N", "", 2},
    {"Title", Text, None, Component, "N", "", 3},
    {"Suffix", Text, None, Component, "N", "", 4},
    {"CompanyName", Text, RowFlag::CompanyName, Component, "ORG", "", 0},
    {"Department", Text, None, Component, "ORG", "", 1},
    {"EmailAddress", Text, RowFlag::Email, Email, "EMAIL", "", 1},
    {"Email2Address", Text, RowFlag::Email, Email, "EMAIL", "", 2},
    {"Email3Address", Text, RowFlag::Email, Email, "EMAIL", "", 3},
    {"BusinessAddressPostOfficeBox", Text, Address, Component, "ADR", "WORK", 0},
    {"BusinessAddressStreet", Text, Address, Component, "ADR", "WORK", 2},
    {"BusinessAddressCity", Text, None, Component, "ADR", "WORK", 3},
    {"BusinessAddressState", Text, None, Component, "ADR", "WORK", 4},
    {"BusinessAddressPostalCode", Text, None, Component, "ADR", "WORK", 5},
    {"BusinessAddressCountry", Text, None, Component, "ADR", "WORK", 6},
    {"HomeAddressPostOfficeBox", Text, Address, Component, "ADR", "HOME", 0},
    {"HomeAddressStreet", Text, Address, Component, "ADR", "HOME", 2},
    {"HomeAddressCity", Text, None, Component, "ADR", "HOME", 3},
    {"HomeAddressState", Text, None, Component, "ADR", "HOME", 4},
    {"HomeAddressPostalCode", Text, None, Component, "ADR", "HOME", 5},
    {"HomeAddressCountry", Text, None, Component, "ADR", "HOME", 6},
    {"MailingAddressPostOfficeBox", Text, Address, Component, "ADR", "POSTAL", 0},
    {"MailingAddressStreet", Text, Address, Component, "ADR", "POSTAL", 2},
    {"MailingAddressCity", Text, None, Component, "ADR", "POSTAL", 3},
    {"MailingAddressState", Text, None, Component, "ADR", "POSTAL", 4},
    {"MailingAddressPostalCode", Text, None, Component, "ADR", "POSTAL", 5},
    {"MailingAddressCountry", Text, None, Component, "ADR", "POSTAL", 6},
    {"OtherAddressPostOfficeBox", Text, Address, Component, "ADR", "X-OTHER", 0},
    {"OtherAddressStreet", Text, Address, Component, "ADR", "X-OTHER", 2},
    {"OtherAddressCity", Text, None, Component, "ADR", "X-OTHER", 3},
    {"OtherAddressState", Text, None, Component, "ADR", "X-OTHER", 4},
    {"OtherAddressPostalCode", Text, None, Component, "ADR", "X-OTHER", 5},
    {"OtherAddressCountry", Text, None, Component, "ADR", "X-OTHER", 6},
    {"JobTitle", Text, None, Single, "TITLE"},
    {"Profession", Text, None, Single, "ROLE"},
    {"NickName", Text, None, Single, "NICKNAME"},
    {"Body", Text, None, Single, "NOTE"},
    {"WebPage", Text, None, Single, "URL"},
    {"BusinessHomePage", Text, None, Single, "URL", "WORK"},
    {"PersonalHomePage", Text, None, Single, "URL", "HOME"},
    {"InternetFreeBusyAddress", Text, None, Single, "FBURL"},
    {"BusinessAddress", Text, Address, Single, "LABEL", "WORK"},
    {"HomeAddress", Text, Address, Single, "LABEL", "HOME"},
    {"MailingAddress", Text, Address, Single, "LABEL", "POSTAL"},
    {"OtherAddress", Text, Address, Single, "LABEL", "X-OTHER"},
    {"AssistantTelephoneNumber", Text, None, Single, "TEL", "X-ASSISTANT"},
    {"BusinessTelephoneNumber", Text, Phone, Single, "TEL", "WORK,VOICE", 0, 2},
    {"Business2TelephoneNumber", Text, Phone, Single, "TEL", "WORK,VOICE,X-SECOND", 0, 3},
    {"BusinessFaxNumber", Text, None, Single, "TEL", "WORK,FAX"},
    {"CallbackTelephoneNumber", Text, Phone, Single, "TEL", "X-CALLBACK", 0, 10},
    {"CarTelephoneNumber", Text, Phone, Single, "TEL", "CAR", 0, 8},
    {"CompanyMainTelephoneNumber", Text, Phone, Single, "TEL", "WORK,X-COMPANY", 0, 4},
    {"HomeTelephoneNumber", Text, Phone, Single, "TEL", "HOME,VOICE", 0, 6},
    {"Home2TelephoneNumber", Text, Phone, Single, "TEL", "HOME,VOICE,X-SECOND", 0, 7},
    {"HomeFaxNumber", Text, None, Single, "TEL", "HOME,FAX"},
    {"ISDNNumber", Text, None, Single, "TEL", "ISDN"},
    {"MobileTelephoneNumber", Text, Phone, Single, "TEL", "CELL", 0, 5},
    {"OtherFaxNumber", Text, None, Single, "TEL", "FAX,X-OTHER"},
    {"OtherTelephoneNumber", Text, Phone, Single, "TEL", "VOICE,X-OTHER", 0, 9},
    {"PagerNumber", Text, None, Single, "TEL", "PAGER"},
    {"PrimaryTelephoneNumber", Text, Phone, Single, "TEL", "PREF,VOICE", 0, 1},
    {"RadioTelephoneNumber", Text, None, Single, "TEL", "X-RADIO"},
    {"TelexNumber", Text, None, Single, "TEL", "X-TELEX"},
    {"TTYDDTelephoneNumber", Text, None, Single, "TEL", "X-TTYTDD"},
    {"Account", Text, None, Single, "X-ACCOUNT"},
    {"AssistantName", Text, None, Single, "X-ASSISTANT"},
    {"BillingInformation", Text, None, Single, "X-BILLING-INFORMATION"},
    {"Children", Text, None, Single, "X-CHILDREN"},
    {"Companies", Text, None, Single, "X-COMPANIES"},
    {"ComputerNetworkName", Text, None, Single, "X-COMPUTER-NETWORK-NAME"},
    {"CustomerID", Text, None, Single, "X-CUSTOMER-ID"},
    {"FTPSite", Text, None, Single, "X-FTP-SITE"},
    {"GovernmentIDNumber", Text, None, Single, "X-GOVERNMENT-ID"},
    {"Hobby", Text, None, Single, "X-HOBBY"},
    {"Initials", Text, None, Single, "X-INITIALS"},
    {"Language", Text, None, Single, "X-LANGUAGE"},
    {"ManagerName", Text, None, Single, "X-MANAGER"},
    {"Mileage", Text, None, Single, "X-MILEAGE"},
    {"NetMeetingAlias", Text, None, Single, "X-NETMEETING-ALIAS"},
    {"NetMeetingServer", Text, None, Single, "X-NETMEETING-SERVER"},
    {"OfficeLocation", Text, None, Single, "X-OFFICE-LOCATION"},
    {"OrganizationalIDNumber", Text, None, Single, "X-ORGANIZATIONAL-ID"},
    {"ReferredBy", Text, None, Single, "X-REFERRED-BY"},
    {"Spouse", Text, None, Single, "X-SPOUSE"},
    {"Subject", Text, None, Single, "X-SUBJECT"},
    {"Birthday", Kind::Date, None, Carrier::Date, "BDAY"},
    {"Anniversary", Kind::Date, None, Carrier::Date, "X-ANNIVERSARY"},
    {"Categories", Text, None, Carrier::Categories, "CATEGORIES"},
    {"Gender", Kind::Gender, None, Carrier::Gender, "X-GENDER"},
    {"Journal", Boolean},
    {"NoAging", Boolean},
};

const QHash<QString, const Property *> &byName()
{
    static const QHash<QString, const Property *> index = [] {
        QHash<QString, const Property *> h;
        for (const Property &p : all())
            h.insert(QLatin1String(p.name), &p);
        return h;
    }();
    return index;
}

} // namespace

const QList<Property> &all()
{
    static const QList<Property> list(std::begin(kTable), std::end(kTable));
    return list;
}

const Property *find(const QString &name)
{
    return byName().value(name, nullptr);
}

int indexOf(const QString &name)
{
    const Property *p = find(name);
    return p ? int(p - all().constData()) : -1;
}

bool kindOf(const QString &name, Kind &kind)
{
    const Property *p = find(name);
    if (!p)
        return false;
    kind = p->kind;
    return true;
}

const QStringList &phoneNumbers()
{
    static const QStringList phones = [] {
        QList<const Property *> ranked;
        for (const Property &p : all())
            if (p.phoneRank > 0)
                ranked << &p;
        std::sort(ranked.begin(), ranked.end(),
                  [](const Property *a, const Property *b) { return a->phoneRank < b->phoneRank; });
        QStringList list;
        for (const Property *p : std::as_const(ranked))
            list << QLatin1String(p->name);
        return list;
    }();
    return phones;
}

const QStringList &names()
{
    static const QStringList sorted = [] {
        QStringList list = byName().keys();
        list.sort();
        return list;
    }();
    return sorted;
}

} // namespace ContactProperties
