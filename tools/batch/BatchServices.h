#pragma once

#include "core/MessageBoxes.h"
#include "import/ImportRun.h"
#include "outlook/FolderChoice.h"
#include "source/FileChoice.h"

#include <QElapsedTimer>
#include <cstdio>

// Every box goes to standard error with its title. Questions are answered No, except the two
// the command line allows to answer Yes.
class StderrMessageBoxes : public MessageBoxes {
public:
    Answer show(const QString &text, Buttons buttons, Icon icon, const std::optional<QString> &title) override;
    bool continueOnFieldErrors = false;
};

// The input file named on the command line stands for the file dialog.
class FixedFileDialogs : public FileDialogs {
public:
    explicit FixedFileDialogs(QString path) : m_path(std::move(path)) {}
    QString getOpenFileName(const QString &) override { return m_path; }

private:
    QString m_path;
};

// The folder named on the command line stands for the folder picker; it is made when missing.
// Its address book is the directory that holds it (links on the way to it resolved); the folder
// itself is a directory of its own in there, never the address book and never a link. An http
// or https address names an address book on a server, which must exist.
class FixedFolderPicker : public FolderPicker {
public:
    explicit FixedFolderPicker(const QString &directory);
    QString addressBook() const { return m_book; } // empty for a server's address book
    std::shared_ptr<outlook::Folder> pickFolder(outlook::Namespace &ns) override;

private:
    QString m_directory;
    QString m_book;
    QString m_name;
    bool m_asked = false;
};

// The custom form's notice goes to standard error; the answer comes from the command line.
class FixedCustomFormAnswer : public CustomFormPrompt {
public:
    void ask(AppState &state) override;
    bool accept = false;
};

// Stands for the folder in a dry run: each contact is formatted as its card, the first ten are
// kept to be shown, and nothing is written anywhere.
class DryRunFolder : public outlook::Folder, public outlook::Items {
public:
    QString EntryID() const override { return QStringLiteral("dry-run"); }
    QString StoreID() const override { return QStringLiteral("dry-run"); }
    QString Name() const override { return QStringLiteral("dry run"); }
    int DefaultItemType() const override { return outlook::olContactItem; }
    std::shared_ptr<outlook::Items> Items() override
    {
        return std::shared_ptr<outlook::Items>(this, [](auto *) {});
    }
    QList<std::shared_ptr<outlook::Folder>> Folders() override { return {}; }
    std::shared_ptr<outlook::Folder> AddFolder(const QString &) override { return nullptr; }
    // The contacts of the real folder, when it exists, for the duplicate check.
    int Count() override { return existing ? existing->Count() : 0; }
    std::shared_ptr<outlook::ContactItem> GetFirst() override { return existing ? existing->GetFirst() : nullptr; }
    std::shared_ptr<outlook::ContactItem> GetNext() override { return existing ? existing->GetNext() : nullptr; }
    std::shared_ptr<outlook::ContactItem> Add(const QString &messageClass) override;

    QList<QByteArray> firstCards;
    std::shared_ptr<outlook::Items> existing;
};

// A progress bar on a terminal: rows done of the total and the rate. Silent otherwise.
class TerminalProgress : public ImportProgress {
public:
    explicit TerminalProgress(bool terminal) : m_terminal(terminal) {}
    void showTotal(int rows) override;
    void showRowNumber(int row) override;
    void showCounter(ImportCounter, int) override {}
    void finish();

private:
    bool m_terminal;
    int m_total = 0;
    int m_last = -1;
    QElapsedTimer m_clock;
};
