#pragma once

#include "source.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sampler {

// The maker of a PCI vendor id ("NVIDIA", "AMD", "Intel"), or null.
const char* makerName(unsigned vendor);

// A display adapter as Windows lists it.
struct Card {
    unsigned vendor = 0; // PCI vendor id; 0 for Wine's own adapter
    unsigned device = 0;
    // PCI bus, device and function; none for an adapter without a location.
    std::optional<std::uint32_t> bus, slot, function;
    std::wstring interfacePath; // the adapter's device interface
    std::string name;           // as Device Manager shows it
    std::size_t token = 0;      // the lister's own reference to it

    std::string pciAddress() const; // "0000:01:00.0", as NVML takes it
    std::string displayName() const;
};

// What Windows says of a device's power without waking it.
struct PowerData {
    int state = 1; // D0 is 1 … D3 is 4; 0 unspecified
    bool canSleep = false;
};

// The machine's graphics cards and their power, injected so that the choice
// can be tested without them.
struct CardLister {
    std::function<std::vector<Card>()> cards;
    std::function<std::optional<PowerData>(const Card&)> power;
};

// The ways to read one card, in the order they are tried; a route that cannot
// read the card at all (no library, no function, no sensor) gives way to the
// next, and a card with none left to the next card.
using Route = std::function<std::unique_ptr<Source>(const Card&)>;
struct Routes {
    Route nvml, kernel, adl, igcl;
};

// Reads the first card in PCI bus order that gives a reading, never a
// sleeping one.
std::unique_ptr<Source> chooseCard(CardLister lister, Routes routes);

// The graphics kernel's adapter performance data (Windows 10 1803 and later),
// declared here: Debian's mingw-w64 has no d3dkmthk.h.
struct KmtOpenAdapter {
    const wchar_t* deviceName;
    std::uint32_t adapter;
    std::uint32_t luidLow;
    std::int32_t luidHigh;
};
struct KmtQueryAdapterInfo {
    std::uint32_t adapter;
    std::int32_t type;
    void* data;
    std::uint32_t size;
};
struct KmtAdapterPerfData {
    std::uint32_t physicalAdapterIndex;
    std::uint64_t memoryFrequency, maxMemoryFrequency, maxMemoryFrequencyOC, memoryBandwidth,
        pcieBandwidth;
    std::uint32_t fanRpm, power, temperature; // tenths of a degree Celsius; 0: no sensor
    std::uint8_t powerStateOverride;
};
struct KernelApi {
    std::int32_t (*open)(KmtOpenAdapter*) = nullptr;
    std::int32_t (*query)(const KmtQueryAdapterInfo*) = nullptr;
    std::int32_t (*close)(const std::uint32_t*) = nullptr;
    std::string missing; // the function the system lacks, if any
};
std::unique_ptr<Source> kernelSource(const Card& card, const KernelApi& api);

// AMD's display library (ADL, loaded from this path), by the card's PCI
// location and its Overdrive version.
std::unique_ptr<Source> adlSource(const Card& card, std::string library);

// Intel's graphics control library (IGCL, loaded from this path), by the
// card's PCI ids and its GPU sensor.
std::unique_ptr<Source> igclSource(const Card& card, std::string library);

} // namespace sampler
