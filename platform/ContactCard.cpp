#include "platform/ContactCard.h"

#include "core/AppError.h"
#include "outlook/ContactProperties.h"

#include <QDateTime>
#include <QHash>
#include <QVarLengthArray>

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

vcard::Property prop(const QString &name, const QString &value, QList<std::pair<QString, QString>> params = {})
{
    return vcard::Property{name, std::move(params), value};
}

// The keys the vCard's own properties carry; any other property goes as X-MIREL-FIELD.
bool isMappedKey(const QString &key)
{
    const ContactProperties::Property *p = ContactProperties::find(key);
    return p && p->carrier != Carrier::Field;
}

// What a card writes, worked out once from the table: the table's rows (by their place in it)
// of each part of the card, and the start of each line of a single value.
struct CardLayout {
    struct Line {
        int row;
        QString start; // "TEL;TYPE=WORK,VOICE:"
    };
    struct Compound {
        QString start;   // "ADR;TYPE=WORK:"
        QList<int> rows; // by component; -1 for a component no property fills
    };
    int fullName = -1;
    QList<int> nameOrder;    // the rows a formatted name is composed of, in its order
    QList<int> nameStandIns; // the rows that name a contact without a name, the first one first
    Compound name;
    Compound organization;
    QList<int> emails; // by slot
    QList<Compound> addresses;
    QList<Line> singles;
    QList<Line> dates;
    int categories = -1;
    int gender = -1;
};

// "TEL;TYPE=WORK,VOICE:", as a property of an empty value writes it.
QString lineStart(const QString &name, const QString &types)
{
    return QString::fromUtf8(
        vcard::writeProperty(vcard::Property{name, vcard::typeParams(types), QString()}).chopped(2));
}

CardLayout::Compound compound(const Structured &s)
{
    CardLayout::Compound c{lineStart(s.name, s.types), QList<int>(s.size, -1)};
    for (const auto &[index, key] : s.parts)
        c.rows[index] = ContactProperties::indexOf(key);
    return c;
}

const CardLayout &cardLayout()
{
    static const CardLayout layout = [] {
        CardLayout l;
        l.fullName = ContactProperties::indexOf(keyOf(Carrier::FullName));
        const Structured &name = structured(QStringLiteral("N"));
        // Prefix, given name, additional names, family name, suffix.
        for (const int slot : {3, 1, 2, 0, 4})
            l.nameOrder << ContactProperties::indexOf(name.keyOf(slot));
        QStringList others{structured(QStringLiteral("ORG")).keyOf(0)};
        others += emailKeys();
        others += ContactProperties::phoneNumbers();
        for (const QString &key : std::as_const(others))
            l.nameStandIns << ContactProperties::indexOf(key);
        l.name = compound(name);
        l.organization = compound(structured(QStringLiteral("ORG")));
        for (const QString &key : emailKeys())
            l.emails << ContactProperties::indexOf(key);
        for (const Structured &s : structured())
            if (s.name == QLatin1String("ADR"))
                l.addresses << compound(s);
        for (const ContactProperties::Property *p : carried(Carrier::Single))
            l.singles << CardLayout::Line{ContactProperties::indexOf(QLatin1String(p->name)),
                                          lineStart(QLatin1String(p->vcard), QLatin1String(p->types))};
        for (const ContactProperties::Property *p : carried(Carrier::Date))
            l.dates << CardLayout::Line{ContactProperties::indexOf(QLatin1String(p->name)),
                                        lineStart(QLatin1String(p->vcard), QString())};
        l.categories = ContactProperties::indexOf(keyOf(Carrier::Categories));
        l.gender = ContactProperties::indexOf(keyOf(Carrier::Gender));
        return l;
    }();
    return layout;
}

