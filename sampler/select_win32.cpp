#include "select.h"

#include "cards.h"
#include "nvml.h"

#include "toolkit/base/library.h"
#include "toolkit/base/wide.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// after windows.h, which they need
#include <devpropdef.h>
#include <setupapi.h>

#include <cstring>
#include <cwchar>

namespace sampler {
namespace {

// {1CA05180-A699-450A-9A0C-DE4FBE3DDD89}
constexpr GUID kDisplayAdapters = {
    0x1ca05180, 0xa699, 0x450a, {0x9a, 0x0c, 0xde, 0x4f, 0xbe, 0x3d, 0xdd, 0x89}};
constexpr DEVPROPKEY deviceKey(ULONG pid)
{
    return {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, pid};
}
constexpr DEVPROPKEY kDeviceDesc = deviceKey(2);
constexpr DEVPROPKEY kHardwareIds = deviceKey(3);
constexpr DEVPROPKEY kFriendlyName = deviceKey(14);
constexpr DEVPROPKEY kBusNumber = deviceKey(23);
constexpr DEVPROPKEY kAddress = deviceKey(30); // device << 16 | function on PCI
constexpr DEVPROPKEY kPowerData = deviceKey(32);

// CM_POWER_DATA's head: the rest (latencies, the mapping of system states)
// is of no use here.
struct PowerDataHead {
    ULONG size;
    int mostRecentState; // DEVICE_POWER_STATE: D0 is 1
    ULONG capabilities;
};
constexpr ULONG kD3Supported = 0x8; // PDCAP_D3_SUPPORTED

// SetupAPI, loaded from the system folder at the first listing: the program
// imports nothing that the loader would bring in before its first line.
struct SetupApi {
    tk::Library library{"setupapi.dll"};
    decltype(&SetupDiGetClassDevsW) classDevs = nullptr;
    decltype(&SetupDiEnumDeviceInterfaces) enumInterfaces = nullptr;
    decltype(&SetupDiGetDeviceInterfaceDetailW) interfaceDetail = nullptr;
    decltype(&SetupDiGetDevicePropertyW) property = nullptr;
    decltype(&SetupDiDestroyDeviceInfoList) destroy = nullptr;

    bool load()
    {
        if (!library.load())
            return false;
        auto resolve = [this](const char* name, auto& fn) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(library.resolve(name));
            return fn != nullptr;
        };
        return resolve("SetupDiGetClassDevsW", classDevs) &&
               resolve("SetupDiEnumDeviceInterfaces", enumInterfaces) &&
               resolve("SetupDiGetDeviceInterfaceDetailW", interfaceDetail) &&
               resolve("SetupDiGetDevicePropertyW", property) &&
               resolve("SetupDiDestroyDeviceInfoList", destroy);
    }
};

// The display adapters' device information, kept open for power queries.
class Adapters final {
public:
    Adapters() = default;
    ~Adapters()
    {
        if (m_set != INVALID_HANDLE_VALUE)
            m_api.destroy(m_set);
    }
    Adapters(const Adapters&) = delete;
    Adapters& operator=(const Adapters&) = delete;

