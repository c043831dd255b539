#include "import/ImportRun.h"

#include "catalog/MappingKey.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "import/DuplicateIndex.h"
#include "import/FieldAssignment.h"
#include "outlook/FolderChoice.h"
#include "platform/Sha256.h"
#include "platform/VCardStore.h"
#include "source/CReadFile.h"
#include "source/FileChoice.h"
#include "source/FileTypes.h"
#include "source/MappingGrid.h"
#include "store/ImportJournal.h"
#include "store/TemplateRecords.h"
#include "store/TemplateStore.h"

#include <QHash>

namespace {

void say(Services &services, const QString &text)
{
    services.boxes().show(text);
}

[[noreturn]] void missing(const QString &what)
{
    throw AppError(ErrorCode::ObjectMissing, what);
}

// The message boxes of a run: the progress shown is brought up to date before each of them.
class ProgressFirstBoxes : public MessageBoxes {
public:
    ProgressFirstBoxes(MessageBoxes &boxes, ImportProgress &progress) : m_boxes(boxes), m_progress(progress) {}
    Answer show(const QString &text, Buttons buttons, Icon icon, const std::optional<QString> &title) override
    {
        m_progress.showNow();
        return m_boxes.show(text, buttons, icon, title);
    }

private:
    MessageBoxes &m_boxes;
    ImportProgress &m_progress;
};

} // namespace

QString ImportCounterLabel(ImportCounter counter)
{
    switch (counter) {
    case ImportCounter::TotalImported:
        return QStringLiteral("Total Contacts Imported");
    case ImportCounter::Blank:
        return QStringLiteral("Contacts Skippped - Completely blank");
    case ImportCounter::NoContactName:
        return QStringLiteral("Contacts have no contact name");
    case ImportCounter::NoCompanyName:
        return QStringLiteral("Contacts have no company name");
    case ImportCounter::InvalidEmail:
        return QStringLiteral("Contacts have no or invalid email addresses");
    case ImportCounter::NoAddress:
        return QStringLiteral("Contacts have no physical addresses");
    case ImportCounter::NoPhone:
        return QStringLiteral("Contacts have no phone numbers");
    }
    return QString();
}

bool VerifyInputFile(AppState &state, Services &services, MappingGrid &grid, const QString &callerCaption)
{
    try {
        if (!FindTemplate(state, services, FindMode::Read))
            return false;
        state.loadMode = LoadMode::Update;
        state.sourceRows.reset();

        if (state.defaultFolder) {
            // The stored folder must still use the form the template was made for.
            if (!EnsureContactConnection(state, services))
                return false;
            state.targetFolder = state.outlookNamespace->GetFolderFromID(state.folderEntryId);
            state.folderItems = state.targetFolder->Items();
            const std::shared_ptr<outlook::ContactItem> first = state.folderItems->GetFirst();
            if (!first)
                missing(QStringLiteral("The stored folder '%1' holds no contact.").arg(state.folderName));
            state.customFieldCount = qint16(first->UserProperties().Count());
            const QString firstClass = first->MessageClass();
            if (state.customForm &&
                (firstClass != state.customFormName || state.customFieldCount != state.templateFieldCount)) {
                say(services, QStringLiteral("The <custom form name> for this folder and/or the number of user "
                                             "defined fields for this folder has changed. You will need to create a "
                                             "new template for this file."));
                return false;
            }
            if (!state.customForm)
                state.customFormName = firstClass;
        }

        Records(state).mappingRecords = DataAccess::RecordSet();
        Records(state).mappingRecords.open(state.connection, QStringLiteral("select * from ") +
                                                                 DataAccess::quoteIdentifier(state.mappingTable) +
                                                                 QStringLiteral(" ORDER BY tmp_srccolnum"));

        if (!ChooseSourceFile(state, services, callerCaption, state.fileType))
            return false;
        if (!LoadMappingGrid(state, services, grid, FileTypeCode::listText(state.fileType)))
            return false;

        CReadFile reader;
        std::unique_ptr<SourceTable> table;
        if (FileTypeCode::family(state.fileType) == FileTypeCode::Family::Text)
            table = reader.Read_TextFile(state.filePath, state.fileTitle, state.fileType);
        else
            table = reader.Read_Excel(state.filePath, state.sheetName, state.fileType);
        if (!table)
            missing(
                QStringLiteral("The worksheet '%1' of '%2' could not be read.").arg(state.sheetName, state.filePath));

        if (table->fieldCount() != state.columnCount) {
            say(services, QStringLiteral("The input file does not match the template selected - select another "
                                         "template or create a new one and try again"));
            return false;
        }
        int index = 0;
        for (Records(state).mappingRecords.moveFirst(); !Records(state).mappingRecords.eof();
             Records(state).mappingRecords.moveNext(), ++index) {
            if (table->fieldName(index) !=
                Records(state).mappingRecords.value(QStringLiteral("tmp_srccolname")).toString()) {
                say(services, QStringLiteral("The input file does not match the template selected"));
                return false;
            }
        }
        state.sourceRows = std::move(table);
        say(services, QStringLiteral("The input file has been verified to match the selected template"));
        return true;
    } catch (const std::exception &e) {
        const ErrorInfo error = TrappedError(e);
        if (error.number == ErrorCode::ObjectMissing)
            services.boxes().show(QStringLiteral("Could not read the requested file or worksheet"),
                                  MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical);
        else
            ReportError(services.boxes(), error);
        return false;
    }
}

