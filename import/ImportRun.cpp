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
#include <functional>

namespace {

void say(Services &services, const QString &text)
{
    services.boxes().show(text);
}

[[noreturn]] void missing(const QString &what)
{
    throw AppError(ErrorCode::ObjectMissing, what);
}

// The message boxes of a run: before each of them the contacts saved so far are made to last
// (beforeBox) and the progress shown is brought up to date. When that fails, the failure is
// reported in the box's stead and a question is answered No: the run stops.
class ProgressFirstBoxes : public MessageBoxes {
public:
    ProgressFirstBoxes(MessageBoxes &boxes, ImportProgress &progress) : m_boxes(boxes), m_progress(progress) {}
    Answer show(const QString &text, Buttons buttons, Icon icon, const std::optional<QString> &title) override
    {
        if (beforeBox && !beforeBox())
            return buttons == Buttons::Ok ? Answer::Ok : buttons == Buttons::OkCancel ? Answer::Cancel : Answer::No;
        m_progress.showNow();
        return m_boxes.show(text, buttons, icon, title);
    }
    std::function<bool()> beforeBox; // false: it failed, and said so

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

// The run's row in the template database's journal: written when the run starts and again when
// it ends. The contacts it created are recorded once their cards last, a batch of them at a time,
// so that a run that is killed leaves recorded the contacts of its batches before. A journal that
// cannot be written is said once and the run goes on: the contacts are what the user asked for.
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
    // A contact whose card lasts.
    void created(const QString &uid, int row, const QString &stamp)
    {
        m_contacts.append({uid, row, stamp});
        if (m_contacts.size() >= kContactsPerBatch) {
            write([&] { RecordImportRunContacts(m_state.connection, m_run.id, m_contacts); });
            m_contacts.clear();
        }
    }
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

// The contacts a run saves, made to last a batch at a time. A contact counts, with what its row
// lacks, and is recorded in the journal only once its card lasts.
class LastingContacts {
public:
    LastingContacts(AppState &state, Services &services, ImportProgress &progress, RunJournal &journal,
                    std::shared_ptr<outlook::SaveBatch> batch)
        : m_state(state), m_services(services), m_progress(progress), m_journal(journal), m_batch(std::move(batch))
    {}
    // Saves the contact of a row, or the update of a contact the folder holds; every
    // kContactsPerBatch of them the batch is made to last. False when it could not be: the run
    // stops. A contact that cannot be saved throws.
    bool created(outlook::ContactItem &contact, int row, const AppState::RowFlags &flags)
    {
        return save(contact, {QString(), QString(), row, flags, false});
    }
    bool updated(outlook::ContactItem &contact) { return save(contact, {QString(), QString(), 0, {}, true}); }

    // Makes the contacts saved so far last and counts them; unless wait, the work may go on after
    // it returns, to be counted by a later call. A failure counts those that last, drops the
    // others and is said: false, and the run is to stop.
    bool commit(bool wait = true)
    {
        return settle([&] { return m_failed || m_waiting.isEmpty() ? 0 : m_batch->Commit(wait); });
    }
    // A contact that could not be saved: the contacts saved before it still count once they last;
    // when they cannot be made to last either, they are dropped uncounted and only the first
    // failure, error, is said.
    void saveFailed(const std::exception &error)
    {
        try {
            countLasting(m_batch->Commit());
        } catch (const std::exception &e) {
            dropFailed(e);
        }
        m_failed = true;
        m_waiting.clear();
        ReportError(m_services.boxes(), TrappedError(error));
    }
    bool failed() const { return m_failed; }

private:
    struct Waiting {
        QString uid;
        QString stamp;
        int row = 0;
        AppState::RowFlags flags;
        bool update = false;
    };

