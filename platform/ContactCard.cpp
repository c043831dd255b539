#include "platform/ContactCard.h"

#include "core/AppError.h"
#include "outlook/ContactProperties.h"

#include <QDateTime>
#include <QHash>

#include <algorithm>

namespace vcardstore {

using ContactProperties::Carrier;
using outlook::ContactData;

namespace {

const QString kMessageClassProperty = QStringLiteral("X-MIREL-MESSAGE-CLASS");
const QString kImportRunProperty = QStringLiteral("X-MIREL-IMPORT-RUN");
const QString kSourceRowProperty = QStringLiteral("X-MIREL-SOURCE-ROW");
const QString kFieldProperty = QStringLiteral("X-MIREL-FIELD");
const QString kUserFieldProperty = QStringLiteral("X-MIREL-USER-FIELD");
const QString kDerivedParam = QStringLiteral("X-MIREL-DERIVED");
const QString kSlotParam = QStringLiteral("X-MIREL-SLOT");
const QString kKindParam = QStringLiteral("X-KIND");
const QString kNameParam = QStringLiteral("X-NAME");

// A text as a parameter value (RFC 6868): a double quote, a line break and the caret itself,
// which a parameter cannot hold as they are, as ^', ^n and ^^.
QString caretEncoded(const QString &text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('^'))
            out += QLatin1String("^^");
        else if (c == QLatin1Char('"'))
            out += QLatin1String("^'");
        else if (c == QLatin1Char('\n') || (c == QLatin1Char('\r') && (i + 1 < text.size() ? text[i + 1] : QChar()) != QLatin1Char('\n')))
            out += QLatin1String("^n");
        else if (c != QLatin1Char('\r'))
            out += c;
    }
    return out;
}

QString caretDecoded(QString value)
{
    if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
        value = value.mid(1, value.size() - 2);
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar next = i + 1 < value.size() ? value[i + 1] : QChar();
        if (value[i] == QLatin1Char('^') && (next == QLatin1Char('^') || next == QLatin1Char('\'') ||
                                             next == QLatin1Char('n'))) {
            out += next == QLatin1Char('n') ? QLatin1Char('\n') : next == QLatin1Char('\'') ? QLatin1Char('"') : next;
            ++i;
        } else {
            out += value[i];
        }
    }
    return out;
}
const QStringList kGenderNames{QStringLiteral("Unspecified"), QStringLiteral("Female"), QStringLiteral("Male")};

// A structured vCard property (N, ORG, or the ADR of one address) and the contact properties in
// its components.
struct Structured {
    QString name;
    QString types;
    int size = 0;
    QList<std::pair<int, QString>> parts; // component, contact property

    QString keyOf(int slot) const
    {
        for (const auto &[index, key] : parts)
            if (index == slot)
                return key;
        return QString();
    }
};

// In the order a card writes them: N, ORG, then the four ADR.
const QList<Structured> &structured()
{
    static const QList<Structured> all = [] {
        QList<Structured> list;
        for (const ContactProperties::Property &p : ContactProperties::all()) {
            if (p.carrier != Carrier::Component)
                continue;
            const QString name = QLatin1String(p.vcard);
            const QString types = QLatin1String(p.types);
            if (list.isEmpty() || list.last().name != name || list.last().types != types)
                list << Structured{name, types, 0, {}};
            list.last().size = std::max(list.last().size, p.slot + 1);
            list.last().parts.emplace_back(p.slot, QLatin1String(p.name));
        }
        return list;
    }();
    return all;
}

const Structured &structured(const QString &name)
{
    for (const Structured &s : structured())
        if (s.name == name)
            return s;
    throw AppError(ErrorCode::NotFound, QStringLiteral("No contact property is written as %1.").arg(name));
}

// The contact properties of one carrier, in the table's order.
QList<const ContactProperties::Property *> carried(Carrier carrier)
{
    QList<const ContactProperties::Property *> list;
    for (const ContactProperties::Property &p : ContactProperties::all())
        if (p.carrier == carrier)
            list << &p;
    return list;
}

QString keyOf(Carrier carrier)
{
    return QLatin1String(carried(carrier).first()->name);
}

// The e-mail addresses by slot, the first one first.
const QStringList &emailKeys()
{
    static const QStringList keys = [] {
        QStringList list;
        for (const ContactProperties::Property *p : carried(Carrier::Email))
            list << QLatin1String(p->name);
        return list;
    }();
    return keys;
}

// The keys the vCard's own properties carry; any other property goes as X-MIREL-FIELD.
bool isMappedKey(const QString &key)
{
    const ContactProperties::Property *p = ContactProperties::find(key);
    return p && p->carrier != Carrier::Field;
}

QString text(const ContactData &c, const QString &key)
{
    return c.property(key).toString();
}

