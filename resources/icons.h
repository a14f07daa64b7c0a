#pragma once

#include <QIcon>

namespace resources {

// The 16-colour thermometer: the program's, the tray host's and the
// notification-area icon.
QIcon programIcon();

// The 256-colour picture of the About dialog.
QIcon aboutIcon();

} // namespace resources
