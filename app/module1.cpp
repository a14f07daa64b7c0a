#include "module1.h"

namespace Module1 {

QString peakText;

} // namespace Module1
