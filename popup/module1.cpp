#include "module1.h"

namespace Module1 {

std::string peakText;

} // namespace Module1
