#pragma once

#include "types.h"

#include <string>

namespace tk {

// A shared library loaded while the program runs, so that the program starts
// and runs on machines without it.
class Library final : Fixed {
public:
    // A bare name is looked up the system's way; a path is taken as it is.
    explicit Library(std::string name);
    ~Library();

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

} // namespace tk
