#pragma once

#include "source/FileChoice.h"

// The desktop's open-file dialog, owned by the active window.
class QtFileDialogs : public FileDialogs {
public:
    QString getOpenFileName(const QString &filter) override;
};
