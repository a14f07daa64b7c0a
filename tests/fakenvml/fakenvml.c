/* A stand-in for NVIDIA's management library with the same names and ABI,
 * whose readings and failures a test scripts through the fakenvml_* calls. */
#include "fakenvml.h"
#include "fakecalls.h"

#include <string.h>
#include <time.h>

typedef int nvmlReturn_t;
typedef void* nvmlDevice_t;

typedef struct {
    unsigned version;
    int sensorType;
    int temperature;
} nvmlTemperature_v1_t;

static int g_initResult = 0;
static int g_newerResult = 0;
static int g_initialised = 0;
static int g_readings[FAKENVML_MAX_SCRIPT];
static int g_results[FAKENVML_MAX_SCRIPT];
static int g_scriptLength = 0;
static int g_next = 0;
static struct fakenvml_counts g_counts;
static char g_device[4];
static int g_initDelayMs = 0;
static int g_callDelayMs = 0;

static void pause_ms(int ms)
{
    if (ms <= 0)
        return;
    struct timespec t = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

/* A program started by a test (not linked with it) is scripted through the
 * environment: FAKENVML_SCRIPT="40,45,43" (values wrap to 32 bits, so
 * 4294967295 reads as all ones); FAKENVML_CALL_DELAY_MS slows each
 * temperature call down; each call adds a line to FAKENVML_CALLS_FILE. */
__attribute__((constructor)) static void from_environment(void)
{
    g_callDelayMs = fake_env_int("FAKENVML_CALL_DELAY_MS", 0);
    const char* script = getenv("FAKENVML_SCRIPT");
    if (!script)
        return;
    while (*script && g_scriptLength < FAKENVML_MAX_SCRIPT) {
        char* end = NULL;
        long long value = strtoll(script, &end, 10);
        if (end == script)
            break;
        g_readings[g_scriptLength] = (int)(unsigned)value;
        g_results[g_scriptLength] = 0;
        ++g_scriptLength;
        script = *end == ',' ? end + 1 : end;
    }
}

EXPORT void fakenvml_reset(void)
{
    g_initResult = 0;
    g_newerResult = 0;
    g_initialised = 0;
    g_scriptLength = 0;
    g_next = 0;
    g_initDelayMs = 0;
    g_callDelayMs = 0;
    memset(&g_counts, 0, sizeof g_counts);
}

EXPORT void fakenvml_script(const int* readings, const int* results, int length)
{
    if (length > FAKENVML_MAX_SCRIPT)
        length = FAKENVML_MAX_SCRIPT;
    for (int i = 0; i < length; ++i) {
        g_readings[i] = readings[i];
        g_results[i] = results ? results[i] : 0;
    }
    g_scriptLength = length;
    g_next = 0;
}

EXPORT void fakenvml_set_results(int init, int newer)
{
    g_initResult = init;
    g_newerResult = newer;
}
EXPORT void fakenvml_set_delays(int initMs, int callMs)
{
    g_initDelayMs = initMs;
    g_callDelayMs = callMs;
}
EXPORT void fakenvml_get_counts(struct fakenvml_counts* out)
{
    *out = g_counts;
}

EXPORT nvmlReturn_t nvmlInit_v2(void)
{
    ++g_counts.init;
    fake_log_call("FAKENVML_CALLS_FILE", "init");
    pause_ms(g_initDelayMs);
    if (g_initResult == 0)
        g_initialised = 1;
    return g_initResult;
}

EXPORT nvmlReturn_t nvmlShutdown(void)
{
    ++g_counts.shutdown;
    if (!g_initialised)
        return 1;
    g_initialised = 0;
    return 0;
}

#ifndef FAKENVML_NO_HANDLE
EXPORT nvmlReturn_t nvmlDeviceGetHandleByIndex_v2(unsigned index, nvmlDevice_t* device)
{
    ++g_counts.handle;
    if (!g_initialised)
        return 1;
    if (index != 0) /* one GPU */
        return 2;
    *device = &g_device[index];
    return 0;
}
#endif

EXPORT nvmlReturn_t nvmlDeviceGetHandleByPciBusId_v2(const char* busId, nvmlDevice_t* device)
{
    ++g_counts.handle;
    fake_log_call("FAKENVML_CALLS_FILE", busId);
    if (!g_initialised)
        return 1;
    *device = &g_device[0];
    return 0;
}

EXPORT nvmlReturn_t nvmlDeviceGetName(nvmlDevice_t device, char* name, unsigned length)
{
    (void)device;
    snprintf(name, length, "Stand-in GPU");
    return 0;
}

/* Takes the next scripted step; an exhausted script repeats its last one,
 * and a program that scripts nothing (a benchmark, a demo) reads 45. */
static nvmlReturn_t next_reading(int* value)
{
    if (!g_initialised)
        return 1;
    if (g_scriptLength == 0) {
        *value = 45;
        return 0;
    }
    int i = g_next < g_scriptLength ? g_next++ : g_scriptLength - 1;
    if (g_results[i] == FAKENVML_UNWRITTEN)
        return 0;
    /* "Uninitialised": the library has lost its state until started again. */
    if (g_results[i] == 1)
        g_initialised = 0;
    if (g_results[i] != 0)
        return g_results[i];
    *value = g_readings[i];
    return 0;
}

EXPORT nvmlReturn_t nvmlDeviceGetTemperature(nvmlDevice_t device, int sensor, unsigned* temp)
{
    (void)device;
    ++g_counts.temperature;
    fake_log_call("FAKENVML_CALLS_FILE", "temperature");
    pause_ms(g_callDelayMs);
    if (sensor != 0)
        return 2;
    /* The value's bits as they are: all ones is NVML's "not available". */
    return next_reading((int*)temp);
}

#ifndef FAKENVML_NO_TEMPERATURE_V
EXPORT nvmlReturn_t nvmlDeviceGetTemperatureV(nvmlDevice_t device, nvmlTemperature_v1_t* t)
{
    (void)device;
    ++g_counts.temperatureV;
    fake_log_call("FAKENVML_CALLS_FILE", "temperature");
    pause_ms(g_callDelayMs);
    if (t->version != (sizeof(nvmlTemperature_v1_t) | (1u << 24)))
        return 25; /* argument version mismatch */
    if (g_newerResult != 0)
        return g_newerResult;
    if (t->sensorType != 0)
        return 2;
    return next_reading(&t->temperature);
}
#endif

EXPORT const char* nvmlErrorString(nvmlReturn_t result)
{
    return result == 0 ? "Success" : "Stand-in error";
}
