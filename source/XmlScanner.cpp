#include "source/XmlScanner.h"

#include "core/AppError.h"
#include "source/SourceFile.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr qsizetype kChunk = 256 * 1024;
constexpr qsizetype kMaxTag = 16 * 1024 * 1024;
constexpr qsizetype kTextPiece = 1024 * 1024; // text longer than this without a tag comes in pieces
constexpr size_t kMaxDepth = 1000;
const QByteArray kXmlNamespace = QByteArrayLiteral("http://www.w3.org/XML/1998/namespace");

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Bytes that may stand in a name: letters, digits, ".-_:" and everything beyond ASCII.
constexpr bool isNameByte(uchar u)
{
    return u >= 0x80 || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
           u == ':' || u == '-' || u == '.';
}
constexpr auto kNameBytes = [] {
    std::array<bool, 256> table{};
    for (int u = 0; u < 256; ++u)
        table[size_t(u)] = isNameByte(uchar(u));
    return table;
}();

// A run of name bytes that may start a name.
bool isName(QByteArrayView name)
{
    return !name.isEmpty() && name[0] != '-' && name[0] != '.' && !(name[0] >= '0' && name[0] <= '9');
}

qint64 countLines(const char *from, const char *to)
{
    qint64 lines = 0;
    while (from < to && (from = static_cast<const char *>(std::memchr(from, '\n', size_t(to - from))))) {
        ++lines;
        ++from;
    }
    return lines;
}

void appendCodePoint(std::string &out, char32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// A qualified name's prefix and local part.
std::pair<QByteArrayView, QByteArrayView> split(QByteArrayView qname)
{
    const qsizetype colon = qname.indexOf(':');
    if (colon < 0)
        return {QByteArrayView(), qname};
    return {qname.first(colon), qname.sliced(colon + 1)};
}

} // namespace

XmlScanner::XmlScanner(QIODevice &in, const QString &partName, const QString &damagedFormat)
    : m_in(in), m_part(partName), m_damaged(damagedFormat), m_buffer(kChunk, Qt::Uninitialized)
{
    fill(3);
    const QByteArrayView start(m_buffer.constData(), std::min<qsizetype>(m_end, 3));
    if (start.startsWith("\xEF\xBB\xBF"))
        m_pos = 3;
    else if (start.startsWith("\xFE\xFF") || start.startsWith("\xFF\xFE"))
        throw AppError(kErrBadFormat, m_damaged.arg(QStringLiteral("%1 is written in UTF-16, which is not read").arg(m_part)));
    if (fill(6) && QByteArrayView(m_buffer.constData() + m_pos, 5) == "<?xml" && isSpace(m_buffer[m_pos + 5]))
        declaration();
}

int XmlScanner::namespaceId(QByteArrayView uri)
{
    const auto found = std::find(m_namespaces.begin(), m_namespaces.end(), uri);
    if (found != m_namespaces.end())
        return int(found - m_namespaces.begin());
    m_namespaces.emplace_back(uri.toByteArray());
    return int(m_namespaces.size() - 1);
}

void XmlScanner::fail(const QString &what) const
{
    throw AppError(kErrBadFormat, m_damaged.arg(QStringLiteral("%1 is not well-formed XML (line %2: %3)")
                                                    .arg(m_part)
                                                    .arg(line(m_pos))
                                                    .arg(what)));
}

qint64 XmlScanner::line(qsizetype at) const
{
    return m_linesBefore + countLines(m_buffer.constData(), m_buffer.constData() + std::min(at, m_end));
}

// Makes at least need bytes from the current place stand in the buffer; false when the part ends
// before. Views into the buffer are no longer valid after it.
bool XmlScanner::fill(qsizetype need)
{
    while (m_end - m_pos < need) {
        if (m_eof)
            return false;
        if (m_pos > 0) {
            m_linesBefore += countLines(m_buffer.constData(), m_buffer.constData() + m_pos);
            std::memmove(m_buffer.data(), m_buffer.constData() + m_pos, size_t(m_end - m_pos));
            m_end -= m_pos;
            m_pos = 0;
        }
        if (m_buffer.size() - m_end < kChunk / 2)
            m_buffer.resize(std::max(m_buffer.size() * 2, m_end + kChunk));
        const qint64 got = m_in.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
        if (got < 0)
            throw AppError(kErrBadFormat, m_in.errorString());
        if (got == 0)
            m_eof = true;
        m_end += got;
    }
    return true;
}

