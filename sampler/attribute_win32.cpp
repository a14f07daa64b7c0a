#include "attribute.h"

#include <filesystem>
#include <fstream>

namespace sampler {

// Windows has no sysfs; this reads a regular file the same way, so that the
// card lookup behaves alike where a tree of such files exists.
std::optional<std::string> readAttributeFile(const std::string& path, std::size_t limit)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return std::nullopt;
    std::string data(limit + 1, '\0');
    file.read(data.data(), static_cast<std::streamsize>(data.size()));
    const auto total = static_cast<std::size_t>(file.gcount());
    if (file.bad() || total > limit)
        return std::nullopt;
    data.resize(total);
    return data;
}

} // namespace sampler
