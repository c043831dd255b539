#include "source/XlsWorkbook.h"

#include "core/AppError.h"
#include "source/CompoundFile.h"
#include "source/NumberFormats.h"
#include "source/SourceFile.h"

#include <QDate>
#include <QHash>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <iconv.h>

namespace {

// Record types.
enum : quint16 {
    kBof = 0x0809,
    kEof = 0x000A,
    kFilePass = 0x002F,
    kCodePage = 0x0042,
    kDateMode = 0x0022,
    kFormat = 0x041E,
    kXf = 0x00E0,
    kBoundSheet = 0x0085,
    kSst = 0x00FC,
    kContinue = 0x003C,
    kLabelSst = 0x00FD,
    kLabel = 0x0204,
    kRString = 0x00D6,
    kNumber = 0x0203,
    kRk = 0x027E,
    kMulRk = 0x00BD,
    kBoolErr = 0x0205,
    kBlank = 0x0201,
    kMulBlank = 0x00BE,
    kFormula = 0x0006,
    kString = 0x0207,
    kDimensions = 0x0200,
};
constexpr quint16 kWorkbookGlobals = 0x0005;
constexpr quint16 kWorksheet = 0x0010;
constexpr int kMaxColumns = 256; // an .xls sheet has no more

[[noreturn]] void damaged(const char *what)
{
    throw AppError(kErrBadFormat, QStringLiteral("The workbook is damaged: %1.").arg(QLatin1String(what)));
}

// Bytes read in order, never past their end.
class Bytes {
public:
    explicit Bytes(QByteArrayView data) : m_data(data) {}
    quint8 u8() { return quint8(*take(1)); }
    quint16 u16() { return qFromLittleEndian<quint16>(take(2)); }
    quint32 u32() { return qFromLittleEndian<quint32>(take(4)); }
    double f64()
    {
        const quint64 bits = qFromLittleEndian<quint64>(take(8));
        double value;
        std::memcpy(&value, &bits, 8);
        return value;
    }
    QByteArrayView bytes(qsizetype n) { return QByteArrayView(take(n), n); }
    qsizetype left() const { return m_data.size() - m_at; }

private:
    const char *take(qsizetype n)
    {
        if (n < 0 || n > left())
            damaged("a record is shorter than its contents");
        const char *p = m_data.data() + m_at;
        m_at += n;
        return p;
    }
    QByteArrayView m_data;
    qsizetype m_at = 0;
};

// One record of the workbook stream; its data is valid until the stream is read again.
struct Record {
    quint16 type = 0;
    QByteArrayView data;
    qint64 next = 0; // where the next record starts
};

Record recordAt(CompoundStream &stream, qint64 at)
{
    const QByteArrayView head = stream.read(at, 4);
    Record r;
    r.type = qFromLittleEndian<quint16>(head.data());
    const quint16 length = qFromLittleEndian<quint16>(head.data() + 2);
    r.data = stream.read(at + 4, length);
    r.next = at + 4 + length;
    return r;
}

// A record with the CONTINUE records after it, read as one: a text whose characters cross into
// the next part starts that part with a new byte that says how the rest is stored.
class Continued {
public:
    void add(QByteArrayView part) { m_parts.push_back(part.toByteArray()); }
    quint8 u8()
    {
        need();
        return quint8(m_parts[m_part][m_at++]);
    }
    quint16 u16() { return quint16(u8() | (u8() << 8)); }
    quint32 u32() { return quint32(u16()) | (quint32(u16()) << 16); }
    void skip(qint64 n)
    {
        while (n > 0) {
            need();
            const qsizetype step = qsizetype(std::min<qint64>(n, m_parts[m_part].size() - m_at));
            m_at += step;
            n -= step;
        }
    }
    // Appends count characters to out.
    void chars(int count, bool wide, QString &out)
    {
        for (int done = 0; done < count;) {
            if (m_at == m_parts[m_part].size()) {
                nextPart();
                wide = (u8() & 1) != 0;
            }
            const qsizetype width = wide ? 2 : 1;
            const qsizetype fit = std::min<qsizetype>(count - done, (m_parts[m_part].size() - m_at) / width);
            if (fit == 0)
                damaged("a text breaks inside a character");
            const char *p = m_parts[m_part].constData() + m_at;
            if (wide) {
                const qsizetype was = out.size();
                out.resize(was + fit);
                for (qsizetype i = 0; i < fit; ++i)
                    out[was + i] = QChar(qFromLittleEndian<quint16>(p + 2 * i));
            } else {
                out.append(QLatin1String(p, fit));
            }
            m_at += fit * width;
            done += int(fit);
        }
    }

private:
    void need()
    {
        while (m_at == m_parts[m_part].size())
            nextPart();
    }
    void nextPart()
    {
        if (m_part + 1 >= m_parts.size())
            damaged("a text runs past its record");
        ++m_part;
        m_at = 0;
    }
    std::vector<QByteArray> m_parts;
    size_t m_part = 0;
    qsizetype m_at = 0;
};

// The record at `at` and the CONTINUE records that follow it; `at` moves past them.
Continued continuedAt(CompoundStream &stream, qint64 &at)
{
    Continued all;
    Record r = recordAt(stream, at);
    all.add(r.data);
    at = r.next;
    while (at + 4 <= stream.size()) {
        r = recordAt(stream, at);
        if (r.type != kContinue)
            break;
        all.add(r.data);
        at = r.next;
    }
    return all;
}

// A BIFF8 text that stands alone in its record, from byte `from` on.
Continued inRecord(QByteArrayView data, qsizetype from)
{
    Continued text;
    if (from > data.size())
        damaged("a record is shorter than its contents");
    text.add(data.sliced(from));
    return text;
}

// A BIFF8 text: its length (one or two bytes), a byte of flags, then 8-bit or 16-bit characters,
// rich-text runs and an extension, which are skipped.
void appendUnicodeText(Continued &in, bool shortLength, QString &out)
{
    const int count = shortLength ? in.u8() : in.u16();
    const quint8 flags = in.u8();
    const quint16 runs = (flags & 0x08) ? in.u16() : 0;
    const quint32 extension = (flags & 0x04) ? in.u32() : 0;
    in.chars(count, (flags & 0x01) != 0, out);
    in.skip(qint64(runs) * 4 + extension);
}

QString unicodeText(Continued &&in, bool shortLength)
{
    QString text;
    appendUnicodeText(in, shortLength, text);
    return text;
}

// The code page of a BIFF5 workbook, through iconv.
class CodePage {
public:
    void set(quint16 number)
    {
        if (m_iconv != iconv_t(-1))
            iconv_close(m_iconv);
        QByteArray name = "CP" + QByteArray::number(number);
        if (number == 367 || number == 0x8001 || number == 1200)
            name = "CP1252";
        else if (number == 0x8000 || number == 10000)
            name = "MACINTOSH";
        m_iconv = iconv_open("UTF-16LE", name.constData());
        if (m_iconv == iconv_t(-1))
            m_iconv = iconv_open("UTF-16LE", "CP1252");
    }
    ~CodePage()
    {
        if (m_iconv != iconv_t(-1))
            iconv_close(m_iconv);
    }
    QString decode(QByteArrayView bytes) const
    {
        if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }) ||
            m_iconv == iconv_t(-1))
            return QString::fromLatin1(bytes.data(), bytes.size());
        QByteArray out(bytes.size() * 4 + 4, Qt::Uninitialized);
        char *in = const_cast<char *>(bytes.data());
        size_t inLeft = size_t(bytes.size());
        char *to = out.data();
        size_t toLeft = size_t(out.size());
        iconv(m_iconv, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0 && iconv(m_iconv, &in, &inLeft, &to, &toLeft) == size_t(-1)) {
            if (errno != EILSEQ && errno != EINVAL)
                break;
            ++in; // a byte the code page lacks is dropped
            --inLeft;
        }
        const qsizetype written = out.size() - qsizetype(toLeft);
        QString text(written / 2, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i)
            text[i] = QChar(qFromLittleEndian<quint16>(out.constData() + 2 * i));
        return text;
    }

