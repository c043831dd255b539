#include "source/WorkbookReader.h"

#include "core/AppError.h"
#include "source/SourceFile.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <freexl.h>

namespace {

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
        table->setColumnNames(namedColumns(names, columns));
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
