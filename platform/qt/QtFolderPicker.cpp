#include "platform/qt/QtFolderPicker.h"

#include "core/ErrorReport.h"
#include "platform/CardDavStore.h"
#include "platform/qt/QtServerLogins.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

namespace {
// Tree items keep an index into the dialog's lists: stores as -1 - index, folders as index.
constexpr int kIndexRole = Qt::UserRole;
} // namespace

FolderPickerDialog::FolderPickerDialog(outlook::Namespace &ns, MessageBoxes &boxes, QtServerLogins *logins,
                                       QWidget *parent)
    : QDialog(parent), m_ns(ns), m_boxes(boxes), m_logins(logins)
{
    setObjectName(QStringLiteral("FolderPickerDialog"));
    setWindowTitle(QStringLiteral("Select Folder"));
    auto *layout = new QVBoxLayout(this);
    tree = new QTreeWidget(this);
    tree->setObjectName(QStringLiteral("tree"));
    tree->setHeaderHidden(true);
    layout->addWidget(tree);
    // Listed in the order of DuplicatePolicy.
    auto *duplicates = new QHBoxLayout;
    duplicates->addWidget(new QLabel(QStringLiteral("People the folder holds already:"), this));
    cboDuplicates = new QComboBox(this);
    cboDuplicates->setObjectName(QStringLiteral("cboDuplicates"));
    cboDuplicates->addItems({QStringLiteral("Create a new contact all the same"), QStringLiteral("Skip the row"),
                             QStringLiteral("Update their contact with the row")});
    duplicates->addWidget(cboDuplicates, 1);
    layout->addLayout(duplicates);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    cmdOK = buttons->button(QDialogButtonBox::Ok);
    cmdNewFolder = buttons->addButton(QStringLiteral("New Folder..."), QDialogButtonBox::ActionRole);
    cmdOpenStore = buttons->addButton(QStringLiteral("Open Address Book..."), QDialogButtonBox::ActionRole);
    if (m_logins) {
        cmdConnect = buttons->addButton(QStringLiteral("Connect to Server..."), QDialogButtonBox::ActionRole);
        connect(cmdConnect, &QPushButton::clicked, this, &FolderPickerDialog::connectServer);
    }
    layout->addWidget(buttons);
    resize(420, 380);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(tree, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem *item) {
        if (folderOf(item))
            accept();
    });
    connect(tree, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *item) { cmdOK->setEnabled(item && folderOf(item)); });
    connect(cmdNewFolder, &QPushButton::clicked, this, [this] {
        bool ok = false;
        const QString name = QInputDialog::getText(this, QStringLiteral("New Folder"), QStringLiteral("Name:"),
                                                   QLineEdit::Normal, QString(), &ok);
        if (ok && !name.trimmed().isEmpty())
            newFolder(name.trimmed());
    });
    connect(cmdOpenStore, &QPushButton::clicked, this, [this] {
        const QString directory = QFileDialog::getExistingDirectory(this, QStringLiteral("Open Address Book"));
        if (!directory.isEmpty())
            openStore(directory);
    });
    fill();
}

void FolderPickerDialog::fill()
{
    tree->clear();
    m_folders.clear();
    m_stores = m_ns.Stores();
    for (int s = 0; s < m_stores.size(); ++s) {
        auto *item = new QTreeWidgetItem(tree, {m_stores[s]->DisplayName()});
        item->setData(0, kIndexRole, -1 - s);
        addFolders(item, m_stores[s]->Folders());
        item->setExpanded(true);
    }
    cmdOK->setEnabled(false);
}

void FolderPickerDialog::addFolders(QTreeWidgetItem *parent, const QList<std::shared_ptr<outlook::Folder>> &folders)
{
    for (const auto &folder : folders) {
        auto *item = new QTreeWidgetItem(parent, {folder->Name()});
        item->setData(0, kIndexRole, int(m_folders.size()));
        m_folders << folder;
        addFolders(item, folder->Folders());
    }
}

std::shared_ptr<outlook::Folder> FolderPickerDialog::folderOf(QTreeWidgetItem *item) const
{
    const int index = item ? item->data(0, kIndexRole).toInt() : -1;
    return index >= 0 && index < m_folders.size() ? m_folders[index] : nullptr;
}

std::shared_ptr<outlook::Store> FolderPickerDialog::storeOf(QTreeWidgetItem *item) const
{
    while (item && item->parent())
        item = item->parent();
    const int index = item ? -1 - item->data(0, kIndexRole).toInt() : -1;
    return index >= 0 && index < m_stores.size() ? m_stores[index] : nullptr;
}

std::shared_ptr<outlook::Folder> FolderPickerDialog::chosenFolder() const
{
    return folderOf(tree->currentItem());
}

void FolderPickerDialog::newFolder(const QString &name)
{
    try {
        QTreeWidgetItem *current = tree->currentItem() ? tree->currentItem() : tree->topLevelItem(0);
        std::shared_ptr<outlook::Folder> made;
        const auto store = storeOf(current);
        // Address books on a server hold no folders: a new one is an address book of the server.
        if (auto folder = folderOf(current); folder && !carddav::isServerLocation(store->StoreID()))
            made = folder->AddFolder(name);
        else if (store)
            made = store->AddFolder(name, outlook::olContactItem);
        const QString id = made ? made->EntryID() : QString();
        fill();
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if (auto folder = folderOf(*it); folder && folder->EntryID() == id)
                tree->setCurrentItem(*it);
    } catch (const std::exception &e) {
        ReportFileError(m_boxes, TrappedError(e));
    }
}

void FolderPickerDialog::openStore(const QString &directory)
{
    try {
        m_ns.AddStore(directory);
        fill();
    } catch (const std::exception &e) {
        ReportFileError(m_boxes, TrappedError(e));
    }
}

void FolderPickerDialog::connectServer()
{
    try {
        if (m_logins->connect(m_ns, this))
            fill();
    } catch (const std::exception &e) {
        ReportFileError(m_boxes, TrappedError(e));
    }
}

std::shared_ptr<outlook::Folder> QtFolderPicker::pickFolder(outlook::Namespace &ns)
{
    FolderPickerDialog dialog(ns, m_boxes, m_logins, QApplication::activeWindow());
    dialog.cboDuplicates->setCurrentIndex(int(m_policy));
    if (dialog.exec() != QDialog::Accepted)
        return nullptr;
    m_policy = DuplicatePolicy(dialog.cboDuplicates->currentIndex());
    return dialog.chosenFolder();
}