private:
    iconv_t m_iconv = iconv_t(-1);
};

// A text of a BIFF5 record: its length in one or two bytes, then bytes in the code page.
QString byteText(Bytes &in, bool shortLength, const CodePage &codePage)
{
    const int count = shortLength ? in.u8() : in.u16();
    return codePage.decode(in.bytes(count));
}

double rkNumber(quint32 rk, bool &whole)
{
    double value;
    whole = (rk & 0x02) != 0 && (rk & 0x01) == 0;
    if (rk & 0x02) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, 8);
    }
    return (rk & 0x01) ? value / 100 : value;
}

} // namespace

struct XlsWorkbook::Globals {
    std::unique_ptr<CompoundFile> file;
    mutable CompoundStream stream; // reading moves its window
    bool biff8 = true;
    CodePage codePage;
    bool system1904 = false;
    QString sharedText;                 // the shared strings, one after another
    std::vector<quint32> sharedStarts;  // where each starts, and where the last ends
    std::vector<bool> dateXf;           // by cell format: it shows a date or a time

    QStringView shared(quint32 index) const
    {
        return QStringView(sharedText).sliced(sharedStarts[index], sharedStarts[index + 1] - sharedStarts[index]);
    }
    quint32 sharedCount() const { return sharedStarts.empty() ? 0 : quint32(sharedStarts.size() - 1); }
};

