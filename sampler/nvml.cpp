#include "nvml.h"

#include <cstring>
#include <limits>

#ifdef _WIN32
#include "toolkit/base/wide.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace sampler {
namespace {

// From NVML's public documentation; no vendor header is needed.
using nvmlReturn_t = int;
using nvmlDevice_t = void*;
constexpr nvmlReturn_t NVML_SUCCESS = 0;
constexpr nvmlReturn_t NVML_ERROR_UNINITIALIZED = 1;
constexpr nvmlReturn_t NVML_ERROR_NOT_SUPPORTED = 3;
constexpr nvmlReturn_t NVML_ERROR_GPU_IS_LOST = 15;
constexpr nvmlReturn_t NVML_ERROR_RESET_REQUIRED = 16;
constexpr nvmlReturn_t NVML_ERROR_ARGUMENT_VERSION_MISMATCH = 25;
constexpr int NVML_TEMPERATURE_GPU = 0;
constexpr unsigned NVML_DEVICE_NAME_BUFFER_SIZE = 96;

struct nvmlTemperature_v1_t {
    unsigned version;
    int sensorType;
    int temperature;
};
constexpr unsigned nvmlTemperature_v1 = sizeof(nvmlTemperature_v1_t) | (1u << 24);

// The outputs start at a value no driver writes: a call that succeeds
// without writing gave no reading. Only the newer call's temperature is
// signed; the older one's is unsigned, so its all-ones "not available" is
// implausible like any value above 200, never -1.
constexpr std::int32_t kNotWritten = std::numeric_limits<std::int32_t>::min();
constexpr unsigned kRawNotWritten = 0x80000000u;

const char* knownError(int code)
{
    switch (code) {
    case 1:
        return "NVML is not initialised";
    case 2:
        return "invalid argument";
    case 3:
        return "not supported by this GPU";
    case 4:
        return "no permission";
    case 6:
        return "no such GPU";
    case 9:
        return "the NVIDIA driver is not loaded";
    case 15:
        return "the GPU is lost";
    case 18:
        return "the driver and library versions do not match";
    default:
        return nullptr;
    }
}

} // namespace

struct NvmlSource::Api {
    using Init = nvmlReturn_t (*)();
    using Shutdown = nvmlReturn_t (*)();
    using HandleByIndex = nvmlReturn_t (*)(unsigned, nvmlDevice_t*);
    using HandleByPciBusId = nvmlReturn_t (*)(const char*, nvmlDevice_t*);
    using Temperature = nvmlReturn_t (*)(nvmlDevice_t, int, unsigned*);
    using TemperatureV = nvmlReturn_t (*)(nvmlDevice_t, nvmlTemperature_v1_t*);
    using Name = nvmlReturn_t (*)(nvmlDevice_t, char*, unsigned);
    using ErrorString = const char* (*)(nvmlReturn_t);

    Init init = nullptr;
    Shutdown shutdown = nullptr;
    HandleByIndex handleByIndex = nullptr;
    HandleByPciBusId handleByPciBusId = nullptr;
    Temperature temperature = nullptr;
    TemperatureV temperatureV = nullptr;
    Name name = nullptr;
    ErrorString errorString = nullptr;
};

std::string NvmlSource::defaultLibrary()
{
#ifdef _WIN32
    // Full paths only: an nvml.dll planted beside the program or in the
    // current folder must never be loaded. The system folder first, then
    // where older drivers put it.
    const std::string system = tk::systemFolderPath("nvml.dll");
    wchar_t programs[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"ProgramW6432", programs, MAX_PATH);
    std::wstring nvsmi =
        n > 0 && n < MAX_PATH ? std::wstring(programs, n) : std::wstring(L"C:\\Program Files");
    nvsmi += L"\\NVIDIA Corporation\\NVSMI\\nvml.dll";
    if (GetFileAttributesW(tk::widen(system).c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetFileAttributesW(nvsmi.c_str()) != INVALID_FILE_ATTRIBUTES)
        return tk::narrow(nvsmi);
    return system;
#else
    return "libnvidia-ml.so.1";
#endif
}

NvmlSource::NvmlSource(std::string library, std::string pciAddress)
    : m_pciAddress(std::move(pciAddress)), m_library(std::move(library))
{
}

NvmlSource::~NvmlSource()
{
    shutdown();
}

Outcome NvmlSource::probe()
{
    return bind();
}

Outcome NvmlSource::bind()
{
    if (m_api)
        return {};
    if (!m_library.load())
        return {Cause::LibraryMissing, m_library.name() + " was not found"};

    auto api = std::make_unique<Api>();
    auto resolve = [this](const char* symbol, auto& fn) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(m_library.resolve(symbol));
        return fn != nullptr;
    };
    const char* missing = nullptr;
    if (!resolve("nvmlInit_v2", api->init))
        missing = "nvmlInit_v2";
    else if (!resolve("nvmlShutdown", api->shutdown))
        missing = "nvmlShutdown";
    else if (!resolve("nvmlDeviceGetHandleByIndex_v2", api->handleByIndex))
        missing = "nvmlDeviceGetHandleByIndex_v2";
    resolve("nvmlDeviceGetTemperatureV", api->temperatureV);
    if (!resolve("nvmlDeviceGetTemperature", api->temperature) && !api->temperatureV && !missing)
        missing = "nvmlDeviceGetTemperature";
    if (missing) {
        m_library.unload();
        return {Cause::FunctionMissing, m_library.name() + " has no function " + missing};
    }
    resolve("nvmlDeviceGetHandleByPciBusId_v2", api->handleByPciBusId);
    resolve("nvmlDeviceGetName", api->name);
    resolve("nvmlErrorString", api->errorString);
    m_api = std::move(api);
    return {};
}

