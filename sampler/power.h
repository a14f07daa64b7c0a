#pragma once

#include "source.h"
#include "sysfs.h"

#include <memory>

namespace sampler {

// Leaves a sleeping GPU asleep. Polling twice a second would keep a laptop's
// discrete GPU out of its low-power state for good, so a GPU is queried only
// while its runtime status is "active" (or it has no runtime power
// management). Where the kernel manages the GPU's power
// ("auto"), the inner source is released after every read so that it holds
// nothing that could keep the GPU awake.
class SleepAwareSource final : public Source {
public:
    SleepAwareSource(Sysfs sysfs, DrmCard card, std::unique_ptr<Source> inner);

    Outcome read(unsigned index, Reading& reading) override;
    void shutdown() override;

private:
    Sysfs m_sysfs;
    DrmCard m_card;
    std::unique_ptr<Source> m_inner;
};

} // namespace sampler