// The offset of the next c from the current place, from offset from on; -1 when the part ends.
qsizetype XmlScanner::find(char c, qsizetype from)
{
    for (;;) {
        const char *start = m_buffer.constData() + m_pos;
        if (const void *hit = std::memchr(start + from, c, size_t(m_end - m_pos - from)))
            return static_cast<const char *>(hit) - start;
        from = m_end - m_pos;
        if (from > kMaxTag)
            fail(QStringLiteral("a tag is longer than %1 bytes").arg(kMaxTag));
        if (!fill(from + 1))
            return -1;
    }
}

// Moves past the end of a comment, a processing instruction or CDATA (the marker ending it), from
// offset from on. Unless keepSkipped, what it passes leaves the buffer as it goes, so a long
// comment needs no room. Returns the marker's offset.
qsizetype XmlScanner::findMarker(QByteArrayView marker, qsizetype from, bool keepSkipped)
{
    for (;;) {
        const QByteArrayView here(m_buffer.constData() + m_pos, m_end - m_pos);
        const qsizetype at = here.indexOf(marker, from);
        if (at >= 0)
            return at;
        if (!fill(here.size() + 1))
            fail(QStringLiteral("it ends inside a comment, a processing instruction or CDATA"));
        if (keepSkipped) {
            if (here.size() > kMaxTag)
                fail(QStringLiteral("a CDATA section or the XML declaration is longer than %1 bytes").arg(kMaxTag));
            from = std::max<qsizetype>(0, here.size() - marker.size());
        } else { // what was searched leaves, but for the marker's length
            const qsizetype drop = std::max<qsizetype>(0, here.size() - marker.size() - from);
            m_linesBefore += countLines(m_buffer.constData() + m_pos, m_buffer.constData() + m_pos + drop);
            m_pos += drop;
        }
    }
}

void XmlScanner::passMarker(QByteArrayView marker)
{
    m_pos += findMarker(marker, 2, false) + marker.size();
}

// The XML declaration: only UTF-8 is read (every workbook is written so).
void XmlScanner::declaration()
{
    const qsizetype end = findMarker("?>", 5, true);
    const QByteArray text = QByteArray(m_buffer.constData() + m_pos, end).toLower();
    const qsizetype at = text.indexOf("encoding");
    if (at >= 0) {
        qsizetype quote = at + 8;
        while (quote < text.size() && (isSpace(text[quote]) || text[quote] == '='))
            ++quote;
        const qsizetype close = quote < text.size() ? text.indexOf(text[quote], quote + 1) : -1;
        const QByteArray encoding = close > quote ? text.mid(quote + 1, close - quote - 1) : QByteArray();
        if (encoding != "utf-8" && encoding != "utf8")
            throw AppError(kErrBadFormat,
                           m_damaged.arg(QStringLiteral("%1 is written in %2, which is not read")
                                             .arg(m_part, QString::fromLatin1(encoding.left(40)))));
    }
    m_pos += end + 2;
}

XmlScanner::Token XmlScanner::next()
{
    if (m_ended)
        fail(QStringLiteral("it is read past its end"));
    m_attributes.clear();
    if (m_endPending) { // the end of an empty element
        m_endPending = false;
        m_popPending = true;
        return EndElement;
    }
    if (m_popPending) {
        const Open &open = m_open.back();
        m_names.resize(size_t(open.qnameStart));
        if (m_bindings.size() != open.bindings) {
            m_bindings.resize(open.bindings);
            m_resolved.clear();
        }
        m_open.pop_back();
        m_popPending = false;
    }
    for (;;) {
        if (m_pos >= m_end && !fill(1)) {
            if (!m_open.empty())
                fail(QStringLiteral("it ends inside an element"));
            if (!m_rootSeen)
                fail(QStringLiteral("it holds no element"));
            m_ended = true; // and the device read to its end, so a damaged or cut part showed
            return EndDocument;
        }
        if (m_buffer[m_pos] != '<') {
            const Token token = textRun();
            if (!m_open.empty())
                return token;
            if (!std::all_of(m_rawText.begin(), m_rawText.end(), isSpace))
                fail(QStringLiteral("it holds text outside its root element"));
            continue;
        }
        if (!fill(2))
            fail(QStringLiteral("it ends inside a tag"));
        switch (m_buffer[m_pos + 1]) {
        case '/':
            return endTag();
        case '?':
            passMarker("?>");
            continue;
        case '!':
            break;
        default:
            if (m_rootSeen && m_open.empty())
                fail(QStringLiteral("it has a second root element"));
            return startTag();
        }
        fill(9);
        const QByteArrayView markup(m_buffer.constData() + m_pos, std::min<qsizetype>(m_end - m_pos, 9));
        if (markup.startsWith("<!--")) {
            passMarker("-->");
        } else if (markup.startsWith("<![CDATA[") && !m_open.empty()) {
            const qsizetype end = findMarker("]]>", 9, true);
            m_rawText = QByteArrayView(m_buffer.constData() + m_pos + 9, end - 9);
            m_textIsCData = true;
            m_pos += end + 3;
            return Text;
        } else if (markup.startsWith("<!DOCTYPE")) {
            throw AppError(kErrBadFormat,
                           m_damaged.arg(QStringLiteral("%1 declares a document type, which is not read").arg(m_part)));
        } else {
            fail(QStringLiteral("a declaration that has no place in it"));
        }
    }
}

