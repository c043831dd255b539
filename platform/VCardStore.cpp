#include "platform/VCardStore.h"

#include "app/AppError.h"
#include "platform/VCard.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

namespace vcardstore {

using outlook::ContactData;

namespace {

const QString kDisplayNameFile = QStringLiteral("displayname");
const QString kItemTypeFile = QStringLiteral("itemtype");
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

QString newContactUid()
{
    // UUID version 7: 48 bits of milliseconds, then a counter that keeps ids of one millisecond in order.
    static qint64 lastMs = 0;
    static quint16 sequence = 0;
    qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms <= lastMs) {
        ms = lastMs;
        if (++sequence > 0x0FFF) {
            ++ms;
            sequence = 0;
        }
    } else {
        sequence = 0;
    }
    lastMs = ms;
    const quint64 random = QRandomGenerator::global()->generate64();
    const QString hex = QStringLiteral("%1%2%3%4")
                            .arg(quint64(ms), 12, 16, QLatin1Char('0'))
                            .arg(0x7000 | sequence, 4, 16, QLatin1Char('0'))
                            .arg(0x8000 | (random & 0x3FFF), 4, 16, QLatin1Char('0'))
                            .arg(random >> 16, 12, 16, QLatin1Char('0'));
    return hex.left(8) + QLatin1Char('-') + hex.mid(8, 4) + QLatin1Char('-') + hex.mid(12, 4) + QLatin1Char('-') +
           hex.mid(16, 4) + QLatin1Char('-') + hex.mid(20, 12);
}

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

namespace {

class VCardContact : public outlook::ContactItem {
public:
    // A new contact: its file is named after its id.
    VCardContact(QString folderPath, const QString &uid, const QString &messageClass)
        : m_folderPath(std::move(folderPath)), m_fileName(uid), m_uid(uid)
    {
        m_data.messageClass = messageClass;
    }
    // A contact read from a file of the folder.
    VCardContact(QString folderPath, QString fileName, CardContents contents)
        : m_folderPath(std::move(folderPath)), m_fileName(std::move(fileName)), m_uid(contents.uid),
          m_foreign(std::move(contents.foreign)), m_cardCount(contents.cardCount)
    {
        if (m_uid.isEmpty())
            m_uid = m_fileName;
        m_data = std::move(contents.data);
    }

    void Close(int saveMode) override
    {
        if (saveMode != outlook::olSave)
            return;
        if (!QFileInfo(m_folderPath).isDir())
            throw AppError(
                ErrorCode::NotFound,
                QStringLiteral("The folder '%1' no longer exists - the contact was not saved.").arg(m_folderPath));
        if (m_cardCount > 1)
            throw AppError(ErrorCode::Internal,
                           QStringLiteral("The file '%1.vcf' holds %2 contacts; it is left as it is.")
                               .arg(m_fileName)
                               .arg(m_cardCount));
        // Written beside the target and renamed over it, so a contact is never half saved.
        QSaveFile file(QDir(m_folderPath).filePath(m_fileName + QStringLiteral(".vcf")));
        if (!file.open(QIODevice::WriteOnly) || file.write(cardFromContact(m_uid, m_data, m_foreign)) < 0 ||
            !file.commit())
            throw AppError(
                ErrorCode::Internal,
                QStringLiteral("The contact could not be saved in '%1': %2").arg(m_folderPath, file.errorString()));
    }

private:
    QString m_folderPath;
    QString m_fileName;
    QString m_uid;
    QList<vcard::Property> m_foreign;
    int m_cardCount = 1;
};

class VCardItems : public outlook::Items {
public:
    explicit VCardItems(QString folderPath) : m_folderPath(std::move(folderPath)) {}

    int Count() override { return int(files().size()); }

    std::shared_ptr<outlook::ContactItem> GetFirst() override
    {
        m_files = files();
        m_next = 0;
        return GetNext();
    }

