#include "source/XlsxWorkbook.h"

#include "core/AppError.h"
#include "source/NumberFormats.h"
#include "source/SourceFile.h"
#include "source/ZipArchive.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QUrl>
#include <QXmlStreamReader>
#include <cmath>

namespace {

constexpr int kMaxColumns = 16384; // A to XFD
constexpr int kMaxRows = 1048576;

[[noreturn]] void damaged(const QString &what)
{
    throw AppError(kErrBadFormat, QStringLiteral("The workbook is damaged: %1.").arg(what));
}

// One XML part of the workbook, streamed from its zip member. A document type is refused before
// anything it declares could be expanded; an XML error or a damaged member ends the reading.
class XmlPart {
public:
    XmlPart(const ZipArchive &zip, const QString &name) : m_name(name), m_member(zip.open(name))
    {
        if (!m_member)
            damaged(QStringLiteral("it has no part %1").arg(name));
        m_xml.setDevice(m_member.get());
    }

    QXmlStreamReader &xml() { return m_xml; }

    // The next element start, element end or text; EndDocument once the whole part was read and
    // its size and checksum found right.
    QXmlStreamReader::TokenType next()
    {
        if (m_ended)
            damaged(QStringLiteral("%1 ends inside an element").arg(m_name));
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
            case QXmlStreamReader::EndElement:
            case QXmlStreamReader::Characters:
                return m_xml.tokenType();
            case QXmlStreamReader::DTD:
                damaged(QStringLiteral("%1 declares a document type, which a workbook never has").arg(m_name));
            case QXmlStreamReader::Invalid:
                if (!m_member->problem().isEmpty())
                    throw AppError(kErrBadFormat, m_member->problem());
                damaged(QStringLiteral("%1 is not well-formed XML (line %2: %3)")
                            .arg(m_name)
                            .arg(m_xml.lineNumber())
                            .arg(m_xml.errorString()));
            case QXmlStreamReader::EndDocument: {
                char rest[4096];
                while (m_member->read(rest, sizeof rest) > 0) {
                }
                if (!m_member->problem().isEmpty())
                    throw AppError(kErrBadFormat, m_member->problem());
                m_ended = true;
                return QXmlStreamReader::EndDocument;
            }
            default: // the XML declaration, comments, processing instructions
                break;
            }
        }
    }

    // Moves past the end of the current element; with out, appends the text directly inside it.
    void skip(QString *out = nullptr)
    {
        for (int depth = 1; depth > 0;) {
            switch (next()) {
            case QXmlStreamReader::StartElement:
                ++depth;
                break;
            case QXmlStreamReader::EndElement:
                --depth;
                break;
            case QXmlStreamReader::Characters:
                if (out && depth == 1)
                    out->append(m_xml.text());
                break;
            default:
                break; // the end of the document, refused at the next step
            }
        }
    }

    // Appends the text of a rich text (the current element): its runs joined, phonetic runs left out.
    void appendRichText(QString &out)
    {
        for (int depth = 1; depth > 0;) {
            const QXmlStreamReader::TokenType token = next();
            if (token == QXmlStreamReader::EndElement)
                --depth;
            else if (token == QXmlStreamReader::StartElement && m_xml.name() == u"t")
                skip(&out);
            else if (token == QXmlStreamReader::StartElement && m_xml.name() == u"rPh")
                skip();
            else if (token == QXmlStreamReader::StartElement)
                ++depth;
        }
    }

private:
    QString m_name;
    std::unique_ptr<ZipMember> m_member;
    QXmlStreamReader m_xml;
    bool m_ended = false;
};

// Whether a name read is the word; compared in place, as it is for every element of a sheet.
template <qsizetype N> bool is(QStringView name, const char16_t (&word)[N])
{
    return name.size() == N - 1 && std::equal(word, word + N - 1, name.utf16());
}

// An attribute of the current element without a namespace (as every plain attribute is).
template <qsizetype N> QStringView attribute(const QXmlStreamReader &xml, const char16_t (&name)[N])
{
    for (const QXmlStreamAttribute &a : xml.attributes())
        if (is(a.name(), name) && a.namespaceUri().isEmpty())
            return a.value();
    return {};
}

