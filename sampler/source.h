#pragma once

#include <cstdint>
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
    Pending,      // the first reading is still on its way
};

struct Outcome {
    Cause cause = Cause::None;
    std::string detail; // for the user: what failed, or which GPU was read

    bool ok() const { return cause == Cause::None; }
};

struct Reading {
    std::int64_t core = 0; // wide, so that a garbage value cannot pass for a sane one
    std::int32_t upper = 0;
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
