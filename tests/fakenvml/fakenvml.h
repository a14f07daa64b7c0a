/* Test controls of the stand-in NVML library. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define FAKENVML_MAX_SCRIPT 64

struct fakenvml_counts {
    int init;
    int shutdown;
    int handle;
    int temperature;
    int temperatureV;
};

/* Each scripted step is a reading, or a failure when its result is non-zero;
 * FAKENVML_UNWRITTEN succeeds without writing the temperature. */
#define FAKENVML_UNWRITTEN (-1)
void fakenvml_reset(void);
void fakenvml_script(const int* readings, const int* results, int length);
/* nvmlInit's answer, and the newer temperature call's in place of a reading
 * (0: it reads). */
void fakenvml_set_results(int init, int newer);
void fakenvml_set_delays(int initMs, int callMs);
void fakenvml_get_counts(struct fakenvml_counts* out);

#ifdef __cplusplus
}
#endif
