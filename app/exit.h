#pragma once

namespace app {

// "Quitter": unload the tray host, then the popup. The program ends by
// itself once no form is loaded.
void exitSequence();

} // namespace app