std::string NvmlSource::errorText(int code) const
{
    if (const char* text = knownError(code))
        return text;
    if (m_api && m_api->errorString) {
        if (const char* text = m_api->errorString(code))
            return text;
    }
    return "error " + std::to_string(code);
}

Outcome NvmlSource::read(unsigned index, Reading& reading)
{
    if (Outcome bound = bind(); !bound.ok())
        return bound;
    if (!m_initialised) {
        const nvmlReturn_t rc = m_api->init();
        if (rc != NVML_SUCCESS)
            return {Cause::InitFailed, "NVML could not start: " + errorText(rc)};
        m_initialised = true;
    }
    if (Outcome opened = open(index); !opened.ok())
        return opened;

    std::int64_t value = kNotWritten;
    const nvmlReturn_t rc = temperature(value);
    if (rc != NVML_SUCCESS) {
        forgetAfter(rc);
        return {Cause::QueryFailed, m_deviceName + ": no temperature (" + errorText(rc) + ")"};
    }
    if (value == kNotWritten)
        return {Cause::QueryFailed, m_deviceName + ": no temperature (the driver gave no value)"};
    reading.core = value;
    return {Cause::None, m_deviceName + " via NVML"};
}

Outcome NvmlSource::open(unsigned index)
{
    if (m_device && m_deviceIndex == index)
        return {};
    nvmlDevice_t device = nullptr;
    const bool byAddress = !m_pciAddress.empty() && m_api->handleByPciBusId;
    const nvmlReturn_t rc = byAddress ? m_api->handleByPciBusId(m_pciAddress.c_str(), &device)
                                      : m_api->handleByIndex(index, &device);
    const std::string which = byAddress ? m_pciAddress : std::to_string(index);
    if (rc != NVML_SUCCESS || !device) {
        forgetAfter(rc);
        return {Cause::NoDevice, "NVIDIA GPU " + which + " is not available: " + errorText(rc)};
    }
    m_device = device;
    m_deviceIndex = index;
    m_deviceName.clear();
    if (m_api->name) {
        char name[NVML_DEVICE_NAME_BUFFER_SIZE] = {};
        if (m_api->name(device, name, sizeof name) == NVML_SUCCESS)
            m_deviceName.assign(name, strnlen(name, sizeof name));
    }
    if (m_deviceName.empty())
        m_deviceName = "NVIDIA GPU " + std::to_string(index);
    return {};
}

int NvmlSource::temperature(std::int64_t& value)
{
    if (m_api->temperatureV) {
        nvmlTemperature_v1_t t{nvmlTemperature_v1, NVML_TEMPERATURE_GPU, kNotWritten};
        const nvmlReturn_t rc = m_api->temperatureV(m_device, &t);
        // A driver that wants another version of the structure, or takes
        // the newer call from no GPU, still answers the older call.
        const bool refused =
            rc == NVML_ERROR_ARGUMENT_VERSION_MISMATCH || rc == NVML_ERROR_NOT_SUPPORTED;
        if (!refused || !m_api->temperature) {
            value = t.temperature;
            return rc;
        }
        m_api->temperatureV = nullptr;
    }
    unsigned raw = kRawNotWritten;
    const nvmlReturn_t rc = m_api->temperature(m_device, NVML_TEMPERATURE_GPU, &raw);
    if (raw != kRawNotWritten)
        value = raw;
    return rc;
}

void NvmlSource::forgetAfter(int rc)
{
    // NVML that has lost its state is started again, and a lost or reset
    // GPU needs a fresh handle once it is back.
    if (rc == NVML_ERROR_UNINITIALIZED)
        m_initialised = false;
    if (rc == NVML_ERROR_UNINITIALIZED || rc == NVML_ERROR_GPU_IS_LOST ||
        rc == NVML_ERROR_RESET_REQUIRED)
        m_device = nullptr;
}

void NvmlSource::shutdown()
{
    // Device handles die with the library's session.
    if (m_api && m_initialised)
        m_api->shutdown();
    m_initialised = false;
    m_device = nullptr;
}

} // namespace sampler
