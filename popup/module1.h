#pragma once

#include <string>

namespace Module1 {

// The peak core temperature since the popup last loaded, as decimal text.
extern std::string peakText;

} // namespace Module1
