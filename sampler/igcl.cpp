#include "vendor.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace sampler {
namespace {

// IGCL's declarations, as Intel's igcl_api.h (control API 1.1) lays them
// out. The library fills what the structure's version holds: version 2
// adds the adapter's bus location.
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
    std::uint32_t adapterProperties, frequency;
    std::uint16_t subsystem, subsystemVendor;
    struct {
        std::uint8_t bus, device, function;
    } bdf;
    std::uint32_t xeCores;
    char reserved[108];
};
constexpr std::uint8_t kIgclPropertiesWithBdf = 2;
// ctl_device_adapter_properties_t of the 64-bit header.
static_assert(sizeof(void*) != 8 || (sizeof(IgclAdapterProperties) == 320 &&
                                     offsetof(IgclAdapterProperties, vendor) == 64 &&
                                     offsetof(IgclAdapterProperties, device) == 68 &&
                                     offsetof(IgclAdapterProperties, name) == 88 &&
                                     offsetof(IgclAdapterProperties, bdf) == 200 &&
                                     offsetof(IgclAdapterProperties, reserved) == 208),
              "IGCL's adapter properties");
static_assert(sizeof(IgclInitArgs) == 36 && offsetof(IgclInitArgs, applicationId) == 20,
              "IGCL's init arguments");
struct IgclTemperatureProperties {
    std::uint32_t size;
    std::uint8_t version;
    std::int32_t type;
    double maxTemperature;
};
static_assert(sizeof(IgclTemperatureProperties) == 24 &&
                  offsetof(IgclTemperatureProperties, maxTemperature) == 16,
              "IGCL's sensor properties");
constexpr std::int32_t kIgclSensorGpu = 1;                  // CTL_TEMP_SENSORS_GPU
constexpr std::int32_t kIgclDeviceLost = 0x40000003;        // hung, reset, removed, updated
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
        if (result == kIgclDeviceLost) {
            // Its handles are gone with it; the next reading starts afresh.
            shutdown();
            return {Cause::QueryFailed, name + " was lost to IGCL; it is looked up again"};
        }
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

    bool isTheCard(const IgclAdapterProperties& p) const
    {
        if (p.vendor != m_card.vendor || p.device != m_card.device)
            return false;
        // Twin cards differ only in where they sit; a library older than
        // the location gives none (all zeros: no GPU sits at 00:00.0).
        const bool located = p.bdf.bus || p.bdf.device || p.bdf.function;
        return !located || !m_card.bus ||
               (p.bdf.bus == *m_card.bus && p.bdf.device == m_card.slot.value_or(0) &&
                p.bdf.function == m_card.function.value_or(0));
    }

    // The card's adapter, and its GPU sensor.
    void* findSensor()
    {
        for (void* adapter :
             handles([this](std::uint32_t*n, void**h) { return m_api.devices(m_handle, n, h); })) {
            std::uint64_t luid = 0;
            IgclAdapterProperties p{};
            p.size = sizeof p;
            p.version = kIgclPropertiesWithBdf;
            p.deviceId = &luid;
            p.deviceIdSize = sizeof luid;
            if (m_api.properties(adapter, &p) != 0 || !isTheCard(p))
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

} // namespace

std::unique_ptr<Source> igclSource(const Card& card, std::string library)
{
    return std::make_unique<IgclSource>(card, std::move(library));
}

} // namespace sampler
