/* A stand-in for Intel's graphics control library (IGCL) with the same
 * names and ABI: two Intel adapters, a UHD Graphics without a GPU sensor
 * and the card a test names, whose GPU sensor reads what the test sets
 * through fakeigcl_set or, for a program started by a test,
 * FAKEIGCL_DEVICE (hex) and FAKEIGCL_CELSIUS; FAKEIGCL_UNAVAILABLE=1 answers
 * as a sleeping card does. Each temperature call adds a line to
 * FAKEIGCL_CALLS_FILE. */
#include "fakecalls.h"

#include <stdint.h>
#include <string.h>

typedef struct {
    uint32_t size;
    uint8_t version;
    void* deviceId;
    uint32_t deviceIdSize, deviceType, functions;
    uint64_t driverVersion, firmware[3];
    uint32_t vendor, device, revision, eus, subSlices, slices;
    char name[100];
} Properties;

typedef struct {
    uint32_t size;
    uint8_t version;
    int type;
    double maxTemperature;
} TemperatureProperties;

enum { kUnavailable = 0x40000027, kUhd = 0x9bc4, kSensorGpu = 1, kSensorMemory = 2 };

static unsigned g_device = 0x56a0;
static double g_celsius = 47.0;
static int g_unavailable = 0;
static int g_api, g_adapters[2], g_sensors[2];

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

EXPORT void fakeigcl_set(unsigned device, double celsius, int unavailable)
{
    g_device = device;
    g_celsius = celsius;
    g_unavailable = unavailable;
}

EXPORT int ctlInit(uint32_t* args, void** api)
{
    if (args[0] != 36 || args[2] != 0x10001 || !(args[3] & 1)) /* 1.1, through Level Zero */
        return 1;
    *api = &g_api;
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
    if (adapters)
        for (uint32_t i = 0; i < *count && i < 2; ++i)
            adapters[i] = &g_adapters[i];
    *count = 2;
    return 0;
}

EXPORT int ctlGetDeviceProperties(void* adapter, Properties* p)
{
    if (p->size < sizeof(Properties) || p->deviceIdSize != 8 || !p->deviceId)
        return 1;
    p->vendor = 0x8086;
    p->device = adapter == &g_adapters[0] ? kUhd : g_device;
    snprintf(p->name, sizeof p->name, "Stand-in Intel %04x", p->device);
    return 0;
}

/* The UHD Graphics has only a memory sensor; the card a memory and a GPU one. */
EXPORT int ctlEnumTemperatureSensors(void* adapter, uint32_t* count, void** sensors)
{
    const uint32_t has = adapter == &g_adapters[0] ? 1 : 2;
    if (sensors)
        for (uint32_t i = 0; i < *count && i < has; ++i)
            sensors[i] = &g_sensors[i];
    *count = has;
    return 0;
}

EXPORT int ctlTemperatureGetProperties(void* sensor, TemperatureProperties* p)
{
    p->type = sensor == &g_sensors[1] ? kSensorGpu : kSensorMemory;
    p->maxTemperature = 100;
    return 0;
}

EXPORT int ctlTemperatureGetState(void* sensor, double* celsius)
{
    fake_log_call("FAKEIGCL_CALLS_FILE", "temperature");
    if (g_unavailable)
        return kUnavailable;
    *celsius = sensor == &g_sensors[1] ? g_celsius : 30.0;
    return 0;
}