// A cell as the records give it.
struct XlsWorkbook::Cell {
    quint32 row = 0;
    quint16 column = 0;
    quint16 xf = 0;
    enum Kind : quint8 { Empty, SharedText, OwnText, Number, Whole, Boolean } kind = Empty;
    quint32 index = 0; // a shared text's number
    double number = 0;
};

// Fills a table from cells given in row and column order, each place once.
class XlsWorkbook::SheetBuilder {
public:
    SheetBuilder(const Globals &globals, bool header, qsizetype expectedCells)
        : m_g(globals), m_header(header), m_table(std::make_unique<SourceTable>())
    {
        m_table->reserveCells(expectedCells);
    }

    // False for a cell before the last one placed: the cells are not in order.
    bool place(const Cell &c, QStringView text)
    {
        if (qint64(c.row) < m_row || (qint64(c.row) == m_row && c.column < m_filled))
            return false;
        while (m_row < qint64(c.row)) {
            ++m_row;
            m_filled = 0;
            if (!(m_header && m_row == 0))
                m_table->beginRow();
        }
        const bool isHeader = m_header && m_row == 0;
        for (; m_filled < c.column; ++m_filled)
            isHeader ? m_names.append(QString()) : m_table->addNull();
        if (isHeader)
            m_names << headerName(value(c, text));
        else
            add(c, text);
        m_filled = c.column + 1;
        m_width = std::max(m_width, m_filled);
        return true;
    }

    std::unique_ptr<SourceTable> finish()
    {
        m_table->setColumnNames(namedColumns(m_names, m_width));
        m_table->moveFirst();
        return std::move(m_table);
    }

private:
    QVariant value(const Cell &c, QStringView text) const
    {
        switch (c.kind) {
        case Cell::SharedText:
            return c.index < m_g.sharedCount() ? QVariant(m_g.shared(c.index).toString()) : QVariant();
        case Cell::OwnText:
            return text.toString();
        case Cell::Boolean:
            return c.number != 0;
        case Cell::Number:
        case Cell::Whole:
            if (c.xf < m_g.dateXf.size() && m_g.dateXf[c.xf]) {
                const QVariant date = NumberFormats::dateFromSerial(c.number, m_g.system1904);
                if (date.isValid())
                    return date;
            }
            return c.kind == Cell::Whole ? QVariant(int(c.number)) : QVariant(c.number);
        default:
            return QVariant();
        }
    }

