#include "source/XlsxWorkbook.h"

#include "core/AppError.h"
#include "source/NumberFormats.h"
#include "source/SourceFile.h"
#include "source/XmlScanner.h"
#include "source/ZipArchive.h"

#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QUrl>
#include <charconv>
#include <cmath>

namespace {

constexpr int kMaxColumns = 16384; // A to XFD
constexpr int kMaxRows = 1048576;

[[noreturn]] void damaged(const QString &what)
{
    throw AppError(kErrBadFormat, QStringLiteral("The workbook is damaged: %1.").arg(what));
}

// One XML part of the workbook, streamed from its zip member.
class XmlPart {
public:
    XmlPart(const ZipArchive &zip, const QString &name)
        : m_member(zip.open(name)), m_xml(member(name), name, QStringLiteral("The workbook is damaged: %1."))
    {}

    XmlScanner &xml() { return m_xml; }

private:
    ZipMember &member(const QString &name)
    {
        if (!m_member)
            damaged(QStringLiteral("it has no part %1").arg(name));
        return *m_member;
    }

    std::unique_ptr<ZipMember> m_member;
    XmlScanner m_xml;
};

// Appends the text directly inside the current element and moves past its end.
void appendOwnText(XmlScanner &xml, QByteArray &out)
{
    for (int depth = 1; depth > 0;) {
        switch (xml.next()) {
        case XmlScanner::StartElement:
            ++depth;
            break;
        case XmlScanner::EndElement:
            --depth;
            break;
        case XmlScanner::Text:
            if (depth == 1)
                out.append(xml.text());
            break;
        case XmlScanner::EndDocument:
            break; // not before the element's end: the scanner checks that tags match
        }
    }
}

// Appends the text of a rich text (the current element): its runs joined, phonetic runs left out.
void appendRichText(XmlScanner &xml, QByteArray &out)
{
    for (int depth = 1; depth > 0;) {
        const XmlScanner::Token token = xml.next();
        if (token == XmlScanner::EndElement)
            --depth;
        else if (token == XmlScanner::StartElement && xml.name() == "t")
            appendOwnText(xml, out);
        else if (token == XmlScanner::StartElement && xml.name() == "rPh")
            xml.skip();
        else if (token == XmlScanner::StartElement)
            ++depth;
    }
}

// An attribute of the current element in any namespace (as the relationship id r:id is).
QByteArrayView namespacedAttribute(const XmlScanner &xml, QByteArrayView name)
{
    for (const XmlScanner::Attribute &a : xml.attributes())
        if (a.ns != 0 && a.name == name)
            return a.value;
    return {};
}

// A number of decimal digits up to limit; -1 for anything else.
qint64 whole(QByteArrayView digits, qint64 limit)
{
    qint64 n = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || (n = n * 10 + (c - '0')) > limit)
            return -1;
    }
    return digits.isEmpty() ? -1 : n;
}

