#include "power.h"

namespace sampler {

SleepAwareSource::SleepAwareSource(Sysfs sysfs, DrmCard card, std::unique_ptr<Source> inner)
    : m_sysfs(std::move(sysfs)), m_card(std::move(card)), m_inner(std::move(inner))
{
}

Outcome SleepAwareSource::read(unsigned index, Reading& reading)
{
    const std::string power = m_card.device + "/power/";
    const std::optional<std::string> status = m_sysfs.read(power + "runtime_status");
    if (status == "suspended") {
        // Whatever the inner source held must not pin the GPU awake either.
        m_inner->shutdown();
        return {Cause::Asleep, m_card.vendorName() + " GPU " + m_card.pciAddress +
                                   " is asleep; Kelvane does not wake it"};
    }
    const Outcome outcome = m_inner->read(index, reading);
    if (m_sysfs.read(power + "control") == "auto")
        m_inner->shutdown();
    return outcome;
}

void SleepAwareSource::shutdown()
{
    m_inner->shutdown();
}

} // namespace sampler
