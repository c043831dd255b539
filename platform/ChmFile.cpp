#include "platform/ChmFile.h"

#include "source/TextDecoding.h"

#include <QFileInfo>
#include <QHash>
#include <QtEndian>
#include <chm_lib.h>

namespace {

// No page or picture of a help file comes near this; a damaged length is refused, not allocated.
constexpr LONGUINT64 kMaxEntrySize = 32 * 1024 * 1024;

// UTF-8 when the bytes are valid UTF-8, else Windows-1252, the code page help compilers write.
QString decodeText(const QByteArray &bytes)
{
    QString text;
    RecordText(bytes).append(0, bytes.size(), text);
    return text;
}

QString decodeEntities(QString text)
{
    static const QHash<QString, QString> named{{"amp", "&"},   {"lt", "<"},   {"gt", ">"},
                                               {"quot", "\""}, {"apos", "'"}, {"nbsp", QString(QChar(0xA0))}};
    for (qsizetype at = text.indexOf(QLatin1Char('&')); at >= 0; at = text.indexOf(QLatin1Char('&'), at + 1)) {
        const qsizetype end = text.indexOf(QLatin1Char(';'), at);
        if (end < 0 || end - at > 10)
            continue;
        const QString name = text.mid(at + 1, end - at - 1);
        QString replacement = named.value(name.toLower());
        if (name.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const bool hex = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive);
            const uint code = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            if (ok && code > 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF)) {
                const char32_t c = code;
                replacement = QString::fromUcs4(&c, 1);
            }
        }
        if (!replacement.isEmpty())
            text.replace(at, end - at + 1, replacement);
    }
    return text;
}

struct Tag {
    QString name; // in lower case; an end tag starts with '/'
    QHash<QString, QString> attributes;
};

// Reads the tag whose '<' stands at `at`; gives where the text after it begins. A comment gives
// a tag without a name.
qsizetype readTag(const QString &html, qsizetype at, Tag &tag)
{
    const qsizetype n = html.size();
    qsizetype i = at + 1;
    if (QStringView(html).sliced(i).startsWith(QLatin1String("!--"))) {
        const qsizetype end = html.indexOf(QLatin1String("-->"), i + 3);
        return end < 0 ? n : end + 3;
    }
    const qsizetype start = i;
    if (i < n && html[i] == QLatin1Char('/'))
        ++i;
    while (i < n && html[i].isLetterOrNumber())
        ++i;
    tag.name = html.mid(start, i - start).toLower();
    const auto skipSpace = [&] {
        while (i < n && html[i].isSpace())
            ++i;
    };
    for (;;) {
        skipSpace();
        if (i >= n)
            return n;
        if (html[i] == QLatin1Char('>'))
            return i + 1;
        if (html[i] == QLatin1Char('/')) {
            ++i;
            continue;
        }
        const qsizetype nameStart = i;
        while (i < n && !html[i].isSpace() && html[i] != QLatin1Char('=') && html[i] != QLatin1Char('>'))
            ++i;
        const QString name = html.mid(nameStart, i - nameStart).toLower();
        QString value;
        skipSpace();
        if (i < n && html[i] == QLatin1Char('=')) {
            ++i;
            skipSpace();
            if (i < n && (html[i] == QLatin1Char('"') || html[i] == QLatin1Char('\''))) {
                const qsizetype close = html.indexOf(html[i], i + 1);
                const qsizetype end = close < 0 ? n : close;
                value = html.mid(i + 1, end - i - 1);
                i = close < 0 ? n : close + 1;
            } else {
                const qsizetype valueStart = i;
                while (i < n && !html[i].isSpace() && html[i] != QLatin1Char('>'))
                    ++i;
                value = html.mid(valueStart, i - valueStart);
            }
        }
        if (!name.isEmpty() && !tag.attributes.contains(name))
            tag.attributes.insert(name, decodeEntities(value));
    }
}

// The path inside the file of a contents entry's page: "other.chm::/a.html" names a page of
// this file as "/a.html".
QString localPath(const QString &local)
{
    const qsizetype inFile = local.indexOf(QLatin1String("::"));
    return (inFile < 0 ? local : local.mid(inFile + 2)).trimmed();
}

} // namespace

