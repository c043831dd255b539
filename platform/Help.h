#pragma once

struct Services;

// Help, Contents: the help file beside the executable, shown in the program's help window at
// its table of contents; a missing or unreadable file is reported.
void OpenHelpContents(Services &services);
// Help, Website: the product's web site in the default browser.
void OpenProductWebSite(Services &services);