    std::shared_ptr<outlook::ContactItem> GetNext() override
    {
        if (m_next >= m_files.size())
            return nullptr;
        const QString name = m_files[m_next++];
        QFile file(QDir(m_folderPath).filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            throw AppError(
                ErrorCode::NotFound,
                QStringLiteral("The contact '%1' could not be read: %2").arg(file.fileName(), file.errorString()));
        try {
            return std::make_shared<VCardContact>(m_folderPath, name.chopped(4), readCard(file.readAll()));
        } catch (const AppError &e) {
            throw AppError(
                e.number(),
                QStringLiteral("The contact '%1' is not a valid vCard: %2").arg(file.fileName(), e.info().description));
        }
    }

    std::shared_ptr<outlook::ContactItem> Add(const QString &messageClass) override
    {
        return std::make_shared<VCardContact>(m_folderPath, newContactUid(), messageClass);
    }

private:
    QStringList files() const
    {
        return QDir(m_folderPath).entryList({QStringLiteral("*.vcf")}, QDir::Files, QDir::Name);
    }

    QString m_folderPath;
    QStringList m_files;
    int m_next = 0;
};

QString itemTypeName(int itemType)
{
    switch (itemType) {
    case outlook::olContactItem:
        return QStringLiteral("contact");
    case 1:
        return QStringLiteral("calendar");
    case 3:
        return QStringLiteral("task");
    case 5:
        return QStringLiteral("note");
    default:
        return QStringLiteral("mail");
    }
}

void writeSmallFile(const QString &path, const QString &content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content.toUtf8()) < 0 || !file.commit())
        throw AppError(ErrorCode::Internal,
                       QStringLiteral("'%1' could not be written: %2").arg(path, file.errorString()));
}

QString readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.read(4096)).trimmed();
}

// A new sub-directory for a folder name: the name itself where the file system allows it.
std::shared_ptr<outlook::Folder> makeFolder(const QString &parentPath, const QString &storeId, const QString &name,
                                            int itemType);

QList<std::shared_ptr<outlook::Folder>> foldersIn(const QString &path, const QString &storeId);

class VCardFolder : public outlook::Folder {
public:
    VCardFolder(QString path, QString storeId) : m_path(std::move(path)), m_storeId(std::move(storeId)) {}

    QString EntryID() const override { return m_path; }
    QString StoreID() const override { return m_storeId; }
    QString Name() const override
    {
        const QString name = readSmallFile(QDir(m_path).filePath(kDisplayNameFile));
        return name.isEmpty() ? QFileInfo(m_path).fileName() : name;
    }
    int DefaultItemType() const override
    {
        const QString type = readSmallFile(QDir(m_path).filePath(kItemTypeFile)).toLower();
        if (!type.isEmpty()) {
            for (int t : {0, 1, 2, 3, 5})
                if (type == itemTypeName(t))
                    return t;
            return outlook::olMailItem;
        }
        if (!QDir(m_path).entryList({QStringLiteral("*.ics")}, QDir::Files).isEmpty())
            return 1;
        return outlook::olContactItem;
    }
    std::shared_ptr<outlook::Items> Items() override { return std::make_shared<VCardItems>(m_path); }
    QList<std::shared_ptr<outlook::Folder>> Folders() override { return foldersIn(m_path, m_storeId); }
    std::shared_ptr<outlook::Folder> AddFolder(const QString &name) override
    {
        return makeFolder(m_path, m_storeId, name, outlook::olContactItem);
    }

private:
    QString m_path;
    QString m_storeId;
};

QList<std::shared_ptr<outlook::Folder>> foldersIn(const QString &path, const QString &storeId)
{
    QList<std::shared_ptr<outlook::Folder>> folders;
    const QStringList names = QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &name : names)
        folders << std::make_shared<VCardFolder>(QDir(path).filePath(name), storeId);
    return folders;
}

std::shared_ptr<outlook::Folder> makeFolder(const QString &parentPath, const QString &storeId, const QString &name,
                                            int itemType)
{
    QString base = name.trimmed();
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    base.remove(QChar(0));
    if (base.isEmpty() || base.startsWith(QLatin1Char('.')))
        base.prepend(QLatin1Char('_'));
    QDir parent(parentPath);
    QString dirName = base;
    for (int n = 2; parent.exists(dirName); ++n)
        dirName = QStringLiteral("%1 (%2)").arg(base).arg(n);
    if (!parent.mkdir(dirName))
        throw AppError(ErrorCode::Internal,
                       QStringLiteral("The folder '%1' could not be created in '%2'.").arg(name, parentPath));
    const QString path = parent.filePath(dirName);
    writeSmallFile(QDir(path).filePath(kDisplayNameFile), name);
    writeSmallFile(QDir(path).filePath(kItemTypeFile), itemTypeName(itemType));
    return std::make_shared<VCardFolder>(path, storeId);
}