// A contact's values by the table's rows, each looked up once per card. As a contact's own
// lookup does, the first value stored under a name counts.
class TableValues {
public:
    explicit TableValues(const ContactData &c) : m_values(ContactProperties::all().size(), nullptr)
    {
        for (const auto &[key, value] : c.properties) {
            const ContactProperties::Property *p = ContactProperties::find(key);
            if (!p || p->carrier == Carrier::Field) {
                m_unmapped = true;
                continue;
            }
            const QVariant *&stored = m_values[p - ContactProperties::all().constData()];
            if (!stored)
                stored = &value;
        }
    }
    bool isSet(int row) const { return row >= 0 && m_values[row] && m_values[row]->isValid(); }
    const QVariant &value(int row) const { return row >= 0 && m_values[row] ? *m_values[row] : m_none; }
    // The value's text: a text value is read where it stands, any other is written into scratch.
    QStringView text(int row, QString &scratch) const
    {
        const QVariant &v = value(row);
        if (v.typeId() == QMetaType::QString)
            return *static_cast<const QString *>(v.constData());
        scratch = v.toString();
        return scratch;
    }
    // Whether any of the rows is set, and whether any has text.
    bool anySet(const QList<int> &rows) const
    {
        return std::any_of(rows.cbegin(), rows.cend(), [this](int row) { return isSet(row); });
    }
    bool anyText(const QList<int> &rows) const
    {
        QString scratch;
        return std::any_of(rows.cbegin(), rows.cend(), [&](int row) { return !text(row, scratch).isEmpty(); });
    }
    // Whether the contact holds properties that go as X-MIREL-FIELD.
    bool hasUnmapped() const { return m_unmapped; }

private:
    QVarLengthArray<const QVariant *, 128> m_values;
    QVariant m_none;
    bool m_unmapped = false;
};

// The components of a structured property, escaped and joined.
void writeComponents(vcard::LineWriter &line, const TableValues &values, const CardLayout::Compound &c)
{
    QString scratch;
    for (qsizetype i = 0; i < c.rows.size(); ++i) {
        if (i > 0)
            line.text(u";");
        line.escaped(values.text(c.rows[i], scratch));
    }
}

// The formatted name every card must carry when no full name is set, chosen as a "File As"
// would be: the composed name, else the company, else the first e-mail address, else the first
// phone number, so that a contact known by any of these is never listed without a name.
void writeDerivedName(vcard::LineWriter &line, const TableValues &values, const CardLayout &layout)
{
    QString scratch;
    bool composed = false;
    for (const int row : layout.nameOrder) {
        const QStringView part = values.text(row, scratch).trimmed();
        if (part.isEmpty())
            continue;
        if (composed)
            line.text(u" ");
        line.escaped(part);
        composed = true;
    }
    if (composed)
        return;
    for (const int row : layout.nameStandIns) {
        const QStringView value = values.text(row, scratch).trimmed();
        if (!value.isEmpty()) {
            line.escaped(value);
            return;
        }
    }
}

// The time of a save to the second, as REV carries it: formatted once a second.
QString revisionTime()
{
    thread_local qint64 second = -1;
    thread_local QString text;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second) {
        second = now;
        text = QDateTime::fromSecsSinceEpoch(now, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
    }
    return text;
}

} // namespace