    std::vector<Card> list()
    {
        std::vector<Card> cards;
        if (!m_api.load())
            return cards;
        m_set = m_api.classDevs(&kDisplayAdapters, nullptr, nullptr,
                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (m_set == INVALID_HANDLE_VALUE)
            return cards;
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0; m_api.enumInterfaces(m_set, nullptr, &kDisplayAdapters, i, &data); ++i) {
            DWORD size = 0;
            m_api.interfaceDetail(m_set, &data, nullptr, 0, &size, nullptr);
            if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
                continue;
            std::vector<std::byte> buffer(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SP_DEVINFO_DATA info{};
            info.cbSize = sizeof info;
            if (!m_api.interfaceDetail(m_set, &data, detail, size, nullptr, &info))
                continue;
            Card card;
            card.interfacePath = detail->DevicePath;
            readIds(info, card);
            card.bus = number(info, kBusNumber);
            if (const auto address = number(info, kAddress)) {
                card.slot = *address >> 16;
                card.function = *address & 0xffff;
            }
            card.name = tk::narrow(text(info, kFriendlyName));
            if (card.name.empty())
                card.name = tk::narrow(text(info, kDeviceDesc));
            card.token = m_devices.size();
            m_devices.push_back(info);
            cards.push_back(std::move(card));
        }
        return cards;
    }

    std::optional<PowerData> power(const Card& card)
    {
        if (card.token >= m_devices.size())
            return std::nullopt;
        PowerDataHead head{};
        std::byte buffer[64] = {};
        DEVPROPTYPE type = 0;
        if (!m_api.property(m_set, &m_devices[card.token], &kPowerData, &type,
                            reinterpret_cast<PBYTE>(buffer), sizeof buffer, nullptr, 0) ||
            type != DEVPROP_TYPE_BINARY)
            return std::nullopt;
        std::memcpy(&head, buffer, sizeof head);
        return PowerData{head.mostRecentState, (head.capabilities & kD3Supported) != 0};
    }

private:
    std::vector<std::byte> property(SP_DEVINFO_DATA& info, const DEVPROPKEY& key,
                                    DEVPROPTYPE wanted)
    {
        DEVPROPTYPE type = 0;
        DWORD size = 0;
        m_api.property(m_set, &info, &key, &type, nullptr, 0, &size, 0);
        std::vector<std::byte> value(size);
        if (size == 0 ||
            !m_api.property(m_set, &info, &key, &type, reinterpret_cast<PBYTE>(value.data()), size,
                            nullptr, 0) ||
            type != wanted)
            value.clear();
        return value;
    }
    std::optional<std::uint32_t> number(SP_DEVINFO_DATA& info, const DEVPROPKEY& key)
    {
        const std::vector<std::byte> value = property(info, key, DEVPROP_TYPE_UINT32);
        if (value.size() != sizeof(std::uint32_t))
            return std::nullopt;
        std::uint32_t n = 0;
        std::memcpy(&n, value.data(), sizeof n);
        return n;
    }
    // The first string of a string or a string list.
    std::wstring text(SP_DEVINFO_DATA& info, const DEVPROPKEY& key, bool list = false)
    {
        std::vector<std::byte> value =
            property(info, key, list ? DEVPROP_TYPE_STRING_LIST : DEVPROP_TYPE_STRING);
        value.resize(value.size() + sizeof(wchar_t)); // terminated, whatever it held
        const auto* chars = reinterpret_cast<const wchar_t*>(value.data());
        return std::wstring(chars, wcsnlen(chars, value.size() / sizeof(wchar_t) - 1));
    }
    // PCI\VEN_10DE&DEV_2204&…
    void readIds(SP_DEVINFO_DATA& info, Card& card)
    {
        const std::wstring id = text(info, kHardwareIds, true);
        const auto hex = [&id](std::size_t at) -> std::optional<unsigned> {
            if (id.size() < at + 4)
                return std::nullopt;
            unsigned value = 0;
            for (std::size_t i = at; i < at + 4; ++i) {
                const wchar_t c = id[i];
                const int digit = c >= L'0' && c <= L'9'   ? c - L'0'
                                  : c >= L'A' && c <= L'F' ? c - L'A' + 10
                                  : c >= L'a' && c <= L'f' ? c - L'a' + 10
                                                           : -1;
                if (digit < 0)
                    return std::nullopt;
                value = value << 4 | static_cast<unsigned>(digit);
            }
            return value;
        };
        // Only a PCI adapter has a vendor to read it by.
        if (id.size() >= 21 && id.starts_with(L"PCI\\VEN_") && id.compare(12, 5, L"&DEV_") == 0) {
            const auto vendor = hex(8), device = hex(17);
            if (vendor && device) {
                card.vendor = *vendor;
                card.device = *device;
            }
        }
    }

    SetupApi m_api;
    HDEVINFO m_set = INVALID_HANDLE_VALUE;
    std::vector<SP_DEVINFO_DATA> m_devices;
};

KernelApi kernelApi()
{
    // Never destroyed, for a reading that comes back during exit().
    static tk::Library& gdi32 = *new tk::Library("gdi32.dll");
    KernelApi api;
    if (!gdi32.load()) {
        api.missing = "gdi32.dll";
        return api;
    }
    api.open =
        reinterpret_cast<decltype(api.open)>(gdi32.resolve("D3DKMTOpenAdapterFromDeviceName"));
    api.query = reinterpret_cast<decltype(api.query)>(gdi32.resolve("D3DKMTQueryAdapterInfo"));
    api.close = reinterpret_cast<decltype(api.close)>(gdi32.resolve("D3DKMTCloseAdapter"));
    if (!api.open)
        api.missing = "D3DKMTOpenAdapterFromDeviceName";
    else if (!api.query)
        api.missing = "D3DKMTQueryAdapterInfo";
    else if (!api.close)
        api.missing = "D3DKMTCloseAdapter";
    return api;
}

} // namespace

std::unique_ptr<Source> defaultSource()
{
    auto adapters = std::make_shared<Adapters>();
    CardLister lister{[adapters] { return adapters->list(); },
                      [adapters](const Card& card) { return adapters->power(card); }};
    Routes routes;
    routes.nvml = [](const Card& card) {
        return std::make_unique<NvmlSource>(NvmlSource::defaultLibrary(),
                                            card.bus ? card.pciAddress() : std::string());
    };
    routes.kernel = [api = kernelApi()](const Card& card) { return kernelSource(card, api); };
    routes.adl = [](const Card& card) {
        return adlSource(card, tk::systemFolderPath("atiadlxx.dll"));
    };
    routes.igcl = [](const Card& card) {
        return igclSource(card, tk::systemFolderPath("ControlLib.dll"));
    };
    return chooseCard(std::move(lister), std::move(routes));
}

} // namespace sampler