XmlScanner::Token XmlScanner::textRun()
{
    qsizetype length = 0;
    for (;;) {
        const char *start = m_buffer.constData() + m_pos;
        const qsizetype available = m_end - m_pos;
        // Most text is short: looked at byte by byte before memchr is worth its call.
        while (length < available && length < 32 && start[length] != '<')
            ++length;
        if (length < available && start[length] == '<')
            break;
        if (const void *hit = std::memchr(start + length, '<', size_t(available - length))) {
            length = static_cast<const char *>(hit) - start;
            break;
        }
        length = available;
        if (m_eof)
            break;
        if (length >= kTextPiece) {
            // A piece that ends after a whole character, before an entity or "\r" cut in two.
            const auto *u = reinterpret_cast<const uchar *>(start);
            qsizetype lead = length;
            while (lead > length - 4 && (u[lead - 1] & 0xC0) == 0x80)
                --lead;
            if (lead > length - 4 && u[lead - 1] >= 0xC0)
                length = lead - 1;
            const QByteArrayView tail(start + length - 12, 12);
            const qsizetype amp = tail.lastIndexOf('&');
            if (amp >= 0 && tail.indexOf(';', amp) < 0)
                length -= 12 - amp;
            if (start[length - 1] == '\r')
                --length;
            break;
        }
        fill(length + 1);
        length = 0;
    }
    m_rawText = QByteArrayView(m_buffer.constData() + m_pos, length);
    m_textIsCData = false;
    m_pos += length;
    return Text;
}

XmlScanner::Token XmlScanner::endTag()
{
    const Open &open = m_open.empty() ? Open{} : m_open.back();
    const QByteArrayView expected(m_names.data() + open.qnameStart, open.qnameLength);
    // Mostly the name expected and '>' right after it.
    if (m_open.empty() || m_end - m_pos < expected.size() + 3 ||
        QByteArrayView(m_buffer.constData() + m_pos + 2, expected.size()) != expected ||
        m_buffer[m_pos + 2 + expected.size()] != '>') {
        const qsizetype close = find('>', 2);
        if (close < 0)
            fail(QStringLiteral("it ends inside a tag"));
        QByteArrayView qname(m_buffer.constData() + m_pos + 2, close - 2);
        while (!qname.isEmpty() && isSpace(qname.back()))
            qname.chop(1);
        if (m_open.empty())
            fail(QStringLiteral("an end tag </%1> closes no element").arg(excerpt(qname)));
        if (qname != expected)
            fail(QStringLiteral("the end tag </%1> does not close <%2>").arg(excerpt(qname), excerpt(expected)));
        m_pos += close + 1;
    } else {
        m_pos += expected.size() + 3;
    }
    m_name = QByteArrayView(m_names.data() + open.localStart, open.qnameStart + open.qnameLength - open.localStart);
    m_ns = open.ns;
    m_popPending = true;
    return EndElement;
}

// Reads a start tag that stands whole in the buffer into m_raw and the tag's qualified name;
// returns the offset of its '>', or -1 when the buffer ends before it.
qsizetype XmlScanner::scanTag(QByteArrayView &qname, bool &empty)
{
    const char *const begin = m_buffer.constData() + m_pos;
    const char *const end = m_buffer.constData() + m_end;
    const char *p = begin + 1;
    while (p < end && kNameBytes[uchar(*p)])
        ++p;
    qname = QByteArrayView(begin + 1, p - begin - 1);
    m_raw.clear();
    for (;;) {
        const char *gap = p;
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            return -1;
        if (*p == '>' || *p == '/') {
            empty = *p == '/';
            if (empty && ++p == end)
                return -1;
            if (*p != '>')
                fail(QStringLiteral("a tag is not closed where it ends"));
            return p - begin;
        }
        if (p == gap)
            fail(QStringLiteral("an element or an attribute has no proper name"));
        const char *nameStart = p;
        while (p < end && kNameBytes[uchar(*p)])
            ++p;
        const QByteArrayView name(nameStart, p - nameStart);
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            return -1;
        if (*p++ != '=')
            fail(QStringLiteral("an attribute has no value"));
        while (p < end && isSpace(*p))
            ++p;
        if (p == end)
            return -1;
        const char quote = *p;
        if (quote != '"' && quote != '\'')
            fail(QStringLiteral("an attribute value is not quoted"));
        const char *value = ++p;
        while (p < end && *p != quote && *p != '<')
            ++p;
        if (p == end)
            return -1;
        if (*p == '<')
            fail(QStringLiteral("an attribute value holds '<'"));
        if (!isName(name))
            fail(QStringLiteral("an attribute has no proper name"));
        for (const auto &[other, ignored] : m_raw)
            if (other == name)
                fail(QStringLiteral("an element has the attribute %1 twice").arg(excerpt(name)));
        m_raw.emplace_back(name, QByteArrayView(value, p - value));
        ++p;
    }
}

