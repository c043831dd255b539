#include "platform/VCard.h"

#include "core/AppError.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace vcard {

namespace {
constexpr int kMaxLineOctets = 75;

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Quoted when it holds a separator of the line or of a list.
QString quoted(const QString &value)
{
    const bool quote =
        value.contains(QLatin1Char(';')) || value.contains(QLatin1Char(':')) || value.contains(QLatin1Char(','));
    return quote ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

// Appends the text escaped; runs of characters that stay as they are go in at once.
void appendEscaped(QString &out, QStringView text)
{
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'\\' && c != u',' && c != u';' && c != u'\r' && c != u'\n')
            continue;
        out.append(text.sliced(run, i - run));
        if (c == u'\r' || c == u'\n') {
            out.append(QLatin1String("\\n"));
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else {
            out.append(QLatin1Char('\\'));
            out.append(QChar(c));
        }
        run = i + 1;
    }
    out.append(text.sliced(run));
}

QString paramValue(const QString &key, const QString &value)
{
    // A double quote cannot stand in a parameter at all. TYPE is a list whose commas separate
    // its values, so only a value holding ';' or ':' is quoted: TYPE=WORK,VOICE, never
    // TYPE="WORK,VOICE", which readers take for one unknown type.
    QString clean = value;
    clean.remove(QLatin1Char('"'));
    if (key.compare(QLatin1String("TYPE"), Qt::CaseInsensitive) != 0)
        return quoted(clean);
    QStringList types = clean.split(QLatin1Char(','));
    for (QString &type : types)
        type = quoted(type);
    return types.join(QLatin1Char(','));
}
} // namespace

QString Property::param(const QString &key) const
{
    for (const auto &[k, v] : params)
        if (k.compare(key, Qt::CaseInsensitive) == 0)
            return v;
    return QString();
}

QStringList Property::types() const
{
    QStringList set;
    for (const auto &[k, v] : params)
        if (k.compare(QLatin1String("TYPE"), Qt::CaseInsensitive) == 0)
            for (const QString &t : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
                if (!set.contains(t.trimmed().toUpper()))
                    set << t.trimmed().toUpper();
    set.sort();
    return set;
}

QStringList typeSet(const QString &types)
{
    QStringList set = types.split(QLatin1Char(','), Qt::SkipEmptyParts);
    set.sort();
    return set;
}

QList<std::pair<QString, QString>> typeParams(const QString &types)
{
    if (types.isEmpty())
        return {};
    return {{QStringLiteral("TYPE"), types}};
}

QString escapeText(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    appendEscaped(out, text);
    return out;
}

QString unescapeText(const QString &text)
{
    if (!text.contains(QLatin1Char('\\')))
        return text; // most values have nothing escaped: shared, not copied
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            const QChar next = text[++i];
            if (next == QLatin1Char('n') || next == QLatin1Char('N'))
                out += QLatin1String("\r\n");
            else
                out += next;
        } else {
            out += c;
        }
    }
    return out;
}

QString joinValue(const QStringList &parts, QChar separator)
{
    QString joined;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            joined.append(separator);
        appendEscaped(joined, parts[i]);
    }
    return joined;
}

QStringList splitValue(const QString &raw, QChar separator)
{
    QStringList parts;
    int start = 0;
    for (int i = 0; i < raw.size(); ++i) {
        if (raw[i] == QLatin1Char('\\')) {
            ++i; // the escaped character stays with its part
        } else if (raw[i] == separator) {
            parts << unescapeText(raw.mid(start, i - start));
            start = i + 1;
        }
    }
    parts << unescapeText(raw.mid(start));
    return parts;
}

std::pair<QString, QString> splitFirst(const QString &raw, QChar separator)
{
    int cut = -1;
    for (int i = 0; i < raw.size(); ++i) {
        if (raw[i] == QLatin1Char('\\'))
            ++i;
        else if (raw[i] == separator) {
            cut = i;
            break;
        }
    }
    return {unescapeText(cut < 0 ? raw : raw.left(cut)), cut < 0 ? QString() : raw.mid(cut + 1)};
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
    QDate day = QDate::fromString(text.left(10), Qt::ISODate);
    if (!day.isValid())
        day = QDate::fromString(text.left(8), QStringLiteral("yyyyMMdd"));
    return day.isValid() ? QVariant(day) : QVariant();
}

std::pair<QString, QString> encodeTyped(const QVariant &value)
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
        return {QStringLiteral("text"), escapeText(value.toString())};
    }
}

QVariant decodeTyped(const QString &kind, const QString &raw)
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
    return unescapeText(raw);
}

