#include "platform/VCardStore.h"

#include "platform/CardDav.h"

#include "core/AppError.h"
#include "platform/ContactCard.h"
#include "platform/Sha256.h"
#include "platform/VCard.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <system_error>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vcardstore {

using outlook::ContactData;

namespace {

const QString kDisplayNameFile = QStringLiteral("displayname");
const QString kFormsFile = QStringLiteral("forms.json");
const QString kItemTypeFile = QStringLiteral("itemtype");

// The most a file of the store may hold before it is refused: a card with long notes, the
// folder's form definitions, a one-line name.
constexpr qint64 kCardLimit = 64 << 20;
constexpr qint64 kFormsLimit = 1 << 20;
constexpr qint64 kNameLimit = 4096;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Reads a regular file of at most `limit` bytes. A FIFO, a device or a larger file is refused
// with the reason, so that no read waits forever or grows without bound.
bool readRegularFile(const QString &path, qint64 limit, QByteArray &bytes, QString &problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        problem = systemError(errno);
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
        problem = systemError(errno);
    else if (!S_ISREG(st.st_mode))
        problem = QStringLiteral("it is not a regular file");
    else if (st.st_size > limit)
        problem = QStringLiteral("it is larger than %1 bytes").arg(limit);
    bytes.clear();
    if (problem.isEmpty()) {
        bytes.resize(qsizetype(st.st_size) + 1);
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                problem = systemError(errno);
            if (n <= 0)
                break;
            done += n;
        }
        bytes.truncate(done);
        if (problem.isEmpty() && done > limit)
            problem = QStringLiteral("it is larger than %1 bytes").arg(limit);
    }
    ::close(fd);
    return problem.isEmpty();
}

// Temporary files are named ".mirel-tmp.<target>.XXXXXX": hidden, so that the store and other
// programs reading the folder pass over them, never ending in ".vcf", and told apart from every
// other file of the folder by their prefix.
const QByteArray kTempPrefix = QByteArrayLiteral(".mirel-tmp.");

