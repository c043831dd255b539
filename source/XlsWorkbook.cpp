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

// One record of the workbook stream.
struct Record {
    quint16 type = 0;
    QByteArrayView data;
    qsizetype next = 0; // where the next record starts
};

Record recordAt(QByteArrayView stream, qsizetype at)
{
    if (at < 0 || at + 4 > stream.size())
        damaged("a record lies past the end of the stream");
    Record r;
    r.type = qFromLittleEndian<quint16>(stream.data() + at);
    const quint16 length = qFromLittleEndian<quint16>(stream.data() + at + 2);
    if (at + 4 + length > stream.size())
        damaged("a record is longer than its stream");
    r.data = QByteArrayView(stream.data() + at + 4, length);
    r.next = at + 4 + length;
    return r;
}

// A record with the CONTINUE records after it, read as one: a text whose characters cross into
// the next part starts that part with a new byte that says how the rest is stored.
class Continued {
public:
    void add(QByteArrayView part) { m_parts.push_back(part); }
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
    void chars(int count, bool wide, QString &out)
    {
        out.clear();
        out.reserve(count);
        while (out.size() < count) {
            if (m_at == m_parts[m_part].size()) {
                nextPart();
                wide = (u8() & 1) != 0;
            }
            const qsizetype width = wide ? 2 : 1;
            const qsizetype fit = std::min<qsizetype>(count - out.size(), (m_parts[m_part].size() - m_at) / width);
            if (fit == 0)
                damaged("a text breaks inside a character");
            const char *p = m_parts[m_part].data() + m_at;
            if (wide) {
                const qsizetype was = out.size();
                out.resize(was + fit);
                for (qsizetype i = 0; i < fit; ++i)
                    out[was + i] = QChar(qFromLittleEndian<quint16>(p + 2 * i));
            } else {
                out.append(QLatin1String(p, fit));
            }
            m_at += fit * width;
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
    std::vector<QByteArrayView> m_parts;
    size_t m_part = 0;
    qsizetype m_at = 0;
};

// A record and the CONTINUE records that follow it.
Continued continuedAt(QByteArrayView stream, const Record &first, qsizetype &next)
{
    Continued all;
    all.add(first.data);
    next = first.next;
    while (next + 4 <= stream.size()) {
        const Record more = recordAt(stream, next);
        if (more.type != kContinue)
            break;
        all.add(more.data);
        next = more.next;
    }
    return all;
}

// A BIFF8 text: its length (one or two bytes), a byte of flags, then 8-bit or 16-bit characters,
// rich-text runs and an extension, which are skipped.
QString unicodeText(Continued &in, bool shortLength)
{
    const int count = shortLength ? in.u8() : in.u16();
    const quint8 flags = in.u8();
    const quint16 runs = (flags & 0x08) ? in.u16() : 0;
    const quint32 extension = (flags & 0x04) ? in.u32() : 0;
    QString text;
    in.chars(count, (flags & 0x01) != 0, text);
    in.skip(qint64(runs) * 4 + extension);
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

// A cell as read, turned into a value once the sheet is read.
struct Cell {
    quint32 row;
    quint16 column;
    quint16 xf;
    enum Kind : quint8 { Empty, SharedText, OwnText, Number, Whole, Boolean } kind;
    quint32 index; // the text's place
    double number;
};

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

QString headerText(const QVariant &value)
{
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(Qt::ISODate);
    return value.toString();
}

} // namespace

struct XlsWorkbook::Globals {
    CodePage codePage;
    bool system1904 = false;
    std::vector<QString> sharedTexts;
    std::vector<bool> dateXf; // by XF number: the cell format shows a date or time
};

XlsWorkbook::~XlsWorkbook() = default;

XlsWorkbook::XlsWorkbook(QByteArray fileBytes) : m_globals(std::make_unique<Globals>())
{
    {
        const CompoundFile file(std::move(fileBytes));
        std::optional<QByteArray> stream = file.rootStream(QStringLiteral("Workbook"));
        if (!stream)
            stream = file.rootStream(QStringLiteral("Book"));
        if (!stream)
            damaged("it holds no workbook");
        m_stream = std::move(*stream);
    }
    readGlobals();
}

void XlsWorkbook::readGlobals()
{
    Globals &g = *m_globals;
    Record r = recordAt(m_stream, 0);
    Bytes bof(r.data);
    if (r.type != kBof || r.data.size() < 4)
        damaged("it does not start as a workbook");
    const quint16 version = bof.u16();
    if (version != 0x0600 && version != 0x0500)
        damaged("its version is not Excel 5.0 to 2003");
    m_biff8 = version == 0x0600;
    if (bof.u16() != kWorkbookGlobals)
        damaged("it does not start as a workbook");
    g.codePage.set(1252);

    QHash<int, bool> formatIsDate;
    std::vector<quint16> xfFormats;
    std::vector<QByteArray> biff5Names; // decoded once the code page is known
    for (qsizetype at = r.next; at < m_stream.size();) {
        r = recordAt(m_stream, at);
        at = r.next;
        Bytes in(r.data);
        switch (r.type) {
        case kEof:
            at = m_stream.size();
            break;
        case kFilePass:
            throw AppError(kErrEncrypted, QStringLiteral("The workbook is protected by a password and cannot be "
                                                         "read. Save it without a password and choose it again."));
        case kCodePage:
            if (!m_biff8)
                g.codePage.set(in.u16());
            break;
        case kDateMode:
            g.system1904 = in.u16() == 1;
            break;
        case kFormat: {
            const int number = in.u16();
            QString code;
            if (m_biff8) {
                Continued text;
                text.add(r.data.sliced(2));
                code = unicodeText(text, false);
            } else {
                code = QString::fromLatin1(in.bytes(in.u8()));
            }
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
            const quint8 kind = in.u8();
            if (m_biff8) {
                Continued text;
                text.add(r.data.sliced(6));
                sheet.name = unicodeText(text, true);
            } else {
                biff5Names.push_back(in.bytes(in.u8()).toByteArray());
            }
            if (kind == 0) // a worksheet; 1 is a macro sheet, 2 a chart, 6 a module
                m_sheets.push_back(sheet);
            else if (!m_biff8)
                biff5Names.pop_back();
            break;
        }
        case kSst: {
            Continued all = continuedAt(m_stream, r, at);
            all.u32();
            const quint32 count = all.u32();
            // Each text takes at least three bytes: a count from a damaged file reserves no more.
            g.sharedTexts.reserve(std::min<quint32>(count, quint32(m_stream.size() / 3)));
            for (quint32 i = 0; i < count; ++i)
                g.sharedTexts.push_back(unicodeText(all, false));
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

std::unique_ptr<SourceTable> XlsWorkbook::readSheet(const Sheet &sheet, bool header) const
{
    const Globals &g = *m_globals;
    Record r = recordAt(m_stream, sheet.offset);
    Bytes bof(r.data);
    if (r.type != kBof || r.data.size() < 4 || (bof.u16(), bof.u16()) != kWorksheet)
        damaged("a sheet does not start where the workbook says");

    std::vector<Cell> cells;
    std::vector<QString> ownTexts;
    bool sorted = true;
    qsizetype pendingText = -1; // the formula cell whose text result comes in the next STRING record
    const auto add = [&](quint16 row, quint16 column, quint16 xf, Cell::Kind kind, quint32 index = 0,
                         double number = 0) {
        if (column >= kMaxColumns)
            return;
        if (!cells.empty() && (cells.back().row > row || (cells.back().row == row && cells.back().column >= column)))
            sorted = false;
        cells.push_back(Cell{row, column, xf, kind, index, number});
    };
    const auto addText = [&](quint16 row, quint16 column, QString text) {
        ownTexts.push_back(std::move(text));
        add(row, column, 0, Cell::OwnText, quint32(ownTexts.size() - 1));
    };

    int depth = 1; // charts inside the sheet are substreams of their own
    for (qsizetype at = r.next; depth > 0 && at < m_stream.size();) {
        r = recordAt(m_stream, at);
        at = r.next;
        if (r.type == kBof) {
            ++depth;
            continue;
        }
        if (r.type == kEof) {
            --depth;
            continue;
        }
        if (depth != 1)
            continue;
        if (r.type == kString) {
            if (pendingText < 0)
                continue;
            const Cell formula = cells[size_t(pendingText)];
            cells.erase(cells.begin() + pendingText);
            pendingText = -1;
            QString text;
            if (m_biff8) {
                Continued all = continuedAt(m_stream, r, at);
                text = unicodeText(all, false);
            } else {
                Bytes in(r.data);
                text = byteText(in, false, g.codePage);
            }
            addText(formula.row, formula.column, std::move(text));
            continue;
        }
        Bytes in(r.data);
        switch (r.type) {
        case kLabelSst:
        case kLabel:
        case kRString:
        case kNumber:
        case kRk:
        case kBoolErr:
        case kBlank:
        case kFormula: {
            pendingText = -1;
            const quint16 row = in.u16();
            const quint16 column = in.u16();
            const quint16 xf = in.u16();
            if (r.type == kLabelSst) {
                add(row, column, xf, Cell::SharedText, in.u32());
            } else if (r.type == kLabel || r.type == kRString) {
                if (m_biff8) {
                    Continued text;
                    text.add(r.data.sliced(6));
                    addText(row, column, unicodeText(text, false));
                } else {
                    addText(row, column, byteText(in, false, g.codePage));
                }
            } else if (r.type == kNumber) {
                add(row, column, xf, Cell::Number, 0, in.f64());
            } else if (r.type == kRk) {
                bool whole = false;
                const double value = rkNumber(in.u32(), whole);
                add(row, column, xf, whole ? Cell::Whole : Cell::Number, 0, value);
            } else if (r.type == kBoolErr) {
                const quint8 value = in.u8();
                if (in.u8() == 0)
                    add(row, column, xf, Cell::Boolean, 0, value != 0);
                else
                    add(row, column, xf, Cell::Empty); // an error value reads as Null
            } else if (r.type == kBlank) {
                add(row, column, xf, Cell::Empty);
            } else {
                // The result the formula had when the file was saved.
                const QByteArrayView result = in.bytes(8);
                if (quint8(result[6]) != 0xFF || quint8(result[7]) != 0xFF) {
                    Bytes number(result);
                    add(row, column, xf, Cell::Number, 0, number.f64());
                } else if (result[0] == 0) {
                    add(row, column, xf, Cell::Empty); // a text, in the STRING record that follows
                    pendingText = qsizetype(cells.size()) - 1;
                    if (column >= kMaxColumns)
                        pendingText = -1;
                } else if (result[0] == 1) {
                    add(row, column, xf, Cell::Boolean, 0, result[2] != 0);
                } else {
                    add(row, column, xf, Cell::Empty); // an error, or an empty text
                }
            }
            break;
        }
        case kMulRk:
        case kMulBlank: {
            pendingText = -1;
            const quint16 row = in.u16();
            const quint16 first = in.u16();
            const qsizetype each = r.type == kMulRk ? 6 : 2;
            const qsizetype count = (in.left() - 2) / each;
            for (qsizetype i = 0; i < count && first + i < kMaxColumns; ++i) {
                const quint16 xf = in.u16();
                if (r.type == kMulBlank) {
                    add(row, quint16(first + i), xf, Cell::Empty);
                    continue;
                }
                bool whole = false;
                const double value = rkNumber(in.u32(), whole);
                add(row, quint16(first + i), xf, whole ? Cell::Whole : Cell::Number, 0, value);
            }
            break;
        }
        default:
            break;
        }
    }

    if (!sorted)
        std::stable_sort(cells.begin(), cells.end(), [](const Cell &a, const Cell &b) {
            return a.row != b.row ? a.row < b.row : a.column < b.column;
        });
    int width = 0;
    quint32 lastRow = 0;
    for (const Cell &c : cells) {
        width = std::max(width, c.column + 1);
        lastRow = std::max(lastRow, c.row);
    }

    const auto valueOf = [&](const Cell &c) -> QVariant {
        switch (c.kind) {
        case Cell::SharedText:
            return c.index < g.sharedTexts.size() ? QVariant(g.sharedTexts[c.index]) : QVariant();
        case Cell::OwnText:
            return ownTexts[c.index];
        case Cell::Boolean:
            return c.number != 0;
        case Cell::Number:
        case Cell::Whole:
            if (c.xf < g.dateXf.size() && g.dateXf[c.xf]) {
                const QVariant date = NumberFormats::dateFromSerial(c.number, g.system1904);
                if (date.isValid())
                    return date;
            }
            if (c.kind == Cell::Whole)
                return int(c.number);
            return c.number;
        default:
            return QVariant();
        }
    };

    auto table = std::make_unique<SourceTable>();
    QStringList names;
    auto cell = cells.cbegin();
    const quint32 rows = cells.empty() ? 0 : lastRow + 1;
    for (quint32 row = 0; row < rows; ++row) {
        const bool isHeader = header && row == 0;
        if (!isHeader)
            table->beginRow();
        int filled = 0;
        for (; cell != cells.cend() && cell->row == row; ++cell) {
            if (cell->column < filled)
                continue; // a second cell in the same place: the first stands
            for (; filled < cell->column; ++filled) {
                if (isHeader)
                    names << QString();
                else
                    table->addNull();
            }
            if (isHeader)
                names << headerText(valueOf(*cell));
            else if (cell->kind == Cell::SharedText && cell->index < g.sharedTexts.size())
                table->addText(g.sharedTexts[cell->index]); // no copy on the way
            else
                table->addValue(valueOf(*cell));
            ++filled;
        }
    }
    table->setColumnNames(namedColumns(names, width));
    table->moveFirst();
    return table;
}
