#pragma once

namespace app {

// "Quitter": unload the tray host, then the popup. The program ends by
// itself once no form is loaded.
void exitSequence();

// The session is ending: the exit sequence, and the About dialog closes too
// rather than keeping the program alive.
void endSession();

} // namespace app