    bool save(outlook::ContactItem &contact, Waiting waiting)
    {
        m_batch->Save(contact);
        waiting.uid = contact.savedUid();
        waiting.stamp = contact.savedStamp();
        m_waiting.append(std::move(waiting));
        // A backend whose saves last at once has none pending: its contacts count at once.
        if (m_batch->Pending() == 0) {
            countLasting(m_waiting.size());
            return true;
        }
        if (m_batch->Pending() >= kContactsPerBatch)
            return commit(false);
        return settle([&] { return m_batch->Settled(); });
    }
    // Counts the contacts that `lasting` says last; its failure is said and stops the run.
    template <typename F> bool settle(F &&lasting)
    {
        try {
            countLasting(lasting());
            return !m_failed;
        } catch (const std::exception &e) {
            m_failed = true;
            dropFailed(e);
            ReportError(m_services.boxes(), TrappedError(e));
        }
        return false;
    }
    // After a failure: counts those that last and forgets the others.
    void dropFailed(const std::exception &e)
    {
        const auto *partly = dynamic_cast<const outlook::BatchError *>(&e);
        if (!partly)
            m_batch->Discard();
        countLasting(partly ? partly->lasting() : 0);
        m_waiting.clear();
    }
    // Counts the first `lasting` contacts waiting; the others wait on.
    void countLasting(qsizetype lasting)
    {
        if (lasting <= 0)
            return;
        const QList<Waiting> counting = m_waiting.first(lasting);
        m_waiting.remove(0, lasting); // a box shown meanwhile finds none of them waiting
        for (qsizetype i = 0; i < lasting; ++i) {
            const Waiting &contact = counting[i];
            if (contact.update) {
                m_progress.showDuplicates(DuplicatePolicy::Update, ++m_state.duplicatesUpdated);
                continue;
            }
            m_journal.created(contact.uid, contact.row, contact.stamp);
            count(ImportCounter::TotalImported);
            if (!contact.flags.hasContactName)
                count(ImportCounter::NoContactName);
            if (!contact.flags.hasCompanyName)
                count(ImportCounter::NoCompanyName);
            if (!contact.flags.hasValidEmail)
                count(ImportCounter::InvalidEmail);
            if (!contact.flags.hasAddress)
                count(ImportCounter::NoAddress);
            if (!contact.flags.hasPhone)
                count(ImportCounter::NoPhone);
        }
    }
    void count(ImportCounter which) { m_progress.showCounter(which, ++m_state.counters[which]); }

    AppState &m_state;
    Services &m_services;
    ImportProgress &m_progress;
    RunJournal &m_journal;
    std::shared_ptr<outlook::SaveBatch> m_batch;
    QList<Waiting> m_waiting;
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
    std::shared_ptr<outlook::SaveBatch> batch;
    try {
        state.folderItems = state.targetFolder->Items();
        if (!state.defaultFolder)
            state.customFormName = outlook::kStandardContactClass;
        state.pendingContact = state.folderItems->Add(state.customFormName);
        batch = state.targetFolder->StartBatch();
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
        return abort();
    }

    counters = AppState::ImportCounters();
    progress.showTotal(rows.recordCount());
    RunJournal journal(state, services);
    LastingContacts lasting(state, services, progress, journal, std::move(batch));
    boxes.beforeBox = [&] { return lasting.failed() || lasting.commit(); };
    const auto stop = [&] {
        lasting.commit();
        journal.finish(false);
        return abort();
    };
    const auto saveFailed = [&](const std::exception &e) {
        lasting.saveFailed(e);
        return stop();
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
        if (lasting.failed()) // the contacts saved could not be made to last before a question
            return stop();

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
                        if (!lasting.updated(*existing))
                            return stop();
                    } else {
                        progress.showDuplicates(DuplicatePolicy::Skip, ++state.duplicatesSkipped);
                    }
                    state.pendingContact = state.folderItems->Add(state.customFormName);
                } catch (const std::exception &e) {
                    return saveFailed(e);
                }
                continue;
            }
        }
        if (flags.hasData) {
            try {
                contact.setImportRun(journal.id(), rowNumber);
                if (!lasting.created(contact, rowNumber, flags))
                    return stop();
                if (state.duplicatePolicy != DuplicatePolicy::Create)
                    index.add(state.pendingContact); // the same person twice in the file makes one contact
                state.pendingContact = state.folderItems->Add(state.customFormName);
            } catch (const std::exception &e) {
                // The store failed (a folder gone or no longer writable): what lasts before stays.
                return saveFailed(e);
            }
        } else {
            // Nothing was written: the same contact serves the next row.
            count(ImportCounter::Blank);
        }
    }
    if (!lasting.commit())
        return stop();
    journal.finish(true);
    state.filePath.clear();
    state.pendingContact.reset();
    return true;
}
