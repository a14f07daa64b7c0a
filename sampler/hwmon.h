#pragma once

#include "source.h"
#include "sysfs.h"

namespace sampler {

// A card's temperature through the kernel's hwmon interface: amdgpu's
// "edge" sensor, nouveau's temp1, the package or GPU sensor of Intel's xe
// and i915 where the driver has one.
class HwmonSource final : public Source {
public:
    HwmonSource(Sysfs sysfs, DrmCard card);

    Outcome read(unsigned index, Reading& reading) override;

    // Whether the card has a sensor this source can read; looks it up.
    bool hasSensor();

private:
    struct Sensor {
        std::string input;
        std::string label; // for the tooltip
    };
    std::optional<Sensor> findSensor() const;
    std::string gpuName() const;

    Sysfs m_sysfs;
    DrmCard m_card;
    std::optional<Sensor> m_sensor;
};

} // namespace sampler