// A cell reference such as "C5" as a row and column counted from 0; false for one that no sheet
// has (columns end at XFD, rows at 1048576).
bool parseReference(QByteArrayView ref, int &row, int &column)
{
    qsizetype letters = 0;
    int col = 0;
    for (; letters < ref.size() && letters < 4; ++letters) {
        const char c = ref[letters];
        if (c >= 'a' && c <= 'z')
            col = col * 26 + (c - 'a' + 1);
        else if (c >= 'A' && c <= 'Z')
            col = col * 26 + (c - 'A' + 1);
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

// A number as a cell's value is written, white space around it allowed; false for anything else.
bool readNumber(QByteArrayView text, double &number)
{
    text = text.trimmed();
    if (text.startsWith('+'))
        text = text.sliced(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return !text.isEmpty() && error == std::errc() && end == text.data() + text.size();
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

    std::unique_ptr<SourceTable> read(XmlScanner &xml)
    {
        bool inData = false;
        for (XmlScanner::Token token; (token = xml.next()) != XmlScanner::EndDocument;) {
            if (token == XmlScanner::EndElement && xml.name() == "sheetData")
                inData = false;
            if (token != XmlScanner::StartElement)
                continue;
            const XmlBytes name = xml.name();
            if (!inData) {
                inData = name == "sheetData";
                if (name == "dimension")
                    reserve(xml.attribute(0, "ref"));
            } else if (name == "row") {
                const QByteArrayView r = xml.attribute(0, "r");
                const qint64 number = r.isEmpty() ? m_row + 2 : whole(r, kMaxRows);
                if (number < 1 || number > kMaxRows)
                    damaged(QStringLiteral("a row number is not one a sheet has (%1)").arg(XmlScanner::excerpt(r)));
                m_row = int(number - 1);
                m_column = -1;
            } else if (name == "c") {
                readCell(xml);
            }
        }
        m_table->setColumnNames(namedColumns(m_names, m_width));
        m_table->moveFirst();
        return std::move(m_table);
    }

private:
    enum class Type { Number, Shared, Text, InlineText, Boolean, Error, Date };

    void reserve(QByteArrayView range)
    {
        int firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
        const qsizetype colon = range.indexOf(':');
        if (colon > 0 && parseReference(range.first(colon), firstRow, firstColumn) &&
            parseReference(range.sliced(colon + 1), lastRow, lastColumn))
            m_table->reserveCells(
                std::clamp<qsizetype>(qsizetype(lastRow - firstRow + 1) * (lastColumn + 1), 0, 1 << 20));
    }

    void readCell(XmlScanner &xml)
    {
        int row = std::max(m_row, 0);
        int column = m_column + 1; // a cell without a reference follows the one before it
        qint64 format = 0;
        Type type = Type::Number;
        for (const XmlScanner::Attribute &a : xml.attributes()) {
            if (a.ns != 0)
                continue;
            const XmlBytes value = a.value;
            if (a.name == "r" && !parseReference(value, row, column))
                damaged(QStringLiteral("a cell reference is not one a sheet has (%1)").arg(XmlScanner::excerpt(value)));
            else if (a.name == "s")
                format = whole(value, 0xFFFFFFFF);
            else if (a.name == "t")
                type = value == "s"           ? Type::Shared
                       : value == "str"       ? Type::Text
                       : value == "inlineStr" ? Type::InlineText
                       : value == "b"         ? Type::Boolean
                       : value == "e"         ? Type::Error
                       : value == "d"         ? Type::Date
                                              : Type::Number;
        }
        if (column >= kMaxColumns)
            damaged(QStringLiteral("a row has more cells than a sheet has columns"));
        m_row = row;
        m_column = column;

        // The value: <v>, or for an inline text <is>; a formula's <f> and anything else skipped.
        m_bytes.truncate(0);
        for (XmlScanner::Token token; (token = xml.next()) != XmlScanner::EndElement;) {
            if (token != XmlScanner::StartElement)
                continue;
            if (type == Type::InlineText ? xml.name() == "is" : xml.name() == "v")
                type == Type::InlineText ? appendRichText(xml, m_bytes) : appendOwnText(xml, m_bytes);
            else
                xml.skip();
        }

        switch (type) {
        case Type::Shared: {
            const qint64 index = whole(m_bytes, 0xFFFFFFFF);
            if (index >= 0 && index < m_shared.count())
                addShared(row, column, quint32(index));
            return;
        }
        case Type::Text:
        case Type::InlineText:
            return addText(row, column);
        case Type::Boolean:
            if (m_bytes == "1" || m_bytes == "true" || m_bytes == "0" || m_bytes == "false")
                addValue(row, column, m_bytes == "1" || m_bytes == "true");
            return;
        case Type::Error:
            return; // an error value reads as Null
        case Type::Date: {
            const QVariant when = isoValue(QString::fromUtf8(m_bytes));
            return when.isValid() ? addValue(row, column, when) : addText(row, column);
        }
        case Type::Number:
            break;
        }
        if (m_bytes.isEmpty())
            return; // a cell with a format and no value
        double number = 0;
        if (!readNumber(m_bytes, number))
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

    // The cell's text, its escapes replaced.
    void addText(int row, int column)
    {
        if (m_bytes.isEmpty())
            return;
        if (moveTo(row, column)) {
            QString text;
            XmlScanner::appendUtf8(text, m_bytes);
            decodeEscapes(text, 0);
            m_names << text;
            return;
        }
        QString &buffer = m_table->textBuffer();
        const qsizetype start = buffer.size();
        XmlScanner::appendUtf8(buffer, m_bytes);
        decodeEscapes(buffer, start);
        m_table->addTextFrom(start);
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
    QByteArray m_bytes;                  // the cell being read, its buffer kept from cell to cell
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
    QHash<QByteArray, Relation> relations;
    XmlPart rels(zip, QStringLiteral("xl/_rels/workbook.xml.rels"));
    for (XmlScanner::Token token; (token = rels.xml().next()) != XmlScanner::EndDocument;) {
        const XmlScanner &xml = rels.xml();
        if (token != XmlScanner::StartElement || xml.name() != "Relationship")
            continue;
        QString target = QUrl::fromPercentEncoding(xml.attribute(0, "Target").toByteArray());
        if (xml.attribute(0, "TargetMode") == "External")
            target.clear();
        else // relative to xl/, or from the root
            target = QDir::cleanPath(target.startsWith(u'/') ? target.mid(1) : QStringLiteral("xl/") + target);
        const QByteArrayView type = xml.attribute(0, "Type");
        const Relation relation{XmlScanner::utf8(type.sliced(type.lastIndexOf('/') + 1)), target};
        if (relation.kind == u"sharedStrings" && m_stringsPart.isEmpty())
            m_stringsPart = target;
        else if (relation.kind == u"styles" && m_stylesPart.isEmpty())
            m_stylesPart = target;
        relations.insert(xml.attribute(0, "Id").toByteArray(), relation);
    }

    XmlPart book(zip, QStringLiteral("xl/workbook.xml"));
    bool inSheets = false;
    for (XmlScanner::Token token; (token = book.xml().next()) != XmlScanner::EndDocument;) {
        const XmlScanner &xml = book.xml();
        if (xml.name() == "sheets")
            inSheets = token == XmlScanner::StartElement;
        if (token != XmlScanner::StartElement)
            continue;
        if (xml.name() == "workbookPr") {
            const XmlBytes system = xml.attribute(0, "date1904");
            m_system1904 = system == "1" || system == "true";
        } else if (inSheets && xml.name() == "sheet") {
            const Relation relation = relations.value(namespacedAttribute(xml, "id").toByteArray());
            // Chart sheets, dialog sheets and macro sheets hold no table.
            if (relation.kind == u"chartsheet" || relation.kind == u"dialogsheet" ||
                relation.kind.endsWith(u"acrosheet"))
                continue;
            m_sheets.push_back({XmlScanner::utf8(xml.attribute(0, "name")), relation.target});
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
        QByteArray bytes;
        for (XmlScanner::Token token; (token = strings.xml().next()) != XmlScanner::EndDocument;) {
            if (token != XmlScanner::StartElement || strings.xml().name() != "si")
                continue;
            bytes.truncate(0);
            appendRichText(strings.xml(), bytes);
            const qsizetype start = shared->text.size();
            XmlScanner::appendUtf8(shared->text, bytes);
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
        QByteArray within; // numFmts or cellXfs, where their items are read
        XmlPart styles(m_zip, m_stylesPart);
        for (XmlScanner::Token token; (token = styles.xml().next()) != XmlScanner::EndDocument;) {
            const XmlScanner &xml = styles.xml();
            if (token == XmlScanner::EndElement && xml.name() == within)
                within.clear();
            if (token != XmlScanner::StartElement)
                continue;
            if (xml.name() == "numFmts" || xml.name() == "cellXfs")
                within = xml.name().toByteArray();
            else if (within == "numFmts" && xml.name() == "numFmt")
                ownFormats.insert(whole(xml.attribute(0, "numFmtId"), 0xFFFFFFFF),
                                  NumberFormats::isDateCode(XmlScanner::utf8(xml.attribute(0, "formatCode"))));
            else if (within == "cellXfs" && xml.name() == "xf")
                cellFormats.push_back(whole(xml.attribute(0, "numFmtId"), 0xFFFFFFFF));
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
    return SheetReader(shared(), header, m_system1904).read(part.xml());
}
