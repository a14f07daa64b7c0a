#include "power.h"

namespace sampler {

SleepAwareSource::SleepAwareSource(Sysfs sysfs, DrmCard card, std::unique_ptr<Source> inner)
    : m_sysfs(std::move(sysfs)), m_card(std::move(card)), m_inner(std::move(inner))
{
}

Outcome SleepAwareSource::read(unsigned index, Reading& reading)
{
    const QString power = m_card.device + QStringLiteral("/power/");
    const std::optional<QString> status = m_sysfs.read(power + QStringLiteral("runtime_status"));
    if (status == QStringLiteral("suspended")) {
        // Whatever the inner source held must not pin the GPU awake either.
        m_inner->shutdown();
        return {Cause::Asleep, QStringLiteral("%1 GPU %2 is asleep; Kelvane does not wake it")
                                   .arg(m_card.vendorName(), m_card.pciAddress)};
    }
    const Outcome outcome = m_inner->read(index, reading);
    if (m_sysfs.read(power + QStringLiteral("control")) == QStringLiteral("auto"))
        m_inner->shutdown();
    return outcome;
}

void SleepAwareSource::shutdown()
{
    m_inner->shutdown();
}

} // namespace sampler
