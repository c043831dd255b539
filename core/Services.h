#pragma once

#include <QString>
#include <functional>
#include <memory>

namespace outlook {
class Application;
} // namespace outlook

class CustomFormPrompt;
class UrlOpener;
class FileDialogs;
class FolderPicker;
class MessageBoxes;
class ServerLogins;

// What the program needs from its surroundings; tests put their own in place.
struct Services {
    MessageBoxes *messages = nullptr;
    UrlOpener *urls = nullptr;
    FileDialogs *files = nullptr;
    FolderPicker *folders = nullptr;
    CustomFormPrompt *customForms = nullptr;
    ServerLogins *logins = nullptr; // none: no server is opened
    // The folder of the executable, without a trailing separator.
    QString appPath;
    // The folder of the template database and the default address book (DataFolderFor).
    QString dataPath;
    // The template database; empty for MirelTmplts.mdb in dataPath.
    QString databaseFile;
    // Proves that the data access layer can be created; throws AppError when not.
    std::function<void()> checkDataAccess;
    // Makes the contact store application ("outlook.application", "Outlook.Application");
    // throws AppError when it cannot.
    std::function<std::shared_ptr<outlook::Application>(const QString &progId)> createContactApplication;
    // Closes every window and stops the program at once.
    std::function<void()> endProgram;

    MessageBoxes &boxes() const { return *messages; }
};
