#pragma once

#include <QIcon>
#include <QLatin1String>

// The application id: the name of the installed desktop entry, icon and AppStream data.
inline constexpr QLatin1String korvaloAppId{"io.github.korvalo.Korvalo"};

// Korvalo's icon in every size it ships, from the program's own resources.
QIcon korvaloIcon();

// Tells the desktop which program this is: the icon every window shows (title bar, task
// switcher, message boxes) and the desktop entry, by which Wayland shells find the icon and the
// name to show, since they take no icon from the window itself.
void applyDesktopIdentity();
