#include "thermal.h"
#include "nvml.h"
#include "select.h"

#include "toolkit/base/error.h"
#include "toolkit/base/post.h"

#include <bitset>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sampler {
namespace {

using TimePoint = std::chrono::steady_clock::time_point;

// Shared by the user-interface thread and the reading thread. Never
// destroyed: a reading thread stuck in a driver call may outlive main().
struct Engine {
    std::uint64_t thread = 0;                        // the reading thread's number
    std::vector<std::shared_ptr<Source>> leftBehind; // by threads let go in a driver call
    std::mutex mutex;
    std::condition_variable work; // wakes the reading thread
    std::condition_variable done; // wakes whoever waits for it
    Clock clock = [] { return std::chrono::steady_clock::now(); };

    std::shared_ptr<Source> source;
    std::vector<std::shared_ptr<Source>> retired; // to be let go on the reading thread
    std::uint64_t generation = 0;                 // answers of a replaced source are dropped
    bool threadRunning = false;
    bool requested = false;
    bool inFlight = false;
    bool quitting = false;
    unsigned monitor = 0;
    TimePoint startedAt{};
    TimePoint nextStart{};

    bool haveResult = false;
    Outcome result;
    Reading reading;
    std::uint64_t resultNumber = 0;   // counts the results
    std::uint64_t answeredNumber = 0; // the result the last answer gave, 0 for none
};

Outcome pending()
{
    return {Cause::Pending, "No reading yet"};
}

Engine& engine()
{
    static Engine* e = new Engine;
    return *e;
}

// Lives on the user-interface thread only.
struct Shown {
    Outcome last = pending();
    std::bitset<static_cast<std::size_t>(Cause::Pending) + 1> reported;
    std::function<void()> listener;
};

Shown& shown()
{
    // Never destroyed: the program may end from an exit() that a library
    // calls, and lets go of the sampler then.
    static auto* s = new Shown;
    return *s;
}

void reportOnce(const Outcome& outcome)
{
    // Twice a second for hours would drown the terminal: each cause once,
    // whatever value or name it carries this time.
    const auto cause = static_cast<std::size_t>(outcome.cause);
    if (shown().reported.test(cause))
        return;
    shown().reported.set(cause);
    std::fputs(("kelvane: no GPU temperature: " + outcome.detail + "\n").c_str(), stderr);
    std::fflush(stderr);
}

Outcome checkPlausible(const Outcome& outcome, const Reading& reading)
{
    if (!outcome.ok() || (reading.core >= kLowestPlausible && reading.core <= kHighestPlausible))
        return outcome;
    if (reading.core == kUnread)
        return {Cause::QueryFailed, "no temperature from " + outcome.detail};
    return {Cause::Implausible,
            "implausible value " + std::to_string(reading.core) + " from " + outcome.detail};
}

void notifyListener()
{
    tk::post([] {
        if (shown().listener)
            shown().listener();
    });
}

// Driver and sysfs text goes to the terminal and the tip: without control
// characters (C0, DEL and, in UTF-8, C1), a device name cannot move the
// cursor or recolour the terminal.
std::string printable(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7f)
            continue;
        if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            ++i;
            continue;
        }
        out += text[i];
    }
    return out;
}

// Nothing a source throws may leave the reading thread: it would end the
// program. It becomes this reading's failure instead.
Outcome readFrom(std::shared_ptr<Source>& source, unsigned monitor, Reading& reading)
{
    try {
        if (!source)
            source = defaultSource();
        return checkPlausible(source->read(monitor, reading), reading);
    } catch (const std::exception& error) {
        reading = {};
        return {Cause::Failed, std::string("the reading failed: ") + error.what()};
    } catch (...) {
        reading = {};
        return {Cause::Failed, "the reading failed"};
    }
}

// Lets go of the sources replaced on the reading thread, where their
// driver calls are made. False once the thread itself has been let go.
bool letGoOfRetired(Engine& e, std::unique_lock<std::mutex>& lock, std::uint64_t self)
{
    while (!e.retired.empty()) {
        std::shared_ptr<Source> old = std::move(e.retired.back());
        e.retired.pop_back();
        lock.unlock();
        try {
            old->shutdown();
        } catch (...) {
            // Let go of all the same; nothing is left to tell.
        }
        lock.lock();
        if (e.thread != self) {
            e.leftBehind.push_back(std::move(old));
            return false;
        }
        old.reset();
    }
    return true;
}

