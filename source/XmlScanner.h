#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>
#include <cstring>
#include <string>
#include <vector>

// A name or value as read, compared in place with the words the readers look for (an inline
// comparison: names are compared for every element of a sheet).
struct XmlBytes : QByteArrayView {
    using QByteArrayView::QByteArrayView;
    XmlBytes(QByteArrayView view) : QByteArrayView(view) {}
    template <size_t N> bool operator==(const char (&word)[N]) const
    {
        return size() == qsizetype(N - 1) && std::memcmp(data(), word, N - 1) == 0;
    }
};

// A pull reader of the XML parts of a workbook, over their UTF-8 bytes as they stream in. It
// reads what a workbook part may hold (elements, attributes, namespaces, text, character and
// the five predefined entity references, CDATA, comments, processing instructions) and checks
// that it is well-formed. A document type declaration is refused before anything it declares
// could be expanded, and nothing grows without bound: a tag longer than 16 MiB or elements
// nested deeper than 1,000 are refused, and long text comes in pieces.
//
// Names and values are views into the reader's buffers, valid until the next call to next().
// Any fault throws AppError (kErrBadFormat): the device's own error when it fails to read, else
// damagedFormat ("The workbook is damaged: %1.") filled with what was wrong and where.
class XmlScanner {
public:
    enum Token { StartElement, EndElement, Text, EndDocument };
    struct Attribute {
        int ns = 0; // 0 for an attribute without a prefix
        XmlBytes name;
        XmlBytes value; // entities replaced, white space made spaces as XML says
    };

    XmlScanner(QIODevice &in, const QString &partName, const QString &damagedFormat);

    // The id that namespace's elements and attributes carry; 0 is no namespace.
    int namespaceId(QByteArrayView uri);

    // The next element start or end (an empty element gives both) or text; EndDocument after the
    // root element's end, once the device was read to its end without error.
    Token next();
    // After a StartElement: moves past its end, over all it holds.
    void skip();

    // The current element's local name and namespace (at its start and at its end).
    XmlBytes name() const { return m_name; }
    int ns() const { return m_ns; }
    template <size_t N> bool is(int ns, const char (&name)[N]) const { return m_ns == ns && XmlBytes(m_name) == name; }
    const std::vector<Attribute> &attributes() const { return m_attributes; }
    // An attribute's value, empty when the element has none of that name.
    XmlBytes attribute(int ns, QByteArrayView name) const;
    bool hasAttribute(int ns, QByteArrayView name) const;

    // The text of a Text token as UTF-8, entities replaced and line ends made "\n".
    XmlBytes text();
    // Appends UTF-8 to a string (an invalid sequence as U+FFFD).
    static void appendUtf8(QString &out, QByteArrayView utf8);
    static QString utf8(QByteArrayView bytes)
    {
        QString s;
        appendUtf8(s, bytes);
        return s;
    }

    // The start of a name or value, as a message shows it.
    static QString excerpt(QByteArrayView bytes) { return utf8(bytes.first(std::min<qsizetype>(bytes.size(), 80))); }

    [[noreturn]] void fail(const QString &what) const;

private:
    struct Open {
        qsizetype qnameStart = 0, qnameLength = 0, localStart = 0; // in m_names
        int ns = 0;
        size_t bindings = 0; // m_bindings' size before the element's own declarations
    };
    struct Binding {
        std::string prefix;
        int ns;
    };

    bool fill(qsizetype need);
    qsizetype find(char c, qsizetype from);
    qsizetype findMarker(QByteArrayView marker, qsizetype from, bool keepSkipped);
    void declaration();
    qsizetype scanTag(QByteArrayView &qname, bool &empty);
    Token startTag();
    Token endTag();
    Token textRun();
    void passMarker(QByteArrayView marker);
    int resolve(QByteArrayView prefix, bool element);
    void decodeInto(std::string &out, QByteArrayView raw, bool attribute) const;
    qint64 line(qsizetype at) const;

    QIODevice &m_in;
    QString m_part;
    QString m_damaged;
    QByteArray m_buffer;
    qsizetype m_pos = 0, m_end = 0;
    qint64 m_linesBefore = 1; // lines of what left the buffer
    bool m_eof = false;

    std::vector<QByteArray> m_namespaces{QByteArray()};
    std::vector<Binding> m_bindings;
    std::vector<Open> m_open;
    std::string m_names; // the qualified names of the open elements, one after another
    bool m_rootSeen = false, m_ended = false, m_popPending = false, m_endPending = false;

    QByteArrayView m_name;
    int m_ns = 0;
    std::vector<Attribute> m_attributes;
    std::vector<std::pair<QByteArrayView, QByteArrayView>> m_raw; // qualified names and raw values
    std::string m_decoded;
    std::vector<std::pair<qsizetype, qsizetype>> m_decodedAt; // each value's place in m_decoded, or -1
    std::vector<std::pair<QByteArray, int>> m_resolved;        // prefixes met since bindings changed
    QByteArrayView m_rawText;
    bool m_textIsCData = false;
    std::string m_text;
};
