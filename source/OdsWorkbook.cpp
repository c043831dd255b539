#include "source/OdsWorkbook.h"

#include "core/AppError.h"
#include "source/NumberFormats.h"
#include "source/SourceFile.h"
#include "source/XmlScanner.h"
#include "source/ZipArchive.h"

#include <QDateTime>
#include <cmath>

namespace {

constexpr char kOfficeNs[] = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr char kTableNs[] = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr char kTextNs[] = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr char kCalcExtNs[] = "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0";
const QString kSpreadsheetType = QStringLiteral("application/vnd.oasis.opendocument.spreadsheet");

// What one sheet can hold, and what repeats and spaces written once may make of it at most.
constexpr qint64 kMaxColumns = 16384;
constexpr qint64 kMaxRows = 1048576;
constexpr qint64 kMaxCells = qint64(1) << 25;
constexpr qint64 kMaxRepeatedSpaces = qint64(1) << 24;
constexpr qint64 kMaxCellText = qint64(1) << 24;

[[noreturn]] void damaged(const QString &what)
{
    throw AppError(kErrBadFormat, QStringLiteral("The spreadsheet is damaged: %1.").arg(what));
}

[[noreturn]] void tooLarge()
{
    throw AppError(kErrBadFormat, QStringLiteral("The worksheet is too large: it would hold more than %1 cells.")
                                      .arg(kMaxCells));
}

// A repeat count as written, from 1 up to limit.
qint64 repeatOf(QByteArrayView text, qint64 limit)
{
    bool ok = false;
    const qint64 count = text.toLongLong(&ok);
    return ok && count > 1 ? std::min(count, limit) : 1;
}

// What an OpenDocument file of another kind holds, from the last part of its media type
// ("text" of application/vnd.oasis.opendocument.text) or the element its body holds.
QString kindOf(QStringView kind)
{
    if (kind == u"text")
        return QStringLiteral("a text document");
    if (kind == u"presentation")
        return QStringLiteral("a presentation");
    if (kind == u"graphics" || kind == u"drawing")
        return QStringLiteral("a drawing");
    return QStringLiteral("a document of the kind '%1'").arg(kind);
}

[[noreturn]] void notSpreadsheet(const QString &kind)
{
    throw AppError(kErrBadFormat, QStringLiteral("The file is not a spreadsheet: it holds %1.").arg(kind));
}

// content.xml read as a stream, sheet by sheet. A document type declaration (and with it any
// entity declaration) is refused, not read.
class Content {
public:
    explicit Content(const ZipArchive &zip)
        : m_member(zip.open(QStringLiteral("content.xml"))),
          m_xml(member(), QStringLiteral("content.xml"), QStringLiteral("The spreadsheet is damaged: %1.")),
          office(m_xml.namespaceId(kOfficeNs)), table(m_xml.namespaceId(kTableNs)), text(m_xml.namespaceId(kTextNs)),
          calcExt(m_xml.namespaceId(kCalcExtNs))
    {}

    XmlScanner &xml() { return m_xml; }

    // Reads on to the next element inside the current one; false at the current one's end.
    bool child()
    {
        for (;;) {
            switch (m_xml.next()) {
            case XmlScanner::StartElement:
                return true;
            case XmlScanner::EndElement:
            case XmlScanner::EndDocument:
                return false;
            default:
                break;
            }
        }
    }

    void skip() { m_xml.skip(); }

    // Moves to the start of the next sheet; false after the last one. The first call checks
    // that the document is a spreadsheet.
    bool nextSheet()
    {
        if (!m_inSheets) {
            if (!child() || !m_xml.is(office, "document-content"))
                damaged(QStringLiteral("content.xml holds no document content"));
            for (;;) {
                if (!child())
                    damaged(QStringLiteral("content.xml holds no spreadsheet"));
                if (m_xml.is(office, "body"))
                    break;
                skip();
            }
            for (;;) {
                if (!child())
                    damaged(QStringLiteral("content.xml holds no spreadsheet"));
                if (m_xml.is(office, "spreadsheet"))
                    break;
                if (m_xml.ns() == office)
                    notSpreadsheet(kindOf(XmlScanner::utf8(m_xml.name())));
                skip();
            }
            m_inSheets = true;
        }
        while (child()) {
            if (m_xml.is(table, "table"))
                return true;
            skip();
        }
        return false;
    }