QByteArray foldLine(const QByteArray &line)
{
    if (line.size() <= kMaxLineOctets)
        return line;
    QByteArray out;
    out.reserve(line.size() + line.size() / 37 + 4);
    int start = 0;
    int limit = kMaxLineOctets; // continuation lines give one octet to their leading blank
    while (line.size() - start > limit) {
        int end = start + limit;
        while (end > start && isContinuationByte(line[end]))
            --end;
        out += line.mid(start, end - start);
        out += "\r\n ";
        start = end;
        limit = kMaxLineOctets - 1;
    }
    out += line.mid(start);
    return out;
}

QByteArray writeProperty(const Property &property)
{
    LineWriter line;
    line.property(property);
    return line.take();
}

// Most cards fit in a first buffer of this size, which is also small enough for the C library to
// hand the same block from card to card (its per-thread cache takes blocks up to 1032 bytes).
constexpr qsizetype kFirstBuffer = 1000;

LineWriter::LineWriter() : m_bytes(kFirstBuffer, Qt::Uninitialized), m_room(kMaxLineOctets)
{
    m_at = m_bytes.data();
    m_limit = m_at + m_bytes.size();
}

void LineWriter::grow(qsizetype more)
{
    const qsizetype used = m_at - m_bytes.constData();
    m_bytes.resize(std::max(m_bytes.size() * 2, used + more));
    m_at = m_bytes.data() + used;
    m_limit = m_bytes.data() + m_bytes.size();
}

// One character of `octets` octets, after a fold when it would pass the line's room: the first
// line of a property holds 75 octets, a continuation line 74 after its leading blank.
inline void LineWriter::put(char32_t c, int octets)
{
    if (m_limit - m_at < 8)
        grow(1024);
    if (m_used + octets > m_room) {
        *m_at++ = '\r';
        *m_at++ = '\n';
        *m_at++ = ' ';
        m_used = 0;
        m_room = kMaxLineOctets - 1;
    }
    m_used += octets;
    switch (octets) {
    case 1:
        *m_at++ = char(c);
        break;
    case 2:
        *m_at++ = char(0xC0 | (c >> 6));
        *m_at++ = char(0x80 | (c & 0x3F));
        break;
    case 3:
        *m_at++ = char(0xE0 | (c >> 12));
        *m_at++ = char(0x80 | ((c >> 6) & 0x3F));
        *m_at++ = char(0x80 | (c & 0x3F));
        break;
    default:
        *m_at++ = char(0xF0 | (c >> 18));
        *m_at++ = char(0x80 | ((c >> 12) & 0x3F));
        *m_at++ = char(0x80 | ((c >> 6) & 0x3F));
        *m_at++ = char(0x80 | (c & 0x3F));
    }
}

// One UTF-16 unit of the line. As when the whole line is encoded at once, a NUL is left out
// and a surrogate pairs with the next unit that is not a NUL.
inline void LineWriter::unit(char16_t u)
{
    if (u == 0)
        return; // a NUL byte breaks readers that stop at it
    if (m_high) {
        const char16_t high = std::exchange(m_high, 0);
        if (QChar::isLowSurrogate(u)) {
            put(QChar::surrogateToUcs4(high, u), 4);
            return;
        }
        put('?', 1); // as Qt writes a lone surrogate in UTF-8
    }
    if (u < 0x80)
        put(u, 1);
    else if (u < 0x800)
        put(u, 2);
    else if (!QChar::isSurrogate(u))
        put(u, 3);
    else if (QChar::isHighSurrogate(u))
        m_high = u;
    else
        put('?', 1);
}

template <bool Escape> void LineWriter::write(QStringView text)
{
    const char16_t *at = text.utf16();
    const char16_t *const end = at + text.size();
    while (at < end) {
        // Most of a card: ASCII that needs no escape and fits on the line, copied as it is.
        if (!m_high) {
            const qsizetype fits = std::min<qsizetype>(end - at, m_room - m_used);
            if (m_limit - m_at < fits + 8)
                grow(fits + 8);
            const char16_t *const stop = at + fits;
            char *out = m_at;
            for (; at < stop; ++at) {
                const char16_t u = *at;
                if (u >= 0x80 || u == 0 ||
                    (Escape && (u == u'\\' || u == u',' || u == u';' || u == u'\r' || u == u'\n')))
                    break;
                *out++ = char(u);
            }
            m_used += int(out - m_at);
            m_at = out;
            if (at == end)
                break;
        }
        const char16_t u = *at++;
        if (Escape && (u == u'\\' || u == u',' || u == u';')) {
            unit(u'\\');
        } else if (Escape && (u == u'\r' || u == u'\n')) {
            unit(u'\\');
            unit(u'n');
            if (u == u'\r' && at < end && *at == u'\n')
                ++at;
            continue;
        }
        unit(u);
    }
}

LineWriter &LineWriter::text(QStringView text)
{
    write<false>(text);
    return *this;
}

LineWriter &LineWriter::escaped(QStringView text)
{
    write<true>(text);
    return *this;
}

