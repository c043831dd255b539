#include "store/TemplateDatabase.h"

#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "store/ImportJournal.h"
#include "store/TemplateRecords.h"
#include "store/TemplateStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace DataAccess;

namespace {

const QString kVerificationTitle = QStringLiteral("Startup File Verification");
const QString kSystemUser = QStringLiteral("SYSTEM");

Column col(const char *name, int type, int width = 0, bool nullable = true)
{
    return Column{QLatin1String(name), type, width, nullable ? adColNullable : 0};
}

// The Jet code for a table that is not there.
constexpr qint32 kErrNoSuchTable = 3078;

// Runs one step of the creation; a failure is reported and the creation goes on.
bool attempt(Services &services, const std::function<void()> &step)
{
    try {
        step();
        return true;
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
        return false;
    }
}

// A keyed file without the two fixed tables is someone else's database.
void requireTemplateTables(Connection &connection)
{
    const int tables = connection
                           .scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                                  "lower(name) IN ('tblsysparms', 'tbltmpltindex')"))
                           .toInt();
    if (tables < 2)
        throw AppError(kErrNoSuchTable,
                       QStringLiteral("The file '%1' is not a template database: it lacks the tables tblSysParms "
                                      "and tblTmpltIndex.")
                           .arg(connection.path()));
}

// The one row of a new tblSysParms.
void addSystemRow(const std::shared_ptr<Connection> &connection)
{
    RecordSet row;
    row.open(connection, QStringLiteral("SELECT * FROM tblSysParms"));
    row.addNew();
    row.setValue(QStringLiteral("SYS_ID"), 1);
    row.setValue(QStringLiteral("Status"), QStringLiteral("A"));
    row.setValue(QStringLiteral("SYS_CURTMPLTNUM"), 0);
    row.setValue(QStringLiteral("add_date"), QDateTime::currentDateTime());
    row.setValue(QStringLiteral("add_User"), kSystemUser);
    row.update();
}

// Gives the finished file its name unless a file of that name is there: then another start
// has named its own first, and that one is opened.
void nameExclusively(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return;
    // A file system that cannot rename exclusively can link exclusively; the working name goes after.
    if ((errno == EINVAL || errno == ENOSYS) && ::link(source.constData(), target.constData()) == 0)
        return;
    if (errno != EEXIST)
        throw AppError(ErrorCode::Internal, QStringLiteral("The new template database could not be named '%1' (%2).")
                                                .arg(to, QString::fromLocal8Bit(std::strerror(errno))));
}

} // namespace

QString TemplateDatabasePath(const QString &dataPath)
{
    return dataPath + QLatin1Char('/') + kTemplateDatabaseFile;
}

Table SysParmsTableSchema()
{
    Table table{QStringLiteral("tblSysParms"), {}, {}};
    table.columns = {col("SYS_ID", adInteger),     col("STATUS", adVarWChar, 1), col("SYS_CURTMPLTNUM", adSmallInt),
                     col("ADD_DATE", adDate),      col("ADD_USER", adWChar, 10), col("CHG_DATE", adDate),
                     col("CHG_USER", adWChar, 10), col("DEL_DATE", adDate),      col("DEL_USER", adWChar, 10)};
    table.indexes = {Index{QStringLiteral("SYS_ID"), true, false, {QStringLiteral("SYS_ID")}}};
    return table;
}

Table TemplateIndexTableSchema()
{
    Table table{QStringLiteral("tblTmpltIndex"), {}, {}};
    table.columns = {
        col("TM_ID", adVarWChar, 15),
        col("STATUS", adVarWChar, 1),
        col("TM_DESC", adVarWChar, 30),
        col("TM_FILETYPE", adVarWChar, 3),
        col("TM_HDRSYN", adSmallInt, 0, false),
        col("TM_SHTTBLNAME", adVarWChar, 50),
        col("TM_NOOFCOLS", adSmallInt),
        col("TM_CUSTOMFIELDS", adSmallInt),
        col("TM_DEFAULTFOLDER", adBoolean, 0, false),
        col("TM_FOLDERNAME", adVarWChar, 50),
        col("TM_ENTRYID", adVarWChar, 255),
        col("TM_STOREID", adVarWChar, 255),
        col("TM_CUSTOMFORM", adBoolean, 0, false),
        col("TM_CUSTOMFORMNAME", adVarWChar, 50),
        col("TM_CHKCNTRY", adBoolean, 0, false),
        col("TM_CHKPROV", adBoolean, 0, false),
        col("TM_COMBBADDR", adBoolean, 0, false),
        col("TM_COMBHADDR", adBoolean, 0, false),
        col("TM_COMBMADDR", adBoolean, 0, false),
        col("TM_COMBOADDR", adBoolean, 0, false),
        col("TM_COMBNAME", adBoolean, 0, false),
        col("ADD_DATE", adDate),
        col("ADD_USER", adWChar, 10),
        col("CHG_DATE", adDate),
        col("CHG_USER", adWChar, 10),
        col("DEL_DATE", adDate),
        col("DEL_USER", adWChar, 10),
    };
    table.indexes = {Index{QStringLiteral("TM_ID"), true, false, {QStringLiteral("TM_ID")}},
                     Index{QStringLiteral("TM_DESC"), false, false, {QStringLiteral("TM_DESC")}}};
    return table;
}

