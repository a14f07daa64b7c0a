#include "application.h"
#include "backend.h"
#include "dispatch.h"

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace tk {
namespace {

struct Registered {
    std::unique_ptr<Instance> instance;
    std::function<void()> forget;
};

std::vector<Registered>& registry()
{
    // Never destroyed by exit(): a window system may call it itself when its
    // display goes away, and windows destroyed after that crash.
    // releaseInstances() empties it on every ordinary end.
    static auto* instances = new std::vector<Registered>;
    return *instances;
}

int g_loadedForms = 0;
int g_exitStatus = 0;
bool g_failed = false;
unsigned long long g_events = 0; // handlers dispatched so far
unsigned long long g_event = 0;  // the running one's, or 0
FatalReporter g_reporter;

// Reports the exception being handled as an uncaught error.
void reportUncaught() noexcept
{
    try {
        throw;
    } catch (const std::exception& e) {
        detail::reportFatal(e.what());
    } catch (...) {
        detail::reportFatal("Unknown error");
    }
}

void endIfNothingLoaded()
{
    // Queued so that the handler which unloaded the last form finishes first.
    backend::postToLoop([] {
        if (g_loadedForms == 0 && !g_failed)
            backend::quit(g_exitStatus);
    });
}

} // namespace

int exec()
{
    if (g_failed || g_loadedForms == 0)
        return g_exitStatus;
    const int status = backend::runLoop();
    return g_failed ? g_exitStatus : status;
}

int exitStatus() noexcept
{
    return g_exitStatus;
}

void releaseInstances()
{
    auto& instances = registry();
    while (!instances.empty()) {
        Registered entry = std::move(instances.back());
        instances.pop_back();
        dispatch([&entry] { entry.instance->terminate(); });
        entry.forget();
        entry.instance.reset();
    }
}

void formLoaded()
{
    ++g_loadedForms;
}

void formUnloaded()
{
    if (g_loadedForms > 0)
        --g_loadedForms;
    if (g_loadedForms == 0)
        endIfNothingLoaded();
}

int loadedForms() noexcept
{
    return g_loadedForms;
}

void detail::registerInstance(Instance* instance, std::function<void()> forget)
{
    registry().push_back({std::unique_ptr<Instance>(instance), std::move(forget)});
}

void detail::fail(int status)
{
    g_failed = true;
    g_exitStatus = status;
    backend::quit(status);
}

void dispatch(const std::function<void()>& handler) noexcept
{
    if (g_failed)
        return;
    // Handlers nest (a window call can deliver another message); the event
    // is the outermost one's.
    const bool outermost = g_event == 0;
    if (outermost)
        g_event = ++g_events;
    try {
        handler();
    } catch (...) {
        reportUncaught();
    }
    if (outermost)
        g_event = 0;
}

int guardProgram(const std::function<int()>& program) noexcept
{
    try {
        return program();
    } catch (...) {
        reportUncaught();
    }
    return 1;
}

unsigned long long detail::currentEvent() noexcept
{
    return g_event;
}

namespace {

// Never destroyed: a reading thread may post while exit() runs.
struct Posting {
    std::mutex mutex;
    bool open = false;
};

Posting& posting()
{
    static auto* p = new Posting;
    return *p;
}

std::function<void()>& endHandler()
{
    static auto* handler = new std::function<void()>;
    return *handler;
}

} // namespace

void postToDispatch(std::function<void()> work)
{
    std::lock_guard lock(posting().mutex);
    if (posting().open)
        backend::postToLoop([work = std::move(work)] { dispatch(work); });
}

void detail::acceptPosts(bool accept)
{
    std::lock_guard lock(posting().mutex);
    posting().open = accept;
}

void atProgramEnd(std::function<void()> handler)
{
    endHandler() = std::move(handler);
}

void programEnds() noexcept
{
    if (std::function<void()> handler = std::exchange(endHandler(), nullptr)) {
        try {
            handler();
        } catch (...) {
            // Ending all the same.
        }
    }
}

bool failed() noexcept
{
    return g_failed;
}

void setFatalReporter(FatalReporter reporter)
{
    g_reporter = std::move(reporter);
}

void detail::reportFatal(const std::string& message) noexcept
{
    if (g_failed)
        return;
    // Set before the box opens: timers keep ticking under a modal dialog and
    // must not run more handlers or stack further reports.
    g_failed = true;
    g_exitStatus = 1;
    std::fputs(("kelvane: " + message + "\n").c_str(), stderr);
    std::fflush(stderr);
    try {
        if (g_reporter)
            g_reporter(message);
        else
            backend::showFatal(message);
    } catch (...) {
    }
    detail::fail(1);
}

} // namespace tk
