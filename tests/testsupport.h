#pragma once

#include "fakenvml/fakenvml.h"

#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/controls.h"
#include "toolkit/dispatch.h"

#include <QLibrary>
#include <QString>
#include <QTest>

#include <atomic>
#include <chrono>
#include <vector>

namespace testsupport {

// The stand-in library as the program itself finds it, on the search path.
class FakeNvml final {
public:
    explicit FakeNvml(const QString& file = QStringLiteral("libnvidia-ml.so.1")) : m_lib(file)
    {
        if (!m_lib.load())
            qFatal("stand-in NVML not found: %s", qPrintable(m_lib.errorString()));
        reset = resolve<decltype(reset)>("fakenvml_reset");
        scriptFn = resolve<decltype(scriptFn)>("fakenvml_script");
        setInitResult = resolve<decltype(setInitResult)>("fakenvml_set_init_result");
        countsFn = resolve<decltype(countsFn)>("fakenvml_get_counts");
        reset();
    }

    void script(const std::vector<int>& readings, const std::vector<int>& results = {})
    {
        scriptFn(readings.data(), results.empty() ? nullptr : results.data(),
                 static_cast<int>(readings.size()));
    }

    fakenvml_counts counts() const
    {
        fakenvml_counts c{};
        countsFn(&c);
        return c;
    }

    void (*reset)() = nullptr;
    void (*setInitResult)(int) = nullptr;

private:
    template <class F> F resolve(const char* name)
    {
        auto fn = reinterpret_cast<F>(m_lib.resolve(name));
        if (!fn)
            qFatal("stand-in NVML lacks %s", name);
        return fn;
    }

    QLibrary m_lib;
    void (*scriptFn)(const int*, const int*, int) = nullptr;
    void (*countsFn)(fakenvml_counts*) = nullptr;
};

// The sampler's clock, moved only by the test, so that deadlines and pauses
// never depend on how fast the machine is.
class ManualClock final {
public:
    using Clock = std::chrono::steady_clock;
    static void install()
    {
        sampler::setClock([] { return Clock::time_point(Clock::duration(ticks().load())); });
    }
    static void advance(std::chrono::milliseconds by)
    {
        ticks() += std::chrono::duration_cast<Clock::duration>(by).count();
    }

private:
    static std::atomic<Clock::rep>& ticks()
    {
        static std::atomic<Clock::rep> value{
            std::chrono::duration_cast<Clock::duration>(std::chrono::hours(1)).count()};
        return value;
    }
};

// One sampling tick, then the reading it started, shown as it arrives.
inline void sampleOnce(tk::Timer& sampling)
{
    sampling.tick();
    QTRY_VERIFY(!sampler::readingInFlight());
    // The reading thread posts its news before it says it is done.
    QCoreApplication::processEvents();
}

// Runs a slide timer's ticks by hand until it stops; returns how many ran.
inline int runUntilStopped(tk::Timer& timer, int limit = 1000)
{
    int ticks = 0;
    while (timer.enabled() && ticks < limit) {
        timer.tick();
        ++ticks;
    }
    return ticks;
}

// Fails the test on any report of an uncaught error instead of blocking on a
// message box.
inline void failOnFatalReport()
{
    tk::setFatalReporter([](const QString& message) {
        QFAIL(qPrintable(QStringLiteral("unexpected error report: ") + message));
    });
}

} // namespace testsupport