    void add(const Cell &c, QStringView text)
    {
        if (c.kind == Cell::SharedText && c.index < m_g.sharedCount()) {
            // A shared text stands once in the table, however many cells hold it.
            if (m_sharedPlaces.empty())
                m_sharedPlaces.assign(m_g.sharedCount(), -1);
            qint64 &place = m_sharedPlaces[c.index];
            if (place < 0)
                place = m_table->addText(m_g.shared(c.index));
            else
                m_table->addTextAgain(place, m_g.shared(c.index).size());
        } else if (c.kind == Cell::OwnText) {
            m_table->addText(text);
        } else if (c.kind == Cell::Whole && !(c.xf < m_g.dateXf.size() && m_g.dateXf[c.xf])) {
            m_table->addInteger(int(c.number));
        } else if (c.kind == Cell::Number && !(c.xf < m_g.dateXf.size() && m_g.dateXf[c.xf])) {
            m_table->addNumber(c.number);
        } else {
            m_table->addValue(value(c, text));
        }
    }

    const Globals &m_g;
    bool m_header;
    std::unique_ptr<SourceTable> m_table;
    QStringList m_names;
    std::vector<qint64> m_sharedPlaces;
    qint64 m_row = -1;
    int m_filled = 0;
    int m_width = 0;
};

XlsWorkbook::~XlsWorkbook() = default;

XlsWorkbook::XlsWorkbook(QIODevice &device) : m_globals(std::make_unique<Globals>())
{
    Globals &g = *m_globals;
    g.file = std::make_unique<CompoundFile>(device);
    std::optional<CompoundStream> stream = g.file->rootStream(QStringLiteral("Workbook"));
    if (!stream)
        stream = g.file->rootStream(QStringLiteral("Book"));
    if (!stream && g.file->rootStream(QStringLiteral("EncryptionInfo")))
        throw AppError(kErrEncrypted, QStringLiteral("The workbook is protected by a password."));
    if (!stream)
        damaged("it holds no workbook");
    g.stream = std::move(*stream);
    readGlobals();
}

void XlsWorkbook::readGlobals()
{
    Globals &g = *m_globals;
    Record r = recordAt(g.stream, 0);
    Bytes bof(r.data);
    if (r.type != kBof || r.data.size() < 4)
        damaged("it does not start as a workbook");
    const quint16 version = bof.u16();
    if (version != 0x0600 && version != 0x0500)
        damaged("its version is not Excel 5.0 to 2003");
    g.biff8 = version == 0x0600;
    if (bof.u16() != kWorkbookGlobals)
        damaged("it does not start as a workbook");
    g.codePage.set(1252);

    QHash<int, bool> formatIsDate;
    std::vector<quint16> xfFormats;
    std::vector<QByteArray> biff5Names; // decoded once the code page is known
    for (qint64 at = r.next; at < g.stream.size();) {
        if (recordAt(g.stream, at).type == kSst) {
            Continued all = continuedAt(g.stream, at);
            all.u32();
            const quint32 count = all.u32();
            // Each text takes at least three bytes: a count from a damaged file reserves no more.
            g.sharedStarts.reserve(std::min<qint64>(count, g.stream.size() / 3) + 1);
            g.sharedStarts.push_back(0);
            for (quint32 i = 0; i < count; ++i) {
                appendUnicodeText(all, false, g.sharedText);
                if (g.sharedText.size() > 0x7FFFFFFF)
                    damaged("its shared texts are too long");
                g.sharedStarts.push_back(quint32(g.sharedText.size()));
            }
            continue;
        }
        r = recordAt(g.stream, at);
        at = r.next;
        Bytes in(r.data);
        switch (r.type) {
        case kEof:
            at = g.stream.size();
            break;
        case kFilePass:
            throw AppError(kErrEncrypted, QStringLiteral("The workbook is protected by a password."));
        case kCodePage:
            if (!g.biff8)
                g.codePage.set(in.u16());
            break;
        case kDateMode:
            g.system1904 = in.u16() == 1;
            break;
        case kFormat: {
            const int number = in.u16();
            const QString code =
                g.biff8 ? unicodeText(inRecord(r.data, 2), false) : QString::fromLatin1(in.bytes(in.u8()));
            formatIsDate.insert(number, NumberFormats::isDateCode(code));
            break;
        }
        case kXf:
            in.u16();
            xfFormats.push_back(in.u16());
            break;
        case kBoundSheet: {
            Sheet sheet;
            sheet.offset = in.u32();
            sheet.hidden = (in.u8() & 0x03) != 0;
            if (in.u8() != 0) // 1 is a macro sheet, 2 a chart, 6 a module
                break;
            if (g.biff8)
                sheet.name = unicodeText(inRecord(r.data, 6), true);
            else
                biff5Names.push_back(in.bytes(in.u8()).toByteArray());
            m_sheets.push_back(sheet);
            break;
        }
        default:
            break;
        }
    }
    for (size_t i = 0; i < biff5Names.size(); ++i)
        m_sheets[i].name = g.codePage.decode(biff5Names[i]);
    g.dateXf.reserve(xfFormats.size());
    for (const quint16 format : xfFormats)
        g.dateXf.push_back(formatIsDate.value(format, NumberFormats::isBuiltInDate(format)));
}