// A folder's directory, open while its files are written. A writer holds a shared lock on it
// (flock) as long as it has temporary files there; the temporary files of writers that are gone
// (killed, crashed) are removed only under the exclusive lock, which no living writer then holds,
// so the cleanup of one program never takes the files another one is still writing.
class FolderHandle {
public:
    explicit FolderHandle(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          m_error(m_fd < 0 ? errno : 0)
    {}
    ~FolderHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd); // and the lock with it
    }
    FolderHandle(const FolderHandle &) = delete;
    FolderHandle &operator=(const FolderHandle &) = delete;

    int fd() const { return m_fd; }
    int error() const { return m_error; }

    // Removes the temporary files that writers left behind, when none is writing now.
    void removeLeftovers()
    {
        if (m_fd < 0 || ::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            return;
        const int listing = ::dup(m_fd);
        DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (!dir && listing >= 0)
            ::close(listing);
        if (dir)
            ::rewinddir(dir); // the copy shares its position with the handle
        while (dir) {
            const dirent *entry = ::readdir(dir);
            if (!entry)
                break;
            struct stat st;
            // Only a regular file of this user with the store's prefix: never another's file.
            if (std::strncmp(entry->d_name, kTempPrefix.constData(), size_t(kTempPrefix.size())) == 0 &&
                ::fstatat(m_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                st.st_uid == ::geteuid())
                ::unlinkat(m_fd, entry->d_name, 0);
        }
        if (dir)
            ::closedir(dir);
        ::flock(m_fd, LOCK_UN);
    }
    // Marks the folder as written to until the handle closes. Where the file system has no locks,
    // no cleanup can take the exclusive one either.
    void lockForWriting()
    {
        while (m_fd >= 0 && ::flock(m_fd, LOCK_SH) != 0 && errno == EINTR) {
        }
    }

private:
    int m_fd;
    int m_error;
};

// Writes the bytes to a new temporary file of the folder, beside the file `target` names, with
// every write checked; sync: its data reach the disk before it is closed. A new file is its
// owner's only (as mkostemp makes it); one that may replace a file takes that file's permissions
// when there is one. The temporary file's path, or empty with the system's reason in problem;
// nothing is left behind on a failure.
QByteArray writeTemporary(const QByteArray &target, const QByteArray &bytes, bool sync, bool mayReplace,
                          QString &problem)
{
    const qsizetype slash = target.lastIndexOf('/');
    QByteArray temp = target.left(slash + 1) + kTempPrefix + target.mid(slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        problem = systemError(errno);
        return QByteArray();
    }
    struct stat st;
    int error = 0;
    if (mayReplace && ::fchmod(fd, ::stat(target.constData(), &st) == 0 ? (st.st_mode & 07777) : 0600) != 0)
        error = errno;
    for (qint64 done = 0; !error && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (!error && sync && ::fdatasync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && !error)
        error = errno;
    if (!error)
        return temp;
    ::unlink(temp.constData());
    problem = systemError(error);
    return QByteArray();
}

// Writes a file whole or not at all: the bytes go to a temporary file beside it, synced to the
// disk before it is renamed over the target, and the folder is synced so that the name lasts. On
// a failure the target stays as it was and the system's reason is returned.
QString writeWholeFile(const QString &path, const QByteArray &bytes)
{
    FolderHandle folder(QFileInfo(path).absolutePath());
    if (folder.fd() < 0)
        return systemError(folder.error());
    folder.lockForWriting();
    const QByteArray target = QFile::encodeName(path);
    QString problem;
    const QByteArray temp = writeTemporary(target, bytes, true, true, problem);
    if (temp.isEmpty())
        return problem;
    if (::rename(temp.constData(), target.constData()) != 0) {
        problem = systemError(errno);
        ::unlink(temp.constData());
        return problem;
    }
    // The new name is on the disk only once the folder's entry is; the file is whole under its
    // name either way.
    return ::fsync(folder.fd()) == 0 ? QString() : systemError(errno);
}

// What tells whether a card is still as it was written: a checksum of its bytes.
QString cardStamp(const QByteArray &card)
{
    return Sha256Hex(card);
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
    const quint64 high = (quint64(ms) << 16) | (0x7000 | sequence);
    const quint64 low = (quint64(0x8000 | (random & 0x3FFF)) << 48) | (random >> 16);
    // Written digit by digit: an id is made for every contact.
    char16_t text[36];
    int at = 0;
    const auto hex = [&](quint64 bits, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            text[at++] = u"0123456789abcdef"[(bits >> (4 * i)) & 0xF];
    };
    hex(high >> 32, 8);
    text[at++] = u'-';
    hex(high >> 16, 4);
    text[at++] = u'-';
    hex(high, 4);
    text[at++] = u'-';
    hex(low >> 48, 4);
    text[at++] = u'-';
    hex(low, 12);
    return QString(reinterpret_cast<const QChar *>(text), at);
}

namespace {

class VCardBatch;

class VCardContact : public outlook::ContactItem {
public:
    // A new contact: its file is named after its id.
    VCardContact(QString folderPath, const QString &uid, const QString &messageClass)
        : m_folderPath(std::move(folderPath)), m_fileName(uid + QStringLiteral(".vcf")), m_uid(uid)
    {
        m_data.messageClass = messageClass;
    }
    // A contact read from a file of the folder, saved back to that same file.
    VCardContact(QString folderPath, QString fileName, CardContents contents)
        : m_folderPath(std::move(folderPath)), m_fileName(std::move(fileName)), m_uid(contents.uid),
          m_foreign(std::move(contents.foreign)), m_cardCount(contents.cardCount), m_read(true)
    {
        if (m_uid.isEmpty())
            m_uid = m_fileName.chopped(4);
        m_data = std::move(contents.data);
    }

    void Close(int saveMode) override
    {
        if (saveMode != outlook::olSave)
            return;
        checkFolder();
        const QByteArray card = cardToSave();
        const QString problem = writeWholeFile(QDir(m_folderPath).filePath(m_fileName), card);
        if (!problem.isEmpty())
            throw AppError(ErrorCode::Internal,
                           QStringLiteral("The contact could not be saved in '%1': %2").arg(m_folderPath, problem));
        saved(card);
    }
    // Saves the contact into a batch of its folder, to last when the batch does.
    void saveInto(VCardBatch &batch);
    const QString &folderPath() const { return m_folderPath; }
    // A folder that is gone is said as such.
    void checkFolder() const
    {
        if (!QFileInfo(m_folderPath).isDir())
            throw AppError(
                ErrorCode::NotFound,
                QStringLiteral("The folder '%1' no longer exists - the contact was not saved.").arg(m_folderPath));
    }

private:
    QByteArray cardToSave() const
    {
        if (m_cardCount > 1)
            throw AppError(ErrorCode::Internal, QStringLiteral("The file '%1' holds %2 contacts; it is left as it is.")
                                                    .arg(m_fileName, QString::number(m_cardCount)));
        return cardFromContact(m_uid, m_data, m_foreign);
    }
    void saved(const QByteArray &card)
    {
        m_savedUid = m_uid;
        m_savedStamp = cardStamp(card);
    }

    QString m_folderPath;
    QString m_fileName;
    QString m_uid;
    QList<vcard::Property> m_foreign;
    int m_cardCount = 1;
    bool m_read = false; // read from its file, which saving replaces
};

// Many cards of one folder made to last together. Each card is written to a temporary file of
// the folder; a commit syncs the file system once for all of them (syncfs: one journal commit for
// the whole batch, where syncing each file commits the journal once per file, twelve times slower
// in bench/run), renames each into its place and syncs the folder, so that every card lasts whole
// under its name. Until then a crash leaves only temporary files, which the next batch or listing
// of the folder removes.
//
// A commit that need not be waited for runs on a thread of its own while the next cards are
// written, one at a time and in order: the disk's waits and the renames then cost the import
// nothing where there is a second processor.
class VCardBatch : public outlook::SaveBatch {
public:
    explicit VCardBatch(QString path) : m_path(std::move(path)), m_folder(m_path)
    {
        if (m_folder.fd() < 0)
            throw AppError(ErrorCode::NotFound, QStringLiteral("The folder '%1' cannot be written: %2")
                                                    .arg(m_path, systemError(m_folder.error())));
        m_folder.removeLeftovers();
        m_folder.lockForWriting();
    }
    ~VCardBatch() override
    {
        if (m_committing.valid())
            m_committing.wait(); // what it renamed lasts; its report is not wanted any more
        Discard();
    }

    void Save(outlook::ContactItem &contact) override
    {
        auto *card = dynamic_cast<VCardContact *>(&contact);
        if (card && card->folderPath() == m_path)
            card->saveInto(*this);
        else
            contact.Close(outlook::olSave); // a contact of another folder lasts on its own
    }
    int Pending() const override { return int(m_waiting.size()); }

    int Commit(bool wait) override
    {
        // One commit at a time, so that the cards last in the order they were saved.
        int lasting = m_committing.valid() ? collect(m_committing.get()) : 0;
        if (m_waiting.isEmpty())
            return lasting;
        const QList<Waiting> cards = std::exchange(m_waiting, {});
        m_places.clear();
        if (!wait) {
            try {
                m_committing = std::async(std::launch::async, [fd = m_folder.fd(), cards] { return commit(fd, cards); });
                return lasting;
            } catch (const std::system_error &) {
                // No thread to be had: the commit is made here.
            }
        }
        const Outcome outcome = commit(m_folder.fd(), cards);
        try {
            return lasting + collect(outcome);
        } catch (const outlook::BatchError &e) {
            throw outlook::BatchError(e, lasting + e.lasting());
        }
    }
    int Settled() override
    {
        if (!m_committing.valid() || m_committing.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return 0;
        return collect(m_committing.get());
    }

    void Discard() override
    {
        for (const Waiting &card : std::as_const(m_waiting))
            ::unlink(card.temp.constData());
        m_waiting.clear();
        m_places.clear();
    }

    // Writes the card of a contact to its temporary file; a card saved again before a commit
    // begins replaces the one written before.
    void add(const VCardContact &contact, const QString &fileName, const QByteArray &card, bool replaces)
    {
        const QByteArray target = QFile::encodeName(QDir(m_path).filePath(fileName));
        QString problem;
        const QByteArray temp = writeTemporary(target, card, false, replaces, problem);
        if (temp.isEmpty()) {
            contact.checkFolder(); // a folder gone says so
            throw AppError(ErrorCode::Internal,
                           QStringLiteral("The contact could not be saved in '%1': %2").arg(m_path, problem));
        }
        if (const auto place = m_places.constFind(target); place != m_places.cend()) {
            ::unlink(m_waiting[*place].temp.constData());
            m_waiting[*place].temp = temp;
            return;
        }
        m_places.insert(target, m_waiting.size());
        m_waiting.append({temp, target});
    }

private:
    struct Waiting {
        QByteArray temp;
        QByteArray target;
    };
    // How a commit ended: how many of its cards last, and the system's error number when not all.
    struct Outcome {
        int lasting = 0;
        int error = 0;
    };

    // The cards' data and their temporary names first; the names they go under only then. What
    // could not be renamed is removed. Touches nothing of the batch: it may run on another thread.
    static Outcome commit(int folder, const QList<Waiting> &cards)
    {
        Outcome outcome;
        if (::syncfs(folder) != 0)
            outcome.error = errno;
        int renamed = 0;
        while (!outcome.error && renamed < cards.size()) {
            if (::rename(cards[renamed].temp.constData(), cards[renamed].target.constData()) == 0)
                ++renamed;
            else
                outcome.error = errno;
        }
        // A card renamed before a failure lasts once the folder is synced.
        outcome.lasting = renamed;
        if (renamed > 0 && ::fsync(folder) != 0) {
            outcome.error = outcome.error ? outcome.error : errno;
            outcome.lasting = 0;
        }
        for (qsizetype i = renamed; i < cards.size(); ++i)
            ::unlink(cards[i].temp.constData());
        return outcome;
    }
    // The count of a commit that ended, or its failure: the cards waiting are dropped with it.
    int collect(const Outcome &outcome)
    {
        if (!outcome.error)
            return outcome.lasting;
        Discard();
        throw outlook::BatchError(AppError(ErrorCode::Internal, QStringLiteral("The contacts could not be saved in '%1': %2")
                                                                     .arg(m_path, systemError(outcome.error))),
                                  outcome.lasting);
    }

    QString m_path;
    FolderHandle m_folder;
    QList<Waiting> m_waiting;
    QHash<QByteArray, qsizetype> m_places; // where each target waits in m_waiting
    std::future<Outcome> m_committing;      // the commit going on, if any
};

void VCardContact::saveInto(VCardBatch &batch)
{
    const QByteArray card = cardToSave();
    batch.add(*this, m_fileName, card, m_read);
    saved(card);
}

const QByteArray kCardSuffix = QByteArrayLiteral(".vcf");

// Calls visit with the name of each file of a folder that ends in suffix (in any letter case)
// and is not hidden, in the directory's own order, until visit returns false. Nothing is kept, and a file is
// looked at only when the directory does not say what it is.
template <typename Visit> void forEachFile(const QString &folder, const QByteArray &suffix, Visit visit)
{
    DIR *dir = opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    while (const dirent *entry = readdir(dir)) {
        const QByteArray name = QByteArray::fromRawData(entry->d_name, qsizetype(strlen(entry->d_name)));
        if (name.startsWith('.') || name.size() <= suffix.size() || qstrnicmp(name.constData() + name.size() - suffix.size(),
                                                      suffix.constData(), suffix.size()) != 0)
            continue;
        bool file = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
            struct stat info;
            file = fstatat(dirfd(dir), entry->d_name, &info, 0) == 0 && S_ISREG(info.st_mode);
        }
        if (file && !visit(QFile::decodeName(name)))
            break;
    }
    closedir(dir);
}

// The cards of a folder in the order of their names, which is the order they were saved in
// (the names are time-ordered UIDs). The first card is found by one pass over the directory
// without keeping its names, as choosing a folder needs no more; the names are listed only
// when a second card is asked for.
class VCardItems : public outlook::Items {
public:
    explicit VCardItems(QString folderPath) : m_folderPath(std::move(folderPath)) {}

    int Count() override
    {
        int count = 0;
        forEachFile(m_folderPath, kCardSuffix, [&](const QString &) {
            ++count;
            return true;
        });
        return count;
    }

    std::shared_ptr<outlook::ContactItem> GetFirst() override
    {
        m_names.clear();
        m_listed = false;
        m_last.clear();
        forEachFile(m_folderPath, kCardSuffix, [&](const QString &name) {
            if (m_last.isEmpty() || name < m_last)
                m_last = name;
            return true;
        });
        if (m_last.isEmpty())
            return nullptr;
        if (auto contact = read(m_last))
            return contact;
        return GetNext();
    }

    // A file that cannot be read as a card (damaged, empty, of a vCard dialect not read here, not
    // a regular file) is passed over and left as it is: another program's file never stops a run.
    std::shared_ptr<outlook::ContactItem> GetNext() override
    {
        if (!m_listed) {
            forEachFile(m_folderPath, kCardSuffix, [&](const QString &name) {
                if (m_last.isEmpty() || m_last < name)
                    m_names << name;
                return true;
            });
            std::sort(m_names.begin(), m_names.end());
            m_next = 0;
            m_listed = true;
        }
        while (m_next < m_names.size())
            if (auto contact = read(m_names[m_next++]))
                return contact;
        return nullptr;
    }

    std::shared_ptr<outlook::ContactItem> Add(const QString &messageClass) override
    {
        // A new item of a custom form carries the form's user-defined fields, still empty. They are
        // read once for each form: a run adds all its contacts through one collection.
        auto form = m_forms.constFind(messageClass);
        if (form == m_forms.cend())
            form = m_forms.insert(messageClass, CustomFormFields(m_folderPath, messageClass));
        auto contact = std::make_shared<VCardContact>(m_folderPath, newContactUid(), messageClass);
        for (const outlook::UserProperty &field : *form)
            contact->UserProperties().Add(field.name, field.type, false);
        return contact;
    }

private:
    std::shared_ptr<outlook::ContactItem> read(const QString &name) const
    {
        QByteArray bytes;
        QString problem;
        if (!readRegularFile(QDir(m_folderPath).filePath(name), kCardLimit, bytes, problem))
            return nullptr;
        try {
            return std::make_shared<VCardContact>(m_folderPath, name, readCard(bytes));
        } catch (const AppError &) {
            return nullptr;
        }
    }

    QString m_folderPath;
    QHash<QString, QList<outlook::UserProperty>> m_forms; // the fields of each form, once read
    QString m_last; // the first card's name, before the names are listed
    QStringList m_names;
    bool m_listed = false;
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
    const QString problem = writeWholeFile(path, content.toUtf8());
    if (!problem.isEmpty())
        throw AppError(ErrorCode::Internal, QStringLiteral("'%1' could not be written: %2").arg(path, problem));
}

// A file of the folder's own: empty when it is missing, an error when it cannot be read.
QByteArray readFolderFile(const QString &path, qint64 limit)
{
    if (!QFileInfo::exists(path))
        return QByteArray();
    QByteArray bytes;
    QString problem;
    if (!readRegularFile(path, limit, bytes, problem))
        throw AppError(ErrorCode::Internal, QStringLiteral("'%1' could not be read: %2").arg(path, problem));
    return bytes;
}

QString readSmallFile(const QString &path)
{
    return QString::fromUtf8(readFolderFile(path, kNameLimit)).trimmed();
}

// A new sub-directory for a folder name: the name itself where the file system allows it.
// reuse: a directory of that name that exists already (made meanwhile by another program) is
// the folder; otherwise a free name is taken.
std::shared_ptr<outlook::Folder> makeFolder(const QString &parentPath, const QString &storeId, const QString &name,
                                            int itemType, bool reuse = false);

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
        bool calendar = false;
        forEachFile(m_path, QByteArrayLiteral(".ics"), [&](const QString &) { return !(calendar = true); });
        if (calendar)
            return 1;
        return outlook::olContactItem;
    }
    std::shared_ptr<outlook::Items> Items() override { return std::make_shared<VCardItems>(m_path); }
    QList<std::shared_ptr<outlook::Folder>> Folders() override { return foldersIn(m_path, m_storeId); }
    std::shared_ptr<outlook::Folder> AddFolder(const QString &name) override
    {
        return makeFolder(m_path, m_storeId, name, outlook::olContactItem);
    }
    outlook::RemoveOutcome RemoveIfUnchanged(const QString &uid, const QString &stamp) override
    {
        // Only a card this program named: a UID that would lead out of the folder names none.
        const QString path = QDir(m_path).filePath(uid + QStringLiteral(".vcf"));
        QByteArray bytes;
        QString problem;
        if (uid.isEmpty() || uid.contains(QLatin1Char('/')) || uid.startsWith(QLatin1Char('.')) ||
            !QFileInfo::exists(path))
            return outlook::RemoveOutcome::Gone;
        if (!readRegularFile(path, kCardLimit, bytes, problem) || cardStamp(bytes) != stamp)
            return outlook::RemoveOutcome::Changed;
        if (::unlink(QFile::encodeName(path).constData()) != 0)
            throw AppError(ErrorCode::Internal,
                           QStringLiteral("The contact '%1' could not be removed: %2").arg(path, systemError(errno)));
        return outlook::RemoveOutcome::Removed;
    }
    std::shared_ptr<outlook::SaveBatch> StartBatch() override { return std::make_shared<VCardBatch>(m_path); }
    void SyncRemovals() override
    {
        // The removals last once the folder's entries are on the disk.
        const int dir = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int error = dir < 0 || ::fsync(dir) != 0 ? errno : 0;
        if (dir >= 0)
            ::close(dir);
        if (error)
            throw AppError(ErrorCode::Internal,
                           QStringLiteral("The removals in '%1' could not be synced: %2").arg(m_path, systemError(error)));
    }

private:
    QString m_path;
    QString m_storeId;
};

QList<std::shared_ptr<outlook::Folder>> foldersIn(const QString &path, const QString &storeId)
{
    QList<std::shared_ptr<outlook::Folder>> folders;
    // Only real directories: a link could lead out of the store or back into it without end.
    const QStringList names = QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Name);
    for (const QString &name : names) {
        FolderHandle(QDir(path).filePath(name)).removeLeftovers(); // a writer's that is gone
        folders << std::make_shared<VCardFolder>(QDir(path).filePath(name), storeId);
    }
    return folders;
}

