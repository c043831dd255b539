#include "source/CReadFile.h"

#include "app/AppError.h"
#include "app/Services.h"
#include "platform/MessageBoxes.h"
#include "source/FileTypes.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDataStream>
#include <QDate>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>
#include <cerrno>
#include <climits>
#include <csv.h>
#include <fcntl.h>
#include <freexl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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

// Appends the bytes of a field as text: ASCII as it stands, else as UTF-8 or as Windows-1252.
void appendDecoded(const unsigned char *p, size_t n, bool utf8, QString &out)
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

// Finds the line on which a quoted field opens that the text never closes, over the text as it
// comes. Follows the reader's own rules: a quote opens a field only at its start, a doubled quote
// inside stands for one, and a closing quote not followed by a separator is taken as text.
class QuoteTracker {
public:
    void feed(const unsigned char *p, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            const unsigned char c = p[i];
            const bool ends = c == ',' || c == '\r' || c == '\n';
            switch (m_state) {
            case FieldStart:
                if (c == '"') {
                    m_state = Quoted;
                    m_openedAt = m_line;
                } else if (!ends) {
                    m_state = Unquoted;
                }
                break;
            case Unquoted:
                if (ends)
                    m_state = FieldStart;
                break;
            case Quoted:
                if (c == '"')
                    m_state = QuoteSeen;
                break;
            case QuoteSeen:
                m_state = ends ? FieldStart : Quoted; // else a doubled quote, or a stray one taken as text
                break;
            }
            if (c == '\n')
                ++m_line;
        }
    }
    // 0 when every quote is closed.
    int openLine() const { return m_state == Quoted ? m_openedAt : 0; }

private:
    enum { FieldStart, Unquoted, Quoted, QuoteSeen } m_state = FieldStart;
    int m_line = 1;
    int m_openedAt = 0;
};

// A libcsv parser, freed on every way out.
class CsvParser {
public:
    CsvParser()
    {
        if (csv_init(&m_parser, CSV_EMPTY_IS_NULL | CSV_REPALL_NL) != 0)
            throw AppError(ErrorCode::Internal, QStringLiteral("The text reader could not be started."));
        // Blanks around a value are part of it: a value of spaces only is still a value.
        csv_set_space_func(&m_parser, [](unsigned char) { return 0; });
    }
    ~CsvParser() { csv_free(&m_parser); }
    CsvParser(const CsvParser &) = delete;
    CsvParser &operator=(const CsvParser &) = delete;
    csv_parser *get() { return &m_parser; }

private:
    csv_parser m_parser;
};

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

// Reads comma-delimited text handed over in pieces into a table. Every line after the header is a
// row, an empty one too (a row of Nulls, like a line of bare commas). Each record is decoded on
// its own, UTF-8 when its bytes are valid UTF-8 and Windows-1252 otherwise, so that one line
// never changes how another reads.
class CommaDelimitedReader {
public:
    CommaDelimitedReader(bool header, const QString &path, qint64 expectedChars)
        : m_table(std::make_unique<SourceTable>()), m_path(path), m_inHeader(header)
    {
        m_table->textBuffer().reserve(qsizetype(expectedChars));
    }

    void feed(const char *data, qsizetype size)
    {
        const auto *bytes = reinterpret_cast<const unsigned char *>(data);
        m_quotes.feed(bytes, size_t(size));
        const size_t parsed = csv_parse(m_parser.get(), bytes, size_t(size), onField, onRecord, this);
        rethrowFailure();
        if (parsed != size_t(size))
            throw couldNotRead();
        m_fed += size;
    }

    std::unique_ptr<SourceTable> finish()
    {
        if (m_fed == 0)
            throw AppError(kErrBadFormat, QStringLiteral("The file '%1' is empty.").arg(m_path));
        const bool finished = csv_fini(m_parser.get(), onField, onRecord, this) == 0;
        rethrowFailure();
        // A quote left open would swallow the rest of the file into one field: an error, not a short table.
        if (const int line = m_quotes.openLine())
            throw AppError(kErrBadFormat,
                           QStringLiteral("The file '%1' has a quote opened on line %2 that is never closed.")
                               .arg(m_path, QString::number(line)));
        if (!finished)
            throw couldNotRead();
        m_table->setColumnNames(columnNames(m_headerNames, m_widest));
        m_table->moveFirst();
        return std::move(m_table);
    }

private:
    // Nothing may unwind through libcsv: a callback keeps what it raised, the caller rethrows it.
    static void onField(void *s, size_t len, void *self)
    {
        auto *r = static_cast<CommaDelimitedReader *>(self);
        if (r->m_failure)
            return;
        try {
            if (s)
                r->m_record.append(static_cast<const char *>(s), qsizetype(len));
            r->m_fieldEnds.push_back(r->m_record.size());
        } catch (...) {
            r->m_failure = std::current_exception();
        }
    }

