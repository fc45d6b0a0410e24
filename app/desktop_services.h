#pragma once

#include <QUrl>

#include <functional>

// Opening folders and web pages in the user's desktop goes through here, so that tests can see
// what would be opened without a file manager or browser starting.
using UrlOpener = std::function<bool(const QUrl& url)>;

// Opens the url with the installed opener, else with the desktop's own handler.
bool openDesktopUrl(const QUrl& url);
// Installs an opener (an empty one restores the desktop's) and returns the one it replaces.
UrlOpener setUrlOpener(UrlOpener opener);

// The portal's page for a new tour: the setting "portalUrl" (a base address) + "/ambrels/new".
QUrl portalNewTourUrl();
inline constexpr const char* kPortalUrlKey = "portalUrl";
inline constexpr const char* kDefaultPortalUrl = "https://portal.example.invalid";
