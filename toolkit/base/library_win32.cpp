#include "error.h"
#include "library.h"
#include "wide.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tk {
namespace {

bool isAbsolute(const std::string& path)
{
    return (path.size() > 2 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) ||
           path.starts_with("\\\\");
}

} // namespace

Library::Library(std::string name) : m_name(std::move(name)) {}

// Left loaded: a function of it may still be running on another thread.
Library::~Library() = default;

bool Library::load()
{
    if (m_handle)
        return true;
    // A full path is loaded with its own folder searched for what it needs;
    // a bare name only from the system folder, never from the program's or
    // the current folder, where anyone could have put a library of that name.
    const std::wstring name = widen(m_name);
    HMODULE module = isAbsolute(m_name)
                         ? LoadLibraryExW(name.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                         : LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    m_handle = reinterpret_cast<void*>(module);
    return m_handle != nullptr;
}

void* Library::resolve(const char* symbol) const
{
    if (!m_handle)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), symbol));
}

void restrictLibrarySearch()
{
    // The loader has brought in only what the program imports itself,
    // kernel32 and msvcrt, known to the system and taken from its folder;
    // user32, gdi32 and everything else load later, from the system folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryW(L"");
}

std::string systemFolderPath(const std::string& file)
{
    wchar_t dir[MAX_PATH];
    const UINT length = GetSystemDirectoryW(dir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return file;
    return narrow(std::wstring(dir, length) + L"\\" + widen(file));
}

void* systemFunction(const char* library, const char* name)
{
    Library lib(library);
    if (!lib.load())
        throw Error(Status::DllNotFound, std::string("File not found: ") + library);
    void* function = lib.resolve(name);
    if (!function)
        throw Error(Status::EntryPointNotFound,
                    std::string("Can't find DLL entry point ") + name + " in " + library);
    return function;
}

void Library::unload()
{
    if (m_handle)
        FreeLibrary(static_cast<HMODULE>(m_handle));
    m_handle = nullptr;
}

} // namespace tk