void record(Engine& e, const Outcome& outcome, const Reading& reading, TimePoint begin,
            TimePoint end)
{
    // At rest most readings repeat the one on show: the user interface is
    // woken only for news.
    const bool shownAlready = e.haveResult && e.answeredNumber == e.resultNumber &&
                              outcome.cause == e.result.cause &&
                              outcome.detail == e.result.detail && reading.core == e.reading.core;
    e.result = outcome;
    e.reading = reading;
    e.haveResult = true;
    ++e.resultNumber;
    if (shownAlready)
        e.answeredNumber = e.resultNumber;
    e.nextStart = end + kPauseFactor * (end - begin);
    if (!shownAlready && !e.quitting)
        notifyListener();
}

// One reading, taken outside the lock. False once the thread has been let
// go while it was in the driver: the program is ending, and the thread
// touches nothing more.
bool takeReading(Engine& e, std::unique_lock<std::mutex>& lock, std::uint64_t self)
{
    e.requested = false;
    const std::uint64_t generation = e.generation;
    const unsigned monitor = e.monitor;
    const Clock clock = e.clock;
    std::shared_ptr<Source> source = e.source;
    const bool chosenHere = !source;
    lock.unlock();

    const TimePoint begin = clock();
    Reading reading;
    Outcome outcome = readFrom(source, monitor, reading);
    outcome.detail = printable(outcome.detail);
    const TimePoint end = clock();

    lock.lock();
    if (e.thread != self) {
        e.leftBehind.push_back(std::move(source));
        return false;
    }
    e.inFlight = false;
    if (generation == e.generation) {
        if (!e.source)
            e.source = source;
        record(e, outcome, reading, begin, end);
    } else if (chosenHere) {
        // Replaced while it was being chosen; nobody else holds it.
        e.retired.push_back(std::move(source));
    }
    e.done.notify_all();
    return true;
}

void readingThread(Engine& e, std::uint64_t self)
{
    std::unique_lock lock(e.mutex);
    for (;;) {
        e.work.wait(lock, [&] {
            return e.requested || !e.retired.empty() || e.quitting || e.thread != self;
        });
        if (e.thread != self || !letGoOfRetired(e, lock, self))
            return;
        if (e.requested && !takeReading(e, lock, self))
            return;
        if (e.quitting && !e.requested && e.retired.empty()) {
            e.threadRunning = false;
            e.done.notify_all();
            return;
        }
    }
}

// Detached: at exit a reading stuck in the driver is left behind, never
// joined.
void startDetached(std::function<void()> body)
{
    std::thread(std::move(body)).detach();
}

ThreadStarter& threadStarter()
{
    static ThreadStarter starter = startDetached;
    return starter;
}

// Throws when the system has no thread to give (std::system_error, EAGAIN);
// the engine is then as it was.
void startThread(Engine& e)
{
    if (e.threadRunning)
        return;
    const std::uint64_t self = e.thread + 1;
    threadStarter()([&e, self] { readingThread(e, self); });
    e.thread = self;
    e.threadRunning = true;
}

// Starts a reading when none is on its way and the last one's pause is
// over. Throws when no thread can be had; the engine is then as it was.
bool startReading(Engine& e, TimePoint now, std::uint32_t monitor)
{
    if (e.inFlight || e.quitting || now < e.nextStart)
        return false;
    startThread(e);
    e.requested = true;
    e.inFlight = true;
    e.startedAt = now;
    e.monitor = monitor;
    return true;
}

Outcome latest(bool start, std::uint32_t monitor, Reading& reading)
{
    Engine& e = engine();
    bool wake = false;
    Outcome outcome = pending();
    {
        std::lock_guard lock(e.mutex);
        const TimePoint now = e.clock();
        std::optional<Outcome> noThread;
        try {
            wake = start && startReading(e, now, monitor);
        } catch (const std::exception& error) {
            // Tried again on the next tick.
            noThread = Outcome{Cause::NoThread,
                               std::string("the reading could not start: ") + error.what()};
        }
        e.answeredNumber = 0;
        if (noThread)
            outcome = *noThread;
        else if (e.inFlight && now - e.startedAt >= kAnswerDeadline)
            outcome = {Cause::NotAnswering, "the GPU is not answering"};
        else if (e.haveResult)
            outcome = e.result, reading = e.reading, e.answeredNumber = e.resultNumber;
    }
    // Outside the lock: a thread woken while it is held would at once sleep
    // again on the mutex, two wake-ups per reading instead of one.
    if (wake)
        e.work.notify_one();
    return outcome;
}

