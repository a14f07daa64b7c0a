#include "signals.h"

#include "toolkit/dispatch.h"
#include "toolkit/events.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace app {

void onEndRequest(std::function<void()> handler)
{
    // Windows ends a session, and an installer a program it must replace
    // (ENDSESSION_CLOSEAPP), by asking every top-level window; the process
    // is ended once they have answered WM_ENDSESSION.
    tk::onProgramMessage(WM_QUERYENDSESSION, [](std::uintptr_t, std::intptr_t) { return TRUE; });
    tk::onProgramMessage(WM_ENDSESSION,
                         [end = std::move(handler)](std::uintptr_t ending, std::intptr_t) {
                             if (ending && end)
                                 tk::dispatch(end);
                             return 0;
                         });
}

} // namespace app
