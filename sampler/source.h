#pragma once

#include <QString>
#include <QtGlobal>

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
    QString detail; // for the user: what failed, or which GPU was read

    bool ok() const { return cause == Cause::None; }
};

struct Reading {
    qint64 core = 0; // wide, so that a garbage value cannot pass for a sane one
    qint32 upper = 0;
};

// One way of reading the first GPU's core temperature.
class Source {
public:
    Source() = default;
    virtual ~Source() = default;
    Q_DISABLE_COPY_MOVE(Source)

    // Fills reading only on success.
    virtual Outcome read(unsigned index, Reading& reading) = 0;
    // Lets go of whatever the source holds; the next read starts afresh.
    virtual void shutdown() {}
};

} // namespace sampler
