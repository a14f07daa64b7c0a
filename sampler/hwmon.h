#pragma once

#include "source.h"
#include "sysfs.h"

namespace sampler {

// A card's temperature through the kernel's hwmon interface: amdgpu's
// "edge" sensor (its junction where it has no edge), radeon's and nouveau's
// temp1, the package or GPU sensor of Intel's xe. i915 exports none.
class HwmonSource final : public Source {
public:
    HwmonSource(Sysfs sysfs, DrmCard card);

    Outcome read(unsigned index, Reading& reading) override;

    // Whether the card has a sensor this source can read; looks it up.
    bool hasSensor();
    // Why it has none, naming the card and its driver.
    std::string noSensor() const;

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