std::shared_ptr<outlook::Folder> makeFolder(const QString &parentPath, const QString &storeId, const QString &name,
                                            int itemType, bool reuse)
{
    QString base = name.trimmed();
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    base.remove(QChar(0));
    if (base.isEmpty() || base.startsWith(QLatin1Char('.')))
        base.prepend(QLatin1Char('_'));
    for (int n = 1;; ++n) {
        // One arg() call: a "%1" in the folder's name stays as it is.
        const QString dirName = n == 1 ? base : QStringLiteral("%1 (%2)").arg(base, QString::number(n));
        const QString path = QDir(parentPath).filePath(dirName);
        const QByteArray local = QFile::encodeName(path);
        // Made exclusively: of two programs making it at once, one makes it and the other sees it.
        if (::mkdir(local.constData(), 0700) == 0) {
            try {
                if (::chmod(local.constData(), 0700) != 0)
                    throw AppError(ErrorCode::Internal, systemError(errno));
                writeSmallFile(QDir(path).filePath(kDisplayNameFile), name);
                writeSmallFile(QDir(path).filePath(kItemTypeFile), itemTypeName(itemType));
            } catch (const AppError &e) {
                QFile::remove(QDir(path).filePath(kDisplayNameFile));
                QDir(parentPath).rmdir(dirName);
                throw AppError(ErrorCode::Internal, QStringLiteral("The folder '%1' could not be created in '%2': %3")
                                                        .arg(name, parentPath, e.info().description));
            }
            return std::make_shared<VCardFolder>(path, storeId);
        }
        if (errno != EEXIST)
            throw AppError(ErrorCode::Internal, QStringLiteral("The folder '%1' could not be created in '%2': %3")
                                                    .arg(name, parentPath, systemError(errno)));
        if (reuse) {
            const QFileInfo existing(path);
            if (existing.isSymLink() || !existing.isDir())
                throw AppError(ErrorCode::Internal, QStringLiteral("'%1' is not a folder.").arg(path));
            return std::make_shared<VCardFolder>(path, storeId);
        }
    }
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
    std::shared_ptr<outlook::Folder> OpenFolder(const QString &name, int itemType) override
    {
        return makeFolder(m_path, m_path, name, itemType, true);
    }

private:
    QString m_path;
};