QList<HelpTopic> ParseSitemap(const QString &html)
{
    QList<HelpTopic> topics;
    int lists = 0; // the <ul> open around the text read so far
    std::optional<HelpTopic> open;
    const auto close = [&] {
        if (open && (!open->name.isEmpty() || !open->local.isEmpty())) {
            if (open->name.isEmpty())
                open->name = open->local;
            // A list nested with no entry before it hangs under the last entry there is.
            open->level = std::min(std::max(lists - 1, 0), topics.isEmpty() ? 0 : topics.last().level + 1);
            topics << *open;
        }
        open.reset();
    };
    for (qsizetype at = html.indexOf(QLatin1Char('<')); at >= 0;) {
        Tag tag;
        const qsizetype next = readTag(html, at, tag);
        if (tag.name == QLatin1String("param") && open) {
            const QString name = tag.attributes.value(QStringLiteral("name")).toLower();
            const QString value = tag.attributes.value(QStringLiteral("value")).trimmed();
            if (name == QLatin1String("name") && open->name.isEmpty())
                open->name = value;
            else if (name == QLatin1String("local") && open->local.isEmpty())
                open->local = localPath(value);
        } else if (tag.name == QLatin1String("/object") || tag.name == QLatin1String("object") ||
                   tag.name == QLatin1String("li") || tag.name == QLatin1String("ul") ||
                   tag.name == QLatin1String("/ul")) {
            // An entry ends at its </object>, or where the next one or another list starts.
            close();
            if (tag.name == QLatin1String("ul"))
                ++lists;
            else if (tag.name == QLatin1String("/ul"))
                lists = std::max(lists - 1, 0);
            else if (tag.name == QLatin1String("object") &&
                     tag.attributes.value(QStringLiteral("type"))
                             .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0)
                open.emplace();
        }
        at = html.indexOf(QLatin1Char('<'), next);
    }
    close();
    return topics;
}

ChmFile::~ChmFile()
{
    chm_close(m_file);
}

std::unique_ptr<ChmFile> ChmFile::open(const QString &path, QString &reason)
{
    // A pipe or a device would block the reader or never end.
    if (!QFileInfo(path).isFile()) {
        reason = QStringLiteral("it is not a regular file");
        return nullptr;
    }
    chmFile *file = chm_open(QFile::encodeName(path).constData());
    if (!file) {
        reason = QStringLiteral("it is not a compiled help file");
        return nullptr;
    }
    return std::unique_ptr<ChmFile>(new ChmFile(file));
}

QStringList ChmFile::entries() const
{
    QStringList paths;
    chm_enumerate(
        m_file, CHM_ENUMERATE_ALL,
        [](chmFile *, chmUnitInfo *unit, void *context) {
            static_cast<QStringList *>(context)->append(QString::fromUtf8(unit->path));
            return CHM_ENUMERATOR_CONTINUE;
        },
        &paths);
    return paths;
}

std::optional<QByteArray> ChmFile::read(const QString &entry) const
{
    const QByteArray path = (entry.startsWith(QLatin1Char('/')) ? entry : QLatin1Char('/') + entry).toUtf8();
    chmUnitInfo unit{};
    if (path.size() > CHM_MAX_PATHLEN || chm_resolve_object(m_file, path.constData(), &unit) != CHM_RESOLVE_SUCCESS ||
        unit.length > kMaxEntrySize)
        return std::nullopt;
    QByteArray bytes(qsizetype(unit.length), Qt::Uninitialized);
    const LONGINT64 got =
        chm_retrieve_object(m_file, &unit, reinterpret_cast<unsigned char *>(bytes.data()), 0, LONGINT64(unit.length));
    if (got != LONGINT64(unit.length))
        return std::nullopt;
    return bytes;
}

QString ChmFile::systemText(quint16 code) const
{
    // #SYSTEM: a 4-byte version, then records of a 2-byte code, a 2-byte length and the data.
    const QByteArray system = read(QStringLiteral("/#SYSTEM")).value_or(QByteArray());
    for (qsizetype at = 4; at + 4 <= system.size();) {
        const quint16 recordCode = qFromLittleEndian<quint16>(system.constData() + at);
        const quint16 length = qFromLittleEndian<quint16>(system.constData() + at + 2);
        at += 4;
        if (at + length > system.size())
            break;
        if (recordCode == code) {
            const QByteArray data = system.mid(at, length);
            return decodeText(data.left(data.indexOf('\0') < 0 ? data.size() : data.indexOf('\0'))).trimmed();
        }
        at += length;
    }
    return {};
}

QList<HelpTopic> ChmFile::contents() const
{
    QString entry = systemText(0);
    if (entry.isEmpty()) {
        for (const QString &path : entries()) {
            if (path.endsWith(QLatin1String(".hhc"), Qt::CaseInsensitive)) {
                entry = path;
                break;
            }
        }
    }
    if (entry.isEmpty())
        return {};
    return ParseSitemap(decodeText(read(entry).value_or(QByteArray())));
}

QString ChmFile::title() const
{
    return systemText(3);
}
