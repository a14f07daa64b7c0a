#pragma once

namespace app {

inline constexpr const char* kVersion = "2.05.0003";

// The whole program: options, then the start-up form and the event loop.
int run(int argc, char** argv);

} // namespace app
