#include "source/CReadFile.h"

#include "app/AppError.h"
#include "app/Services.h"
#include "platform/MessageBoxes.h"
#include "source/FileTypes.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <csv.h>
#include <freexl.h>

namespace {

// Jet's number for a file that is not in the expected format.
constexpr qint32 kErrBadFormat = 3274;
// Jet's number for a connection that cannot be made for the file type.
constexpr qint32 kErrNoProvider = 3706;

// Windows-1252 characters 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool isAscii(const unsigned char *p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] & 0x80)
            return false;
    return true;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
bool isValidUtf8(const unsigned char *p, size_t n)
{
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int extra = 0;
        unsigned int cp = 0;
        if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (int k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        static constexpr unsigned int minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

struct CsvReading {
    SourceTable *table = nullptr;
    bool header = false;
    bool utf8 = true;
    bool inHeader = false;
    QStringList headerNames;
    int fieldsInRecord = 0;
    int widest = 0;

    void append(const unsigned char *p, size_t n, QString &out)
    {
        if (isAscii(p, n)) {
            out.append(QLatin1StringView(reinterpret_cast<const char *>(p), qsizetype(n)));
        } else if (utf8) {
            out.append(QString::fromUtf8(reinterpret_cast<const char *>(p), qsizetype(n)));
        } else {
            const qsizetype at = out.size();
            out.resize(at + qsizetype(n));
            QChar *dst = out.data() + at;
            for (size_t i = 0; i < n; ++i)
                dst[i] = (p[i] >= 0x80 && p[i] < 0xA0) ? QChar(kCp1252High[p[i] - 0x80]) : QChar(char16_t(p[i]));
        }
    }
};

void onField(void *s, size_t len, void *data)
{
    auto *r = static_cast<CsvReading *>(data);
    const auto *bytes = static_cast<const unsigned char *>(s);
    if (r->inHeader) {
        QString name;
        if (bytes)
            r->append(bytes, len, name);
        r->headerNames << name;
    } else {
        if (r->fieldsInRecord == 0)
            r->table->beginRow();
        if (!bytes || len == 0) {
            r->table->addNull(); // an empty field reads as Null
        } else {
            QString &buffer = r->table->textBuffer();
            const qsizetype start = buffer.size();
            r->append(bytes, len, buffer);
            r->table->addTextFrom(start);
        }
    }
    ++r->fieldsInRecord;
}

void onRecord(int, void *data)
{
    auto *r = static_cast<CsvReading *>(data);
    r->widest = std::max(r->widest, r->inHeader ? 0 : r->fieldsInRecord);
    r->inHeader = false;
    r->fieldsInRecord = 0;
}

// The line on which a quoted field opens that the file never closes; 0 when every quote is closed.
// Follows the reader's own rules: a quote opens a field only at its start, a doubled quote
// inside stands for one, and a closing quote not followed by a separator is taken as text.
int openQuoteLine(const unsigned char *p, size_t n)
{
    enum { FieldStart, Unquoted, Quoted, QuoteSeen } state = FieldStart;
    int line = 1;
    int openedAt = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        switch (state) {
        case FieldStart:
            if (c == '"') {
                state = Quoted;
                openedAt = line;
            } else if (c != ',' && c != '\r' && c != '\n') {
                state = Unquoted;
            }
            break;
        case Unquoted:
            if (c == ',' || c == '\r' || c == '\n')
                state = FieldStart;
            break;
        case Quoted:
            if (c == '"')
                state = QuoteSeen;
            break;
        case QuoteSeen:
            if (c == ',' || c == '\r' || c == '\n')
                state = FieldStart;
            else
                state = Quoted; // a doubled quote, or a stray one taken as text
            break;
        }
        if (c == '\n')
            ++line;
    }
    return state == Quoted ? openedAt : 0;
}

QStringList columnNames(const QStringList &header, int width)
{
    // A column without a name of its own is named after its place: F1, F2, ...
    QStringList names;
    for (int i = 0; i < std::max(int(header.size()), width); ++i) {
        const QString name = header.value(i);
        names << (name.isEmpty() ? QStringLiteral("F%1").arg(i + 1) : name);
    }
    return names;
}

QByteArray readWholeFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw AppError(ErrorCode::FileNotFound, QStringLiteral("Could not find file '%1'.").arg(path));
    if (info.isDir())
        throw AppError(ErrorCode::FileNotFound, QStringLiteral("'%1' is a folder, not a file.").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(ErrorCode::FileNotFound,
                       QStringLiteral("The file '%1' could not be read: %2").arg(path, file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(ErrorCode::FileNotFound,
                       QStringLiteral("The file '%1' could not be read: %2").arg(path, file.errorString()));
    return bytes;
}

// A cell of a worksheet as a value: numbers stay numbers and dates become dates.
QVariant cellValue(const FreeXL_CellValue &cell)
{
    switch (cell.type) {
    case FREEXL_CELL_INT:
        return cell.value.int_value;
    case FREEXL_CELL_DOUBLE:
        return cell.value.double_value;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT: {
        const QString text = QString::fromUtf8(cell.value.text_value);
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case FREEXL_CELL_DATE:
        return QDate::fromString(QString::fromLatin1(cell.value.text_value), QStringLiteral("yyyy-MM-dd"));
    case FREEXL_CELL_DATETIME:
        return QDateTime::fromString(QString::fromLatin1(cell.value.text_value), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case FREEXL_CELL_TIME:
        return QTime::fromString(QString::fromLatin1(cell.value.text_value), QStringLiteral("HH:mm:ss"));
    default:
        return QVariant();
    }
}

QString headerText(const QVariant &value)
{
    if (value.typeId() == QMetaType::Double)
        return QString::number(value.toDouble(), 'g', 15);
    if (value.typeId() == QMetaType::QDate)
        return value.toDate().toString(Qt::ISODate);
    return value.toString();
}

// Closes the workbook on every path.
class Workbook {
public:
    explicit Workbook(const QString &path) { m_status = freexl_open(QFile::encodeName(path).constData(), &m_handle); }
    ~Workbook()
    {
        if (m_handle)
            freexl_close(m_handle);
    }
    Workbook(const Workbook &) = delete;
    Workbook &operator=(const Workbook &) = delete;

    int status() const { return m_status; }
    bool ok() const { return m_status == FREEXL_OK; }
    const void *handle() const { return m_handle; }

    QStringList sheetNames() const
    {
        unsigned int count = 0;
        if (freexl_get_info(m_handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK)
            throw AppError(kErrBadFormat, QStringLiteral("The workbook's sheets cannot be counted."));
        QStringList names;
        for (unsigned int i = 0; i < count; ++i) {
            const char *name = nullptr;
            if (freexl_get_worksheet_name(m_handle, (unsigned short)i, &name) != FREEXL_OK || !name)
                throw AppError(kErrBadFormat, QStringLiteral("A sheet of the workbook has no readable name."));
            names << QString::fromUtf8(name);
        }
        return names;
    }

private:
    const void *m_handle = nullptr;
    int m_status = FREEXL_NULL_HANDLE;
};

} // namespace

std::unique_ptr<SourceTable> CReadFile::Read_TextFile(const QString &path, const QString &fileTitle,
                                                      const QString &fileType)
{
    Q_UNUSED(fileTitle); // the path names the file in full
    if (FileTypeCode::family(fileType) != FileTypeCode::Family::Text)
        throw AppError(kErrNoProvider,
                       QStringLiteral("The file type '%1' cannot be read as a text file.").arg(fileType));

    return ReadCommaDelimited(readWholeFile(path), FileTypeCode::hasHeader(fileType), path);
}

std::unique_ptr<SourceTable> ReadCommaDelimited(const QByteArray &bytes, bool header, const QString &path)
{
    qsizetype skip = 0;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        skip = 3; // the byte-order mark is no part of the first column's name
    if (bytes.size() - skip == 0)
        throw AppError(kErrBadFormat, QStringLiteral("The file '%1' is empty.").arg(path));
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData()) + skip;
    const size_t size = size_t(bytes.size() - skip);

    auto table = std::make_unique<SourceTable>();
    CsvReading reading;
    reading.table = table.get();
    reading.header = header;
    reading.inHeader = reading.header;
    reading.utf8 = isValidUtf8(data, size);
    table->textBuffer().reserve(qsizetype(size));

    csv_parser parser;
    if (csv_init(&parser, CSV_EMPTY_IS_NULL) != 0)
        throw AppError(ErrorCode::Internal, QStringLiteral("The text reader could not be started."));
    // Blanks around a value are part of it: a value of spaces only is still a value.
    csv_set_space_func(&parser, [](unsigned char) { return 0; });
    const size_t parsed = csv_parse(&parser, data, size, onField, onRecord, &reading);
    const bool finished = parsed == size && csv_fini(&parser, onField, onRecord, &reading) == 0;
    const int error = csv_error(&parser);
    csv_free(&parser);
    // A quote left open would swallow the rest of the file into one field: an error, not a short table.
    if (const int line = openQuoteLine(data, size))
        throw AppError(
            kErrBadFormat,
            QStringLiteral("The file '%1' has a quote opened on line %2 that is never closed.").arg(path).arg(line));
    if (!finished) {
        throw AppError(
            ErrorCode::Internal,
            QStringLiteral("The file '%1' could not be read: %2").arg(path, QString::fromLatin1(csv_strerror(error))));
    }
    table->setColumnNames(columnNames(reading.headerNames, reading.widest));
    table->textBuffer().squeeze();
    table->moveFirst();
    return table;
}

std::unique_ptr<SourceTable> ReadWorksheetHere(const QString &path, const QString &sheetName, bool header)
{
    try {
        if (!QFileInfo(path).isFile())
            return nullptr;
        Workbook book(path);
        if (!book.ok())
            return nullptr;
        const QStringList sheets = book.sheetNames();
        qsizetype index = sheets.indexOf(sheetName);
        if (index < 0) // sheet names compare without regard to case, as in the spreadsheet itself
            for (qsizetype i = 0; i < sheets.size() && index < 0; ++i)
                if (sheets[i].compare(sheetName, Qt::CaseInsensitive) == 0)
                    index = i;
        if (index < 0 || freexl_select_active_worksheet(book.handle(), (unsigned short)index) != FREEXL_OK)
            return nullptr;
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (freexl_worksheet_dimensions(book.handle(), &rows, &columns) != FREEXL_OK)
            return nullptr;

        auto table = std::make_unique<SourceTable>();
        QStringList names;
        FreeXL_CellValue cell;
        for (unsigned int r = 0; r < rows; ++r) {
            const bool isHeader = header && r == 0;
            if (!isHeader)
                table->beginRow();
            for (unsigned short c = 0; c < columns; ++c) {
                if (freexl_get_cell_value(book.handle(), r, c, &cell) != FREEXL_OK)
                    return nullptr;
                const QVariant value = cellValue(cell);
                if (isHeader)
                    names << headerText(value);
                else
                    table->addValue(value);
            }
        }
        table->setColumnNames(columnNames(names, columns));
        table->moveFirst();
        return table;
    } catch (const std::exception &) {
        return nullptr;
    }
}

int WorkbookSheetsHere(const QString &path, QStringList &names)
{
    names.clear();
    Workbook book(path);
    if (!book.ok())
        return book.status() == FREEXL_OK ? FREEXL_NULL_HANDLE : book.status();
    try {
        names = book.sheetNames();
        return FREEXL_OK;
    } catch (const std::exception &) {
        names.clear();
        return FREEXL_BIFF_INVALID_BOF;
    }
}

namespace {

// Workbooks are read by a helper process when it stands beside the program: a damaged file
// that upsets the reader library then costs a failed read, not the program.
QString workbookHelper()
{
    const QString fromEnvironment = qEnvironmentVariable("MIREL_XLS_READER");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (!QCoreApplication::instance())
        return QString();
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/mirel-xls-reader");
    return QFileInfo(beside).isExecutable() ? beside : QString();
}

bool runHelper(const QString &helper, const QStringList &arguments, QByteArray &output)
{
    QProcess process;
    process.start(helper, arguments);
    if (!process.waitForStarted(10000))
        return false;
    process.closeWriteChannel();
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(-1);
        output += process.readAllStandardOutput();
    }
    output += process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

std::unique_ptr<SourceTable> ReadWorksheet(const QString &path, const QString &sheetName, bool header)
{
    const QString helper = workbookHelper();
    if (helper.isEmpty())
        return ReadWorksheetHere(path, sheetName, header);
    QByteArray output;
    if (!runHelper(helper,
                   {QStringLiteral("sheet"), path, sheetName, header ? QStringLiteral("1") : QStringLiteral("0")},
                   output))
        return nullptr;
    QDataStream in(output);
    in.setVersion(QDataStream::Qt_6_4);
    QStringList columns;
    qint64 rows = 0;
    in >> columns >> rows;
    auto table = std::make_unique<SourceTable>();
    for (qint64 r = 0; r < rows && in.status() == QDataStream::Ok; ++r) {
        QVariantList row;
        in >> row;
        table->beginRow();
        for (const QVariant &value : std::as_const(row))
            table->addValue(value);
    }
    if (in.status() != QDataStream::Ok)
        return nullptr;
    table->setColumnNames(columns);
    table->moveFirst();
    return table;
}

int WorkbookSheets(const QString &path, QStringList &names)
{
    const QString helper = workbookHelper();
    if (helper.isEmpty())
        return WorkbookSheetsHere(path, names);
    names.clear();
    QByteArray output;
    if (!runHelper(helper, {QStringLiteral("list"), path}, output))
        return FREEXL_CRAFTED_FILE;
    QDataStream in(output);
    in.setVersion(QDataStream::Qt_6_4);
    qint32 status = FREEXL_CRAFTED_FILE;
    in >> status >> names;
    return in.status() == QDataStream::Ok ? status : FREEXL_CRAFTED_FILE;
}

void WriteWorksheet(QIODevice &out, const SourceTable &table)
{
    QDataStream stream(&out);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << table.columnNames() << qint64(table.recordCount());
    for (int r = 0; r < table.recordCount(); ++r) {
        QVariantList row;
        for (int c = 0; c < table.fieldCount(); ++c)
            row << table.cell(r, c);
        stream << row;
    }
}

void WriteWorkbookSheets(QIODevice &out, int status, const QStringList &names)
{
    QDataStream stream(&out);
    stream.setVersion(QDataStream::Qt_6_4);
    stream << qint32(status) << names;
}

std::unique_ptr<SourceTable> CReadFile::Read_Excel(const QString &path, const QString &sheetName,
                                                   const QString &fileType)
{
    if (FileTypeCode::family(fileType) != FileTypeCode::Family::Excel)
        return nullptr;
    return ReadWorksheet(path, sheetName, FileTypeCode::hasHeader(fileType));
}

bool ListWorksheets(Services &services, const QString &path, QStringList &names)
{
    const int status = WorkbookSheets(path, names);
    if (status == FREEXL_INSUFFICIENT_MEMORY) {
        services.boxes().show(QStringLiteral("Could not initiate Excel"));
        return false;
    }
    if (status != FREEXL_OK) {
        names.clear();
        services.boxes().show(QStringLiteral("Could not open Excel spreadsheet"));
        return false;
    }
    return true;
}
