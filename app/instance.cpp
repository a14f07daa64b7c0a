#include "instance.h"

namespace app {

std::string SingleInstance::nameFor(const std::string& display)
{
    // One lock and channel per display, so that each desktop session has its
    // own Kelvane.
    std::string name = normaliseDisplay(display);
    for (char& c : name) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
        if (!plain)
            c = '_';
    }
    return "kelvane-" + name;
}

std::string SingleInstance::lockPath() const
{
    return m_folder.empty() ? std::string() : m_folder + '/' + m_name + ".lock";
}

std::string SingleInstance::socketPath() const
{
    return m_folder.empty() ? std::string() : m_folder + '/' + m_name + ".socket";
}

} // namespace app