bool PrepareImportRun(AppState &state, Services &services)
{
    if (!state.defaultFolder) {
        ReleaseContactConnection(state);
        if (!EnsureContactConnection(state, services))
            return false;
    }
    return ChooseContactFolder(state, services);
}

void ReleaseContactConnection(AppState &state)
{
    state.pendingContact.reset();
    state.folderItems.reset();
    state.outlookNamespace.reset();
    state.outlookApplication.reset();
}

namespace {

// The run's row in the template database's journal: written when the run starts and again, with
// the contacts it created, when it ends. A journal that cannot be written is said once and the
// run goes on: the contacts are what the user asked for.
class RunJournal {
public:
    RunJournal(AppState &state, Services &services) : m_state(state), m_services(services)
    {
        m_run.id = vcardstore::newContactUid();
        m_run.templateName = state.templateName;
        m_run.source = state.filePath;
        m_run.sheet = state.sheetName;
        m_run.entryId = state.targetFolder->EntryID();
        m_run.storeId = state.targetFolder->StoreID();
        m_run.started = QDateTime::currentDateTimeUtc();
        m_run.sourceSha256 = FileSha256Hex(state.filePath);
        write([&] { BeginImportRun(state.connection, m_run); });
    }
    const QString &id() const { return m_run.id; }
    void created(const QString &uid, int row, const QString &stamp) { m_contacts.append({uid, row, stamp}); }
    void finish(bool completed)
    {
        m_run.ended = QDateTime::currentDateTimeUtc();
        m_run.counters = m_state.counters.values;
        m_run.outcome = completed ? QStringLiteral("completed") : QStringLiteral("aborted");
        write([&] { FinishImportRun(m_state.connection, m_run, m_contacts); });
    }

private:
    template <typename F> void write(F &&step)
    {
        if (!m_state.connection || m_failed)
            return;
        try {
            step();
        } catch (const std::exception &e) {
            m_failed = true;
            ReportError(m_services.boxes(), TrappedError(e));
        }
    }
    AppState &m_state;
    Services &m_services;
    ImportRunRecord m_run;
    QList<ImportRunContact> m_contacts;
    bool m_failed = false;
};

} // namespace

