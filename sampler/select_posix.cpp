#include "select.h"

#include "hwmon.h"
#include "nvml.h"
#include "power.h"
#include "sysfs.h"

namespace sampler {
namespace {

// Says why nothing can be read, on every tick, without touching anything.
class NoSource final : public Source {
public:
    explicit NoSource(std::string why) : m_why(std::move(why)) {}
    Outcome read(unsigned, Reading&) override { return {Cause::NoDevice, m_why}; }

private:
    std::string m_why;
};

} // namespace

std::unique_ptr<Source> defaultSource()
{
    return chooseSource(Sysfs(), NvmlSource::defaultLibrary());
}

std::unique_ptr<Source> chooseSource(const Sysfs& sysfs, const std::string& nvmlLibrary)
{
    const std::vector<DrmCard> cards = drmCards(sysfs);
    if (cards.empty())
        return std::make_unique<NvmlSource>(nvmlLibrary);

    // The first card's reason: on a desktop with one graphics card, its own.
    std::string why;
    for (const DrmCard& card : cards) {
        if (card.vendor == 0x10de && card.driver == "nvidia") {
            auto nvml = std::make_unique<NvmlSource>(nvmlLibrary, card.pciAddress);
            const Outcome bound = nvml->probe();
            if (bound.ok())
                return std::make_unique<SleepAwareSource>(sysfs, card, std::move(nvml));
            why = "NVIDIA GPU " + card.pciAddress + " can only be read through NVML, and " +
                  bound.detail;
        }
        auto hwmon = std::make_unique<HwmonSource>(sysfs, card);
        if (hwmon->hasSensor())
            return std::make_unique<SleepAwareSource>(sysfs, card, std::move(hwmon));
        if (why.empty())
            why = hwmon->noSensor();
    }
    return std::make_unique<NoSource>(why);
}

} // namespace sampler
