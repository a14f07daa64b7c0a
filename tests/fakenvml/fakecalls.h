/* What the stand-ins share: their exports, and their call log, where each
 * call a stand-in counts adds a line to the file the environment variable
 * names, for a test that runs the program in another process (a Windows
 * program under Wine). */
#pragma once

#include <stdio.h>
#include <stdlib.h>

#ifdef _WIN32
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif

static void fake_log_call(const char* variable, const char* what)
{
    const char* name = getenv(variable);
    FILE* file = name ? fopen(name, "ab") : NULL;
    if (file) {
        fprintf(file, "%s\n", what);
        fclose(file);
    }
}

static int fake_env_int(const char* name, int otherwise)
{
    const char* text = getenv(name);
    return text ? atoi(text) : otherwise;
}
