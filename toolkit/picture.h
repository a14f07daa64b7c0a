#pragma once

#include <cstdint>
#include <string>

namespace tk {

// An icon compiled into the program, with a handle, as a form's icon is
// passed around by handle.
class Picture final {
public:
    Picture() = default;
    // The icon of that name among the program's resources.
    explicit Picture(std::string resource);

    std::uint32_t handle() const noexcept { return m_handle; }
    operator std::uint32_t() const noexcept { return m_handle; } // its default value
    const std::string& resource() const noexcept { return m_resource; }
    bool isNull() const noexcept { return m_handle == 0; }

    // The icon a handle stands for, or a null picture for an unknown handle.
    static Picture fromHandle(std::uint32_t handle);

private:
    std::string m_resource;
    std::uint32_t m_handle = 0;
};

} // namespace tk
