// mirelimport-batch: one import from a saved template, without a window.
#include "BatchServices.h"
#include "app/DefaultBackends.h"
#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/Services.h"
#include "import/UndoRun.h"
#include "platform/CardDavStore.h"
#include "platform/DataFolder.h"
#include "platform/VCardStore.h"
#include "source/MappingGrid.h"
#include "store/ImportJournal.h"
#include "store/TemplateDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace {

const char *const kUsage =
    "Usage: mirelimport-batch --template NAME --input FILE --folder DIR|URL [--database FILE]\n"
    "                         [--user NAME] [--ca-file FILE]\n"
    "                         [--accept-custom-form] [--continue-on-field-errors]\n"
    "       mirelimport-batch --list-runs [--database FILE]\n"
    "       mirelimport-batch --undo RUN_ID [--database FILE] [--user NAME] [--ca-file FILE]\n"
    "\n"
    "Imports FILE with the saved template NAME into the contact folder DIR (a folder of a vCard\n"
    "address book; made when it does not exist), or into the address book at URL on a CardDAV\n"
    "server. The template database is MirelTmplts.mdb beside the program unless --database names\n"
    "another.\n"
    "\n"
    "  --user NAME                 the user name on the server; the password is read from the\n"
    "                              environment variable MIREL_PASSWORD, never from the command line\n"
    "  --ca-file FILE              the certificate of the CA that signs the server's certificate\n"
    "  --list-runs                 prints the import runs, newest first: id, start (UTC), template,\n"
    "                              source, folder, contacts created and outcome, separated by tabs\n"
    "  --undo RUN_ID               removes the contacts the run created that are unchanged since\n"
    "  --duplicates create|skip|update\n"
    "                              what a row does whose person the folder holds already (by e-mail\n"
    "                              address, or else by name and company): create a contact all the\n"
    "                              same (the default), skip the row, or update that contact\n"
    "  --dry-run                   verifies the file and walks every row without writing anything;\n"
    "                              prints the counters and the first 10 cards as they would be\n"
    "                              written\n"
    "  --accept-custom-form        use a folder whose contacts have a custom form\n"
    "  --continue-on-field-errors  go on when a user-defined field cannot be written\n"
    "\n"
    "Exit status: 0 the import ran to its end; 1 the file did not verify or the import stopped;\n"
    "2 wrong arguments.\n";

int usage(FILE *to, int status)
{
    std::fputs(kUsage, to);
    return status;
}

// The template database of a journal command, with its boxes on standard error.
struct JournalCommand {
    StderrMessageBoxes boxes;
    Services services;
    AppState state;
    bool open(const QString &database)
    {
        if (!QFileInfo(database).isFile()) {
            std::fprintf(stderr, "The template database %s does not exist.\n", qPrintable(database));
            return false;
        }
        services.messages = &boxes;
        services.databaseFile = database;
        return OpenTemplateDatabase(state, services);
    }
};

// Prints the journal's runs, newest first.
int listRuns(const QString &database)
{
    JournalCommand command;
    if (!command.open(database))
        return 1;
    AppState &state = command.state;
    try {
        for (const ImportRunRecord &run : ImportRuns(state.connection)) {
            const QStringList fields{
                run.id,           run.started.toString(Qt::ISODate),
                run.templateName, run.source,
                run.entryId,      QString::number(ImportRunContacts(state.connection, run.id).size()),
                run.outcome};
            std::printf("%s\n", qPrintable(fields.join(QLatin1Char('\t'))));
        }
    } catch (const std::exception &e) {
        ReportError(command.boxes, TrappedError(e));
        return 1;
    }
    return 0;
}

