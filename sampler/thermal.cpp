#include "thermal.h"
#include "nvml.h"
#include "select.h"

#include "toolkit/error.h"

#include <QSet>

#include <cstdio>

namespace sampler {
namespace {

struct State {
    std::unique_ptr<Source> source;
    Outcome last{Cause::NoDevice, QStringLiteral("No reading yet")};
    QSet<QString> reported;
};

State& state()
{
    static State s;
    return s;
}

void reportOnce(const Outcome& outcome)
{
    // Twice a second for hours would drown the terminal; each cause once.
    const QString key = QString::number(static_cast<int>(outcome.cause)) + outcome.detail;
    if (state().reported.contains(key))
        return;
    state().reported.insert(key);
    std::fprintf(stderr, "kelvane: no GPU temperature: %s\n", qUtf8Printable(outcome.detail));
    std::fflush(stderr);
}

} // namespace

qint32 NvCplGetThermalSettings(quint32 monitor, qint32* core, qint32* ambient, qint32* upper)
{
    State& s = state();
    if (!s.source)
        s.source = chooseSource(Sysfs(), NvmlSource::defaultLibrary());

    Reading reading;
    s.last = s.source->read(monitor, reading);
    switch (s.last.cause) {
    case Cause::None:
        if (core)
            *core = reading.core;
        if (ambient)
            *ambient = 0;
        if (upper)
            *upper = reading.upper;
        return 0;
    case Cause::LibraryMissing:
        reportOnce(s.last);
        throw tk::Error(tk::Status::FileNotFound, s.last.detail);
    case Cause::FunctionMissing:
        reportOnce(s.last);
        throw tk::Error(tk::Status::EntryPointNotFound, s.last.detail);
    default:
        reportOnce(s.last);
        return static_cast<qint32>(s.last.cause);
    }
}

const Outcome& lastOutcome()
{
    return state().last;
}

void useSource(std::unique_ptr<Source> source)
{
    State& s = state();
    if (s.source)
        s.source->shutdown();
    s.source = std::move(source);
    s.last = {Cause::NoDevice, QStringLiteral("No reading yet")};
}

void shutdown()
{
    State& s = state();
    if (s.source)
        s.source->shutdown();
}

} // namespace sampler
