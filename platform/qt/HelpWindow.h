#pragma once

#include "platform/ChmFile.h"

#include <memory>

class UrlOpener;

// The help window: the file's table of contents in a tree on the left, the page chosen on the
// right. Pages and pictures come from the file; a web link goes to the desktop's browser.
// There is one window at a time.

// Shows the help window that is open and gives true; false when none is.
bool RaiseHelpWindow();
// Opens the help window on `file`, at the first entry of `contents` that has a page.
void ShowHelpWindow(UrlOpener &urls, std::unique_ptr<ChmFile> file, const QList<HelpTopic> &contents);
