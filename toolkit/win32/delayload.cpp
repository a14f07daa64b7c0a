// user32 and gdi32 are delay-loaded (see toolkit/CMakeLists.txt): each
// function is bound at its first call by mingw-w64's helper, which writes
// its address into the delay-load import table. dlltool puts that table among
// the ordinary imports, in .idata, and binutils 2.44's linker maps .idata
// read-only, as Microsoft's linker always has; mingw-w64 12's helper writes
// there without asking, so a program built with both crashed at its first
// user32 call (msys2/MINGW-packages#23577). Microsoft's own helper opens a
// read-only table for each write and closes it again; so does this one, one
// binding at a time, around the helper the runtime ships.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <delayimp.h>

extern "C" {

FARPROC WINAPI __real___delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* entry);

FARPROC WINAPI __wrap___delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* entry)
{
    // Constant-initialised: there is no constructor to run before the first
    // binding, which may come before main().
    static SRWLOCK lock = SRWLOCK_INIT;
    AcquireSRWLockExclusive(&lock);
    DWORD protection = 0;
    // Where the table is writable already (older linkers), this changes
    // nothing; where it cannot be opened, the helper's write shows why.
    const bool opened = VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection);
    const FARPROC function = __real___delayLoadHelper2(descriptor, entry);
    if (opened)
        VirtualProtect(entry, sizeof *entry, protection, &protection);
    ReleaseSRWLockExclusive(&lock);
    return function;
}

} // extern "C"