// The formatted name every card must carry when no full name is set, chosen as a "File As"
// would be: the composed name, else the company, else the first e-mail address, else the first
// phone number, so that a contact known by any of these is never listed without a name.
QString derivedFormattedName(const ContactData &c)
{
    const Structured &name = structured(QStringLiteral("N"));
    QStringList parts;
    // Prefix, given name, additional names, family name, suffix.
    for (const int slot : {3, 1, 2, 0, 4}) {
        const QString part = text(c, name.keyOf(slot)).trimmed();
        if (!part.isEmpty())
            parts << part;
    }
    if (!parts.isEmpty())
        return parts.join(QLatin1Char(' '));
    QStringList others{structured(QStringLiteral("ORG")).keyOf(0)};
    others += emailKeys();
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

// The components of a structured property; `set` tells whether any of its properties is set.
QStringList components(const ContactData &c, const Structured &s, bool &set)
{
    QStringList parts(s.size);
    set = false;
    for (const auto &[index, key] : s.parts) {
        const QVariant v = c.property(key);
        parts[index] = v.toString();
        set = set || v.isValid();
    }
    return parts;
}

} // namespace

QByteArray cardFromContact(const QString &uid, const ContactData &c, const QList<vcard::Property> &foreign)
{
    QList<vcard::Property> props;
    props << prop(QStringLiteral("VERSION"), QStringLiteral("3.0"));
    props << prop(QStringLiteral("PRODID"), QStringLiteral("-//ContactMirel//Importer//EN"));
    props << prop(QStringLiteral("UID"), vcard::escapeText(uid));

    const QString fullName = text(c, keyOf(Carrier::FullName));
    if (!fullName.isEmpty())
        props << prop(QStringLiteral("FN"), vcard::escapeText(fullName));
    else
        props << prop(QStringLiteral("FN"), vcard::escapeText(derivedFormattedName(c)), {{kDerivedParam, "TRUE"}});

    // N stands in every card; ORG when it has text; an address when any of its properties is set.
    bool set = false;
    props << prop(QStringLiteral("N"), vcard::joinValue(components(c, structured(QStringLiteral("N")), set)));
    const QStringList org = components(c, structured(QStringLiteral("ORG")), set);
    if (!org.join(QString()).isEmpty())
        props << prop(QStringLiteral("ORG"), vcard::joinValue(org));

    // The first address written is marked preferred, so other programs pick the one the user put first.
    bool preferred = true;
    for (int slot = 0; slot < emailKeys().size(); ++slot) {
        const QString address = text(c, emailKeys()[slot]);
        if (address.isEmpty())
            continue;
        const QString types = preferred ? QStringLiteral("INTERNET,PREF") : QStringLiteral("INTERNET");
        props << prop(QStringLiteral("EMAIL"), vcard::escapeText(address),
                      {{QStringLiteral("TYPE"), types}, {kSlotParam, QString::number(slot + 1)}});
        preferred = false;
    }

    for (const Structured &address : structured()) {
        if (address.name != QLatin1String("ADR"))
            continue;
        const QStringList parts = components(c, address, set);
        if (set)
            props << prop(address.name, vcard::joinValue(parts), vcard::typeParams(address.types));
    }

    for (const ContactProperties::Property *single : carried(Carrier::Single)) {
        const QVariant v = c.property(QLatin1String(single->name));
        if (v.isValid())
            props << prop(QLatin1String(single->vcard), vcard::escapeText(v.toString()),
                          vcard::typeParams(QLatin1String(single->types)));
    }

    for (const ContactProperties::Property *date : carried(Carrier::Date)) {
        const QVariant v = c.property(QLatin1String(date->name));
        if (v.isValid())
            props << prop(QLatin1String(date->vcard), vcard::dateText(v));
    }

    const QVariant categories = c.property(keyOf(Carrier::Categories));
    if (categories.isValid()) {
        // One category each, as address books list them; read back as "A, B".
        QStringList list;
        for (const QString &category : categories.toString().split(QLatin1Char(',')))
            list << category.trimmed();
        props << prop(QStringLiteral("CATEGORIES"), vcard::joinValue(list, QLatin1Char(',')));
    }

    const QVariant gender = c.property(keyOf(Carrier::Gender));
    if (gender.isValid())
        props << prop(QStringLiteral("X-GENDER"), kGenderNames.value(gender.toInt()));

    for (const auto &[key, value] : c.properties) {
        if (isMappedKey(key))
            continue;
        const auto [kind, encoded] = vcard::encodeTyped(value);
        props << prop(kFieldProperty, encoded, {{QStringLiteral("NAME"), key}, {kKindParam, kind}});
    }

    props << prop(kMessageClassProperty, vcard::escapeText(c.messageClass));
    if (!c.importRun.isEmpty())
        props << prop(kImportRunProperty, vcard::escapeText(c.importRun))
              << prop(kSourceRowProperty, QString::number(c.sourceRow));
    for (const outlook::UserProperty &field : c.userProperties.items()) {
        const auto [kind, encoded] = vcard::encodeTyped(field.value);
        // The name travels in a parameter, so that the value is one text that other programs
        // read and write back as it is.
        props << prop(kUserFieldProperty, encoded,
                      {{kNameParam, caretEncoded(field.name)},
                       {QStringLiteral("X-TYPE"), QString::number(field.type)},
                       {kKindParam, kind}});
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

// The table's rows by vCard property.
const QMultiHash<QString, const ContactProperties::Property *> &byVCardName()
{
    static const QMultiHash<QString, const ContactProperties::Property *> index = [] {
        QMultiHash<QString, const ContactProperties::Property *> h;
        for (const ContactProperties::Property &p : ContactProperties::all())
            if (p.carrier != Carrier::Field)
                h.insert(QLatin1String(p.vcard), &p);
        return h;
    }();
    return index;
}

// The row a vCard property is read into: of its name, and of its types where the row has types
// or is a single value; nullptr when none is.
const ContactProperties::Property *rowOf(const vcard::Property &p)
{
    const QStringList types = p.types();
    for (const ContactProperties::Property *row : byVCardName().values(p.name)) {
        const bool typed = row->carrier == Carrier::Single || *row->types;
        if (!typed || types == vcard::typeSet(QLatin1String(row->types)))
            return row;
    }
    return nullptr;
}

bool readStructured(ContactData &c, const vcard::Property &p, const ContactProperties::Property &row)
{
    const QString types = QLatin1String(row.types);
    for (const Structured &s : structured()) {
        if (s.name != p.name || s.types != types)
            continue;
        // A second address of one kind goes aside; N and ORG are read as they come.
        if (p.name == QLatin1String("ADR") && (c.property(s.keyOf(2)).isValid() || c.property(s.keyOf(3)).isValid()))
            return false;
        const QStringList parts = vcard::splitValue(p.value);
        for (const auto &[index, key] : s.parts)
            if (index < parts.size() && !parts[index].isEmpty())
                c.setProperty(key, parts[index]);
        return true;
    }
    return false;
}

// Reads a property the table maps into the contact; false when it goes aside.
bool readMapped(ContactData &c, const vcard::Property &p, int &nextEmail)
{
    const ContactProperties::Property *row = rowOf(p);
    if (!row)
        return false;
    const QString key = QLatin1String(row->name);
    switch (row->carrier) {
    case Carrier::FullName:
        if (p.param(kDerivedParam).isEmpty() && !p.value.isEmpty())
            c.setProperty(key, vcard::unescapeText(p.value));
        return true;
    case Carrier::Component:
        return readStructured(c, p, *row);
    case Carrier::Email: {
        const int slot = p.param(kSlotParam).isEmpty() ? nextEmail : p.param(kSlotParam).toInt() - 1;
        nextEmail = slot + 1;
        return slot >= 0 && slot < emailKeys().size() && setOnce(c, emailKeys()[slot], vcard::unescapeText(p.value));
    }
    case Carrier::Single:
        return setOnce(c, key, vcard::unescapeText(p.value));
    case Carrier::Date: {
        const QVariant day = vcard::dateValue(p.value);
        return day.isValid() && setOnce(c, key, day);
    }
    case Carrier::Categories:
        return setOnce(c, key, vcard::splitValue(p.value, QLatin1Char(',')).join(QStringLiteral(", ")));
    case Carrier::Gender: {
        const int code = int(kGenderNames.indexOf(p.value));
        return code >= 0 && setOnce(c, key, code);
    }
    case Carrier::Field:
        break;
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
        } else if (p.name == kFieldProperty) {
            c.setProperty(p.param(QStringLiteral("NAME")), vcard::decodeTyped(p.param(kKindParam), p.value));
        } else if (p.name == kImportRunProperty) {
            c.importRun = vcard::unescapeText(p.value);
        } else if (p.name == kSourceRowProperty) {
            c.sourceRow = p.value.toInt();
        } else if (p.name == kMessageClassProperty) {
            c.messageClass = vcard::unescapeText(p.value);
        } else if (p.name == kUserFieldProperty) {
            // The name in its parameter; cards of earlier versions give it before the value.
            auto [name, raw] = vcard::splitFirst(p.value);
            if (!p.param(kNameParam).isEmpty()) {
                name = caretDecoded(p.param(kNameParam));
                raw = p.value;
            }
            const int type = p.param(QStringLiteral("X-TYPE")).isEmpty() ? outlook::olText
                                                                         : p.param(QStringLiteral("X-TYPE")).toInt();
            c.userProperties.Add(name, type);
            c.userProperties.SetValue(name, vcard::decodeTyped(p.param(kKindParam), raw));
        } else {
            taken = readMapped(c, p, nextEmail);
        }
        // What this program does not map (photos, a second phone of one kind, ...) is kept as written.
        if (!taken)
            contents.foreign << p;
    }
    return contents;
}

} // namespace vcardstore
