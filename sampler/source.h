#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace sampler {

// Why a query gave no reading. Each cause is reported once on stderr.
enum class Cause {
    None,
    LibraryMissing,
    FunctionMissing,
    InitFailed,
    NoDevice,
    QueryFailed,
    Asleep,
    Unreadable,
    Implausible,  // a value no GPU reports while it works
    NotAnswering, // a reading is taking too long
    NoThread,     // the reading thread could not be started
    Failed,       // the reading ended in an unexpected error
    Pending,      // the first reading is still on its way
};

struct Outcome {
    Cause cause = Cause::None;
    std::string detail; // for the user: what failed, or which GPU was read

    bool ok() const { return cause == Cause::None; }
};

// What a reading holds until a source writes a temperature into it.
inline constexpr std::int64_t kUnread = std::numeric_limits<std::int64_t>::min();

// Whole degrees, as the popup shows them, with halves away from zero: a
// sensor's thousandths or tenths of a degree (perDegree 1000 or 10).
inline std::int64_t wholeDegrees(std::int64_t value, std::int64_t perDegree)
{
    std::int64_t whole = value / perDegree;
    const std::int64_t rest = value % perDegree;
    if (2 * rest >= perDegree)
        ++whole;
    else if (2 * rest <= -perDegree)
        --whole;
    return whole;
}

struct Reading {
    std::int64_t core = kUnread; // wide, so that a garbage value cannot pass for a sane one
};

// One way of reading the first GPU's core temperature.
class Source {
public:
    Source() = default;
    virtual ~Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    // Fills reading only on success.
    virtual Outcome read(unsigned index, Reading& reading) = 0;
    // Lets go of whatever the source holds; the next read starts afresh.
    virtual void shutdown() {}
};

} // namespace sampler
