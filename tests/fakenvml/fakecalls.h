/* The stand-ins' call log: each call a stand-in counts adds a line to the
 * file the environment variable names, where a test run in another process
 * (a Windows program under Wine) counts them. */
#pragma once

#include <stdio.h>
#include <stdlib.h>

static void fake_log_call(const char* variable, const char* what)
{
    const char* name = getenv(variable);
    FILE* file = name ? fopen(name, "ab") : NULL;
    if (file) {
        fprintf(file, "%s\n", what);
        fclose(file);
    }
}
