#pragma once

#include <QString>

namespace Module1 {

// The peak core temperature since the popup last loaded, as decimal text.
extern QString peakText;

} // namespace Module1