// A number of decimal digits up to limit; -1 for anything else.
qint64 whole(QStringView digits, qint64 limit)
{
    qint64 n = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9' || (n = n * 10 + (c.unicode() - u'0')) > limit)
            return -1;
    }
    return digits.isEmpty() ? -1 : n;
}

// A cell reference such as "C5" as a row and column counted from 0; false for one that no sheet
// has (columns end at XFD, rows at 1048576).
bool parseReference(QStringView ref, int &row, int &column)
{
    qsizetype letters = 0;
    int col = 0;
    for (; letters < ref.size() && letters < 4; ++letters) {
        const char16_t c = ref[letters].unicode();
        if (c >= u'a' && c <= u'z')
            col = col * 26 + (c - u'a' + 1);
        else if (c >= u'A' && c <= u'Z')
            col = col * 26 + (c - u'A' + 1);
        else
            break;
    }
    const qint64 r = whole(ref.sliced(letters), kMaxRows);
    if (letters == 0 || col > kMaxColumns || r < 1)
        return false;
    row = int(r - 1);
    column = col - 1;
    return true;
}

// Replaces the escapes _xHHHH_ that stand for characters XML cannot hold (a carriage return is
// saved as _x000D_, an underscore before "x" as _x005F_), from start on.
void decodeEscapes(QString &text, qsizetype start)
{
    qsizetype from = text.indexOf(QLatin1String("_x"), start);
    if (from < 0)
        return;
    QChar *p = text.data();
    const auto hex = [](QChar c) {
        const char16_t u = c.unicode();
        return u >= u'0' && u <= u'9'   ? u - u'0'
               : u >= u'A' && u <= u'F' ? u - u'A' + 10
               : u >= u'a' && u <= u'f' ? u - u'a' + 10
                                        : -1;
    };
    qsizetype to = from;
    for (qsizetype at = from; at < text.size();) {
        int code = -1;
        if (at + 7 <= text.size() && p[at] == u'_' && p[at + 1] == u'x' && p[at + 6] == u'_') {
            code = 0;
            for (qsizetype i = at + 2; i < at + 6 && code >= 0; ++i)
                code = hex(p[i]) < 0 ? -1 : code * 16 + hex(p[i]);
        }
        if (code >= 0) {
            p[to++] = QChar(char16_t(code));
            at += 7;
        } else {
            p[to++] = p[at++];
        }
    }
    text.truncate(to);
}

// A cell of type "d": an ISO 8601 date, date and time, or time; invalid when it is none.
QVariant isoValue(const QString &text)
{
    if (!text.contains(u'T') && text.contains(u':'))
        return QTime::fromString(text, Qt::ISODateWithMs);
    if (text.startsWith(u'T'))
        return QTime::fromString(text.mid(1), Qt::ISODateWithMs);
    if (!text.contains(u'T'))
        return QDate::fromString(text, Qt::ISODate);
    const QDateTime when = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!when.isValid())
        return QVariant();
    if (when.time() == QTime(0, 0))
        return when.date();
    return QDateTime(when.date(), when.time()); // as written, whatever zone it names
}

} // namespace

struct XlsxWorkbook::Shared {
    QString text;                   // the shared strings, one after another
    std::vector<quint32> starts{0}; // where each starts, and where the last ends
    std::vector<bool> dateFormat;   // by cell format: it shows a date or a time

    quint32 count() const { return quint32(starts.size() - 1); }
    QStringView string(quint32 index) const
    {
        return QStringView(text).sliced(starts[index], starts[index + 1] - starts[index]);
    }
    bool isDate(qint64 format) const
    {
        return format >= 0 && quint64(format) < dateFormat.size() && dateFormat[format];
    }
};

// Fills a table from a sheet's cells, which stand in row and column order. Rows and columns end
// with the last cell that holds a value; a place without one is Null.
class XlsxWorkbook::SheetReader {
public:
    SheetReader(const Shared &shared, bool header, bool system1904)
        : m_shared(shared), m_header(header), m_system1904(system1904), m_table(std::make_unique<SourceTable>())
    {}