XmlScanner::Token XmlScanner::startTag()
{
    QByteArrayView qname;
    bool empty = false;
    qsizetype off;
    while ((off = scanTag(qname, empty)) < 0) {
        if (m_end - m_pos > kMaxTag)
            fail(QStringLiteral("a tag is longer than %1 bytes").arg(kMaxTag));
        if (!fill(m_end - m_pos + 1))
            fail(QStringLiteral("it ends inside a tag"));
    }
    if (!isName(qname))
        fail(QStringLiteral("an element has no proper name"));
    if (m_open.size() >= kMaxDepth)
        fail(QStringLiteral("its elements are nested more than %1 deep").arg(kMaxDepth));

    // Values with references or white space to make spaces are decoded aside. Namespaces declared
    // here hold from here to the element's end.
    Open open{qsizetype(m_names.size()), qname.size(), 0, 0, m_bindings.size()};
    m_decoded.clear();
    m_decodedAt.assign(m_raw.size(), {-1, 0});
    bool declares = false;
    for (size_t i = 0; i < m_raw.size(); ++i) {
        const auto &[name, raw] = m_raw[i];
        for (const char c : raw) {
            if (c == '&' || c == '\t' || c == '\n' || c == '\r') {
                const qsizetype start = qsizetype(m_decoded.size());
                decodeInto(m_decoded, raw, true);
                m_decodedAt[i] = {start, qsizetype(m_decoded.size()) - start};
                break;
            }
        }
        declares = declares || name.startsWith("xmlns");
    }
    const auto value = [&](size_t i) {
        return m_decodedAt[i].first < 0 ? m_raw[i].second
                                        : QByteArrayView(m_decoded.data() + m_decodedAt[i].first, m_decodedAt[i].second);
    };
    if (declares) {
        for (size_t i = 0; i < m_raw.size(); ++i) {
            const QByteArrayView name = m_raw[i].first;
            if (name == "xmlns")
                m_bindings.push_back({std::string(), namespaceId(value(i))});
            else if (name.startsWith("xmlns:") && !value(i).isEmpty())
                m_bindings.push_back({name.sliced(6).toByteArray().toStdString(), namespaceId(value(i))});
        }
        m_resolved.clear();
    }
    const auto [prefix, local] = split(qname);
    open.ns = resolve(prefix, true);
    open.localStart = open.qnameStart + (local.data() - qname.data());
    m_names.append(qname.data(), size_t(qname.size()));
    m_open.push_back(open);
    for (size_t i = 0; i < m_raw.size(); ++i) {
        const QByteArrayView name = m_raw[i].first;
        if (declares && (name == "xmlns" || name.startsWith("xmlns:")))
            continue;
        const auto [attributePrefix, attributeLocal] = split(name);
        m_attributes.push_back({resolve(attributePrefix, false), attributeLocal, value(i)});
    }

    m_name = QByteArrayView(m_names.data() + open.localStart, local.size());
    m_ns = open.ns;
    m_rootSeen = true;
    m_endPending = empty;
    m_pos += off + 1;
    return StartElement;
}

// The namespace a prefix stands for where the current element stands; an element without a
// prefix is in the default namespace, an attribute without one in none.
int XmlScanner::resolve(QByteArrayView prefix, bool element)
{
    if (prefix.isEmpty() && !element)
        return 0;
    for (const auto &[known, ns] : m_resolved)
        if (QByteArrayView(known) == prefix)
            return ns;
    int ns = -1;
    if (prefix == "xml")
        ns = namespaceId(kXmlNamespace);
    for (auto b = m_bindings.rbegin(); ns < 0 && b != m_bindings.rend(); ++b)
        if (QByteArrayView(b->prefix.data(), qsizetype(b->prefix.size())) == prefix)
            ns = b->ns;
    if (ns < 0 && !prefix.isEmpty())
        fail(QStringLiteral("the prefix %1 is not declared").arg(excerpt(prefix)));
    m_resolved.emplace_back(prefix.toByteArray(), std::max(ns, 0));
    return std::max(ns, 0);
}

