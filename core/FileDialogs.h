#pragma once

#include <QString>

// The open-file dialog.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen file's full path, or "" when the dialog was cancelled.
    virtual QString getOpenFileName(const QString &filter) = 0;
};
