#pragma once

#include "source.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace sampler {

// The temperature query of the program: monitor number, then core, ambient
// and upper temperatures in whole degrees Celsius. Returns 0 on success.
// A missing library or function raises the toolkit's error; any other
// failure returns non-zero and leaves the out-values untouched.
//
// It never waits for the GPU: readings are taken on a thread of their own,
// and the query answers with the most recent completed one, starting the
// next reading when none is in flight and the last one's pause is over.
std::int32_t NvCplGetThermalSettings(std::uint32_t monitor, std::int32_t* core,
                                     std::int32_t* ambient, std::int32_t* upper);

// The most recent completed reading, as the query answers it, without
// starting another.
std::int32_t latestThermalSettings(std::int32_t* core, std::int32_t* ambient, std::int32_t* upper);

// What the last answer carried, or why it carried no reading.
const Outcome& lastOutcome();

// Called on the user-interface thread each time a reading completes, so the
// first value shows as soon as it is there; empty to stop.
void setReadingListener(std::function<void()> listener);

// A reading not answered by then counts as lost until it comes back.
inline constexpr std::chrono::milliseconds kAnswerDeadline{2000};
// After a reading that took d, none starts for 9 d: the sampler spends at
// most a tenth of the wall time inside the GPU's driver.
inline constexpr int kPauseFactor = 9;
// The plausible range of a GPU's core temperature, in degrees Celsius.
inline constexpr std::int64_t kLowestPlausible = -50;
inline constexpr std::int64_t kHighestPlausible = 200;

// Chooses the source the readings use from now on; the first reading picks
// one itself when none was chosen. Forgets the last reading.
void useSource(std::unique_ptr<Source> source);

// Drops the last reading, and any on its way, so that the next answers come
// from readings started after this call; causes already named on the
// terminal will be named again.
void forgetReadings();

// Whether a reading is on its way.
bool readingInFlight();

// Replaces the clock the deadline and the pause are measured with; for tests.
using Clock = std::function<std::chrono::steady_clock::time_point()>;
void setClock(Clock clock);

// Replaces how the reading thread is started (a detached std::thread, also
// when starter is empty); for tests. A starter that throws stands for a
// system out of threads.
using ThreadStarter = std::function<void(std::function<void()>)>;
void setThreadStarter(ThreadStarter starter);

// Lets go of the source, however the program ends. A reading still in the
// driver is left behind rather than waited for; its thread then touches
// nothing that the end of the program destroys.
void shutdown();

} // namespace sampler
