#pragma once

#include <string>

namespace tk {

// A shared library loaded while the program runs, so that the program starts
// and runs on machines without it.
class Library final {
public:
    // A bare name is looked up the system's way; a path is taken as it is.
    explicit Library(std::string name);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool load();
    bool isLoaded() const noexcept { return m_handle != nullptr; }
    // The address of an exported function, or null.
    void* resolve(const char* symbol) const;
    void unload();
    const std::string& name() const noexcept { return m_name; }

private:
    std::string m_name;
    void* m_handle = nullptr;
};

// Lets the libraries that system libraries load on the program's behalf come
// from the system folder only, never from the program's or the current
// folder, where anyone could have put one of the same name. Windows only;
// called first.
void restrictLibrarySearch();

// A library's full path in the system folder, so that one planted beside the
// program or in the current folder is never loaded in its place; the bare
// name (which Library looks up there only) if the folder cannot be had.
// Windows only.
std::string systemFolderPath(const std::string& file);

// A function of a library in the system folder; raises an error when the
// library or the function is missing. Windows only.
void* systemFunction(const char* library, const char* name);

} // namespace tk