    // Reads to the end of the document, so that damage anywhere in it shows.
    void finish()
    {
        while (m_xml.next() != XmlScanner::EndDocument) {
        }
    }

private:
    ZipMember &member()
    {
        if (!m_member)
            damaged(QStringLiteral("it holds no content.xml"));
        return *m_member;
    }

    std::unique_ptr<ZipMember> m_member;
    XmlScanner m_xml;
    bool m_inSheets = false;

public:
    const int office, table, text, calcExt; // namespace ids
};

// A date or a date and time as office:date-value gives it ("2024-02-29", "2024-02-29T13:45:30.5"),
// a time zone left aside; invalid when it is neither.
QVariant dateValue(QStringView text)
{
    const qsizetype t = text.indexOf(u'T');
    const QDate date = QDate::fromString(t < 0 ? text : text.left(t), Qt::ISODate);
    if (!date.isValid() || t < 0)
        return date.isValid() ? QVariant(date) : QVariant();
    QStringView time = text.sliced(t + 1);
    if (time.endsWith(u'Z'))
        time.chop(1);
    else if (time.size() > 8 && (time[time.size() - 6] == u'+' || time[time.size() - 6] == u'-'))
        time.chop(6);
    bool hoursOk = false, minutesOk = false, secondsOk = false;
    const int hours = time.left(2).toInt(&hoursOk);
    const int minutes = time.mid(3, 2).toInt(&minutesOk);
    const double seconds = time.mid(6).toDouble(&secondsOk);
    if (time.size() < 8 || time[2] != u':' || time[5] != u':' || !hoursOk || !minutesOk || !secondsOk ||
        hours > 23 || minutes > 59 || !(seconds >= 0 && seconds < 60))
        return QVariant();
    const qint64 ms = std::min<qint64>((hours * 3600 + minutes * 60) * 1000 + std::llround(seconds * 1000), 86399999);
    if (ms == 0)
        return date; // as a serial day without a time of day reads
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

// The seconds of a duration as office:time-value gives it ("PT13H45M00S", "-P1DT2H"); NaN for
// anything else (years and months have no fixed length).
double durationSeconds(QStringView text)
{
    const bool negative = text.startsWith(u'-');
    if (negative)
        text = text.sliced(1);
    if (!text.startsWith(u'P'))
        return std::nan("");
    text = text.sliced(1);
    double total = 0;
    bool inTime = false, any = false;
    while (!text.isEmpty()) {
        if (text[0] == u'T' && !inTime) {
            inTime = true;
            text = text.sliced(1);
            continue;
        }
        qsizetype i = 0;
        while (i < text.size() && (text[i].isDigit() || text[i] == u'.'))
            ++i;
        bool ok = false;
        const double n = text.left(i).toDouble(&ok);
        if (!ok || i == text.size())
            return std::nan("");
        const char16_t unit = text[i].unicode();
        if (!inTime && unit == u'D')
            total += n * 86400;
        else if (inTime && (unit == u'H' || unit == u'M' || unit == u'S'))
            total += n * (unit == u'H' ? 3600 : unit == u'M' ? 60 : 1);
        else
            return std::nan("");
        any = true;
        text = text.sliced(i + 1);
    }
    return any ? (negative ? -total : total) : std::nan("");
}

// What the cells of a workbook's sheets may make of its repeats and spaces, together.
struct Budget {
    qint64 cells = 0;
    qint64 spaces = 0;
};

// One sheet read from its table:table element into a table whose first row is also kept as
// column names, so that it serves with a header or without one. A row is gathered as runs of
// equal cells before it goes into the table, so that a repeated row or cell is added as often as
// it repeats without being read again; empty cells and rows count only once a value follows them.
class SheetReader {
public:
    SheetReader(Content &in, Budget &budget) : m_in(in), m_xml(in.xml()), m_budget(budget) {}

    OdsSheet read()
    {
        // Header rows and row groups hold rows as the table does; anything else holds none.
        int depth = 0;
        for (;;) {
            if (!m_in.child()) {
                if (depth-- == 0)
                    break;
                continue;
            }
            if (m_xml.ns() != m_in.table)
                m_in.skip();
            else if (m_xml.name() == "table-row")
                readRow();
            else if (m_xml.name() == "table-header-rows" || m_xml.name() == "table-row-group" ||
                     m_xml.name() == "table-rows")
                ++depth;
            else
                m_in.skip();
        }
        return OdsSheet{QString(), std::move(m_table), m_names, int(m_width)};
    }

private:
    struct Run {
        enum Kind : quint8 { Empty, Text, Number, Integer, Other } kind = Empty;
        qint64 count = 0;
        double number = 0;
        qsizetype start = 0, length = 0; // text in m_rowText
        qsizetype placed = -1;           // where the text stands in the table once added
        QVariant other;

        QVariant value(const QString &rowText) const
        {
            switch (kind) {
            case Text:
                return QStringView(rowText).sliced(start, length).toString();
            case Number:
                return number;
            case Integer:
                return int(number);
            case Other:
                return other;
            default:
                return QVariant();
            }
        }
    };

    void readRow()
    {
        const qint64 repeat = repeatOf(m_xml.attribute(m_in.table, "number-rows-repeated"), kMaxRows);
        const qint64 copies = std::min(repeat, kMaxRows - m_rows - m_pendingRows);
        if (copies <= 0) { // past the last row a sheet has
            m_in.skip();
            return;
        }
        m_runs.clear();
        m_rowText.resize(0); // keeps its room for the next row
        m_column = 0;
        m_rowEnd = 0;
        while (m_in.child()) {
            const bool covered = m_xml.name() == "covered-table-cell";
            if (m_xml.ns() == m_in.table && (covered || m_xml.name() == "table-cell") &&
                m_column < kMaxColumns)
                readCell(covered);
            else
                m_in.skip();
        }
        if (m_runs.empty()) {
            m_pendingRows += copies;
            return;
        }
        for (; m_pendingRows > 0; --m_pendingRows)
            addEmptyRow();
        if ((m_budget.cells += copies * m_rowEnd) > kMaxCells)
            tooLarge();
        for (qint64 i = 0; i < copies; ++i)
            addRow();
    }

    void readCell(bool covered)
    {
        // The attributes' values are copied: reading the cell's paragraphs moves the reader on.
        std::string &type = m_attributes[0], &number = m_attributes[1], &date = m_attributes[2],
                    &time = m_attributes[3], &boolean = m_attributes[4], &text = m_attributes[5];
        for (std::string &value : m_attributes)
            value.clear();
        const auto keep = [](std::string &to, QByteArrayView value) { to.assign(value.data(), size_t(value.size())); };
        QByteArrayView repeat;
        bool ownText = false, error = false;
        for (const XmlScanner::Attribute &a : m_xml.attributes()) {
            const XmlBytes name = a.name;
            if (a.ns == m_in.office) {
                if (name == "value-type")
                    keep(type, a.value);
                else if (name == "value")
                    keep(number, a.value);
                else if (name == "date-value")
                    keep(date, a.value);
                else if (name == "time-value")
                    keep(time, a.value);
                else if (name == "boolean-value")
                    keep(boolean, a.value);
                else if (name == "string-value")
                    keep(text, a.value);
                ownText = ownText || name == "string-value";
            } else if (a.ns == m_in.table && name == "number-columns-repeated") {
                repeat = a.value;
            } else if (a.ns == m_in.calcExt && name == "value-type") {
                error = a.value == "error";
            }
        }
        const qint64 count = repeatOf(repeat, kMaxColumns - m_column);
        Run run;
        run.count = count;
        run.start = m_rowText.size();
        for (bool first = true; m_in.child();) {
            if (m_xml.ns() == m_in.text && (m_xml.name() == "p" || m_xml.name() == "h")) {
                if (!std::exchange(first, false))
                    m_rowText += u'\n';
                readParagraph(run.start);
            } else {
                m_in.skip();
            }
        }
        if (ownText) {
            m_rowText.truncate(run.start);
            XmlScanner::appendUtf8(m_rowText, QByteArrayView(text.data(), qsizetype(text.size())));
        }
        run.length = m_rowText.size() - run.start;

        // The value its type gives it; a value that cannot be read keeps the text shown.
        bool ok = false;
        if (covered || error) {
            run.kind = Run::Empty;
        } else if (type == "float" || type == "percentage" || type == "currency") {
            run.number = QByteArrayView(number.data(), qsizetype(number.size())).toDouble(&ok);
            ok = ok && std::isfinite(run.number);
            const bool whole = ok && run.number == std::floor(run.number) && std::abs(run.number) <= 2147483647.0;
            run.kind = whole ? Run::Integer : Run::Number;
        } else if (type == "date") {
            run.other = dateValue(QString::fromUtf8(date.data(), qsizetype(date.size())));
            run.kind = Run::Other;
            ok = run.other.isValid();
        } else if (type == "time") {
            const double days = durationSeconds(QString::fromUtf8(time.data(), qsizetype(time.size()))) / 86400;
            run.other = NumberFormats::dateFromSerial(days, false);
            run.number = days;
            run.kind = run.other.isValid() ? Run::Other : Run::Number;
            ok = std::isfinite(days);
        } else if (type == "boolean") {
            ok = boolean == "true" || boolean == "false" || boolean == "1" || boolean == "0";
            run.other = boolean == "true" || boolean == "1";
            run.kind = Run::Other;
        } else if (type.empty() || type == "string") {
            run.kind = Run::Text;
            ok = true;
        }
        if (!ok && !covered && !error)
            run.kind = Run::Text;
        if (run.kind != Run::Text)
            m_rowText.truncate(run.start);
        if (run.kind == Run::Text && run.length == 0)
            run.kind = Run::Empty;

        if (run.kind != Run::Empty) {
            if (m_column > m_rowEnd) {
                Run gap;
                gap.count = m_column - m_rowEnd;
                m_runs.push_back(gap);
            }
            m_rowEnd = m_column + count;
            m_runs.push_back(std::move(run));
        }
        m_column += count;
    }

    // A paragraph's text: spans and links as their text, text:s as its spaces, text:tab and
    // text:line-break as a tab and a line break. Other white space counts once, and not at the
    // paragraph's start. Notes, comments and shapes are no part of it.
    void readParagraph(qsizetype cellStart)
    {
        bool afterSpace = true;
        for (int depth = 0;;) {
            switch (m_xml.next()) {
            case XmlScanner::Text:
                appendText(m_xml.text(), afterSpace);
                break;
            case XmlScanner::StartElement:
                if (m_xml.ns() != m_in.text || m_xml.name() == "note" || m_xml.name() == "ruby-text") {
                    m_in.skip();
                } else if (m_xml.name() == "s") {
                    const qint64 spaces = repeatOf(m_xml.attribute(m_in.text, "c"), kMaxRepeatedSpaces);
                    if ((m_budget.spaces += spaces) > kMaxRepeatedSpaces)
                        damaged(QStringLiteral("its cells repeat more than %1 spaces").arg(kMaxRepeatedSpaces));
                    m_rowText.resize(m_rowText.size() + spaces, u' ');
                    afterSpace = false;
                    m_in.skip();
                } else if (m_xml.name() == "tab" || m_xml.name() == "line-break") {
                    m_rowText += m_xml.name() == "tab" ? u'\t' : u'\n';
                    afterSpace = false;
                    m_in.skip();
                } else {
                    ++depth;
                }
                break;
            case XmlScanner::EndElement:
                if (depth-- == 0)
                    return;
                break;
            case XmlScanner::EndDocument:
                return;
            }
            if (m_rowText.size() - cellStart > kMaxCellText)
                damaged(QStringLiteral("a cell holds more than %1 characters").arg(kMaxCellText));
        }
    }

    void appendText(QByteArrayView text, bool &afterSpace)
    {
        const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        // Most text has no white space to fold: it goes in whole.
        bool space = afterSpace, plain = true;
        for (qsizetype i = 0; plain && i < text.size(); ++i) {
            const char c = text[i];
            plain = c != '\t' && c != '\n' && c != '\r' && !(space && c == ' ');
            space = c == ' ';
        }
        if (plain) {
            XmlScanner::appendUtf8(m_rowText, QByteArrayView(text.data(), qsizetype(text.size())));
            afterSpace = space;
            return;
        }
        QByteArray folded;
        for (const char c : text) {
            if (!isSpace(c))
                folded += c;
            else if (!afterSpace)
                folded += ' ';
            afterSpace = isSpace(c);
        }
        XmlScanner::appendUtf8(m_rowText, folded);
    }

    void addEmptyRow()
    {
        m_table->beginRow();
        ++m_rows;
    }

    void addRow()
    {
        if (m_rows == 0)
            for (const Run &run : m_runs)
                for (qint64 i = 0; i < run.count; ++i)
                    m_names << (run.kind == Run::Empty ? QString() : headerText(run.value(m_rowText)));
        m_table->beginRow();
        for (Run &run : m_runs) {
            for (qint64 i = 0; i < run.count; ++i) {
                switch (run.kind) {
                case Run::Text:
                    if (run.placed < 0)
                        run.placed = m_table->addText(QStringView(m_rowText).sliced(run.start, run.length));
                    else
                        m_table->addTextAgain(run.placed, run.length);
                    break;
                case Run::Number:
                    m_table->addNumber(run.number);
                    break;
                case Run::Integer:
                    m_table->addInteger(int(run.number));
                    break;
                case Run::Other:
                    m_table->addValue(run.other);
                    break;
                default:
                    m_table->addNull();
                }
            }
        }
        ++m_rows;
        m_width = std::max(m_width, m_rowEnd);
    }

    Content &m_in;
    XmlScanner &m_xml;
    Budget &m_budget;
    std::unique_ptr<SourceTable> m_table = std::make_unique<SourceTable>();
    QStringList m_names; // the first row's values as column names
    qint64 m_width = 0;
    qint64 m_rows = 0;        // rows added to the table
    qint64 m_pendingRows = 0; // empty rows read since, which count once a value follows
    // The row being read.
    std::vector<Run> m_runs;
    QString m_rowText;
    std::string m_attributes[6]; // the cell's value attributes, their room kept from cell to cell
    qint64 m_column = 0; // the next cell's column
    qint64 m_rowEnd = 0; // the column after the last one with a value
};

} // namespace

OdsWorkbook::OdsWorkbook(const ZipArchive &zip) : m_zip(zip)
{
    if (zip.contains(QStringLiteral("mimetype"))) {
        const QString type = QString::fromUtf8(zip.read(QStringLiteral("mimetype"), 256)).trimmed();
        if (type != kSpreadsheetType && type != kSpreadsheetType + QStringLiteral("-template"))
            notSpreadsheet(kindOf(QStringView(type).sliced(type.lastIndexOf(u'.') + 1)));
    }
    // The sheets are read with their names: the one asked for next needs no second reading.
    Content content(zip);
    Budget budget;
    while (content.nextSheet()) {
        const QString name = XmlScanner::utf8(content.xml().attribute(content.table, "name"));
        m_sheets.push_back(SheetReader(content, budget).read());
        m_sheets.back().name = name;
    }
    content.finish();
}

OdsWorkbook::~OdsWorkbook() = default;

QStringList OdsWorkbook::worksheetNames() const
{
    QStringList names;
    for (const OdsSheet &sheet : m_sheets)
        names << sheet.name;
    return names;
}

std::unique_ptr<SourceTable> OdsWorkbook::readSheet(int index, bool header) const
{
    OdsSheet &sheet = m_sheets.at(size_t(index));
    if (!sheet.table) { // given out before: read again
        Content content(m_zip);
        for (int i = 0;; ++i) {
            if (!content.nextSheet())
                damaged(QStringLiteral("a sheet is missing"));
            if (i == index)
                break;
            content.skip();
        }
        Budget budget;
        sheet.table = SheetReader(content, budget).read().table;
    }
    std::unique_ptr<SourceTable> table = std::move(sheet.table);
    if (header && table->recordCount() > 0)
        table->dropFirstRow();
    table->setColumnNames(namedColumns(header ? sheet.firstRow : QStringList(), sheet.width));
    table->moveFirst();
    return table;
}
