#pragma once

namespace app {

inline constexpr const char* kVersion = "2.05.0003";

// The whole program: options, then the start-up form and the event loop.
int run(int argc, char** argv);

// Loads the start-up form, runs the event loop until the program ends and
// releases the forms and the temperature source. Needs a tk::Application;
// returns the exit status.
int runForms();

} // namespace app
