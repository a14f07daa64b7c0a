#include "library.h"

#include <dlfcn.h>

namespace tk {

Library::Library(std::string name) : m_name(std::move(name)) {}

// Left loaded: a function of it may still be running on another thread.
Library::~Library() = default;

bool Library::load()
{
    if (!m_handle)
        m_handle = ::dlopen(m_name.c_str(), RTLD_NOW | RTLD_LOCAL);
    return m_handle != nullptr;
}

void* Library::resolve(const char* symbol) const
{
    return m_handle ? ::dlsym(m_handle, symbol) : nullptr;
}

void Library::unload()
{
    if (m_handle)
        ::dlclose(m_handle);
    m_handle = nullptr;
}

void restrictLibrarySearch() {}

} // namespace tk
