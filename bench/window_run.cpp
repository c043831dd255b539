// The window's run of an import, for the benchmark: the main window chooses the template,
// "Retrieve It" verifies the file and "Create It" imports it into the folder, shown in the
// progress window as a user sees it. The boxes, the file dialog and the folder picker answer as
// the batch importer's do, so that the two runs differ only in their windows.
#include "BatchServices.h"
#include "app/DefaultBackends.h"
#include "app/ui/frmMirelImportMain.h"
#include "core/AppState.h"
#include "core/Services.h"
#include "platform/VCardStore.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: window_run DATABASE TEMPLATE INPUT FOLDER\n");
        return 2;
    }
    StderrMessageBoxes boxes;
    FixedFileDialogs files(QFileInfo(args[3]).absoluteFilePath());
    FixedFolderPicker folders(args[4]);
    FixedCustomFormAnswer customForms;
    Services services;
    services.messages = &boxes;
    services.files = &files;
    services.folders = &folders;
    services.customForms = &customForms;
    services.appPath = QCoreApplication::applicationDirPath();
    services.dataPath = QFileInfo(args[1]).absolutePath();
    services.databaseFile = args[1];
    services.endProgram = [] { std::exit(1); };
    UseDefaultBackends(services);
    const QString store = folders.addressBook();
    services.createContactApplication = [store](const QString &) -> std::shared_ptr<outlook::Application> {
        return std::make_shared<vcardstore::VCardApplication>(store, false);
    };

    AppState state;
    frmMirelImportMain window(state, services);
    window.Form_Load();
    window.show();
    window.cboTemplates1->setCurrentIndex(window.cboTemplates1->findText(args[2]));
    window.cboTemplates1_Click();
    window.cmdRetrieve->click();
    if (!window.cmdCreate->isEnabled())
        return 1;
    window.cmdCreate->click();
    return window.progressWindow() && state.filePath.isEmpty() ? 0 : 1; // emptied by a run that reached its end
}
