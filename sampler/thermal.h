#pragma once

#include "source.h"

#include <memory>

namespace sampler {

// The temperature query of the program: monitor number, then core, ambient
// and upper temperatures in whole degrees Celsius. Returns 0 on success.
// A missing library or function raises the toolkit's error; any other
// failure returns non-zero and leaves the out-values untouched.
qint32 NvCplGetThermalSettings(quint32 monitor, qint32* core, qint32* ambient, qint32* upper);

// What the last query read, or why it read nothing.
const Outcome& lastOutcome();

// Chooses the source the queries use from now on; the first query picks one
// itself when none was chosen.
void useSource(std::unique_ptr<Source> source);

// Lets go of the source, when the program ends.
void shutdown();

} // namespace sampler
