#pragma once

#include <QString>

// Where the program keeps the template database and the default address book: beside the
// executable when the program may write there, otherwise in dataHome's "mirelimport" folder
// (made when missing), as for a program installed in a system folder.
QString DataFolderFor(const QString &appPath, const QString &dataHome);

// The user's data folder: $XDG_DATA_HOME, else ~/.local/share.
QString UserDataHome();
