#pragma once

#include <QUrl>

// Opens a document or web address with the desktop's default handler.
class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    virtual bool openUrl(const QUrl &url) = 0;
};