bool CreateContacts(AppState &state, Services &callerServices, const MappingGrid &grid, ImportProgress &progress)
{
    ProgressFirstBoxes boxes(callerServices.boxes(), progress);
    Services services = callerServices;
    services.messages = &boxes;
    const auto abort = [&] {
        services.boxes().show(QStringLiteral("Import process has been aborted"), MessageBoxes::Buttons::Ok,
                              MessageBoxes::Icon::Critical, QStringLiteral("Creating Contacts"));
        state.pendingContact.reset();
        return false;
    };
    if (state.filePath.isEmpty() || !state.sourceRows || !state.targetFolder ||
        state.targetFolder->DefaultItemType() != outlook::olContactItem) {
        say(services, QStringLiteral("No file has been selected"));
        return false;
    }
    AppState::ImportCounters &counters = state.counters;
    SourceTable &rows = *state.sourceRows;
    try {
        state.folderItems = state.targetFolder->Items();
        if (!state.defaultFolder)
            state.customFormName = outlook::kStandardContactClass;
        state.pendingContact = state.folderItems->Add(state.customFormName);
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
        return abort();
    }

    counters = AppState::ImportCounters();
    progress.showTotal(rows.recordCount());
    RunJournal journal(state, services);
    const auto stop = [&] {
        journal.finish(false);
        return abort();
    };
    // The people the folder holds, when a row of one of them is to be skipped or to update it.
    DuplicateIndex index(state.duplicatePolicy == DuplicatePolicy::Update);
    state.duplicatesSkipped = state.duplicatesUpdated = 0;
    if (state.duplicatePolicy != DuplicatePolicy::Create) {
        try {
            index.addFolder(*state.targetFolder->Items());
        } catch (const std::exception &e) {
            ReportError(services.boxes(), TrappedError(e));
            return stop();
        }
    }

    // The keys each source column feeds, in grid order: worked out once, as the grid does not
    // change during the run.
    QList<QList<FieldKey>> keysOfField(rows.fieldCount());
    for (int f = 0; f < rows.fieldCount(); ++f)
        for (int i = 0; i < grid.rowCount(); ++i)
            if (grid.row(i).sourceColumnName == rows.fieldName(f))
                keysOfField[f] << FieldKey(grid.row(i).key);
    const FieldKey rowEnd(MappingKey::rowEnd());

    const auto count = [&](ImportCounter which) { progress.showCounter(which, ++counters[which]); };

    int rowNumber = 1;
    for (rows.moveFirst(); !rows.eof(); rows.moveNext(), ++rowNumber) {
        progress.showRowNumber(rowNumber);
        state.rowFlags = AppState::RowFlags();
        outlook::ContactItem &contact = *state.pendingContact;
        for (int f = 0; f < rows.fieldCount(); ++f) {
            if (keysOfField[f].isEmpty())
                continue;
            state.currentValue = rows.value(f);
            const bool hasValue = !state.currentValue.isNull() && !(state.currentValue.typeId() == QMetaType::QString &&
                                                                    state.currentValue.toString().isEmpty());
            for (const FieldKey &key : std::as_const(keysOfField[f])) {
                if (key.parsed.kind == MappingKey::Kind::UserDefined) {
                    if (SetContactField(state, services, contact, key) == FieldResult::Stop)
                        return stop();
                } else if (!key.key.isEmpty() && hasValue) {
                    if (SetContactField(state, services, contact, key) == FieldResult::Stop)
                        return stop();
                    state.rowFlags.hasData = true;
                }
            }
        }
        SetContactField(state, services, contact, rowEnd);

        const AppState::RowFlags flags = state.rowFlags;
        if (flags.hasData && state.duplicatePolicy != DuplicatePolicy::Create) {
            std::shared_ptr<outlook::ContactItem> existing;
            if (index.find(contact.data(), &existing)) {
                try {
                    if (state.duplicatePolicy == DuplicatePolicy::Update) {
                        // The row's values for the fields the template maps; the rest stays.
                        for (const auto &[name, value] : contact.data().properties)
                            existing->SetProperty(name, value);
                        for (const outlook::UserProperty &field : contact.data().userProperties.items()) {
                            existing->UserProperties().Add(field.name, field.type);
                            existing->UserProperties().SetValue(field.name, field.value);
                        }
                        existing->Close(outlook::olSave);
                        progress.showDuplicates(DuplicatePolicy::Update, ++state.duplicatesUpdated);
                    } else {
                        progress.showDuplicates(DuplicatePolicy::Skip, ++state.duplicatesSkipped);
                    }
                    state.pendingContact = state.folderItems->Add(state.customFormName);
                } catch (const std::exception &e) {
                    ReportError(services.boxes(), TrappedError(e));
                    return stop();
                }
                continue;
            }
        }
        if (flags.hasData) {
            try {
                contact.setImportRun(journal.id(), rowNumber);
                contact.Close(outlook::olSave);
                journal.created(contact.savedUid(), rowNumber, contact.savedStamp());
                count(ImportCounter::TotalImported);
                if (state.duplicatePolicy != DuplicatePolicy::Create)
                    index.add(state.pendingContact); // the same person twice in the file makes one contact
                state.pendingContact = state.folderItems->Add(state.customFormName);
            } catch (const std::exception &e) {
                // The store failed (a folder gone or no longer writable): what was saved stays.
                ReportError(services.boxes(), TrappedError(e));
                return stop();
            }
            if (!flags.hasContactName)
                count(ImportCounter::NoContactName);
            if (!flags.hasCompanyName)
                count(ImportCounter::NoCompanyName);
            if (!flags.hasValidEmail)
                count(ImportCounter::InvalidEmail);
            if (!flags.hasAddress)
                count(ImportCounter::NoAddress);
            if (!flags.hasPhone)
                count(ImportCounter::NoPhone);
        } else {
            // Nothing was written: the same contact serves the next row.
            count(ImportCounter::Blank);
        }
    }
    journal.finish(true);
    state.filePath.clear();
    state.pendingContact.reset();
    return true;
}