template <typename Visit>
void XlsWorkbook::walkCells(const Sheet &sheet, Visit &&visit) const
{
    const Globals &g = *m_globals;
    Record r = recordAt(g.stream, sheet.offset);
    Bytes bof(r.data);
    if (r.type != kBof || r.data.size() < 4 || (bof.u16(), bof.u16()) != kWorksheet)
        damaged("a sheet does not start where the workbook says");

    std::optional<Cell> formulaText; // a formula whose text result is in the STRING record after it
    int depth = 1;                   // charts inside the sheet are substreams of their own
    for (qint64 at = r.next; depth > 0 && at < g.stream.size();) {
        if (formulaText && recordAt(g.stream, at).type == kString) {
            QString text;
            if (g.biff8) {
                Continued all = continuedAt(g.stream, at);
                appendUnicodeText(all, false, text);
            } else {
                r = recordAt(g.stream, at);
                at = r.next;
                Bytes in(r.data);
                text = byteText(in, false, g.codePage);
            }
            Cell cell = *formulaText;
            cell.kind = Cell::OwnText;
            formulaText.reset();
            if (!visit(cell, text))
                return;
            continue;
        }
        if (formulaText) { // no text came: the cell stays empty
            const Cell cell = *formulaText;
            formulaText.reset();
            if (!visit(cell, QStringView()))
                return;
        }
        r = recordAt(g.stream, at);
        at = r.next;
        if (r.type == kBof || r.type == kEof) {
            depth += r.type == kBof ? 1 : -1;
            continue;
        }
        if (depth != 1)
            continue;
        Bytes in(r.data);
        Cell cell;
        QString text;
        switch (r.type) {
        case kMulRk:
        case kMulBlank: {
            cell.row = in.u16();
            const quint16 first = in.u16();
            const qsizetype each = r.type == kMulRk ? 6 : 2;
            const qsizetype count = (in.left() - 2) / each;
            for (qsizetype i = 0; i < count && first + i < kMaxColumns; ++i) {
                cell.column = quint16(first + i);
                cell.xf = in.u16();
                cell.kind = Cell::Empty;
                if (r.type == kMulRk) {
                    bool whole = false;
                    cell.number = rkNumber(in.u32(), whole);
                    cell.kind = whole ? Cell::Whole : Cell::Number;
                }
                if (!visit(cell, QStringView()))
                    return;
            }
            continue;
        }
        case kLabelSst:
        case kLabel:
        case kRString:
        case kNumber:
        case kRk:
        case kBoolErr:
        case kBlank:
        case kFormula:
            cell.row = in.u16();
            cell.column = in.u16();
            cell.xf = in.u16();
            break;
        default:
            continue;
        }
        if (cell.column >= kMaxColumns)
            continue;
        switch (r.type) {
        case kLabelSst:
            cell.kind = Cell::SharedText;
            cell.index = in.u32();
            break;
        case kLabel:
        case kRString:
            cell.kind = Cell::OwnText;
            text = g.biff8 ? unicodeText(inRecord(r.data, 6), false) : byteText(in, false, g.codePage);
            break;
        case kNumber:
            cell.kind = Cell::Number;
            cell.number = in.f64();
            break;
        case kRk: {
            bool whole = false;
            cell.number = rkNumber(in.u32(), whole);
            cell.kind = whole ? Cell::Whole : Cell::Number;
            break;
        }
        case kBoolErr: {
            const quint8 value = in.u8();
            if (in.u8() == 0) { // else an error value, which reads as Null
                cell.kind = Cell::Boolean;
                cell.number = value != 0;
            }
            break;
        }
        case kFormula: {
            // The result the formula had when the file was saved.
            const QByteArrayView result = in.bytes(8);
            if (quint8(result[6]) != 0xFF || quint8(result[7]) != 0xFF) {
                Bytes number(result);
                cell.kind = Cell::Number;
                cell.number = number.f64();
            } else if (result[0] == 0) {
                formulaText = cell;
                continue;
            } else if (result[0] == 1) {
                cell.kind = Cell::Boolean;
                cell.number = result[2] != 0;
            } // else an error or an empty text: Null
            break;
        }
        default:
            break;
        }
        if (!visit(cell, text))
            return;
    }
    if (formulaText)
        visit(*formulaText, QStringView());
}

