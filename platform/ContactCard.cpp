#include "platform/ContactCard.h"

#include "app/AppError.h"
#include "outlook/ContactProperties.h"

#include <QDateTime>
#include <QSet>

namespace vcardstore {

using outlook::ContactData;

namespace {

const QString kMessageClassProperty = QStringLiteral("X-MIREL-MESSAGE-CLASS");
const QString kFieldProperty = QStringLiteral("X-MIREL-FIELD");
const QString kUserFieldProperty = QStringLiteral("X-MIREL-USER-FIELD");
const QString kDerivedParam = QStringLiteral("X-MIREL-DERIVED");
const QString kSlotParam = QStringLiteral("X-MIREL-SLOT");
const QString kKindParam = QStringLiteral("X-KIND");

// Properties kept in the components of a structured vCard property.
struct Component {
    const char *key;
    int index;
};
constexpr Component kNameParts[] = {{"LastName", 0}, {"FirstName", 1}, {"MiddleName", 2}, {"Title", 3}, {"Suffix", 4}};
constexpr Component kOrgParts[] = {{"CompanyName", 0}, {"Department", 1}};
constexpr const char *kEmailKeys[] = {"EmailAddress", "Email2Address", "Email3Address"};

// The four addresses: ADR and LABEL with the address's types. ADR components: post office
// box, extended address, street, locality, region, postal code, country.
struct Address {
    const char *prefix;
    const char *types;
};
constexpr Address kAddresses[] = {{"Business", "WORK"}, {"Home", "HOME"}, {"Mailing", "POSTAL"}, {"Other", "X-OTHER"}};
constexpr std::pair<int, const char *> kAddressParts[] = {{0, "PostOfficeBox"}, {2, "Street"},     {3, "City"},
                                                          {4, "State"},         {5, "PostalCode"}, {6, "Country"}};

// Properties of one value: the key, the vCard property, and the types that tell keys of one
// property apart (matched as a set).
struct Single {
    const char *key;
    const char *name;
    const char *types;
};
constexpr Single kSingles[] = {
    {"JobTitle", "TITLE", ""},
    {"Profession", "ROLE", ""},
    {"NickName", "NICKNAME", ""},
    {"Body", "NOTE", ""},
    {"WebPage", "URL", ""},
    {"BusinessHomePage", "URL", "WORK"},
    {"PersonalHomePage", "URL", "HOME"},
    {"InternetFreeBusyAddress", "FBURL", ""},
    {"BusinessAddress", "LABEL", "WORK"},
    {"HomeAddress", "LABEL", "HOME"},
    {"MailingAddress", "LABEL", "POSTAL"},
    {"OtherAddress", "LABEL", "X-OTHER"},
    {"AssistantTelephoneNumber", "TEL", "X-ASSISTANT"},
    {"BusinessTelephoneNumber", "TEL", "WORK,VOICE"},
    {"Business2TelephoneNumber", "TEL", "WORK,VOICE,X-SECOND"},
    {"BusinessFaxNumber", "TEL", "WORK,FAX"},
    {"CallbackTelephoneNumber", "TEL", "X-CALLBACK"},
    {"CarTelephoneNumber", "TEL", "CAR"},
    {"CompanyMainTelephoneNumber", "TEL", "WORK,X-COMPANY"},
    {"HomeTelephoneNumber", "TEL", "HOME,VOICE"},
    {"Home2TelephoneNumber", "TEL", "HOME,VOICE,X-SECOND"},
    {"HomeFaxNumber", "TEL", "HOME,FAX"},
    {"ISDNNumber", "TEL", "ISDN"},
    {"MobileTelephoneNumber", "TEL", "CELL"},
    {"OtherFaxNumber", "TEL", "FAX,X-OTHER"},
    {"OtherTelephoneNumber", "TEL", "VOICE,X-OTHER"},
    {"PagerNumber", "TEL", "PAGER"},
    {"PrimaryTelephoneNumber", "TEL", "PREF,VOICE"},
    {"RadioTelephoneNumber", "TEL", "X-RADIO"},
    {"TelexNumber", "TEL", "X-TELEX"},
    {"TTYDDTelephoneNumber", "TEL", "X-TTYTDD"},
    {"Account", "X-ACCOUNT", ""},
    {"AssistantName", "X-ASSISTANT", ""},
    {"BillingInformation", "X-BILLING-INFORMATION", ""},
    {"Children", "X-CHILDREN", ""},
    {"Companies", "X-COMPANIES", ""},
    {"ComputerNetworkName", "X-COMPUTER-NETWORK-NAME", ""},
    {"CustomerID", "X-CUSTOMER-ID", ""},
    {"FTPSite", "X-FTP-SITE", ""},
    {"GovernmentIDNumber", "X-GOVERNMENT-ID", ""},
    {"Hobby", "X-HOBBY", ""},
    {"Initials", "X-INITIALS", ""},
    {"Language", "X-LANGUAGE", ""},
    {"ManagerName", "X-MANAGER", ""},
    {"Mileage", "X-MILEAGE", ""},
    {"NetMeetingAlias", "X-NETMEETING-ALIAS", ""},
    {"NetMeetingServer", "X-NETMEETING-SERVER", ""},
    {"OfficeLocation", "X-OFFICE-LOCATION", ""},
    {"OrganizationalIDNumber", "X-ORGANIZATIONAL-ID", ""},
    {"ReferredBy", "X-REFERRED-BY", ""},
    {"Spouse", "X-SPOUSE", ""},
    {"Subject", "X-SUBJECT", ""},
};
constexpr std::pair<const char *, const char *> kDates[] = {{"Birthday", "BDAY"}, {"Anniversary", "X-ANNIVERSARY"}};
const QStringList kGenderNames{QStringLiteral("Unspecified"), QStringLiteral("Female"), QStringLiteral("Male")};

// The keys the structured and single properties carry; any other property goes as X-MIREL-FIELD.
bool isMappedKey(const QString &key)
{
    static const QSet<QString> keys = [] {
        QSet<QString> k{QStringLiteral("FullName"), QStringLiteral("Categories"), QStringLiteral("Gender")};
        for (const auto &c : kNameParts)
            k.insert(QLatin1String(c.key));
        for (const auto &c : kOrgParts)
            k.insert(QLatin1String(c.key));
        for (const char *e : kEmailKeys)
            k.insert(QLatin1String(e));
        for (const auto &a : kAddresses)
            for (const auto &[index, part] : kAddressParts)
                k.insert(QLatin1String(a.prefix) + QStringLiteral("Address") + QLatin1String(part));
        for (const auto &single : kSingles)
            k.insert(QLatin1String(single.key));
        for (const auto &[key, name] : kDates)
            k.insert(QLatin1String(key));
        return k;
    }();
    return keys.contains(key);
}

QStringList typeSet(const char *types)
{
    QStringList set = QString::fromLatin1(types).split(QLatin1Char(','), Qt::SkipEmptyParts);
    set.sort();
    return set;
}

// The TYPE values of a property, however they were written (one list, or TYPE given twice).
QStringList typeSet(const vcard::Property &p)
{
    QStringList set;
    for (const auto &[k, v] : p.params)
        if (k.compare(QLatin1String("TYPE"), Qt::CaseInsensitive) == 0)
            for (const QString &t : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
                if (!set.contains(t.trimmed().toUpper()))
                    set << t.trimmed().toUpper();
    set.sort();
    return set;
}

QList<std::pair<QString, QString>> typeParams(const char *types)
{
    if (!*types)
        return {};
    return {{QStringLiteral("TYPE"), QString::fromLatin1(types)}};
}

QString dateText(const QVariant &value)
{
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    return value.toDate().toString(Qt::ISODate);
}

QVariant dateValue(const QString &text)
{
    if (text.contains(QLatin1Char('T'))) {
        const QDateTime when = QDateTime::fromString(text.left(19), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        if (when.isValid())
            return when;
    }
    // Also the basic form some programs write, 19800229.
    QDate day = QDate::fromString(text.left(10), Qt::ISODate);
    if (!day.isValid())
        day = QDate::fromString(text.left(8), QStringLiteral("yyyyMMdd"));
    return day.isValid() ? QVariant(day) : QVariant();
}

// Typed values of the program's own X- properties: a kind parameter and a text form.
std::pair<QString, QString> encodeValue(const QVariant &value)
{
    if (value.isNull())
        return {QStringLiteral("null"), QString()};
    switch (value.typeId()) {
    case QMetaType::Bool:
        return {QStringLiteral("boolean"), value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE")};
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UInt:
        return {QStringLiteral("integer"), QString::number(value.toLongLong())};
    case QMetaType::Double:
    case QMetaType::Float:
        return {QStringLiteral("number"), QString::number(value.toDouble(), 'g', 17)};
    case QMetaType::QDate:
        return {QStringLiteral("date"), value.toDate().toString(Qt::ISODate)};
    case QMetaType::QDateTime:
        return {QStringLiteral("date-time"), value.toDateTime().toString(Qt::ISODateWithMs)};
    default:
        return {QStringLiteral("text"), vcard::escapeText(value.toString())};
    }
}

QVariant decodeValue(const QString &kind, const QString &raw)
{
    if (kind == QLatin1String("null"))
        return QVariant();
    if (kind == QLatin1String("boolean"))
        return raw.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
    if (kind == QLatin1String("integer")) {
        const qlonglong n = raw.toLongLong();
        if (n >= std::numeric_limits<int>::min() && n <= std::numeric_limits<int>::max())
            return int(n);
        return n;
    }
    if (kind == QLatin1String("number"))
        return raw.toDouble();
    if (kind == QLatin1String("date"))
        return QDate::fromString(raw, Qt::ISODate);
    if (kind == QLatin1String("date-time"))
        return QDateTime::fromString(raw, Qt::ISODateWithMs);
    return vcard::unescapeText(raw);
}

QString text(const ContactData &c, const char *key)
{
    return c.property(QLatin1String(key)).toString();
}

// The formatted name every card must carry when no full name is set, chosen as a "File As"
// would be: the composed name, else the company, else the first e-mail address, else the first
// phone number, so that a contact known by any of these is never listed without a name.
QString derivedFormattedName(const ContactData &c)
{
    QStringList parts;
    for (const char *key : {"Title", "FirstName", "MiddleName", "LastName", "Suffix"}) {
        const QString part = text(c, key).trimmed();
        if (!part.isEmpty())
            parts << part;
    }
    if (!parts.isEmpty())
        return parts.join(QLatin1Char(' '));
    QStringList others{QStringLiteral("CompanyName")};
    for (const char *key : kEmailKeys)
        others << QLatin1String(key);
    others += ContactProperties::phoneNumbers();
    for (const QString &key : std::as_const(others)) {
        const QString value = c.property(key).toString().trimmed();
        if (!value.isEmpty())
            return value;
    }
    return QString();
}

vcard::Property prop(const QString &name, const QString &value, QList<std::pair<QString, QString>> params = {})
{
    return vcard::Property{name, std::move(params), value};
}

} // namespace

QByteArray cardFromContact(const QString &uid, const ContactData &c, const QList<vcard::Property> &foreign)
{
    QList<vcard::Property> props;
    props << prop(QStringLiteral("VERSION"), QStringLiteral("3.0"));
    props << prop(QStringLiteral("PRODID"), QStringLiteral("-//ContactMirel//Importer//EN"));
    props << prop(QStringLiteral("UID"), vcard::escapeText(uid));

    const QString fullName = text(c, "FullName");
    if (!fullName.isEmpty())
        props << prop(QStringLiteral("FN"), vcard::escapeText(fullName));
    else
        props << prop(QStringLiteral("FN"), vcard::escapeText(derivedFormattedName(c)), {{kDerivedParam, "TRUE"}});

    QStringList name(5);
    for (const auto &part : kNameParts)
        name[part.index] = text(c, part.key);
    props << prop(QStringLiteral("N"), vcard::joinValue(name));

    QStringList org(2);
    for (const auto &part : kOrgParts)
        org[part.index] = text(c, part.key);
    if (!org[0].isEmpty() || !org[1].isEmpty())
        props << prop(QStringLiteral("ORG"), vcard::joinValue(org));

    // The first address written is marked preferred, so other programs pick the one the user put first.
    bool preferred = true;
    for (int slot = 0; slot < 3; ++slot) {
        const QString address = text(c, kEmailKeys[slot]);
        if (address.isEmpty())
            continue;
        const QString types = preferred ? QStringLiteral("INTERNET,PREF") : QStringLiteral("INTERNET");
        props << prop(QStringLiteral("EMAIL"), vcard::escapeText(address),
                      {{QStringLiteral("TYPE"), types}, {kSlotParam, QString::number(slot + 1)}});
        preferred = false;
    }

    for (const Address &a : kAddresses) {
        QStringList parts(7);
        bool any = false;
        for (const auto &[index, part] : kAddressParts) {
            const QVariant v = c.property(QLatin1String(a.prefix) + QStringLiteral("Address") + QLatin1String(part));
            parts[index] = v.toString();
            any = any || v.isValid();
        }
        if (any)
            props << prop(QStringLiteral("ADR"), vcard::joinValue(parts), typeParams(a.types));
    }

    for (const Single &single : kSingles) {
        const QVariant v = c.property(QLatin1String(single.key));
        if (v.isValid())
            props << prop(QLatin1String(single.name), vcard::escapeText(v.toString()), typeParams(single.types));
    }

    for (const auto &[key, vcardName] : kDates) {
        const QVariant v = c.property(QLatin1String(key));
        if (v.isValid())
            props << prop(QLatin1String(vcardName), dateText(v));
    }

    const QVariant categories = c.property(QStringLiteral("Categories"));
    if (categories.isValid()) {
        // One category each, as address books list them; read back as "A, B".
        QStringList list;
        for (const QString &category : categories.toString().split(QLatin1Char(',')))
            list << category.trimmed();
        props << prop(QStringLiteral("CATEGORIES"), vcard::joinValue(list, QLatin1Char(',')));
    }

    const QVariant gender = c.property(QStringLiteral("Gender"));
    if (gender.isValid())
        props << prop(QStringLiteral("X-GENDER"), kGenderNames.value(gender.toInt()));

    for (const auto &[key, value] : c.properties) {
        if (isMappedKey(key))
            continue;
        const auto [kind, encoded] = encodeValue(value);
        props << prop(kFieldProperty, encoded, {{QStringLiteral("NAME"), key}, {kKindParam, kind}});
    }

    props << prop(kMessageClassProperty, vcard::escapeText(c.messageClass));
    for (const outlook::UserProperty &field : c.userProperties.items()) {
        const auto [kind, encoded] = encodeValue(field.value);
        // The name travels in the value, where any character can be escaped.
        props << prop(kUserFieldProperty, vcard::escapeText(field.name) + QLatin1Char(';') + encoded,
                      {{QStringLiteral("X-TYPE"), QString::number(field.type)}, {kKindParam, kind}});
    }
    props += foreign;
    props << prop(QStringLiteral("REV"),
                  QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")));

    QByteArray out = "BEGIN:VCARD\r\n";
    for (const vcard::Property &p : std::as_const(props))
        out += vcard::writeProperty(p);
    out += "END:VCARD\r\n";
    return out;
}

ContactData contactFromCard(const QByteArray &bytes)
{
    return readCard(bytes).data;
}

namespace {

// Sets a property that is not yet set; false when it is (a second value goes aside unchanged).
bool setOnce(ContactData &c, const QString &key, const QVariant &value)
{
    if (c.property(key).isValid())
        return false;
    c.setProperty(key, value);
    return true;
}

bool readSingle(ContactData &c, const vcard::Property &p)
{
    const QStringList types = typeSet(p);
    for (const Single &single : kSingles)
        if (p.name == QLatin1String(single.name) && types == typeSet(single.types))
            return setOnce(c, QLatin1String(single.key), vcard::unescapeText(p.value));
    return false;
}

bool readAddress(ContactData &c, const vcard::Property &p)
{
    const QStringList types = typeSet(p);
    for (const Address &a : kAddresses) {
        if (types != typeSet(a.types))
            continue;
        const QString prefix = QLatin1String(a.prefix) + QStringLiteral("Address");
        if (c.property(prefix + QStringLiteral("Street")).isValid() ||
            c.property(prefix + QStringLiteral("City")).isValid())
            return false;
        const QStringList parts = vcard::splitValue(p.value);
        for (const auto &[index, part] : kAddressParts)
            if (index < parts.size() && !parts[index].isEmpty())
                c.setProperty(prefix + QLatin1String(part), parts[index]);
        return true;
    }
    return false;
}

} // namespace

CardContents readCard(const QByteArray &bytes)
{
    const QList<vcard::Card> cards = vcard::parse(bytes);
    if (cards.isEmpty())
        throw AppError(ErrorCode::TypeMismatch, QStringLiteral("The file holds no vCard."));
    CardContents contents;
    contents.cardCount = int(cards.size());
    ContactData &c = contents.data;
    int nextEmail = 0;
    for (const vcard::Property &p : cards.first()) {
        bool taken = true;
        if (p.name == QLatin1String("VERSION") || p.name == QLatin1String("PRODID") || p.name == QLatin1String("REV")) {
            // written anew on every save
        } else if (p.name == QLatin1String("UID")) {
            contents.uid = vcard::unescapeText(p.value);
        } else if (p.name == QLatin1String("FN")) {
            if (p.param(kDerivedParam).isEmpty() && !p.value.isEmpty())
                c.setProperty(QStringLiteral("FullName"), vcard::unescapeText(p.value));
        } else if (p.name == QLatin1String("N")) {
            const QStringList parts = vcard::splitValue(p.value);
            for (const auto &part : kNameParts)
                if (part.index < parts.size() && !parts[part.index].isEmpty())
                    c.setProperty(QLatin1String(part.key), parts[part.index]);
        } else if (p.name == QLatin1String("ORG")) {
            const QStringList parts = vcard::splitValue(p.value);
            for (const auto &part : kOrgParts)
                if (part.index < parts.size() && !parts[part.index].isEmpty())
                    c.setProperty(QLatin1String(part.key), parts[part.index]);
        } else if (p.name == QLatin1String("EMAIL")) {
            const int slot = p.param(kSlotParam).isEmpty() ? nextEmail : p.param(kSlotParam).toInt() - 1;
            taken = slot >= 0 && slot < 3 && setOnce(c, QLatin1String(kEmailKeys[slot]), vcard::unescapeText(p.value));
            nextEmail = slot + 1;
        } else if (p.name == QLatin1String("ADR")) {
            taken = readAddress(c, p);
        } else if (p.name == QLatin1String("CATEGORIES")) {
            taken = setOnce(c, QStringLiteral("Categories"),
                            vcard::splitValue(p.value, QLatin1Char(',')).join(QStringLiteral(", ")));
        } else if (p.name == QLatin1String("X-GENDER")) {
            const int code = int(kGenderNames.indexOf(p.value));
            taken = code >= 0 && setOnce(c, QStringLiteral("Gender"), code);
        } else if (p.name == QLatin1String("BDAY") || p.name == QLatin1String("X-ANNIVERSARY")) {
            const QVariant day = dateValue(p.value);
            taken =
                day.isValid() &&
                setOnce(c, p.name == QLatin1String("BDAY") ? QStringLiteral("Birthday") : QStringLiteral("Anniversary"),
                        day);
        } else if (p.name == kFieldProperty) {
            c.setProperty(p.param(QStringLiteral("NAME")), decodeValue(p.param(kKindParam), p.value));
        } else if (p.name == kMessageClassProperty) {
            c.messageClass = vcard::unescapeText(p.value);
        } else if (p.name == kUserFieldProperty) {
            // Split once at the first unescaped ';': the name, then the value as written.
            int cut = -1;
            for (int i = 0; i < p.value.size(); ++i) {
                if (p.value[i] == QLatin1Char('\\'))
                    ++i;
                else if (p.value[i] == QLatin1Char(';')) {
                    cut = i;
                    break;
                }
            }
            const QString name = vcard::unescapeText(cut < 0 ? p.value : p.value.left(cut));
            const QString raw = cut < 0 ? QString() : p.value.mid(cut + 1);
            const int type = p.param(QStringLiteral("X-TYPE")).isEmpty() ? outlook::olText
                                                                         : p.param(QStringLiteral("X-TYPE")).toInt();
            c.userProperties.Add(name, type);
            c.userProperties.SetValue(name, decodeValue(p.param(kKindParam), raw));
        } else {
            taken = readSingle(c, p);
        }
        // What this program does not map (photos, a second phone of one kind, ...) is kept as written.
        if (!taken)
            contents.foreign << p;
    }
    return contents;
}

} // namespace vcardstore
