#pragma once

namespace app {

// The session is ending: the exit sequence, and the About dialog closes too
// rather than keeping the program alive.
void endSession();

} // namespace app
