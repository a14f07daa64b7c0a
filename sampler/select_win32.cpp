#include "select.h"

#include "nvml.h"

namespace sampler {

std::unique_ptr<Source> defaultSource()
{
    // Windows has no sysfs to choose from; NVML finds the first GPU itself.
    return std::make_unique<NvmlSource>(NvmlSource::defaultLibrary());
}

} // namespace sampler