class VCardNamespace : public outlook::Namespace {
public:
    explicit VCardNamespace(carddav::LoginSource logins = {}) : m_logins(std::move(logins)) {}

    QList<std::shared_ptr<outlook::Store>> Stores() override { return m_stores; }

    std::shared_ptr<outlook::Folder> GetFolderFromID(const QString &entryId) override
    {
        if (carddav::isServerLocation(entryId)) // an address book on a server
            return carddav::OpenServerFolder(*addServer(entryId), QUrl(entryId));
        const QFileInfo info(entryId);
        if (entryId.isEmpty() || !info.isAbsolute() || !info.isDir())
            throw AppError(
                ErrorCode::NotFound,
                QStringLiteral("The folder '%1' could not be found - it may have been moved or deleted.").arg(entryId));
        const QString path = info.absoluteFilePath();
        QString storeId = info.absolutePath();
        for (const auto &store : std::as_const(m_stores))
            if (path.startsWith(store->StoreID() + QLatin1Char('/')))
                storeId = store->StoreID();
        // A folder is a real directory of its store, not one reached through a link.
        if (info.canonicalFilePath() != QFileInfo(storeId).canonicalFilePath() + path.mid(storeId.size()))
            throw AppError(ErrorCode::NotFound,
                           QStringLiteral("The folder '%1' is reached through a link; it is not used.").arg(entryId));
        return std::make_shared<VCardFolder>(path, storeId);
    }

