#include "platform/ContactCard.h"

#include "app/AppError.h"

#include <QDateTime>

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

bool isStructuredKey(const QString &key)
{
    for (const auto &c : kNameParts)
        if (key == QLatin1String(c.key))
            return true;
    for (const auto &c : kOrgParts)
        if (key == QLatin1String(c.key))
            return true;
    for (const char *k : kEmailKeys)
        if (key == QLatin1String(k))
            return true;
    return key == QLatin1String("FullName");
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

// The formatted name every card must carry: the full name, else the composed name, else the
// company, else the first e-mail address.
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
    if (!text(c, "CompanyName").isEmpty())
        return text(c, "CompanyName");
    for (const char *key : kEmailKeys)
        if (!text(c, key).isEmpty())
            return text(c, key);
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

    for (int slot = 0; slot < 3; ++slot) {
        const QString address = text(c, kEmailKeys[slot]);
        if (!address.isEmpty())
            props << prop(
                QStringLiteral("EMAIL"), vcard::escapeText(address),
                {{QStringLiteral("TYPE"), QStringLiteral("INTERNET")}, {kSlotParam, QString::number(slot + 1)}});
    }

    for (const auto &[key, value] : c.properties) {
        if (isStructuredKey(key))
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
            if (slot >= 0 && slot < 3 && !c.property(QLatin1String(kEmailKeys[slot])).isValid())
                c.setProperty(QLatin1String(kEmailKeys[slot]), vcard::unescapeText(p.value));
            else
                contents.foreign << p;
            nextEmail = slot + 1;
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
            // What this program does not map (photos, phones from other programs, ...) is kept as written.
            contents.foreign << p;
        }
    }
    return contents;
}

} // namespace vcardstore