    static void onRecord(int terminator, void *self)
    {
        auto *r = static_cast<CommaDelimitedReader *>(self);
        if (r->m_failure)
            return;
        try {
            r->endRecord(terminator);
        } catch (...) {
            r->m_failure = std::current_exception();
        }
    }

    void endRecord(int terminator)
    {
        const int previous = std::exchange(m_lastTerminator, terminator);
        if (m_fieldEnds.empty() && terminator == '\n' && previous == '\r')
            return; // the line feed of a CR LF pair ends no line of its own
        const auto *bytes = reinterpret_cast<const unsigned char *>(m_record.constData());
        const bool utf8 = isValidUtf8(bytes, size_t(m_record.size()));
        qsizetype start = 0;
        if (m_inHeader) {
            for (const qsizetype end : m_fieldEnds) {
                QString name;
                appendDecoded(bytes + start, size_t(end - start), utf8, name);
                m_headerNames << name;
                start = end;
            }
            m_inHeader = false;
        } else {
            m_table->beginRow();
            for (const qsizetype end : m_fieldEnds) {
                if (end == start) {
                    m_table->addNull(); // an empty field reads as Null
                } else {
                    QString &buffer = m_table->textBuffer();
                    const qsizetype at = buffer.size();
                    appendDecoded(bytes + start, size_t(end - start), utf8, buffer);
                    m_table->addTextFrom(at);
                }
                start = end;
            }
            m_widest = std::max(m_widest, int(m_fieldEnds.size()));
        }
        m_record.resize(0);
        m_fieldEnds.clear();
    }

    void rethrowFailure() const
    {
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

    AppError couldNotRead()
    {
        return AppError(ErrorCode::Internal,
                        QStringLiteral("The file '%1' could not be read: %2")
                            .arg(m_path, QString::fromLatin1(csv_strerror(csv_error(m_parser.get())))));
    }

    CsvParser m_parser;
    QuoteTracker m_quotes;
    std::unique_ptr<SourceTable> m_table;
    QString m_path;
    bool m_inHeader = false;
    QStringList m_headerNames;
    QByteArray m_record;                // the bytes of the current record's fields, one after another
    std::vector<qsizetype> m_fieldEnds; // where each of its fields ends in m_record
    int m_widest = 0;
    int m_lastTerminator = 0;
    qint64 m_fed = 0;
    std::exception_ptr m_failure;
};

AppError tooLarge(const QString &path)
{
    return AppError(kErrBadFormat, QStringLiteral("The file '%1' is larger than %2 MB, too large for a source file.")
                                       .arg(path, QString::number(kMaxSourceFileBytes >> 20)));
}

// Opens a source file for reading. Only a regular file within the size limit is read: a device,
// a pipe or a socket can block a read or never end. The open itself does not wait on a pipe.
void openSourceFile(QFile &file, const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            throw AppError(ErrorCode::FileNotFound, QStringLiteral("Could not find file '%1'.").arg(path));
        throw AppError(ErrorCode::FileNotFound,
                       QStringLiteral("The file '%1' could not be read: %2").arg(path, qt_error_string(errno)));
    }
    struct stat status {};
    std::optional<AppError> refusal;
    if (fstat(fd, &status) != 0)
        refusal.emplace(ErrorCode::FileNotFound,
                        QStringLiteral("The file '%1' could not be read: %2").arg(path, qt_error_string(errno)));
    else if (S_ISDIR(status.st_mode))
        refusal.emplace(ErrorCode::FileNotFound, QStringLiteral("'%1' is a folder, not a file.").arg(path));
    else if (!S_ISREG(status.st_mode))
        refusal.emplace(
            kErrBadFormat,
            QStringLiteral("'%1' is not a regular file (a device, a pipe or a socket) and cannot be read.").arg(path));
    else if (status.st_size > kMaxSourceFileBytes)
        refusal = tooLarge(path);
    if (refusal) {
        ::close(fd);
        throw *refusal;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw AppError(ErrorCode::FileNotFound,
                       QStringLiteral("The file '%1' could not be read: %2").arg(path, file.errorString()));
    }
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

