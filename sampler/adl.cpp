#include "vendor.h"

#include <cstdlib>
#include <vector>

namespace sampler {
namespace {

// ADL's declarations, from its SDK's documentation (Windows layouts).
struct AdlAdapterInfo {
    int size, index;
    char udid[256];
    int bus, device, function, vendor;
    char name[256], displayName[256];
    int present, exist;
    char driverPath[256], driverPathExt[256], pnp[256];
    int osDisplayIndex;
};
struct AdlTemperature {
    int size;
    int millidegrees;
};
struct AdlPmLog {
    int size;
    struct {
        int supported, value;
    } sensors[256];
};
constexpr int kAdlPmLogEdge = 8; // ADL_PMLOG_TEMPERATURE_EDGE, in degrees

class AdlSource final : public VendorSource {
public:
    AdlSource(Card card, std::string library) : VendorSource(std::move(card), std::move(library)) {}
    ~AdlSource() override { shutdown(); }

    Outcome read(unsigned, Reading& reading) override
    {
        const std::string name = m_card.displayName();
        if (auto why = unusableLibrary([this] { lookUp(); }))
            return *why;
        if (!m_context) {
            // Every adapter, not only those with a display: a laptop's
            // discrete GPU drives none.
            if (m_api.create([](int size) { return std::malloc(size); }, 0, &m_context) != 0) {
                m_context = nullptr;
                return {Cause::InitFailed, "ADL could not start"};
            }
            m_index = findAdapter();
        }
        if (m_index < 0)
            return {Cause::NoDevice, name + " is not among ADL's adapters"};
        const std::int64_t millidegrees = temperature();
        if (millidegrees == kUnread)
            return noTemperature("ADL");
        m_readBefore = true;
        reading.core = wholeDegrees(millidegrees, 1000);
        return {Cause::None, name + " via ADL"};
    }

    void shutdown() override
    {
        if (m_context)
            m_api.destroy(m_context);
        m_context = nullptr;
    }

private:
    struct Api {
        int (*create)(void* (*)(int), int, void**);
        int (*destroy)(void*);
        int (*count)(void*, int*);
        int (*info)(void*, AdlAdapterInfo*, int);
        int (*caps)(void*, int, int*, int*, int*);
        int (*od5)(void*, int, int, AdlTemperature*);
        int (*od6)(void*, int, int*);
        int (*odn)(void*, int, int, int*);
        int (*pmlog)(void*, int, AdlPmLog*);
    };

    // In millidegrees, the way the card's Overdrive version reads it.
    std::int64_t temperature()
    {
        int supported = 0, enabled = 0, version = 0;
        std::int64_t millidegrees = kUnread;
        if (m_api.caps(m_context, m_index, &supported, &enabled, &version) == 0 && supported) {
            if (version == 5 && m_api.od5) {
                AdlTemperature t{sizeof t, 0};
                if (m_api.od5(m_context, m_index, 0, &t) == 0)
                    millidegrees = t.millidegrees;
            } else if (version == 6 && m_api.od6) {
                int t = 0;
                if (m_api.od6(m_context, m_index, &t) == 0)
                    millidegrees = t;
            } else if (version == 7 && m_api.odn) {
                int t = 0;
                if (m_api.odn(m_context, m_index, 1, &t) == 0) // the core
                    millidegrees = t;
            } else if (version == 8 && m_api.pmlog) {
                m_log.size = sizeof m_log;
                if (m_api.pmlog(m_context, m_index, &m_log) == 0 &&
                    m_log.sensors[kAdlPmLogEdge].supported)
                    millidegrees = std::int64_t{m_log.sensors[kAdlPmLogEdge].value} * 1000;
            }
        }
        return millidegrees;
    }

    void lookUp()
    {
        resolve("ADL2_Main_Control_Create", m_api.create);
        resolve("ADL2_Main_Control_Destroy", m_api.destroy);
        resolve("ADL2_Adapter_NumberOfAdapters_Get", m_api.count);
        resolve("ADL2_Adapter_AdapterInfo_Get", m_api.info);
        resolve("ADL2_Overdrive_Caps", m_api.caps);
        resolve("ADL2_Overdrive5_Temperature_Get", m_api.od5, false);
        resolve("ADL2_Overdrive6_Temperature_Get", m_api.od6, false);
        resolve("ADL2_OverdriveN_Temperature_Get", m_api.odn, false);
        resolve("ADL2_New_QueryPMLogData_Get", m_api.pmlog, false);
    }

    // ADL lists each card once per output; the first entry at the card's
    // PCI location will do.
    int findAdapter()
    {
        int count = 0;
        if (m_api.count(m_context, &count) != 0 || count <= 0 || count > 256 || !m_card.bus)
            return -1;
        std::vector<AdlAdapterInfo> adapters(count);
        if (m_api.info(m_context, adapters.data(),
                       static_cast<int>(adapters.size() * sizeof(AdlAdapterInfo))) != 0)
            return -1;
        for (const AdlAdapterInfo& a : adapters) {
            if (a.bus == static_cast<int>(*m_card.bus) &&
                a.device == static_cast<int>(m_card.slot.value_or(0)) &&
                a.function == static_cast<int>(m_card.function.value_or(0)))
                return a.index;
        }
        return -1;
    }

    Api m_api{};
    void* m_context = nullptr;
    int m_index = -1;
    AdlPmLog m_log{}; // 2 KB, not allocated again for every reading
};

} // namespace

std::unique_ptr<Source> adlSource(const Card& card, std::string library)
{
    return std::make_unique<AdlSource>(card, std::move(library));
}

} // namespace sampler