std::int32_t answer(bool start, std::uint32_t monitor, std::int32_t* core, std::int32_t* ambient,
                    std::int32_t* upper)
{
    Reading reading;
    const Outcome outcome = latest(start, monitor, reading);
    shown().last = outcome;
    switch (outcome.cause) {
    case Cause::None:
        if (core)
            *core = static_cast<std::int32_t>(reading.core);
        if (ambient)
            *ambient = 0;
        if (upper)
            *upper = 0;
        return 0;
    case Cause::Pending:
        return static_cast<std::int32_t>(outcome.cause);
    case Cause::LibraryMissing:
        reportOnce(outcome);
        throw tk::Error(tk::Status::FileNotFound, outcome.detail);
    case Cause::FunctionMissing:
        reportOnce(outcome);
        throw tk::Error(tk::Status::EntryPointNotFound, outcome.detail);
    default:
        reportOnce(outcome);
        return static_cast<std::int32_t>(outcome.cause);
    }
}

} // namespace

std::int32_t NvCplGetThermalSettings(std::uint32_t monitor, std::int32_t* core,
                                     std::int32_t* ambient, std::int32_t* upper)
{
    return answer(true, monitor, core, ambient, upper);
}

std::int32_t latestThermalSettings(std::int32_t* core, std::int32_t* ambient, std::int32_t* upper)
{
    return answer(false, 0, core, ambient, upper);
}

const Outcome& lastOutcome()
{
    return shown().last;
}

void setReadingListener(std::function<void()> listener)
{
    shown().listener = std::move(listener);
}

void forgetReadings()
{
    Engine& e = engine();
    std::lock_guard lock(e.mutex);
    ++e.generation;
    e.haveResult = false;
    e.nextStart = {};
    shown().last = pending();
    // A new source, or a new popup, names its causes afresh.
    shown().reported.reset();
}

void useSource(std::unique_ptr<Source> source)
{
    {
        Engine& e = engine();
        std::lock_guard lock(e.mutex);
        if (e.source)
            e.retired.push_back(std::move(e.source));
        e.source = std::move(source);
        if (!e.retired.empty()) {
            try {
                startThread(e);
                e.work.notify_one();
            } catch (const std::exception&) {
                // The retired sources are let go when a thread runs at last.
            }
        }
    }
    forgetReadings();
}

bool readingInFlight()
{
    Engine& e = engine();
    std::lock_guard lock(e.mutex);
    return e.inFlight;
}

void setClock(Clock clock)
{
    Engine& e = engine();
    std::lock_guard lock(e.mutex);
    e.clock = std::move(clock);
}

void setThreadStarter(ThreadStarter starter)
{
    Engine& e = engine();
    std::lock_guard lock(e.mutex);
    threadStarter() = starter ? std::move(starter) : startDetached;
}

namespace {

// The program ends while the reading thread is in a driver call: it is left
// there, with the sources it may yet touch, and finds itself let go when it
// comes back.
void leaveBehind(Engine& e)
{
    ++e.thread;
    e.threadRunning = false;
    e.inFlight = false;
    e.requested = false;
    e.quitting = false;
    for (auto& source : e.retired)
        e.leftBehind.push_back(std::move(source));
    e.retired.clear();
}

} // namespace

void shutdown()
{
    shown().listener = nullptr;
    Engine& e = engine();
    std::unique_lock lock(e.mutex);
    if (e.source)
        e.retired.push_back(std::move(e.source));
    e.haveResult = false;
    ++e.generation;
    if (!e.threadRunning) {
        // Nothing was ever read on a thread; let go here.
        std::vector<std::shared_ptr<Source>> retired = std::move(e.retired);
        e.retired.clear();
        lock.unlock();
        for (auto& source : retired)
            source->shutdown();
        return;
    }
    if (!e.inFlight) {
        e.quitting = true;
        e.work.notify_one();
        // Letting go of NVML is quick when the driver is well; a second at most.
        e.done.wait_for(lock, std::chrono::seconds(1), [&] { return !e.threadRunning; });
        e.quitting = false;
        if (!e.threadRunning)
            return;
    }
    leaveBehind(e);
}

} // namespace sampler
