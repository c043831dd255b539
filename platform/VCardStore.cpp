#include "platform/VCardStore.h"

#include "app/AppError.h"
#include "platform/ContactCard.h"
#include "platform/VCard.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>

namespace vcardstore {

using outlook::ContactData;

namespace {

const QString kDisplayNameFile = QStringLiteral("displayname");
const QString kFormsFile = QStringLiteral("forms.json");
const QString kItemTypeFile = QStringLiteral("itemtype");

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
        // A new item of a custom form carries the form's user-defined fields, still empty.
        auto contact = std::make_shared<VCardContact>(m_folderPath, newContactUid(), messageClass);
        for (const outlook::UserProperty &field : CustomFormFields(m_folderPath, messageClass))
            contact->UserProperties().Add(field.name, field.type, false);
        return contact;
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
std::shared_ptr<outlook::Namespace> openDefaultStore(const QString &path, bool setUp)
{
    if (!setUp) {
        if (!QFileInfo(path).isDir())
            throw AppError(ErrorCode::CannotCreateObject,
                           QStringLiteral("The address book '%1' does not exist.").arg(path));
        auto ns = std::make_shared<VCardNamespace>();
        ns->AddStore(path);
        return ns;
    }
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

void DefineCustomForm(const QString &folderPath, const QString &messageClass,
                      const QList<outlook::UserProperty> &fields)
{
    QJsonObject forms;
    QFile existing(QDir(folderPath).filePath(kFormsFile));
    if (existing.open(QIODevice::ReadOnly))
        forms = QJsonDocument::fromJson(existing.readAll()).object();
    QJsonArray list;
    for (const outlook::UserProperty &field : fields)
        list.append(QJsonObject{{QStringLiteral("name"), field.name}, {QStringLiteral("type"), field.type}});
    forms.insert(messageClass, list);
    writeSmallFile(QDir(folderPath).filePath(kFormsFile), QString::fromUtf8(QJsonDocument(forms).toJson()));
}

QList<outlook::UserProperty> CustomFormFields(const QString &folderPath, const QString &messageClass)
{
    QFile file(QDir(folderPath).filePath(kFormsFile));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<outlook::UserProperty> fields;
    const QJsonArray list = QJsonDocument::fromJson(file.readAll()).object().value(messageClass).toArray();
    for (const QJsonValue &entry : list)
        fields << outlook::UserProperty{entry.toObject().value(QStringLiteral("name")).toString(),
                                        entry.toObject().value(QStringLiteral("type")).toInt(outlook::olText),
                                        QVariant()};
    return fields;
}

VCardApplication::VCardApplication(const QString &defaultStorePath, bool setUp)
    : m_storePath(QFileInfo(defaultStorePath).absoluteFilePath()), m_setUp(setUp)
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
        m_namespace = openDefaultStore(m_storePath, m_setUp);
    return m_namespace;
}

} // namespace vcardstore
