#pragma once

#include "outlook/FolderChoice.h"

#include <QDialog>

class MessageBoxes;
class QtServerLogins;
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;
class QComboBox;

// The folder picker as a modal dialog: the open stores (the default one first) and their
// folders as a tree, with OK, Cancel, "New Folder...", "Open Address Book..." to add another
// directory as a store for the rest of the run and, given logins, "Connect to Server..." to add a
// contact server. Its errors are shown through the given boxes.
class FolderPickerDialog : public QDialog {
    Q_OBJECT

public:
    FolderPickerDialog(outlook::Namespace &ns, MessageBoxes &boxes, QtServerLogins *logins = nullptr,
                       QWidget *parent = nullptr);
    std::shared_ptr<outlook::Folder> chosenFolder() const;

    QTreeWidget *tree;
    QPushButton *cmdNewFolder;
    QPushButton *cmdOpenStore;
    QPushButton *cmdConnect = nullptr; // only with logins
    QPushButton *cmdOK;
    QComboBox *cboDuplicates; // what to do with the people the folder holds already

    void newFolder(const QString &name);
    void openStore(const QString &directory);
    void connectServer();

private:
    void fill();
    void addFolders(QTreeWidgetItem *parent, const QList<std::shared_ptr<outlook::Folder>> &folders);
    std::shared_ptr<outlook::Folder> folderOf(QTreeWidgetItem *item) const;
    std::shared_ptr<outlook::Store> storeOf(QTreeWidgetItem *item) const;

    outlook::Namespace &m_ns;
    MessageBoxes &m_boxes;
    QtServerLogins *m_logins;
    QList<std::shared_ptr<outlook::Store>> m_stores;
    QList<std::shared_ptr<outlook::Folder>> m_folders;
};

class QtFolderPicker : public FolderPicker {
public:
    explicit QtFolderPicker(MessageBoxes &boxes, QtServerLogins *logins = nullptr) : m_boxes(boxes), m_logins(logins) {}
    std::shared_ptr<outlook::Folder> pickFolder(outlook::Namespace &ns) override;
    void offerDuplicatePolicy(DuplicatePolicy policy) override { m_policy = policy; }
    std::optional<DuplicatePolicy> chosenDuplicatePolicy() const override { return m_policy; }

private:
    MessageBoxes &m_boxes;
    QtServerLogins *m_logins;
    DuplicatePolicy m_policy = DuplicatePolicy::Create;
};