    std::unique_ptr<SourceTable> read(XmlPart &part)
    {
        QXmlStreamReader &xml = part.xml();
        bool inData = false;
        for (QXmlStreamReader::TokenType token; (token = part.next()) != QXmlStreamReader::EndDocument;) {
            if (token == QXmlStreamReader::EndElement && is(xml.name(), u"sheetData"))
                inData = false;
            if (token != QXmlStreamReader::StartElement)
                continue;
            const QStringView name = xml.name();
            if (!inData) {
                inData = is(name, u"sheetData");
                if (is(name, u"dimension"))
                    reserve(attribute(xml, u"ref"));
            } else if (is(name, u"row")) {
                const QStringView r = attribute(xml, u"r");
                const qint64 number = r.isEmpty() ? m_row + 2 : whole(r, kMaxRows);
                if (number < 1 || number > kMaxRows)
                    damaged(QStringLiteral("a row number is not one a sheet has (%1)").arg(r));
                m_row = int(number - 1);
                m_column = -1;
            } else if (is(name, u"c")) {
                readCell(part);
            }
        }
        m_table->setColumnNames(namedColumns(m_names, m_width));
        m_table->moveFirst();
        return std::move(m_table);
    }

private:
    enum class Type { Number, Shared, Text, InlineText, Boolean, Error, Date };

    void reserve(QStringView range)
    {
        int firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
        const qsizetype colon = range.indexOf(u':');
        if (colon > 0 && parseReference(range.first(colon), firstRow, firstColumn) &&
            parseReference(range.sliced(colon + 1), lastRow, lastColumn))
            m_table->reserveCells(
                std::clamp<qsizetype>(qsizetype(lastRow - firstRow + 1) * (lastColumn + 1), 0, 1 << 20));
    }

    void readCell(XmlPart &part)
    {
        QXmlStreamReader &xml = part.xml();
        int row = std::max(m_row, 0);
        int column = m_column + 1; // a cell without a reference follows the one before it
        qint64 format = 0;
        Type type = Type::Number;
        for (const QXmlStreamAttribute &a : xml.attributes()) {
            if (!a.namespaceUri().isEmpty())
                continue;
            const QStringView value = a.value();
            if (is(a.name(), u"r") && !parseReference(value, row, column))
                damaged(QStringLiteral("a cell reference is not one a sheet has (%1)").arg(value));
            else if (is(a.name(), u"s"))
                format = whole(value, 0xFFFFFFFF);
            else if (is(a.name(), u"t"))
                type = is(value, u"s")           ? Type::Shared
                       : is(value, u"str")       ? Type::Text
                       : is(value, u"inlineStr") ? Type::InlineText
                       : is(value, u"b")         ? Type::Boolean
                       : is(value, u"e")         ? Type::Error
                       : is(value, u"d")         ? Type::Date
                                                 : Type::Number;
        }
        if (column >= kMaxColumns)
            damaged(QStringLiteral("a row has more cells than a sheet has columns"));
        m_row = row;
        m_column = column;

        // The value: <v>, or for an inline text <is>; a formula's <f> and anything else skipped.
        m_value.truncate(0);
        for (QXmlStreamReader::TokenType token; (token = part.next()) != QXmlStreamReader::EndElement;) {
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (type == Type::InlineText ? is(xml.name(), u"is") : is(xml.name(), u"v"))
                type == Type::InlineText ? part.appendRichText(m_value) : part.skip(&m_value);
            else
                part.skip();
        }

        switch (type) {
        case Type::Shared: {
            const qint64 index = whole(m_value, 0xFFFFFFFF);
            if (index >= 0 && index < m_shared.count())
                addShared(row, column, quint32(index));
            return;
        }
        case Type::Text:
        case Type::InlineText:
            decodeEscapes(m_value, 0);
            return addText(row, column);
        case Type::Boolean:
            if (m_value == u"1" || m_value == u"true" || m_value == u"0" || m_value == u"false")
                addValue(row, column, m_value == u"1" || m_value == u"true");
            return;
        case Type::Error:
            return; // an error value reads as Null
        case Type::Date: {
            const QVariant when = isoValue(m_value);
            return when.isValid() ? addValue(row, column, when) : addText(row, column);
        }
        case Type::Number:
            break;
        }
        if (m_value.isEmpty())
            return; // a cell with a format and no value
        bool ok = false;
        const double number = QStringView(m_value).toDouble(&ok);
        if (!ok)
            return addText(row, column); // not a number after all: kept as written
        if (m_shared.isDate(format)) {
            const QVariant date = NumberFormats::dateFromSerial(number, m_system1904);
            if (date.isValid())
                return addValue(row, column, date);
        }
        if (std::trunc(number) == number && std::abs(number) < 2147483648.0) {
            if (moveTo(row, column))
                m_names << QString::number(int(number));
            else
                m_table->addInteger(int(number));
        } else if (moveTo(row, column)) {
            m_names << headerText(number);
        } else {
            m_table->addNumber(number);
        }
    }

