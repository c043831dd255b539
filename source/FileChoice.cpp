#include "source/FileChoice.h"

#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "source/FileTypes.h"

#include <QFileInfo>

bool ChooseSourceFile(AppState &state, Services &services, const QString &callerCaption, const QString &fileType)
{
    try {
        for (;;) {
            state.filePath.clear();
            const FileTypeCode::Family family = FileTypeCode::family(fileType);
            if (family == FileTypeCode::Family::None) {
                services.boxes().show(QStringLiteral("This file type is not supported at the current time"));
                return false;
            }
            const QString chosen = services.files->getOpenFileName(FileTypeCode::dialogFilter(family));
            state.filePath = chosen;
            state.fileTitle = chosen.isEmpty() ? QString() : QFileInfo(chosen).fileName();
            if (!state.filePath.isEmpty())
                return true;
            if (services.boxes().show(QStringLiteral("No file has been selected - are you sure?"),
                                      MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::None,
                                      callerCaption) == MessageBoxes::Answer::Yes)
                return false;
        }
    } catch (const std::exception &e) {
        ReportFileError(services.boxes(), TrappedError(e));
        return false;
    }
}
