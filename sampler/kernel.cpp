#include "cards.h"

#include <cstddef>

namespace sampler {
namespace {

static_assert(offsetof(KmtAdapterPerfData, temperature) == 56 && sizeof(KmtAdapterPerfData) == 64,
              "the graphics kernel's layout");
constexpr std::int32_t kAdapterPerfData = 62; // KMTQAITYPE_ADAPTERPERFDATA

class KernelSource final : public Source {
public:
    KernelSource(Card card, KernelApi api) : m_card(std::move(card)), m_api(std::move(api)) {}

    // The adapter is opened for each reading only, so no handle of ours is
    // left on it between readings.
    Outcome read(unsigned, Reading& reading) override
    {
        const std::string name = m_card.displayName();
        if (!m_api.missing.empty())
            return {Cause::FunctionMissing,
                    name + ": Windows has no " + m_api.missing +
                        " (Windows 10 1803 or later reads GPU temperatures)"};
        KmtOpenAdapter open{m_card.interfacePath.c_str(), 0, 0, 0};
        if (m_api.open(&open) != 0)
            return fail(name + " could not be opened through Windows");
        KmtAdapterPerfData data{};
        const KmtQueryAdapterInfo query{open.adapter, kAdapterPerfData, &data, sizeof data};
        const std::int32_t status = m_api.query(&query);
        m_api.close(&open.adapter);
        if (status != 0)
            return fail(name + " gives no performance data to Windows (its driver predates "
                               "WDDM 2.4)");
        if (data.temperature == 0)
            return fail(name + " has no temperature sensor that Windows reads");
        reading.core = wholeDegrees(data.temperature, 10);
        m_readBefore = true;
        return {Cause::None, name + " via Windows"};
    }

private:
    // A card that never answered cannot be read this way at all; one that
    // did has only failed this once.
    Outcome fail(std::string why) const
    {
        return {m_readBefore ? Cause::QueryFailed : Cause::NoDevice, std::move(why)};
    }

    Card m_card;
    KernelApi m_api;
    bool m_readBefore = false;
};

} // namespace

std::unique_ptr<Source> kernelSource(const Card& card, const KernelApi& api)
{
    return std::make_unique<KernelSource>(card, api);
}

} // namespace sampler
