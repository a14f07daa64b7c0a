#pragma once

#include <functional>

namespace app {

// Runs the handler on the user-interface thread when the session asks the
// program to end: SIGTERM and SIGHUP at logout, SIGINT from a terminal.
void onEndRequest(std::function<void()> handler);

} // namespace app
