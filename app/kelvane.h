#pragma once

namespace app {

// From the build, which holds the one version.
inline constexpr const char* kVersion = KELVANE_VERSION;

// The whole program: options, then the start-up form and the event loop.
int run(int argc, char** argv);

// Connects the parts of the program, once its tk::Application exists.
void wire();

// Loads the start-up form, runs the event loop until the program ends and
// releases the forms and the temperature source. Needs a tk::Application;
// returns the exit status.
int runForms();

} // namespace app
