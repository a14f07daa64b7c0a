/* A stand-in for AMD's display library (ADL) with the same names and ABI:
 * two AMD adapters, the card on the bus a test names and one on the next
 * bus, whose Overdrive version and temperature a test sets through
 * fakeadl_set or, for a program started by a test, FAKEADL_OVERDRIVE,
 * FAKEADL_MILLIDEGREES and FAKEADL_BUS. Each call into it adds a line to
 * FAKEADL_CALLS_FILE. */
#include "fakecalls.h"

#include <string.h>

typedef struct {
    int size, index;
    char udid[256];
    int bus, device, function, vendor;
    char name[256], display[256];
    int present, exist;
    char driverPath[256], driverPathExt[256], pnp[256];
    int osDisplayIndex;
} AdapterInfo;

static int g_overdrive = 8, g_millidegrees = 52000, g_bus = 3;
static int g_context;

__attribute__((constructor)) static void from_environment(void)
{
    g_overdrive = fake_env_int("FAKEADL_OVERDRIVE", g_overdrive);
    g_millidegrees = fake_env_int("FAKEADL_MILLIDEGREES", g_millidegrees);
    g_bus = fake_env_int("FAKEADL_BUS", g_bus);
}

EXPORT void fakeadl_set(int overdrive, int millidegrees, int bus)
{
    g_overdrive = overdrive;
    g_millidegrees = millidegrees;
    g_bus = bus;
}

/* The card asked about is adapter 1; adapter 0 is the other one. */
static int is_card(void* context, int index)
{
    return context == &g_context && index == 1;
}

EXPORT int ADL2_Main_Control_Create(void* (*alloc)(int), int connectedOnly, void** context)
{
    (void)alloc;
    (void)connectedOnly;
    fake_log_call("FAKEADL_CALLS_FILE", "create");
    *context = &g_context;
    return 0;
}

EXPORT int ADL2_Main_Control_Destroy(void* context)
{
    fake_log_call("FAKEADL_CALLS_FILE", "destroy");
    return context == &g_context ? 0 : -1;
}

EXPORT int ADL2_Adapter_NumberOfAdapters_Get(void* context, int* count)
{
    (void)context;
    *count = 2;
    return 0;
}

EXPORT int ADL2_Adapter_AdapterInfo_Get(void* context, AdapterInfo* info, int size)
{
    (void)context;
    if (size < (int)(2 * sizeof(AdapterInfo)))
        return -1;
    memset(info, 0, 2 * sizeof(AdapterInfo));
    for (int i = 0; i < 2; ++i) {
        info[i].size = sizeof(AdapterInfo);
        info[i].index = i;
        info[i].bus = i == 1 ? g_bus : g_bus + 1;
        info[i].vendor = 1002; /* ADL says it in decimal digits */
        info[i].present = 1;
        snprintf(info[i].name, sizeof info[i].name, "Stand-in Radeon %d", i);
    }
    return 0;
}

EXPORT int ADL2_Overdrive_Caps(void* context, int index, int* supported, int* enabled, int* version)
{
    if (!is_card(context, index))
        return -1;
    *supported = g_overdrive != 0;
    *enabled = *supported;
    *version = g_overdrive;
    return 0;
}

EXPORT int ADL2_Overdrive5_Temperature_Get(void* context, int index, int sensor, int* temperature)
{
    fake_log_call("FAKEADL_CALLS_FILE", "temperature");
    if (!is_card(context, index) || g_overdrive != 5 || sensor != 0 || temperature[0] != 8)
        return -1;
    temperature[1] = g_millidegrees; /* an ADLTemperature: its size, then the value */
    return 0;
}

EXPORT int ADL2_Overdrive6_Temperature_Get(void* context, int index, int* temperature)
{
    fake_log_call("FAKEADL_CALLS_FILE", "temperature");
    if (!is_card(context, index) || g_overdrive != 6)
        return -1;
    *temperature = g_millidegrees;
    return 0;
}

EXPORT int ADL2_OverdriveN_Temperature_Get(void* context, int index, int type, int* temperature)
{
    fake_log_call("FAKEADL_CALLS_FILE", "temperature");
    if (!is_card(context, index) || g_overdrive != 7 || type != 1)
        return -1;
    *temperature = g_millidegrees;
    return 0;
}

EXPORT int ADL2_New_QueryPMLogData_Get(void* context, int index, int* data)
{
    fake_log_call("FAKEADL_CALLS_FILE", "temperature");
    if (!is_card(context, index) || g_overdrive != 8)
        return -1;
    /* An ADLPMLogDataOutput: its size, then 256 (supported, value) pairs;
     * the edge sensor is the ninth, in whole degrees. */
    memset(data, 0, (1 + 2 * 256) * sizeof(int));
    data[0] = (1 + 2 * 256) * sizeof(int);
    data[1 + 2 * 8] = 1;
    data[2 + 2 * 8] = g_millidegrees / 1000;
    return 0;
}