    // Moves to a cell's place, filling the places before it with Null; true in the header row.
    bool moveTo(int row, int column)
    {
        if (row < m_placedRow || (row == m_placedRow && column < m_filled))
            damaged(QStringLiteral("its cells are not in order (row %1, column %2)").arg(row + 1).arg(column + 1));
        while (m_placedRow < row) {
            ++m_placedRow;
            m_filled = 0;
            if (!(m_header && m_placedRow == 0))
                m_table->beginRow();
        }
        const bool isHeader = m_header && row == 0;
        for (; m_filled < column; ++m_filled)
            isHeader ? m_names.append(QString()) : m_table->addNull();
        m_filled = column + 1;
        m_width = std::max(m_width, m_filled);
        return isHeader;
    }

    void addShared(int row, int column, quint32 index)
    {
        const QStringView text = m_shared.string(index);
        if (text.isEmpty())
            return;
        if (moveTo(row, column)) {
            m_names << text.toString();
            return;
        }
        // A shared string stands once in the table, however many cells hold it.
        if (m_sharedPlaces.empty())
            m_sharedPlaces.assign(m_shared.count(), kNotPlaced);
        quint32 &place = m_sharedPlaces[index];
        if (place == kNotPlaced)
            place = quint32(m_table->addText(text)); // a table's text ends before 4 Gi characters
        else
            m_table->addTextAgain(place, text.size());
    }

    void addText(int row, int column)
    {
        if (m_value.isEmpty())
            return;
        if (moveTo(row, column))
            m_names << m_value;
        else
            m_table->addText(m_value);
    }

    void addValue(int row, int column, const QVariant &value)
    {
        if (moveTo(row, column))
            m_names << headerText(value);
        else
            m_table->addValue(value);
    }

    const Shared &m_shared;
    const bool m_header;
    const bool m_system1904;
    std::unique_ptr<SourceTable> m_table;
    QStringList m_names;
    static constexpr quint32 kNotPlaced = 0xFFFFFFFF;
    std::vector<quint32> m_sharedPlaces; // where the table holds each shared string
    QString m_value;                     // the text of the cell being read, its buffer kept from cell to cell
    int m_row = -1;                      // where the sheet's row and cell elements are
    int m_column = -1;
    int m_placedRow = -1; // where the table is filled to
    int m_filled = 0;
    int m_width = 0;
};

XlsxWorkbook::XlsxWorkbook(const ZipArchive &zip) : m_zip(zip)
{
    // The workbook's relationships: which part each sheet is, and where the shared parts are.
    struct Relation {
        QString kind; // the last word of its type: worksheet, chartsheet, sharedStrings...
        QString target;
    };
    QHash<QString, Relation> relations;
    XmlPart rels(zip, QStringLiteral("xl/_rels/workbook.xml.rels"));
    for (QXmlStreamReader::TokenType token; (token = rels.next()) != QXmlStreamReader::EndDocument;) {
        const QXmlStreamReader &xml = rels.xml();
        if (token != QXmlStreamReader::StartElement || xml.name() != u"Relationship")
            continue;
        QString target = QUrl::fromPercentEncoding(attribute(xml, u"Target").toUtf8());
        if (attribute(xml, u"TargetMode") == u"External")
            target.clear();
        else // relative to xl/, or from the root
            target = QDir::cleanPath(target.startsWith(u'/') ? target.mid(1) : QStringLiteral("xl/") + target);
        const QStringView type = attribute(xml, u"Type");
        const Relation relation{type.sliced(type.lastIndexOf(u'/') + 1).toString(), target};
        if (relation.kind == u"sharedStrings" && m_stringsPart.isEmpty())
            m_stringsPart = target;
        else if (relation.kind == u"styles" && m_stylesPart.isEmpty())
            m_stylesPart = target;
        relations.insert(attribute(xml, u"Id").toString(), relation);
    }

    XmlPart book(zip, QStringLiteral("xl/workbook.xml"));
    bool inSheets = false;
    for (QXmlStreamReader::TokenType token; (token = book.next()) != QXmlStreamReader::EndDocument;) {
        const QXmlStreamReader &xml = book.xml();
        if (xml.name() == u"sheets")
            inSheets = token == QXmlStreamReader::StartElement;
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"workbookPr") {
            const QStringView system = attribute(xml, u"date1904");
            m_system1904 = system == u"1" || system == u"true";
        } else if (inSheets && xml.name() == u"sheet") {
            QString id;
            for (const QXmlStreamAttribute &a : xml.attributes())
                if (a.name() == u"id" && !a.namespaceUri().isEmpty())
                    id = a.value().toString();
            const Relation relation = relations.value(id);
            // Chart sheets, dialog sheets and macro sheets hold no table.
            if (relation.kind == u"chartsheet" || relation.kind == u"dialogsheet" ||
                relation.kind.endsWith(u"acrosheet"))
                continue;
            m_sheets.push_back({attribute(xml, u"name").toString(), relation.target});
        }
    }
}