// Text or an attribute value as XML reads it: references replaced, line ends made "\n", and in
// an attribute white space made spaces.
void XmlScanner::decodeInto(std::string &out, QByteArrayView raw, bool attribute) const
{
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r') {
            out += attribute ? ' ' : '\n';
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
        } else if (attribute && (c == '\t' || c == '\n')) {
            out += ' ';
        } else if (c == '&' && !(m_textIsCData && !attribute)) {
            const qsizetype semicolon = raw.indexOf(';', i);
            const QByteArrayView ref = semicolon > i ? raw.sliced(i + 1, semicolon - i - 1) : QByteArrayView();
            if (ref == "lt")
                out += '<';
            else if (ref == "gt")
                out += '>';
            else if (ref == "amp")
                out += '&';
            else if (ref == "quot")
                out += '"';
            else if (ref == "apos")
                out += '\'';
            else if (ref.size() >= 2 && ref.size() <= 9 && ref[0] == '#') {
                const bool hex = ref[1] == 'x';
                bool ok = false;
                const uint cp = ref.sliced(hex ? 2 : 1).toByteArray().toUInt(&ok, hex ? 16 : 10);
                const bool isChar = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                                    (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
                if (!ok || !isChar || !std::isxdigit(uchar(ref.back())))
                    fail(QStringLiteral("&%1; is no character").arg(QString::fromUtf8(ref)));
                appendCodePoint(out, cp);
            } else {
                fail(QStringLiteral("the entity &%1; is not declared").arg(excerpt(ref)));
            }
            i = semicolon;
        } else {
            out += c;
        }
    }
}

XmlBytes XmlScanner::text()
{
    const bool plain = std::none_of(m_rawText.begin(), m_rawText.end(),
                                    [this](char c) { return c == '\r' || (c == '&' && !m_textIsCData); });
    if (plain)
        return m_rawText;
    m_text.clear();
    decodeInto(m_text, m_rawText, false);
    return QByteArrayView(m_text.data(), qsizetype(m_text.size()));
}

XmlBytes XmlScanner::attribute(int ns, QByteArrayView name) const
{
    for (const Attribute &a : m_attributes)
        if (a.ns == ns && a.name == name)
            return a.value;
    return {};
}

bool XmlScanner::hasAttribute(int ns, QByteArrayView name) const
{
    return std::any_of(m_attributes.begin(), m_attributes.end(),
                       [&](const Attribute &a) { return a.ns == ns && a.name == name; });
}

void XmlScanner::skip()
{
    for (int depth = 1; depth > 0;) {
        const Token token = next();
        if (token == StartElement)
            ++depth;
        else if (token == EndElement)
            --depth;
    }
}

void XmlScanner::appendUtf8(QString &out, QByteArrayView utf8)
{
    const qsizetype old = out.size();
    out.resize(old + utf8.size()); // never more UTF-16 units than UTF-8 bytes
    char16_t *const begin = reinterpret_cast<char16_t *>(out.data()) + old;
    char16_t *d = begin;
    const auto *s = reinterpret_cast<const uchar *>(utf8.data());
    const uchar *const e = s + utf8.size();
    while (s < e) {
        const uchar c = *s;
        if (c < 0x80) {
            *d++ = c;
            ++s;
            continue;
        }
        int n;
        char32_t cp, least;
        if ((c & 0xE0) == 0xC0)
            n = 1, cp = c & 0x1F, least = 0x80;
        else if ((c & 0xF0) == 0xE0)
            n = 2, cp = c & 0x0F, least = 0x800;
        else if ((c & 0xF8) == 0xF0)
            n = 3, cp = c & 0x07, least = 0x10000;
        else
            n = 0, cp = 0, least = 1;
        int i = 1;
        for (; i <= n && s + i < e && (s[i] & 0xC0) == 0x80; ++i)
            cp = (cp << 6) | (s[i] & 0x3F);
        s += i;
        if (n == 0 || i <= n || cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *d++ = u'\uFFFD';
        } else if (cp >= 0x10000) {
            *d++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            *d++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            *d++ = char16_t(cp);
        }
    }
    out.truncate(old + (d - begin));
}
