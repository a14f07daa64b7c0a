#pragma once

#include "source.h"

#include <memory>
#include <string>

namespace sampler {

class Sysfs;

// The source the sampler reads, chosen from the graphics cards: on Linux in
// sysfs, on Windows as SetupAPI lists them.
std::unique_ptr<Source> defaultSource();

// The best way to read the machine's first GPU, in PCI bus order: NVML for an
// NVIDIA card on the vendor driver, else the hwmon sensor of the first card
// that has one. With no graphics card listed at all (no sysfs, another
// system) NVML is tried as it is. Linux only.
std::unique_ptr<Source> chooseSource(const Sysfs& sysfs, const std::string& nvmlLibrary);

} // namespace sampler
