#include "cards.h"

#include "toolkit/base/library.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <tuple>

namespace sampler {
namespace {

static_assert(offsetof(KmtAdapterPerfData, temperature) == 56 && sizeof(KmtAdapterPerfData) == 64,
              "the graphics kernel's layout");
constexpr std::int32_t kAdapterPerfData = 62; // KMTQAITYPE_ADAPTERPERFDATA

constexpr unsigned kMicrosoft = 0x1414; // the Basic Render Driver and other software adapters

bool unusable(Cause cause)
{
    return cause == Cause::LibraryMissing || cause == Cause::FunctionMissing ||
           cause == Cause::InitFailed || cause == Cause::NoDevice;
}

std::vector<Route Routes::*> routesFor(unsigned vendor)
{
    switch (vendor) {
    case 0x10de:
        return {&Routes::nvml, &Routes::kernel};
    case 0x1002:
        return {&Routes::kernel, &Routes::adl};
    case 0x8086:
        return {&Routes::kernel, &Routes::igcl};
    default:
        return {&Routes::kernel};
    }
}

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

// What the vendor libraries' routes share: the library, whose functions are
// looked up once, and whether the card was ever read this way (a failure
// before the first reading means the route cannot read the card at all).
class VendorSource : public Source {
protected:
    VendorSource(Card card, std::string library)
        : m_card(std::move(card)), m_library(std::move(library))
    {
    }

    // Why the library cannot be used, if it cannot; looks its functions up
    // with lookUp the first time.
    template <class LookUp> std::optional<Outcome> unusableLibrary(LookUp lookUp)
    {
        if (!m_library.load())
            return Outcome{Cause::LibraryMissing, m_library.name() + " was not found"};
        if (!m_bound) {
            m_bound = true;
            lookUp();
        }
        if (!m_missing.empty())
            return Outcome{Cause::FunctionMissing,
                           m_library.name() + " has no function " + m_missing};
        return std::nullopt;
    }
    template <class F> void resolve(const char* symbol, F& fn, bool needed = true)
    {
        fn = reinterpret_cast<F>(m_library.resolve(symbol));
        if (!fn && needed && m_missing.empty())
            m_missing = symbol;
    }
    Outcome noTemperature(const char* via) const
    {
        return {m_readBefore ? Cause::QueryFailed : Cause::NoDevice,
                m_card.displayName() + " gives " + via + " no temperature"};
    }

