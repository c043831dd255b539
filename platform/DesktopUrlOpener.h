#pragma once

#include "app/Services.h"

// Opens files and web addresses with the desktop's default handlers.
class DesktopUrlOpener : public UrlOpener {
public:
    bool openUrl(const QUrl &url) override;
};