    QFile file;
    openSourceFile(file, path);
    return ReadCommaDelimited(file, FileTypeCode::hasHeader(fileType), path);
}

std::unique_ptr<SourceTable> ReadCommaDelimited(QIODevice &in, bool header, const QString &path)
{
    // A byte-order mark says how the text is written; it is no part of the first column's name.
    const QByteArray mark = in.peek(3);
    std::optional<QStringDecoder> utf16;
    if (mark.startsWith("\xEF\xBB\xBF")) {
        in.skip(3);
    } else if (mark.startsWith("\xFF\xFE") || mark.startsWith("\xFE\xFF")) {
        utf16.emplace(mark.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        in.skip(2);
    }
    // A character or more for each byte: the table's text is kept in one buffer of that size.
    const qint64 left = in.isSequential() ? 0 : in.size() - in.pos();
    CommaDelimitedReader reader(header, path, utf16 ? left / 2 : left);

    // Read in pieces, so that the file's bytes are never held whole beside the table's text.
    QByteArray piece(1 << 16, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 n = in.read(piece.data(), piece.size());
        if (n < 0)
            throw AppError(ErrorCode::FileNotFound,
                           QStringLiteral("The file '%1' could not be read: %2").arg(path, in.errorString()));
        if (n == 0)
            break;
        total += n;
        if (total > kMaxSourceFileBytes) // a file that grows while it is read
            throw tooLarge(path);
        if (utf16) {
            const QByteArray text = QString(utf16->decode(QByteArrayView(piece.constData(), n))).toUtf8();
            reader.feed(text.constData(), text.size());
        } else {
            reader.feed(piece.constData(), n);
        }
    }
    return reader.finish();
}

std::unique_ptr<SourceTable> ReadCommaDelimited(const QByteArray &bytes, bool header, const QString &path)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ReadCommaDelimited(buffer, header, path);
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
    if (!QFileInfo(path).isFile()) // the reader library would wait for ever on a pipe
        return FREEXL_FILE_NOT_FOUND;
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

// The size of a workbook that may be read, or -1 for one that is missing, a folder or unreadable.
// What is not a regular file or is too large raises the same error as for a text file.
qint64 workbookSize(const QString &path)
{
    QFile file;
    try {
        openSourceFile(file, path);
    } catch (const AppError &e) {
        if (e.number() == ErrorCode::FileNotFound)
            return -1;
        throw;
    }
    return file.size();
}

// Runs the helper on a workbook of the given size. Past its time, or an answer past its limit,
// it is killed and the read fails.
bool runHelper(const QString &helper, const QStringList &arguments, qint64 workbookBytes, QByteArray &output)
{
    const WorkbookHelperLimits &limits = workbookHelperLimits();
    const QDeadlineTimer deadline(limits.baseMs + limits.msPerMiB * workbookBytes / (1 << 20));
    const auto remaining = [&] { return int(std::min<qint64>(deadline.remainingTime(), INT_MAX)); };
    QProcess process;
    // Its complaints go to our own standard error, not into a buffer without bound.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(helper, arguments);
    if (!process.waitForStarted(remaining()))
        return false;
    process.closeWriteChannel();
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired() || output.size() > limits.answerBytes) {
            process.kill();
            process.waitForFinished();
            return false;
        }
        process.waitForReadyRead(remaining());
        output += process.readAllStandardOutput();
    }
    output += process.readAllStandardOutput();
    return output.size() <= limits.answerBytes && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

WorkbookHelperLimits &workbookHelperLimits()
{
    static WorkbookHelperLimits limits;
    return limits;
}

std::unique_ptr<SourceTable> ReadWorksheet(const QString &path, const QString &sheetName, bool header)
{
    const qint64 size = workbookSize(path);
    if (size < 0)
        return nullptr;
    const QString helper = workbookHelper();
    if (helper.isEmpty())
        return ReadWorksheetHere(path, sheetName, header);
    QByteArray output;
    if (!runHelper(helper,
                   {QStringLiteral("sheet"), path, sheetName, header ? QStringLiteral("1") : QStringLiteral("0")}, size,
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
    names.clear();
    qint64 size = -1;
    try {
        size = workbookSize(path);
    } catch (const AppError &) {
    }
    if (size < 0)
        return FREEXL_FILE_NOT_FOUND;
    const QString helper = workbookHelper();
    if (helper.isEmpty())
        return WorkbookSheetsHere(path, names);
    QByteArray output;
    if (!runHelper(helper, {QStringLiteral("list"), path}, size, output))
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
