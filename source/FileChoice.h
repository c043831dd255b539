#pragma once

#include "core/FileDialogs.h"
#include <QString>

struct AppState;
struct Services;

// Asks for the source file of a file type (code or list text) until one is chosen or the user
// confirms that none is wanted. Sets filePath and fileTitle.
bool ChooseSourceFile(AppState &state, Services &services, const QString &callerCaption, const QString &fileType);
