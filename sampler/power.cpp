#include "power.h"

namespace sampler {
namespace {

std::string describe(const std::string& status)
{
    if (status == "suspended")
        return "asleep";
    if (status == "suspending")
        return "going to sleep";
    if (status == "resuming")
        return "waking up";
    return "in power state \"" + status + "\"";
}

} // namespace

SleepAwareSource::SleepAwareSource(Sysfs sysfs, DrmCard card, std::unique_ptr<Source> inner)
    : m_sysfs(std::move(sysfs)), m_card(std::move(card)), m_inner(std::move(inner))
{
}

Outcome SleepAwareSource::read(unsigned index, Reading& reading)
{
    const std::string power = m_card.device + "/power/";
    const std::optional<std::string> status = m_sysfs.read(power + "runtime_status");
    // Only an awake card is read: one on its way to sleep, waking, or in a
    // power error would be woken (or kept awake) by the driver call. A card
    // without runtime power management says "unsupported", or nothing.
    if (status && *status != "active" && *status != "unsupported") {
        // Whatever the inner source held must not pin the GPU awake either.
        m_inner->shutdown();
        return {Cause::Asleep, m_card.vendorName() + " GPU " + m_card.pciAddress + " is " +
                                   describe(*status) + "; Kelvane does not wake it"};
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
