#pragma once

#include "types.h"

#include <functional>
#include <memory>

namespace tk {

class Instance {
public:
    Instance() = default;
    virtual ~Instance() = default;
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    // The terminate event, raised once when the instance is finally released.
    virtual void terminate() {}
};

// The window system, open for as long as it exists, set up the way the forms
// expect: the program, not the window system, decides when it ends, and
// every control uses the same small face. A display that cannot be opened
// ends the process with one line on stderr and status 1.
class Application final : Fixed {
public:
    Application(int& argc, char** argv);
    ~Application();

private:
    struct Native;
    std::unique_ptr<Native> m_native;
};

// Runs the event loop until no form is loaded; returns the exit status.
int exec();

// What must be let go of however the program ends. programEnds() runs it,
// once: the program after exec() returns, and the backend before a lost
// display ends the process without returning.
void atProgramEnd(std::function<void()> handler);
void programEnds() noexcept;

// Handles the window system's pending events, then any that come within
// waitMs; for tests and tools that drive the program themselves.
void processEvents(int waitMs = 0);

// 0 unless an uncaught error ended the program.
int exitStatus() noexcept;

// Releases every global instance, newest first, raising their terminate
// events. Must run while the Application still exists.
void releaseInstances();

// Called by forms on load and unload; the program ends once the count drops
// to zero and the running handler has returned.
void formLoaded();
void formUnloaded();
int loadedForms() noexcept;

namespace detail {
void registerInstance(Instance* instance, std::function<void()> forget);
void fail(int status);
} // namespace detail

// One global instance of a form, created on first reference.
template <class T> class Global final {
public:
    constexpr Global() = default;
    Global(const Global&) = delete;
    Global& operator=(const Global&) = delete;

    T& get()
    {
        if (!m_instance) {
            auto created = std::make_unique<T>();
            m_instance = created.get();
            detail::registerInstance(created.release(), [this] { m_instance = nullptr; });
        }
        return *m_instance;
    }
    T* operator->() { return &get(); }
    T& operator*() { return get(); }
    bool exists() const noexcept { return m_instance != nullptr; }

private:
    T* m_instance = nullptr;
};

} // namespace tk
