/* A library that only says it ran: planted beside kelvane.exe under a
 * system library's name, it must never be loaded into Kelvane. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH];
        const DWORD n = GetEnvironmentVariableW(L"KELVANE_MARKER_DIR", path, MAX_PATH);
        if (n > 0 && n < MAX_PATH - 64) {
            lstrcatW(path, L"\\" MARKER_NAME L".ran");
            HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (file != INVALID_HANDLE_VALUE)
                CloseHandle(file);
        }
    }
    return TRUE;
}