std::unique_ptr<SourceTable> XlsWorkbook::readSheet(const Sheet &sheet, bool header) const
{
    const Globals &g = *m_globals;
    // The sheet's used range, when it gives one, sizes the table before it is filled.
    qsizetype expected = 0;
    for (qint64 at = sheet.offset, seen = 0; at + 4 <= g.stream.size() && seen < 64; ++seen) {
        const Record r = recordAt(g.stream, at);
        at = r.next;
        if (r.type == kDimensions && r.data.size() >= (g.biff8 ? 12 : 8)) {
            Bytes in(r.data);
            const qint64 firstRow = g.biff8 ? in.u32() : in.u16();
            const qint64 rowEnd = g.biff8 ? in.u32() : in.u16();
            const qint64 firstColumn = in.u16();
            const qint64 columnEnd = in.u16();
            expected = qsizetype(
                std::clamp<qint64>((rowEnd - firstRow) * (columnEnd - firstColumn), 0, g.stream.size() / 2));
            break;
        }
    }

    {
        SheetBuilder builder(g, header, expected);
        bool ordered = true;
        walkCells(sheet, [&](const Cell &cell, QStringView text) { return ordered = builder.place(cell, text); });
        if (ordered)
            return builder.finish();
    }
    // Cells out of order: gathered first, then placed in order; of two in one place the first stands.
    std::vector<Cell> cells;
    std::vector<QString> texts;
    walkCells(sheet, [&](Cell cell, QStringView text) {
        if (cell.kind == Cell::OwnText) {
            cell.index = quint32(texts.size());
            texts.push_back(text.toString());
        }
        cells.push_back(cell);
        return true;
    });
    std::stable_sort(cells.begin(), cells.end(), [](const Cell &a, const Cell &b) {
        return a.row != b.row ? a.row < b.row : a.column < b.column;
    });
    SheetBuilder builder(g, header, qsizetype(cells.size()));
    for (const Cell &cell : cells)
        builder.place(cell, cell.kind == Cell::OwnText ? QStringView(texts[cell.index]) : QStringView());
    return builder.finish();
}