bool CreateTemplateDatabase(Services &services)
{
    // The file is built whole (both tables and the system row) under a working name of this
    // thread's own, and only then takes its name, never over a file of that name: a creation that
    // fails half-way leaves nothing that a later start would refuse, and of two starts creating at
    // the same moment the first to finish names its file and the other opens that one.
    const QString path =
        services.databaseFile.isEmpty() ? TemplateDatabasePath(services.dataPath) : services.databaseFile;
    const QString building = path + QStringLiteral(".creating-%1").arg(gettid());
    Catalog catalog;
    bool made = false;
    bool complete = attempt(services, [&] {
        QFile::remove(building); // left by an interrupted creation of a thread that had this id
        catalog.create(building, kTemplateDatabasePassword);
        made = true;
    });
    complete &= attempt(services, [&] {
        catalog.appendTable(SysParmsTableSchema());
        addSystemRow(catalog.activeConnection());
    });
    complete &= attempt(services, [&] { catalog.appendTable(TemplateIndexTableSchema()); });
    complete &= attempt(services, [&] { catalog.setActiveConnection(nullptr); });
    if (complete)
        attempt(services, [&] { nameExclusively(building, path); });
    if (made && QFileInfo::exists(building))
        QFile::remove(building);
    return true;
}

bool OpenTemplateDatabase(AppState &state, Services &services)
{
    const QString path =
        services.databaseFile.isEmpty() ? TemplateDatabasePath(services.dataPath) : services.databaseFile;
    bool creationTried = false;
    for (;;) {
        try {
            state.connection = Connection::open(path, kTemplateDatabasePassword);
            requireTemplateTables(*state.connection);
            state.connection->rebuildTextIndexesOnce();
            Records(state).systemRecord = RecordSet();
            Records(state).mappingRecords = RecordSet();
            Records(state).indexRecord = RecordSet();
            Records(state).systemRecord.open(state.connection, QStringLiteral("SELECT * FROM tblSysParms"));

            if (Records(state).systemRecord.eof()) {
                services.boxes().show(
                    QStringLiteral("Critical error - the template database is missing critical information") + kCrLf +
                        QStringLiteral("You must restore or re-install the database from the original program setup"),
                    MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical, kVerificationTitle);
                return false;
            }

            // Databases made before the journal of import runs gain it now. One that cannot be
            // changed (a read-only file) still opens: the runs then say that they were not recorded.
            try {
                EnsureImportJournal(state.connection);
                EnsureDuplicatePolicyColumn(state.connection);
            } catch (const std::exception &) {
            }
            Records(state).indexRecord.open(
                state.connection, QStringLiteral("select * from tblTmpltIndex ORDER BY tm_desc COLLATE ") + kUserOrder);
            return true;
        } catch (const std::exception &e) {
            const ErrorInfo error = TrappedError(e);
            // The file is created at most once per start; a second miss is an ordinary failure.
            if (error.number == ErrorCode::FileNotFound && !creationTried) {
                services.boxes().show(
                    QStringLiteral(
                        "The <MirelTmplts.mdb> file does not exist - a new one will be created automatically"),
                    MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical, kVerificationTitle);
                creationTried = true;
                if (!CreateTemplateDatabase(services))
                    return false;
                state.connection.reset();
                continue;
            }
            ReportError(services.boxes(), error);
            Records(state).systemRecord.close();
            Records(state).indexRecord.close();
            state.connection.reset();
            return false;
        }
    }
}

bool LoadTemplateList(AppState &state, Services &services, ItemList &list)
{
    try {
        list.clear();
        Records(state).listRecords = RecordSet();
        Records(state).listRecords.open(
            state.connection, QStringLiteral("select * from tbltmpltindex order by tm_desc COLLATE ") + kUserOrder);
        if (!(Records(state).listRecords.eof() && Records(state).listRecords.bof())) {
            Records(state).listRecords.moveFirst();
            while (!Records(state).listRecords.eof()) {
                list.addItem(Records(state).listRecords.value(QStringLiteral("tm_desc")).toString());
                Records(state).listRecords.moveNext();
            }
        }
        return true;
    } catch (const std::exception &e) {
        ReportFileError(services.boxes(), TrappedError(e));
        return false;
    }
}
