#include "controls.h"
#include "dispatch.h"

namespace tk {

Timer::Timer(std::string name, std::weak_ptr<const void> life, int intervalMs, bool enabled)
    : Control(std::move(name), std::move(life)), m_interval(intervalMs), m_enabled(enabled)
{
}

void Timer::tick()
{
    if (m_enabled && m_tick && !m_halted)
        dispatch(m_tick);
}

void Timer::setEnabled(bool enabled)
{
    if (m_halted)
        throwObjectUnloaded();
    m_enabled = enabled;
    update();
}

void Timer::onTick(Handler handler)
{
    m_tick = std::move(handler);
    update();
}

void Timer::halt()
{
    m_halted = true;
    stop();
}

void Timer::update()
{
    // A timer without a tick handler would only wake the process for nothing.
    const bool run = m_enabled && m_tick && !m_halted;
    if (run && !running())
        start();
    else if (!run)
        stop();
}

} // namespace tk
