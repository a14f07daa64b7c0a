#include "select.h"

#include "hwmon.h"
#include "nvml.h"
#include "power.h"

namespace sampler {
namespace {

// Says why nothing can be read, on every tick, without touching anything.
class NoSource final : public Source {
public:
    explicit NoSource(QString why) : m_why(std::move(why)) {}
    Outcome read(unsigned, Reading&) override { return {Cause::NoDevice, m_why}; }

private:
    QString m_why;
};

} // namespace

std::unique_ptr<Source> chooseSource(const Sysfs& sysfs, const QString& nvmlLibrary)
{
    const QList<DrmCard> cards = drmCards(sysfs);
    if (cards.isEmpty())
        return std::make_unique<NvmlSource>(nvmlLibrary);

    QString why = QStringLiteral("No graphics card with a temperature sensor was found");
    for (const DrmCard& card : cards) {
        if (card.vendor == 0x10de && card.driver == QStringLiteral("nvidia")) {
            auto nvml = std::make_unique<NvmlSource>(nvmlLibrary, card.pciAddress);
            const Outcome bound = nvml->probe();
            if (bound.ok())
                return std::make_unique<SleepAwareSource>(sysfs, card, std::move(nvml));
            why = QStringLiteral("NVIDIA GPU %1 can only be read through NVML, and %2")
                      .arg(card.pciAddress, bound.detail);
        }
        auto hwmon = std::make_unique<HwmonSource>(sysfs, card);
        if (hwmon->hasSensor())
            return std::make_unique<SleepAwareSource>(sysfs, card, std::move(hwmon));
    }
    return std::make_unique<NoSource>(why);
}

} // namespace sampler