QByteArray cardFromContact(const QString &uid, const ContactData &c, const QList<vcard::Property> &foreign)
{
    const CardLayout &layout = cardLayout();
    const TableValues values(c);
    QString scratch;
    vcard::LineWriter line;
    line.raw("BEGIN:VCARD\r\nVERSION:3.0\r\nPRODID:-//ContactMirel//Importer//EN\r\n");
    line.text(u"UID:").escaped(uid).end();

    const QStringView fullName = values.text(layout.fullName, scratch);
    if (!fullName.isEmpty()) {
        line.text(u"FN:").escaped(fullName);
    } else {
        line.text(u"FN;").text(kDerivedParam).text(u"=TRUE:");
        writeDerivedName(line, values, layout);
    }
    line.end();

    // N stands in every card; ORG when it has text; an address when any of its properties is set.
    line.text(layout.name.start);
    writeComponents(line, values, layout.name);
    line.end();
    if (values.anyText(layout.organization.rows)) {
        line.text(layout.organization.start);
        writeComponents(line, values, layout.organization);
        line.end();
    }

    // The first address written is marked preferred, so other programs pick the one the user put first.
    bool preferred = true;
    for (int slot = 0; slot < layout.emails.size(); ++slot) {
        const QStringView address = values.text(layout.emails[slot], scratch);
        if (address.isEmpty())
            continue;
        line.text(preferred ? QStringView(u"EMAIL;TYPE=INTERNET,PREF;") : QStringView(u"EMAIL;TYPE=INTERNET;"))
            .text(kSlotParam)
            .text(u"=")
            .text(QString::number(slot + 1))
            .text(u":")
            .escaped(address)
            .end();
        preferred = false;
    }

    for (const CardLayout::Compound &address : layout.addresses) {
        if (!values.anySet(address.rows))
            continue;
        line.text(address.start);
        writeComponents(line, values, address);
        line.end();
    }

    for (const CardLayout::Line &single : layout.singles)
        if (values.isSet(single.row))
            line.text(single.start).escaped(values.text(single.row, scratch)).end();

    for (const CardLayout::Line &date : layout.dates)
        if (values.isSet(date.row))
            line.text(date.start).text(vcard::dateText(values.value(date.row))).end();

    if (values.isSet(layout.categories)) {
        // One category each, as address books list them; read back as "A, B".
        QStringList list;
        for (const QString &category : values.value(layout.categories).toString().split(QLatin1Char(',')))
            list << category.trimmed();
        line.property(prop(QStringLiteral("CATEGORIES"), vcard::joinValue(list, QLatin1Char(','))));
    }

    if (values.isSet(layout.gender))
        line.property(prop(QStringLiteral("X-GENDER"), kGenderNames.value(values.value(layout.gender).toInt())));

    if (values.hasUnmapped()) {
        for (const auto &[key, value] : c.properties) {
            if (isMappedKey(key))
                continue;
            const auto [kind, encoded] = vcard::encodeTyped(value);
            line.property(prop(kFieldProperty, encoded, {{QStringLiteral("NAME"), key}, {kKindParam, kind}}));
        }
    }

    line.text(kMessageClassProperty).text(u":").escaped(c.messageClass).end();
    if (!c.importRun.isEmpty()) {
        line.text(kImportRunProperty).text(u":").escaped(c.importRun).end();
        line.text(kSourceRowProperty).text(u":").text(QString::number(c.sourceRow)).end();
    }
    for (const outlook::UserProperty &field : c.userProperties.items()) {
        const auto [kind, encoded] = vcard::encodeTyped(field.value);
        // The name travels in a parameter, so that the value is one text that other programs
        // read and write back as it is.
        line.property(prop(kUserFieldProperty, encoded,
                           {{kNameParam, caretEncoded(field.name)},
                            {QStringLiteral("X-TYPE"), QString::number(field.type)},
                            {kKindParam, kind}}));
    }
    for (const vcard::Property &p : foreign)
        line.property(p);
    line.text(u"REV:").text(revisionTime()).end();
    line.raw("END:VCARD\r\n");
    return line.take();
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

// A row of the table a vCard property may be read into, with the types it asks for.
struct VCardRow {
    const ContactProperties::Property *row;
    bool typed; // the property's types must be the row's
    QStringList types;
};

// The table's rows by vCard property, each with its types worked out once: every property of
// every card read is looked up here.
const QHash<QString, QList<VCardRow>> &byVCardName()
{
    static const QHash<QString, QList<VCardRow>> index = [] {
        QMultiHash<QString, const ContactProperties::Property *> h;
        for (const ContactProperties::Property &p : ContactProperties::all())
            if (p.carrier != Carrier::Field)
                h.insert(QLatin1String(p.vcard), &p);
        QHash<QString, QList<VCardRow>> rows;
        for (const QString &name : h.uniqueKeys())
            for (const ContactProperties::Property *row : h.values(name))
                rows[name].append({row, row->carrier == Carrier::Single || *row->types,
                                   vcard::typeSet(QLatin1String(row->types))});
        return rows;
    }();
    return index;
}

// The row a vCard property is read into: of its name, and of its types where the row has types
// or is a single value; nullptr when none is.
const ContactProperties::Property *rowOf(const vcard::Property &p)
{
    const auto rows = byVCardName().constFind(p.name);
    if (rows == byVCardName().cend())
        return nullptr;
    const QStringList types = p.types();
    for (const VCardRow &row : *rows) {
        if (!row.typed || types == row.types)
            return row.row;
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
