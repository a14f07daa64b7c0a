#include "picture.h"

#include <algorithm>
#include <vector>

namespace tk {
namespace {

std::vector<std::string>& handles()
{
    // Left to the process's end: icons are asked for while exit() runs.
    static auto* table = new std::vector<std::string>;
    return *table;
}

} // namespace

Picture::Picture(std::string resource) : m_resource(std::move(resource))
{
    if (m_resource.empty())
        return;
    // One handle per icon, so reloading a form keeps its handle.
    auto& table = handles();
    auto it = std::find(table.begin(), table.end(), m_resource);
    if (it == table.end())
        it = table.insert(table.end(), m_resource);
    m_handle = static_cast<std::uint32_t>(it - table.begin() + 1);
}

Picture Picture::fromHandle(std::uint32_t handle)
{
    const auto& table = handles();
    if (handle == 0 || handle > table.size())
        return {};
    return Picture(table[handle - 1]);
}

} // namespace tk
