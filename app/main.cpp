#include "app/DefaultBackends.h"
#include "app/ProgramEnd.h"
#include "app/frmMirelImportMain.h"
#include "core/AppState.h"
#include "core/Services.h"
#include "outlook/frmCustomFormInfo.h"
#include "platform/DesktopUrlOpener.h"
#include "platform/QtFileDialogs.h"
#include "platform/QtFolderPicker.h"
#include "platform/QtMessageBoxes.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ContactMirel Importer"));
    QApplication::setApplicationVersion(QStringLiteral(MIREL_VERSION));

    QtMessageBoxes boxes;
    DesktopUrlOpener urls;
    QtFileDialogs files;
    QtFolderPicker folders(boxes);
    CustomFormWindowPrompt customForms;
    Services services;
    services.messages = &boxes;
    services.urls = &urls;
    services.files = &files;
    services.folders = &folders;
    services.customForms = &customForms;
    services.appPath = QCoreApplication::applicationDirPath();
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
