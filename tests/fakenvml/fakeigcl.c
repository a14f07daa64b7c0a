/* A stand-in for Intel's graphics control library (IGCL) with the same
 * names and ABI, its structures written from Intel's igcl_api.h: three Intel
 * adapters, a UHD Graphics without a GPU sensor at 00:02.0, the card a test
 * names at 04:00.0 and its twin at 05:00.0, reading 10 degrees more. The
 * card's GPU sensor reads what the test sets through fakeigcl_set or, for a
 * program started by a test, FAKEIGCL_DEVICE (hex) and FAKEIGCL_CELSIUS;
 * FAKEIGCL_UNAVAILABLE=1 answers as a sleeping card does, and a state of 2
 * loses the device at the next reading, as a reset does: every handle is
 * then refused until ctlInit. Each temperature call adds a line to
 * FAKEIGCL_CALLS_FILE. */
#include "fakecalls.h"

#include <stdint.h>

/* ctl_device_adapter_properties_t */
typedef struct {
    uint32_t Size;
    uint8_t Version;
    void* pDeviceID;
    uint32_t device_id_size;
    int device_type;
    uint32_t supported_subfunction_flags;
    uint64_t driver_version;
    struct {
        uint64_t major_version, minor_version, build_number;
    } firmware_version;
    uint32_t pci_vendor_id, pci_device_id, rev_id;
    uint32_t num_eus_per_sub_slice, num_sub_slices_per_slice, num_slices;
    char name[100];
    uint32_t graphics_adapter_properties;
    uint32_t Frequency;                           /* Version > 0 */
    uint16_t pci_subsys_id, pci_subsys_vendor_id; /* Version > 1 */
    struct {
        uint8_t bus, device, function;
    } adapter_bdf;         /* Version > 1 */
    uint32_t num_xe_cores; /* Version > 2 */
    char reserved[108];
} Properties;

/* ctl_temp_properties_t */
typedef struct {
    uint32_t Size;
    uint8_t Version;
    int type;
    double maxTemperature;
} TemperatureProperties;

enum {
    kDeviceLost = 0x40000003,
    kUnavailable = 0x40000027,
    kUhd = 0x9bc4,
    kSensorGpu = 1,
    kSensorMemory = 2
};

static unsigned g_device = 0x56a0;
static double g_celsius = 47.0;
static int g_unavailable = 0, g_loseNext = 0, g_lost = 0;
static int g_api, g_adapters[3], g_sensors[3];

__attribute__((constructor)) static void from_environment(void)
{
    const char* device = getenv("FAKEIGCL_DEVICE");
    const char* celsius = getenv("FAKEIGCL_CELSIUS");
    if (device)
        g_device = (unsigned)strtoul(device, NULL, 16);
    if (celsius)
        g_celsius = atof(celsius);
    g_unavailable = fake_env_int("FAKEIGCL_UNAVAILABLE", 0);
}

EXPORT void fakeigcl_set(unsigned device, double celsius, int state)
{
    g_device = device;
    g_celsius = celsius;
    g_unavailable = state == 1;
    g_loseNext = state == 2;
    g_lost = 0;
}

EXPORT int ctlInit(uint32_t* args, void** api)
{
    if (args[0] != 36 || args[2] != 0x10001 || !(args[3] & 1)) /* 1.1, through Level Zero */
        return 1;
    *api = &g_api;
    g_lost = 0;
    return 0;
}

EXPORT int ctlClose(void* api)
{
    return api == &g_api ? 0 : 1;
}

EXPORT int ctlEnumerateDevices(void* api, uint32_t* count, void** adapters)
{
    if (api != &g_api)
        return 1;
    if (g_lost)
        return kDeviceLost;
    if (adapters)
        for (uint32_t i = 0; i < *count && i < 3; ++i)
            adapters[i] = &g_adapters[i];
    *count = 3;
    return 0;
}

/* A caller's structure of any other size than Intel's is refused. */
EXPORT int ctlGetDeviceProperties(void* adapter, Properties* p)
{
    if (p->Size != sizeof(Properties) || p->device_id_size != 8 || !p->pDeviceID)
        return 1;
    const int which = (int)((int*)adapter - g_adapters);
    p->pci_vendor_id = 0x8086;
    p->pci_device_id = which == 0 ? kUhd : g_device;
    snprintf(p->name, sizeof p->name, "Stand-in Intel %04x", p->pci_device_id);
    if (p->Version > 1) {
        p->adapter_bdf.bus = which == 0 ? 0 : (uint8_t)(3 + which);
        p->adapter_bdf.device = which == 0 ? 2 : 0;
        p->adapter_bdf.function = 0;
    }
    return 0;
}

/* The UHD Graphics has only a memory sensor; the cards a memory and a GPU one. */
EXPORT int ctlEnumTemperatureSensors(void* adapter, uint32_t* count, void** sensors)
{
    if (g_lost)
        return kDeviceLost;
    const int which = (int)((int*)adapter - g_adapters);
    const uint32_t has = which == 0 ? 1 : 2;
    if (sensors)
        for (uint32_t i = 0; i < *count && i < has; ++i)
            sensors[i] = i == 0 ? &g_sensors[0] : &g_sensors[which];
    *count = has;
    return 0;
}

EXPORT int ctlTemperatureGetProperties(void* sensor, TemperatureProperties* p)
{
    p->type = sensor == &g_sensors[0] ? kSensorMemory : kSensorGpu;
    p->maxTemperature = 100;
    return 0;
}

EXPORT int ctlTemperatureGetState(void* sensor, double* celsius)
{
    fake_log_call("FAKEIGCL_CALLS_FILE", "temperature");
    if (g_unavailable)
        return kUnavailable;
    if (g_loseNext) {
        g_loseNext = 0;
        g_lost = 1;
    }
    if (g_lost)
        return kDeviceLost;
    *celsius = sensor == &g_sensors[0] ? 30.0 : g_celsius + (sensor == &g_sensors[2] ? 10 : 0);
    return 0;
}
