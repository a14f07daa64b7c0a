#pragma once

#include "base/error.h"
#include "types.h"

#include <memory>
#include <string>

namespace tk {

// A control of a loaded form. It lives as long as its form stays loaded;
// the window system may free it later than that.
class Control : Fixed {
public:
    virtual ~Control() = default;

    const std::string& name() const { return m_name; }
    // Expires when the form unloads.
    const std::weak_ptr<const void>& life() const { return m_life; }

protected:
    Control(std::string name, std::weak_ptr<const void> life)
        : m_name(std::move(name)), m_life(std::move(life))
    {
    }

private:
    std::string m_name;
    std::weak_ptr<const void> m_life;
};

class Label : public Control {
public:
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual std::string tip() const = 0;
    virtual void setTip(const std::string& tip) = 0;
    virtual Color foreColor() const = 0;
    virtual void setForeColor(Color color) = 0;
    // Opaque labels paint their background colour; transparent ones keep it
    // but let the form show through.
    virtual Color backColor() const = 0;
    virtual void setBackColor(Color color) = 0;
    virtual bool isOpaque() const = 0;
    virtual void setOpaque(bool opaque) = 0;
    virtual void setCentred(bool centred) = 0;
    virtual void setPointer(Pointer pointer) = 0;
    virtual void onClick(Handler handler) = 0;
    // A left click, exactly as the mouse would give it.
    virtual void click() = 0;

protected:
    using Control::Control;
};

class CommandButton : public Control {
public:
    virtual std::string caption() const = 0;
    virtual void onClick(Handler handler) = 0;
    virtual void click() = 0;
    virtual void setFocus() = 0;
    // Whether it has the keyboard, or will have it once its window is shown.
    virtual bool hasFocus() const = 0;

protected:
    using Control::Control;
};

// An outline rectangle one pixel wide in the window-text colour. Clicks go
// through it to whatever lies underneath.
class Shape : public Control {
protected:
    using Control::Control;
};

class Image : public Control {
protected:
    using Control::Control;
};

class Timer : public Control {
public:
    bool enabled() const noexcept { return m_enabled; }
    void setEnabled(bool enabled);
    int interval() const noexcept { return m_interval; }
    void onTick(Handler handler);
    // One tick now, exactly as an expiry of the timer would run it.
    void tick();
    // Stops for good when its form unloads.
    void halt();
    // Whether the window system will wake the program for it.
    virtual bool running() const = 0;

protected:
    Timer(std::string name, std::weak_ptr<const void> life, int intervalMs, bool enabled);
    virtual void start() = 0;
    virtual void stop() = 0;

private:
    void update();

    Handler m_tick;
    int m_interval;
    bool m_enabled;
    bool m_halted = false;
};

// A control of a loaded form; using it after its form unloaded raises an
// error instead of touching a destroyed one.
template <class T> class Ref final {
public:
    Ref& operator=(T& control)
    {
        m_control = &control;
        m_life = control.life();
        return *this;
    }
    T* operator->() const { return &get(); }
    T& get() const
    {
        if (m_life.expired())
            throwObjectUnloaded();
        return *m_control;
    }
    explicit operator bool() const { return !m_life.expired(); }

private:
    T* m_control = nullptr;
    std::weak_ptr<const void> m_life;
};

} // namespace tk
