#include "source/CsvReader.h"

#include "core/AppError.h"
#include "source/SourceFile.h"
#include "source/TextDecoding.h"

#include <QBuffer>
#include <csv.h>

namespace {

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
        m_table->setColumnNames(namedColumns(m_headerNames, m_widest));
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
        const RecordText text(m_record);
        qsizetype start = 0;
        if (m_inHeader) {
            for (const qsizetype end : m_fieldEnds) {
                QString name;
                text.append(start, end, name);
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
                    text.append(start, end, buffer);
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

} // namespace

std::unique_ptr<SourceTable> ReadCommaDelimited(QIODevice &in, bool header, const QString &path)
{
    std::optional<QStringDecoder> utf16 = skipByteOrderMark(in); // UTF-16 after its mark, else bytes
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
            throw sourceFileTooLarge(path);
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
