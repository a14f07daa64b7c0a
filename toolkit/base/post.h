#pragma once

#include <functional>

namespace tk {

// Runs work on the user-interface thread once the current event is done.
// Safe to call from any thread. Whatever runs the user interface says how
// (the toolkit does, through its event loop); until it has, and once it is
// gone, the work is dropped.
void post(std::function<void()> work);

using Poster = void (*)(std::function<void()> work);
void setPoster(Poster poster);

} // namespace tk
