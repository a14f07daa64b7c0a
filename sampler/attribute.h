#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace sampler {

// The bytes of a small regular file, read without blocking or side effects;
// nothing when it is missing, not a regular file, unreadable or longer than
// the limit.
std::optional<std::string> readAttributeFile(const std::string& path, std::size_t limit);

} // namespace sampler
