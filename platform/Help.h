#pragma once

struct Services;

// Help, Contents: the help file beside the executable, opened by the desktop; a failure is shown.
void OpenHelpContents(Services &services);
// Help, Website: the product's web site in the default browser.
void OpenProductWebSite(Services &services);
