#pragma once

#include "toolkit/picture.h"

namespace resources {

// The 16-colour thermometer: the program's, the tray host's and the
// notification-area icon.
tk::Picture programIcon();

// The 256-colour picture of the About dialog.
tk::Picture aboutIcon();

} // namespace resources