class VCardStoreDir : public outlook::Store {
public:
    explicit VCardStoreDir(QString path) : m_path(std::move(path)) {}
    QString StoreID() const override { return m_path; }
    QString DisplayName() const override { return QFileInfo(m_path).fileName(); }
    QList<std::shared_ptr<outlook::Folder>> Folders() override { return foldersIn(m_path, m_path); }
    std::shared_ptr<outlook::Folder> AddFolder(const QString &name, int itemType) override
    {
        return makeFolder(m_path, m_path, name, itemType);
    }

private:
    QString m_path;
};

class VCardNamespace : public outlook::Namespace {
public:
    QList<std::shared_ptr<outlook::Store>> Stores() override { return m_stores; }

    std::shared_ptr<outlook::Folder> GetFolderFromID(const QString &entryId) override
    {
        const QFileInfo info(entryId);
        if (entryId.isEmpty() || !info.isAbsolute() || !info.isDir())
            throw AppError(
                ErrorCode::NotFound,
                QStringLiteral("The folder '%1' could not be found - it may have been moved or deleted.").arg(entryId));
        const QString path = info.absoluteFilePath();
        for (const auto &store : std::as_const(m_stores))
            if (path.startsWith(store->StoreID() + QLatin1Char('/')))
                return std::make_shared<VCardFolder>(path, store->StoreID());
        return std::make_shared<VCardFolder>(path, info.absolutePath());
    }

    std::shared_ptr<outlook::Store> AddStore(const QString &location) override
    {
        const QFileInfo info(location);
        if (!info.isDir())
            throw AppError(ErrorCode::NotFound, QStringLiteral("'%1' is not a directory.").arg(location));
        const QString path = info.absoluteFilePath();
        for (const auto &store : std::as_const(m_stores))
            if (store->StoreID() == path)
                return store;
        m_stores << std::make_shared<VCardStoreDir>(path);
        return m_stores.last();
    }

private:
    QList<std::shared_ptr<outlook::Store>> m_stores;
};

// The default store, made on first use with one contact folder.
std::shared_ptr<outlook::Namespace> openDefaultStore(const QString &path)
{
    const bool isNew = !QFileInfo::exists(path);
    if (isNew && !QDir().mkpath(path))
        throw AppError(ErrorCode::CannotCreateObject,
                       QStringLiteral("The default address book '%1' could not be created.").arg(path));
    if (!QFileInfo(path).isDir())
        throw AppError(ErrorCode::CannotCreateObject,
                       QStringLiteral("The default address book '%1' is not a directory.").arg(path));
    auto ns = std::make_shared<VCardNamespace>();
    auto store = ns->AddStore(path);
    // A store left without folders (an earlier setup that stopped half-way) gets its folder too.
    if (isNew || store->Folders().isEmpty()) {
        try {
            store->AddFolder(kDefaultFolderName, outlook::olContactItem);
        } catch (const AppError &e) {
            throw AppError(
                ErrorCode::CannotCreateObject,
                QStringLiteral("The default address book could not be set up: %1").arg(e.info().description));
        }
    }
    return ns;
}

} // namespace

VCardApplication::VCardApplication(const QString &defaultStorePath)
    : m_storePath(QFileInfo(defaultStorePath).absoluteFilePath())
{
    // Something other than a folder in the store's place can never become one.
    if (QFileInfo::exists(m_storePath) && !QFileInfo(m_storePath).isDir())
        throw AppError(ErrorCode::CannotCreateObject,
                       QStringLiteral("The default address book '%1' is not a directory.").arg(m_storePath));
}

std::shared_ptr<outlook::Namespace> VCardApplication::GetNamespace(const QString &type)
{
    if (type.compare(QLatin1String("MAPI"), Qt::CaseInsensitive) != 0)
        throw AppError(ErrorCode::Internal, QStringLiteral("Unknown namespace type '%1'.").arg(type));
    if (!m_namespace)
        m_namespace = openDefaultStore(m_storePath);
    return m_namespace;
}

} // namespace vcardstore