    Card m_card;
    tk::Library m_library;
    bool m_readBefore = false;

private:
    bool m_bound = false;
    std::string m_missing;
};

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
        int supported = 0, enabled = 0, version = 0;
        std::int64_t millidegrees = kUnread;
        if (m_api.caps(m_context, m_index, &supported, &enabled, &version) == 0 && supported) {
            if (version == 5 && m_api.od5) {
                AdlTemperature t{sizeof t, 0};
                if (m_api.od5(m_context, m_index, 0, &t) == 0)
                    millidegrees = t.millidegrees;
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
        int (*odn)(void*, int, int, int*);
        int (*pmlog)(void*, int, AdlPmLog*);
    };

    void lookUp()
    {
        resolve("ADL2_Main_Control_Create", m_api.create);
        resolve("ADL2_Main_Control_Destroy", m_api.destroy);
        resolve("ADL2_Adapter_NumberOfAdapters_Get", m_api.count);
        resolve("ADL2_Adapter_AdapterInfo_Get", m_api.info);
        resolve("ADL2_Overdrive_Caps", m_api.caps);
        resolve("ADL2_Overdrive5_Temperature_Get", m_api.od5, false);
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

// IGCL's declarations, from its SDK's documentation; the adapter's
// properties as their first version has them (the library takes any
// version's size).
struct IgclInitArgs {
    std::uint32_t size;
    std::uint8_t version;
    std::uint32_t appVersion, flags, supportedVersion;
    std::uint8_t applicationId[16];
};
struct IgclAdapterProperties {
    std::uint32_t size;
    std::uint8_t version;
    void* deviceId;
    std::uint32_t deviceIdSize, deviceType, functions;
    std::uint64_t driverVersion, firmware[3];
    std::uint32_t vendor, device, revision, eus, subSlices, slices;
    char name[100];
    char reserved[108];
};
struct IgclTemperatureProperties {
    std::uint32_t size;
    std::uint8_t version;
    std::int32_t type;
    double maxTemperature;
};
constexpr std::int32_t kIgclSensorGpu = 1;                  // CTL_TEMP_SENSORS_GPU
constexpr std::int32_t kIgclDeviceUnavailable = 0x40000027; // as a card in D3 answers

class IgclSource final : public VendorSource {
public:
    IgclSource(Card card, std::string library) : VendorSource(std::move(card), std::move(library))
    {
    }
    ~IgclSource() override { shutdown(); }

    Outcome read(unsigned, Reading& reading) override
    {
        const std::string name = m_card.displayName();
        if (auto why = unusableLibrary([this] { lookUp(); }))
            return *why;
        if (!m_handle) {
            // Version 1.1, with the Level Zero telemetry the sensors come from.
            IgclInitArgs args{sizeof args, 0, 0x10001, 1, 0, {}};
            if (m_api.init(&args, &m_handle) != 0) {
                m_handle = nullptr;
                return {Cause::InitFailed, "IGCL could not start"};
            }
            m_sensor = findSensor();
        }
        if (!m_sensor)
            return {Cause::NoDevice, name + " has no GPU sensor that IGCL reads"};
        double celsius = 0;
        const std::int32_t result = m_api.state(m_sensor, &celsius);
        if (result == kIgclDeviceUnavailable)
            return {Cause::Asleep, name + " is asleep; Kelvane does not wake it"};
        if (result != 0 || !(celsius > -1000 && celsius < 1000))
            return noTemperature("IGCL");
        m_readBefore = true;
        reading.core = wholeDegrees(static_cast<std::int64_t>(celsius * 1000), 1000);
        return {Cause::None, name + " via IGCL"};
    }

    void shutdown() override
    {
        if (m_handle)
            m_api.close(m_handle);
        m_handle = nullptr;
        m_sensor = nullptr;
    }

private:
    struct Api {
        std::int32_t (*init)(IgclInitArgs*, void**);
        std::int32_t (*close)(void*);
        std::int32_t (*devices)(void*, std::uint32_t*, void**);
        std::int32_t (*properties)(void*, IgclAdapterProperties*);
        std::int32_t (*sensors)(void*, std::uint32_t*, void**);
        std::int32_t (*sensorProperties)(void*, IgclTemperatureProperties*);
        std::int32_t (*state)(void*, double*);
    };

    void lookUp()
    {
        resolve("ctlInit", m_api.init);
        resolve("ctlClose", m_api.close);
        resolve("ctlEnumerateDevices", m_api.devices);
        resolve("ctlGetDeviceProperties", m_api.properties);
        resolve("ctlEnumTemperatureSensors", m_api.sensors);
        resolve("ctlTemperatureGetProperties", m_api.sensorProperties);
        resolve("ctlTemperatureGetState", m_api.state);
    }

    // Lists of handles, the library's way: the count first, then the list.
    template <class F> std::vector<void*> handles(F list)
    {
        std::uint32_t count = 0;
        if (list(&count, nullptr) != 0 || count == 0 || count > 64)
            return {};
        std::vector<void*> found(count);
        if (list(&count, found.data()) != 0)
            return {};
        found.resize(std::min<std::size_t>(count, found.size()));
        return found;
    }

    // The first adapter with the card's PCI ids, and its GPU sensor.
    void* findSensor()
    {
        for (void* adapter :
             handles([this](std::uint32_t*n, void**h) { return m_api.devices(m_handle, n, h); })) {
            std::uint64_t luid = 0;
            IgclAdapterProperties p{};
            p.size = sizeof p;
            p.deviceId = &luid;
            p.deviceIdSize = sizeof luid;
            if (m_api.properties(adapter, &p) != 0 || p.vendor != m_card.vendor ||
                p.device != m_card.device)
                continue;
            for (void* sensor :
                 handles([&](std::uint32_t*n, void**h) { return m_api.sensors(adapter, n, h); })) {
                IgclTemperatureProperties t{};
                t.size = sizeof t;
                if (m_api.sensorProperties(sensor, &t) == 0 && t.type == kIgclSensorGpu)
                    return sensor;
            }
            return nullptr;
        }
        return nullptr;
    }

    Api m_api{};
    void* m_handle = nullptr;
    void* m_sensor = nullptr;
};

class Chooser final : public Source {
public:
    Chooser(CardLister lister, Routes routes)
        : m_lister(std::move(lister)), m_routes(std::move(routes))
    {
    }

    Outcome read(unsigned index, Reading& reading) override
    {
        if (!m_listed)
            list();
        for (Candidate& c : m_candidates) {
            if (c.next == c.sources.size())
                continue;
            const std::optional<PowerData> power = m_lister.power(c.card);
            if (power && power->state != 1) {
                release(c);
                const bool known = power->state >= 2 && power->state <= 4;
                return {Cause::Asleep,
                        c.card.displayName() +
                            (known ? " is asleep (D" + std::to_string(power->state - 1) + ")"
                                   : " is in an unknown power state") +
                            "; Kelvane does not wake it"};
            }
            while (c.next < c.sources.size()) {
                Source& source = *c.sources[c.next];
                const Outcome outcome = source.read(index, reading);
                if (!unusable(outcome.cause)) {
                    // A card that sleeps at run time is never held open.
                    if (power && power->canSleep)
                        source.shutdown();
                    return outcome;
                }
                source.shutdown();
                if (m_why.empty())
                    m_why = outcome.detail; // the first card's reason
                ++c.next;
            }
        }
        return {Cause::NoDevice,
                m_why.empty() ? "No graphics card with a temperature sensor was found" : m_why};
    }

    void shutdown() override
    {
        for (Candidate& c : m_candidates)
            release(c);
    }

private:
    struct Candidate {
        Card card;
        std::vector<std::unique_ptr<Source>> sources;
        std::size_t next = 0;
    };

    void list()
    {
        m_listed = true;
        std::vector<Card> cards = m_lister.cards();
        // Software adapters and Wine's own read nothing; a card without a
        // location comes after those with one.
        std::erase_if(cards, [](const Card& c) { return c.vendor == 0 || c.vendor == kMicrosoft; });
        const auto key = [](const Card& c) {
            return std::make_tuple(!c.bus, c.bus.value_or(0), c.slot.value_or(0),
                                   c.function.value_or(0), c.token);
        };
        std::sort(cards.begin(), cards.end(),
                  [&key](const Card& a, const Card& b) { return key(a) < key(b); });
        if (cards.empty() && m_routes.nvml) {
            // Nothing listed (an older system, or Wine): NVML finds its own
            // first GPU.
            Card none;
            none.token = SIZE_MAX; // no device of the lister's, nor its power
            Candidate c{none, {}, 0};
            c.sources.push_back(m_routes.nvml(c.card));
            m_candidates.push_back(std::move(c));
        }
        for (Card& card : cards) {
            Candidate c{std::move(card), {}, 0};
            for (Route Routes::*route : routesFor(c.card.vendor)) {
                if (const Route& make = m_routes.*route; make)
                    if (auto source = make(c.card))
                        c.sources.push_back(std::move(source));
            }
            m_candidates.push_back(std::move(c));
        }
    }

    static void release(Candidate& c)
    {
        for (auto& source : c.sources)
            source->shutdown();
    }

    CardLister m_lister;
    Routes m_routes;
    bool m_listed = false;
    std::vector<Candidate> m_candidates;
    std::string m_why;
};

} // namespace

const char* makerName(unsigned vendor)
{
    switch (vendor) {
    case 0x10de:
        return "NVIDIA";
    case 0x1002:
        return "AMD";
    case 0x8086:
        return "Intel";
    default:
        return nullptr;
    }
}

std::string Card::pciAddress() const
{
    // By hand: mingw's printf family would add some 40 KB to the program.
    const auto hex = [](unsigned value, int digits) {
        std::string text(digits, '0');
        for (int i = digits - 1; i >= 0; --i, value >>= 4)
            text[i] = "0123456789abcdef"[value & 0xf];
        return text;
    };
    return "0000:" + hex(bus.value_or(0), 2) + ":" + hex(slot.value_or(0), 2) + "." +
           hex(function.value_or(0), 1);
}

std::string Card::displayName() const
{
    if (!name.empty())
        return name;
    const char* maker = makerName(vendor);
    return std::string(maker ? maker : "The") + " GPU" + (bus ? " " + pciAddress() : "");
}

std::unique_ptr<Source> chooseCard(CardLister lister, Routes routes)
{
    return std::make_unique<Chooser>(std::move(lister), std::move(routes));
}

std::unique_ptr<Source> kernelSource(const Card& card, const KernelApi& api)
{
    return std::make_unique<KernelSource>(card, api);
}

std::unique_ptr<Source> adlSource(const Card& card, std::string library)
{
    return std::make_unique<AdlSource>(card, std::move(library));
}

std::unique_ptr<Source> igclSource(const Card& card, std::string library)
{
    return std::make_unique<IgclSource>(card, std::move(library));
}

} // namespace sampler