LineWriter &LineWriter::property(const Property &property)
{
    text(property.name);
    for (const auto &[k, v] : property.params)
        text(u";").text(k).text(u"=").text(paramValue(k, v));
    text(u":").text(property.value);
    end();
    return *this;
}

void LineWriter::end()
{
    if (std::exchange(m_high, 0))
        put('?', 1); // a lone surrogate at the line's end
    if (m_limit - m_at < 2)
        grow(1024);
    *m_at++ = '\r';
    *m_at++ = '\n';
    m_used = 0;
    m_room = kMaxLineOctets;
}

void LineWriter::raw(const char *lines)
{
    const qsizetype size = qsizetype(std::strlen(lines));
    if (m_limit - m_at < size)
        grow(size);
    std::memcpy(m_at, lines, size_t(size));
    m_at += size;
}

QByteArray LineWriter::take()
{
    m_bytes.truncate(m_at - m_bytes.constData());
    m_at = m_limit = nullptr;
    return std::move(m_bytes);
}

namespace {

Property parseLine(const QString &line, int lineNumber)
{
    // name *(";" param) ":" value; parameter values may be quoted.
    Property property;
    int i = 0;
    const int n = int(line.size());
    // A token ends at a stop outside quotes; its quotes are dropped. Taken whole, not a
    // character at a time: every line of every card read passes here.
    auto readToken = [&](auto stop) {
        const int start = i;
        bool quoted = false;
        bool quotes = false;
        for (; i < n; ++i) {
            const QChar c = line[i];
            if (c == QLatin1Char('"')) {
                quoted = !quoted;
                quotes = true;
            } else if (!quoted && stop(c)) {
                break;
            }
        }
        QString token = line.mid(start, i - start);
        if (quotes)
            token.remove(QLatin1Char('"'));
        return token;
    };
    QString name = readToken([](QChar c) { return c == QLatin1Char(';') || c == QLatin1Char(':'); });
    const int dot = int(name.lastIndexOf(QLatin1Char('.')));
    if (dot >= 0)
        name = name.mid(dot + 1); // drop a group prefix
    property.name = name.toUpper();
    while (i < n && line[i] == QLatin1Char(';')) {
        ++i;
        const QString param = readToken([](QChar c) { return c == QLatin1Char(';') || c == QLatin1Char(':'); });
        const int eq = int(param.indexOf(QLatin1Char('=')));
        if (eq < 0)
            property.params.emplace_back(QStringLiteral("TYPE"), param);
        else
            property.params.emplace_back(param.left(eq).toUpper(), param.mid(eq + 1));
    }
    if (i >= n || line[i] != QLatin1Char(':') || property.name.isEmpty())
        throw AppError(ErrorCode::TypeMismatch,
                       QStringLiteral("Line %1 of the vCard is not a property.").arg(lineNumber));
    property.value = line.mid(i + 1);
    return property;
}

} // namespace

QList<Card> parse(const QByteArray &text)
{
    // Unfold: a line break followed by a blank or a tab continues the line.
    QList<std::pair<QString, int>> lines;
    const QList<QByteArray> raw = text.split('\n');
    QByteArray current;
    int currentLine = 0;
    for (int i = 0; i < raw.size(); ++i) {
        QByteArray line = raw[i];
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty() && (line[0] == ' ' || line[0] == '\t') && currentLine > 0) {
            current += line.mid(1);
            continue;
        }
        if (currentLine > 0 && !current.isEmpty())
            lines.emplace_back(QString::fromUtf8(current), currentLine);
        current = line;
        currentLine = i + 1;
    }
    if (!current.isEmpty())
        lines.emplace_back(QString::fromUtf8(current), currentLine);

    QList<Card> cards;
    Card card;
    bool inside = false;
    for (const auto &[line, number] : lines) {
        const Property p = parseLine(line, number);
        if (p.name == QLatin1String("BEGIN") && p.value.compare(QLatin1String("VCARD"), Qt::CaseInsensitive) == 0) {
            if (inside)
                throw AppError(ErrorCode::TypeMismatch,
                               QStringLiteral("Line %1: a vCard begins inside another.").arg(number));
            inside = true;
            card.clear();
        } else if (p.name == QLatin1String("END") &&
                   p.value.compare(QLatin1String("VCARD"), Qt::CaseInsensitive) == 0) {
            if (!inside)
                throw AppError(ErrorCode::TypeMismatch, QStringLiteral("Line %1: END without BEGIN.").arg(number));
            inside = false;
            cards << card;
        } else if (inside) {
            card << p;
        } else {
            throw AppError(ErrorCode::TypeMismatch, QStringLiteral("Line %1 stands outside a vCard.").arg(number));
        }
    }
    if (inside)
        throw AppError(ErrorCode::TypeMismatch, QStringLiteral("The vCard has no END line."));
    return cards;
}

} // namespace vcard
