#include "app/DefaultBackends.h"
#include "app/ui/ProgramEnd.h"
#include "app/ui/frmMirelImportMain.h"
#include "core/AppState.h"
#include "core/Services.h"
#include "outlook/ui/frmCustomFormInfo.h"
#include "platform/DataFolder.h"
#include "platform/qt/DesktopUrlOpener.h"
#include "platform/qt/QtFileDialogs.h"
#include "platform/qt/QtFolderPicker.h"
#include "platform/qt/QtMessageBoxes.h"
#include "platform/qt/QtServerLogins.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ContactMirel Importer"));
    QApplication::setApplicationVersion(QStringLiteral(MIREL_VERSION));

    QtMessageBoxes boxes;
    DesktopUrlOpener urls;
    QtFileDialogs files;
    QtServerLogins logins(boxes);
    QtFolderPicker folders(boxes, &logins);
    CustomFormWindowPrompt customForms;
    Services services;
    services.messages = &boxes;
    services.urls = &urls;
    services.files = &files;
    services.folders = &folders;
    services.customForms = &customForms;
    services.logins = &logins;
    services.appPath = QCoreApplication::applicationDirPath();
    services.dataPath = DataFolderFor(services.appPath, UserDataHome());
    services.endProgram = EndProgram;
    UseDefaultBackends(services);

    AppState state;
    frmMirelImportMain window(state, services);
    window.Form_Load();
    if (ProgramEnded())
        return 1;
    window.show();
    return QApplication::exec();
}
