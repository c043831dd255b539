#pragma once

#include <QString>
#include <QVariant>
#include <array>
#include <memory>

class SourceTable;
struct TemplateRecords;
namespace DataAccess {
class Connection;
} // namespace DataAccess
namespace outlook {
class Application;
class ContactItem;
class Folder;
class Items;
class Namespace;
} // namespace outlook

// How the mapping grid is filled: from a sample file while a new template is built (Add), or
// from a stored template (Update).
enum class LoadMode { None, Add, Update };

// What a run does with a row whose person the target folder already holds: create a contact all
// the same, skip the row, or update the contact there with the row's values.
enum class DuplicatePolicy { Create, Skip, Update };

// The counters of an import run, each with its box on the progress window.
enum class ImportCounter { TotalImported, Blank, NoContactName, NoCompanyName, InvalidEmail, NoAddress, NoPhone };
constexpr int kImportCounterCount = 7;

// The program's working values, shared by all parts for the whole run.
struct AppState {
    // source
    QString filePath;
    QString fileTitle;
    QString fileType;
    QString sheetName;

    // template
    QString templateName;
    QString mappingTable;
    qint16 columnCount = 0;
    qint16 templateFieldCount = 0;
    LoadMode loadMode = LoadMode::None;

    // store: the open connection and its record sets
    std::shared_ptr<DataAccess::Connection> connection;
    std::shared_ptr<TemplateRecords> records; // see Records() in store/TemplateRecords.h

    // editor
    bool editPending = false;
    bool suppressFolderChoice = false;
    struct StreetFlags {
        bool fullStreet = false;
        bool streetLines = false;
    };
    // By address, numbered as the mapping keys number them: 0 business, 1 mailing, 2 home, 3 other.
    std::array<StreetFlags, 4> street;

    // folder
    bool defaultFolder = false;
    std::shared_ptr<outlook::Folder> targetFolder;
    QString folderEntryId;
    QString folderStoreId;
    QString folderName;
    bool customForm = false;
    QString customFormName;
    qint16 customFieldCount = 0;
    QList<std::pair<QString, QString>> userDefinedFields;
    QString customFormNotice;
    bool useCustomFolder = false;

    // import: the contact store connection
    std::shared_ptr<outlook::Application> outlookApplication;
    std::shared_ptr<outlook::Namespace> outlookNamespace;

    // import: the verified source rows, the folder's items and the one contact being filled
    std::shared_ptr<SourceTable> sourceRows;
    std::shared_ptr<outlook::Items> folderItems;
    std::shared_ptr<outlook::ContactItem> pendingContact;
    // The seven counters of a run (32-bit: a file may hold more rows than 16 bits count).
    struct ImportCounters {
        std::array<int, kImportCounterCount> values{};
        int &operator[](ImportCounter counter) { return values[size_t(counter)]; }
        int operator[](ImportCounter counter) const { return values[size_t(counter)]; }
    };
    ImportCounters counters;
    DuplicatePolicy duplicatePolicy = DuplicatePolicy::Create;
    int duplicatesSkipped = 0;
    int duplicatesUpdated = 0;

    // import: one row's values and what they showed
    QVariant currentValue;
    struct RowFlags {
        bool hasData = false;
        bool hasValidEmail = false;
        bool hasAddress = false;
        bool hasPhone = false;
        bool hasContactName = false;
        bool hasCompanyName = false;
    };
    RowFlags rowFlags;
    // Street lines 1 to 3 of the business, mailing, home and other address, kept until the row ends.
    std::array<std::array<QString, 3>, 4> streetLineTexts;
    QString potentialValue;
    QString timeFrame;
    QString notesText;
};