XlsxWorkbook::~XlsxWorkbook() = default;

QStringList XlsxWorkbook::worksheetNames() const
{
    QStringList names;
    for (const Sheet &sheet : m_sheets)
        names << sheet.name;
    return names;
}

const XlsxWorkbook::Shared &XlsxWorkbook::shared() const
{
    if (m_shared)
        return *m_shared;
    auto shared = std::make_unique<Shared>();
    if (!m_stringsPart.isEmpty()) {
        XmlPart strings(m_zip, m_stringsPart);
        for (QXmlStreamReader::TokenType token; (token = strings.next()) != QXmlStreamReader::EndDocument;) {
            if (token != QXmlStreamReader::StartElement || strings.xml().name() != u"si")
                continue;
            const qsizetype start = shared->text.size();
            strings.appendRichText(shared->text);
            decodeEscapes(shared->text, start);
            if (shared->text.size() > 0xFFFFFFFF)
                damaged(QStringLiteral("its shared strings are too long"));
            shared->starts.push_back(quint32(shared->text.size()));
        }
    }
    if (!m_stylesPart.isEmpty()) {
        // Each cell format names a number format: a built-in one by its number, or one of the
        // workbook's own by its code.
        QHash<qint64, bool> ownFormats;
        std::vector<qint64> cellFormats;
        QString within; // numFmts or cellXfs, where their items are read
        XmlPart styles(m_zip, m_stylesPart);
        for (QXmlStreamReader::TokenType token; (token = styles.next()) != QXmlStreamReader::EndDocument;) {
            const QXmlStreamReader &xml = styles.xml();
            if (token == QXmlStreamReader::EndElement && xml.name() == within)
                within.clear();
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"numFmts" || xml.name() == u"cellXfs")
                within = xml.name().toString();
            else if (within == u"numFmts" && xml.name() == u"numFmt")
                ownFormats.insert(whole(attribute(xml, u"numFmtId"), 0xFFFFFFFF),
                                  NumberFormats::isDateCode(attribute(xml, u"formatCode")));
            else if (within == u"cellXfs" && xml.name() == u"xf")
                cellFormats.push_back(whole(attribute(xml, u"numFmtId"), 0xFFFFFFFF));
        }
        for (const qint64 format : cellFormats)
            shared->dateFormat.push_back(ownFormats.value(format, NumberFormats::isBuiltInDate(int(format))));
    }
    m_shared = std::move(shared);
    return *m_shared;
}

std::unique_ptr<SourceTable> XlsxWorkbook::readSheet(int index, bool header) const
{
    const Sheet &sheet = m_sheets.at(size_t(index));
    if (sheet.part.isEmpty())
        damaged(QStringLiteral("the sheet '%1' names no part").arg(sheet.name));
    if (!m_zip.contains(sheet.part))
        damaged(QStringLiteral("the sheet '%1' points to a part it does not hold (%2)").arg(sheet.name, sheet.part));
    XmlPart part(m_zip, sheet.part);
    return SheetReader(shared(), header, m_system1904).read(part);
}
