#pragma once

#include "TestServices.h"
#include "import/ImportRun.h"
#include "outlook/FolderChoice.h"
#include "source/FileChoice.h"
#include "source/MappingGrid.h"
#include "store/MappingRow.h"

#include <QMap>
#include <functional>

// Answers each file dialog from a list of paths ("" for a cancel).
class ScriptedFileDialogs : public FileDialogs {
public:
    QString getOpenFileName(const QString &filter) override
    {
        filters << filter;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QStringList answers;
    QStringList filters;
};

// Picks folders by name from the stores, or a server's address book by its address; "" cancels.
class ScriptedFolderPicker : public FolderPicker {
public:
    std::shared_ptr<outlook::Folder> pickFolder(outlook::Namespace &ns) override;
    QStringList answers;
    int shown = 0;
};

// Answers the custom form question, and keeps what it was shown.
class ScriptedCustomForms : public CustomFormPrompt {
public:
    void ask(AppState &state) override
    {
        notices << state.customFormNotice;
        fields = state.userDefinedFields;
        state.useCustomFolder = answer;
    }
    bool answer = false;
    QStringList notices;
    QList<std::pair<QString, QString>> fields;
};

// Records what the row loop shows.
class RecordingProgress : public ImportProgress {
public:
    void showTotal(int rows) override { total = rows; }
    void showRowNumber(int row) override
    {
        lastRow = row;
        if (onRow)
            onRow(row);
    }
    void showCounter(ImportCounter counter, int value) override
    {
        counters[counter] = value;
        ++writes;
        if (onCounter)
            onCounter(counter, value);
    }
    std::function<void(ImportCounter, int)> onCounter;
    std::function<void(int)> onRow;
    int total = -1;
    int lastRow = 0;
    int writes = 0;
    QMap<ImportCounter, int> counters;
};

// Writes a template through the store; false when it could not.
bool MakeTemplate(AppState &state, Services &services, const QString &name, const QString &fileType,
                  const MappingRows &rows, const QString &sheet = QString());

// A database, an address book and the scripted services of an import.
struct ImportBench : TestServices {
    ImportBench();
    // Writes a template through the store.
    void makeTemplate(const QString &name, const QString &fileType, const MappingRows &rows,
                      const QString &sheet = QString());
    std::shared_ptr<outlook::Folder> folder(const QString &name);
    QList<outlook::ContactData> contactsIn(const QString &folderName);
    QString writeSource(const QString &name, const QByteArray &text);
    // Verifies the source against the template in templateName, as Retrieve It does.
    bool verify(const QString &source);
    // Picks the folder (a name, or a server's address book by its address) and creates the
    // contacts, as Create It does, showing the progress in shown (progress when none).
    bool create(const QString &folder = QStringLiteral("Contacts"), ImportProgress *shown = nullptr);

    MemoryMappingGrid grid;
    RecordingProgress progress;
    // The test's own way into the address book, whatever the program holds.
    std::shared_ptr<outlook::Namespace> ns;
    ScriptedFileDialogs files;
    ScriptedFolderPicker folders;
    ScriptedCustomForms customForms;
};
