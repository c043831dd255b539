#pragma once

#include "core/Services.h"
#include "core/UrlOpener.h"

// Opens files and web addresses with the desktop's default handlers.
class DesktopUrlOpener : public UrlOpener {
public:
    bool openUrl(const QUrl &url) override;
};