// Undoes one run and prints what became of its contacts.
int undoRun(const QString &database, const QString &runId, ServerLogins &login)
{
    JournalCommand command;
    if (!command.open(database))
        return 1;
    AppState &state = command.state;
    QString folder;
    try {
        for (const ImportRunRecord &run : ImportRuns(state.connection))
            if (run.id == runId)
                folder = run.entryId;
        // A folder on disk is opened in the address book that holds it; a server's needs none.
        const QString store = carddav::isServerLocation(folder) ? QString() : QFileInfo(folder).absolutePath();
        state.outlookApplication = std::make_shared<vcardstore::VCardApplication>(
            store, false, [&login](const QUrl &s) { return login.loginFor(s); });
        state.outlookNamespace = state.outlookApplication->GetNamespace(QStringLiteral("MAPI"));
    } catch (const std::exception &e) {
        ReportError(command.boxes, TrappedError(e));
        return 1;
    }
    UndoCounts counts;
    if (!UndoImportRun(state, command.services, runId, counts))
        return 1;
    std::printf("Contacts removed: %d\nContacts kept - changed since: %d\nContacts already gone: %d\n", counts.removed,
                counts.changed, counts.gone);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption templateOption(QStringLiteral("template"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption inputOption(QStringLiteral("input"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption folderOption(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption databaseOption(QStringLiteral("database"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption acceptOption(QStringLiteral("accept-custom-form"));
    const QCommandLineOption continueOption(QStringLiteral("continue-on-field-errors"));
    const QCommandLineOption userOption(QStringLiteral("user"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption caOption(QStringLiteral("ca-file"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption listRunsOption(QStringLiteral("list-runs"));
    const QCommandLineOption dryRunOption(QStringLiteral("dry-run"));
    const QCommandLineOption duplicatesOption(QStringLiteral("duplicates"), QString(), QStringLiteral("POLICY"));
    const QCommandLineOption undoOption(QStringLiteral("undo"), QString(), QStringLiteral("RUN_ID"));
    const QCommandLineOption helpOption(QStringLiteral("help"));
    parser.addOptions({templateOption, inputOption, folderOption, databaseOption, userOption, caOption, acceptOption,
                       continueOption, listRunsOption, undoOption, dryRunOption, duplicatesOption, helpOption});
    if (!parser.parse(app.arguments())) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
        return usage(stderr, 2);
    }
    if (parser.isSet(helpOption))
        return usage(stdout, 0);
    if (parser.isSet(listRunsOption) || parser.isSet(undoOption)) {
        if (parser.isSet(templateOption) || parser.isSet(inputOption) || parser.isSet(folderOption) ||
            !parser.positionalArguments().isEmpty() || (parser.isSet(listRunsOption) && parser.isSet(undoOption)))
            return usage(stderr, 2);
        // The same database an import without --database uses.
        const QString database = parser.isSet(databaseOption)
                                     ? parser.value(databaseOption)
                                     : TemplateDatabasePath(DataFolderFor(QCoreApplication::applicationDirPath(),
                                                                          UserDataHome()));
        if (parser.isSet(listRunsOption))
            return listRuns(database);
        FixedServerLogin login(
            {parser.value(userOption), qEnvironmentVariable("MIREL_PASSWORD"), parser.value(caOption)});
        return undoRun(database, parser.value(undoOption), login);
    }
    const QStringList policies{QStringLiteral("create"), QStringLiteral("skip"), QStringLiteral("update")};
    const qsizetype policy = parser.isSet(duplicatesOption) ? policies.indexOf(parser.value(duplicatesOption)) : 0;
    if (!parser.isSet(templateOption) || !parser.isSet(inputOption) || !parser.isSet(folderOption) ||
        !parser.positionalArguments().isEmpty() || parser.value(templateOption).isEmpty() ||
        parser.value(inputOption).isEmpty() || parser.value(folderOption).isEmpty() || policy < 0)
        return usage(stderr, 2);

    StderrMessageBoxes boxes;
    boxes.continueOnFieldErrors = parser.isSet(continueOption);
    FixedFileDialogs files(QFileInfo(parser.value(inputOption)).absoluteFilePath());
    FixedFolderPicker folders(parser.value(folderOption));
    FixedCustomFormAnswer customForms;
    customForms.accept = parser.isSet(acceptOption);

    Services services;
    services.messages = &boxes;
    services.files = &files;
    services.folders = &folders;
    services.customForms = &customForms;
    services.appPath = QCoreApplication::applicationDirPath();
    services.dataPath = DataFolderFor(services.appPath, UserDataHome());
    UseDefaultBackends(services);
    // The address book is the one that holds the folder; nothing is made beside the program. A
    // server gets the user named here and the password from the environment.
    const QString store = folders.addressBook();
    FixedServerLogin login({parser.value(userOption), qEnvironmentVariable("MIREL_PASSWORD"), parser.value(caOption)});
    services.logins = &login;
    services.createContactApplication = [store, &login](const QString &) -> std::shared_ptr<outlook::Application> {
        return std::make_shared<vcardstore::VCardApplication>(store, false,
                                                              [&login](const QUrl &s) { return login.loginFor(s); });
    };
    services.databaseFile =
        parser.isSet(databaseOption) ? parser.value(databaseOption) : TemplateDatabasePath(services.dataPath);
    if (!QFileInfo(services.databaseFile).isFile()) {
        std::fprintf(stderr, "The template database %s does not exist.\n", qPrintable(services.databaseFile));
        return 1;
    }

    AppState state;
    if (!OpenTemplateDatabase(state, services))
        return 1;
    state.templateName = parser.value(templateOption);
    MemoryMappingGrid grid;
    if (!VerifyInputFile(state, services, grid, QStringLiteral("mirelimport-batch")))
        return 1;
    // The command line decides, not the choice the window keeps with the template.
    state.duplicatePolicy = DuplicatePolicy(policy);
    // A dry run neither opens the folder nor records the run: nothing is written anywhere.
    const auto dryRun = std::make_shared<DryRunFolder>();
    if (parser.isSet(dryRunOption)) {
        state.targetFolder = dryRun;
        state.connection.reset();
        // The duplicate check reads the real folder where it exists already; nothing is made.
        const QString folder = parser.value(folderOption);
        if (state.duplicatePolicy != DuplicatePolicy::Create &&
            (carddav::isServerLocation(folder) || QFileInfo(folder).isDir())) {
            try {
                state.outlookApplication = services.createContactApplication(QStringLiteral("Outlook.Application"));
                state.outlookNamespace = state.outlookApplication->GetNamespace(QStringLiteral("MAPI"));
                dryRun->existing =
                    state.outlookNamespace
                        ->GetFolderFromID(carddav::isServerLocation(folder) ? folder
                                                                            : QFileInfo(folder).absoluteFilePath())
                        ->Items();
            } catch (const std::exception &e) {
                ReportError(boxes, TrappedError(e));
                return 1;
            }
        }
    } else if (!PrepareImportRun(state, services)) {
        return 1;
    }
    TerminalProgress progress(isatty(STDERR_FILENO));
    const bool completed = CreateContacts(state, services, grid, progress);
    progress.finish();

    for (int i = 0; i < kImportCounterCount; ++i) {
        const ImportCounter counter = ImportCounter(i);
        std::printf("%s: %d\n", qPrintable(ImportCounterLabel(counter)), state.counters[counter]);
    }
    if (state.duplicatePolicy == DuplicatePolicy::Skip)
        std::printf("Contacts skipped - already in folder: %d\n", state.duplicatesSkipped);
    if (state.duplicatePolicy == DuplicatePolicy::Update)
        std::printf("Contacts updated - already in folder: %d\n", state.duplicatesUpdated);
    if (parser.isSet(dryRunOption))
        for (const QByteArray &card : std::as_const(dryRun->firstCards))
            std::fputs(card.constData(), stdout);
    else
        std::printf("Contacts folder: %s\n", qPrintable(state.folderEntryId));
    return completed ? 0 : 1;
}
