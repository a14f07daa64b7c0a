#pragma once

#include "source.h"

#include "toolkit/base/library.h"

#include <cstdint>
#include <memory>

namespace sampler {

// NVIDIA's management library, bound by name at the first read so that the
// program starts and runs on machines without it.
class NvmlSource final : public Source {
public:
    static std::string defaultLibrary();

    // Reads the GPU at this PCI address when given, else the monitor's index.
    explicit NvmlSource(std::string library = defaultLibrary(), std::string pciAddress = {});
    ~NvmlSource() override;

    Outcome read(unsigned index, Reading& reading) override;
    void shutdown() override;

    // Whether the library could be loaded and has what a read needs, and if
    // not, why; binds it on first use.
    Outcome probe();

private:
    struct Api;
    Outcome bind();
    Outcome open(unsigned index);
    // One temperature call, the newer where the driver takes it; NVML's
    // return code.
    int temperature(std::int64_t& value);
    // What an NVML error leaves unusable.
    void forgetAfter(int rc);
    std::string errorText(int code) const;

    std::string m_pciAddress;
    tk::Library m_library;
    std::unique_ptr<Api> m_api;
    bool m_initialised = false;
    void* m_device = nullptr;
    unsigned m_deviceIndex = 0;
    std::string m_deviceName;
};

} // namespace sampler
