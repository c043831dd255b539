#include "platform/VCard.h"

#include "core/AppError.h"

#include <QDateTime>

#include <limits>

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

void appendEscaped(QString &out, QStringView text)
{
    // Runs of characters that stay as they are go in at once.
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

QString unescapeText(const QString &text)
{
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
    QString current;
    for (int i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c == QLatin1Char('\\') && i + 1 < raw.size()) {
            current += c;
            current += raw[++i];
        } else if (c == separator) {
            parts << unescapeText(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts << unescapeText(current);
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

void lineOf(const Property &property, QString &line)
{
    line = property.name;
    for (const auto &[k, v] : property.params)
        line += QLatin1Char(';') + k + QLatin1Char('=') + paramValue(k, v);
    line += QLatin1Char(':');
    line += property.value;
}

QByteArray writeProperty(const Property &property)
{
    QString line;
    lineOf(property, line);
    QByteArray out;
    appendLine(out, line);
    return out;
}

void appendLine(QByteArray &out, QStringView line)
{
    // Encoded straight into out, folding before a character that would pass the line's octets:
    // the first line holds 75, a continuation line 74 after its leading blank. At most 3 octets
    // per UTF-16 unit, and each fold of 3 octets follows at least 71 octets.
    const qsizetype start = out.size();
    const qsizetype most = line.size() * 3;
    out.resize(start + most + (most / 71 + 1) * 3 + 2);
    char *p = out.data() + start;
    int room = kMaxLineOctets;
    int used = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        char32_t u = line[i].unicode();
        int octets = 3;
        if (u < 0x80) {
            if (u == 0)
                continue; // a NUL byte breaks readers that stop at it
            octets = 1;
        } else if (u < 0x800) {
            octets = 2;
        } else if (QChar::isSurrogate(u)) {
            if (!QChar::isHighSurrogate(u) || i + 1 >= line.size() || !line[i + 1].isLowSurrogate()) {
                // A lone surrogate: encoded as Qt encodes it.
                QString text = line.toString();
                text.remove(QChar(0));
                out.truncate(start);
                out += foldLine(text.toUtf8()) + "\r\n";
                return;
            }
            u = QChar::surrogateToUcs4(char16_t(u), line[++i].unicode());
            octets = 4;
        }
        if (used + octets > room) {
            *p++ = '\r';
            *p++ = '\n';
            *p++ = ' ';
            used = 0;
            room = kMaxLineOctets - 1;
        }
        used += octets;
        switch (octets) {
        case 1:
            *p++ = char(u);
            break;
        case 2:
            *p++ = char(0xC0 | (u >> 6));
            *p++ = char(0x80 | (u & 0x3F));
            break;
        case 3:
            *p++ = char(0xE0 | (u >> 12));
            *p++ = char(0x80 | ((u >> 6) & 0x3F));
            *p++ = char(0x80 | (u & 0x3F));
            break;
        default:
            *p++ = char(0xF0 | (u >> 18));
            *p++ = char(0x80 | ((u >> 12) & 0x3F));
            *p++ = char(0x80 | ((u >> 6) & 0x3F));
            *p++ = char(0x80 | (u & 0x3F));
        }
    }
    *p++ = '\r';
    *p++ = '\n';
    out.truncate(p - out.constData());
}

namespace {

Property parseLine(const QString &line, int lineNumber)
{
    // name *(";" param) ":" value; parameter values may be quoted.
    Property property;
    int i = 0;
    const int n = int(line.size());
    auto readToken = [&](auto stop) {
        QString token;
        bool quoted = false;
        for (; i < n; ++i) {
            const QChar c = line[i];
            if (c == QLatin1Char('"')) {
                quoted = !quoted;
                continue;
            }
            if (!quoted && stop(c))
                break;
            token += c;
        }
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
