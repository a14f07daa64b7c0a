#pragma once

#include <QFont>
#include <QtGlobal>

#include <functional>
#include <memory>

namespace tk {

class Instance {
public:
    Instance() = default;
    virtual ~Instance() = default;
    Q_DISABLE_COPY_MOVE(Instance)

    // The terminate event, raised once when the instance is finally released.
    virtual void terminate() {}
};

// Sets the application up the way the forms expect: the program, not Qt,
// decides when it ends, and every control uses the same default font.
void init();

// The face and size every caption of the program was laid out for.
QFont defaultFont();

// Runs the event loop until no form is loaded; returns the exit status.
int exec();

// 0 unless an uncaught error ended the program.
int exitStatus() noexcept;

// Releases every global instance, newest first, raising their terminate
// events. Must run while the QApplication still exists.
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
    Q_DISABLE_COPY_MOVE(Global)

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
