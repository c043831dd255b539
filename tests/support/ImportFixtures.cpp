#include "ImportFixtures.h"

#include "platform/CardDavStore.h"
#include "store/TemplateDatabase.h"
#include "store/TemplateOperations.h"

#include <QTest>

std::shared_ptr<outlook::Folder> ScriptedFolderPicker::pickFolder(outlook::Namespace &ns)
{
    ++shown;
    const QString name = answers.isEmpty() ? QString() : answers.takeFirst();
    if (carddav::isServerLocation(name))
        return ns.GetFolderFromID(name);
    for (const auto &store : ns.Stores())
        for (const auto &folder : store->Folders())
            if (folder->Name() == name)
                return folder;
    return nullptr;
}

ImportBench::ImportBench()
{
    services.files = &files;
    services.folders = &folders;
    services.customForms = &customForms;
    if (!OpenTemplateDatabase(state, services))
        QTest::qFail("the template database did not open", __FILE__, __LINE__);
    state.outlookApplication = services.createContactApplication(QStringLiteral("Outlook.Application"));
    state.outlookNamespace = state.outlookApplication->GetNamespace(QStringLiteral("MAPI"));
    ns = state.outlookNamespace;
    boxes.clear();
}

bool MakeTemplate(AppState &state, Services &services, const QString &name, const QString &fileType,
                  const MappingRows &rows, const QString &sheet)
{
    state.sheetName = sheet;
    return SaveTemplate(state, services, {name, fileType, rows}, nullptr) == SaveOutcome::Saved;
}

void ImportBench::makeTemplate(const QString &name, const QString &fileType, const MappingRows &rows,
                               const QString &sheet)
{
    if (!MakeTemplate(state, services, name, fileType, rows, sheet))
        QTest::qFail("the template was not written", __FILE__, __LINE__);
}

std::shared_ptr<outlook::Folder> ImportBench::folder(const QString &name)
{
    for (const auto &f : ns->Stores().first()->Folders())
        if (f->Name() == name)
            return f;
    return ns->Stores().first()->AddFolder(name, outlook::olContactItem);
}

QList<outlook::ContactData> ImportBench::contactsIn(const QString &folderName)
{
    QList<outlook::ContactData> contacts;
    auto items = folder(folderName)->Items();
    for (auto c = items->GetFirst(); c; c = items->GetNext())
        contacts << c->data();
    return contacts;
}

QString ImportBench::writeSource(const QString &name, const QByteArray &text)
{
    writeBytes(file(name), text);
    return file(name);
}

bool ImportBench::verify(const QString &source)
{
    files.answers = {source};
    return VerifyInputFile(state, services, grid, QStringLiteral("Main"));
}

bool ImportBench::create(const QString &folder, ImportProgress *shown)
{
    folders.answers = {folder};
    return PrepareImportRun(state, services) && CreateContacts(state, services, grid, shown ? *shown : progress);
}