    std::shared_ptr<outlook::Store> AddStore(const QString &location) override
    {
        if (carddav::isServerLocation(location))
            return addServer(location);
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
    // A server store: one for each server, opened with the login the source gives for it.
    std::shared_ptr<outlook::Store> addServer(const QString &location)
    {
        const QUrl server = carddav::serverOf(location);
        if (server.isEmpty())
            throw AppError(ErrorCode::NotFound,
                           QStringLiteral("'%1' is no server address: give an http or https address without a user "
                                          "name or password in it.")
                               .arg(QUrl(location).toString(QUrl::RemovePassword)));
        for (const auto &store : std::as_const(m_stores))
            if (store->StoreID() == server.toString())
                return store;
        const std::optional<carddav::Login> login = m_logins ? m_logins(server) : std::nullopt;
        if (!login)
            throw AppError(ErrorCode::CannotCreateObject,
                           QStringLiteral("No user name and password are known for the server %1.")
                               .arg(server.toString()));
        m_stores << carddav::OpenServerStore(QUrl(location), *login);
        return m_stores.last();
    }

    carddav::LoginSource m_logins;
    QList<std::shared_ptr<outlook::Store>> m_stores;
};

// The default store, made on first use with one contact folder. No path: no local store, only
// the servers added later.
std::shared_ptr<outlook::Namespace> openDefaultStore(const QString &path, bool setUp,
                                                     const carddav::LoginSource &logins)
{
    if (path.isEmpty())
        return std::make_shared<VCardNamespace>(logins);
    if (!setUp) {
        if (!QFileInfo(path).isDir())
            throw AppError(ErrorCode::CannotCreateObject,
                           QStringLiteral("The address book '%1' does not exist.").arg(path));
        auto ns = std::make_shared<VCardNamespace>(logins);
        ns->AddStore(path);
        return ns;
    }
    const bool isNew = !QFileInfo::exists(path);
    if (isNew && (!QDir().mkpath(path) || ::chmod(QFile::encodeName(path).constData(), 0700) != 0))
        throw AppError(ErrorCode::CannotCreateObject,
                       QStringLiteral("The default address book '%1' could not be created.").arg(path));
    if (!QFileInfo(path).isDir())
        throw AppError(ErrorCode::CannotCreateObject,
                       QStringLiteral("The default address book '%1' is not a directory.").arg(path));
    auto ns = std::make_shared<VCardNamespace>(logins);
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
    QJsonObject forms =
        QJsonDocument::fromJson(readFolderFile(QDir(folderPath).filePath(kFormsFile), kFormsLimit)).object();
    QJsonArray list;
    for (const outlook::UserProperty &field : fields)
        list.append(QJsonObject{{QStringLiteral("name"), field.name}, {QStringLiteral("type"), field.type}});
    forms.insert(messageClass, list);
    writeSmallFile(QDir(folderPath).filePath(kFormsFile), QString::fromUtf8(QJsonDocument(forms).toJson()));
}

QList<outlook::UserProperty> CustomFormFields(const QString &folderPath, const QString &messageClass)
{
    QList<outlook::UserProperty> fields;
    const QJsonArray list = QJsonDocument::fromJson(readFolderFile(QDir(folderPath).filePath(kFormsFile), kFormsLimit))
                                .object()
                                .value(messageClass)
                                .toArray();
    for (const QJsonValue &entry : list)
        fields << outlook::UserProperty{entry.toObject().value(QStringLiteral("name")).toString(),
                                        entry.toObject().value(QStringLiteral("type")).toInt(outlook::olText),
                                        QVariant()};
    return fields;
}

VCardApplication::VCardApplication(const QString &defaultStorePath, bool setUp, carddav::LoginSource logins)
    : m_storePath(defaultStorePath.isEmpty() ? QString() : QFileInfo(defaultStorePath).absoluteFilePath()),
      m_setUp(setUp), m_logins(std::move(logins))
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
        m_namespace = openDefaultStore(m_storePath, m_setUp, m_logins);
    return m_namespace;
}

} // namespace vcardstore
