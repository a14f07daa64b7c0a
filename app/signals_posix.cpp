#include "signals.h"

#include "toolkit/dispatch.h"
#include "toolkit/events.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace app {
namespace {

int g_pipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    // Only async-signal-safe work here: the event loop does the rest.
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void onEndRequest(std::function<void()> handler)
{
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        // Said once at start: a logout will end Kelvane by the signal itself,
        // without the exit sequence.
        const std::string why = std::strerror(errno);
        std::fputs(("kelvane: cannot catch the end of the session: " + why + "\n").c_str(), stderr);
        return;
    }
    // Never destroyed: a signal may come while exit() runs.
    static tk::ReadWatch* watch = nullptr;
    if (!watch)
        watch = new tk::ReadWatch(g_pipe[0], [handler = std::move(handler)] {
            char bytes[16];
            while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
            }
            tk::dispatch(handler);
        });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

} // namespace app
