#include "error.h"

#include <charconv>
#include <cmath>

namespace tk {

Error::Error(Status status, const std::string& message)
    : std::runtime_error(message), m_status(status)
{
}

float checked(float value)
{
    if (!std::isfinite(value))
        throw Error(Status::Overflow, "Overflow in a position or size");
    return value;
}

std::string trimmed(const std::string& text)
{
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && space(text[begin]))
        ++begin;
    while (end > begin && space(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

double toDouble(const std::string& text)
{
    const std::string number = trimmed(text);
    const char* begin = number.data();
    const char* end = begin + number.size();
    // from_chars: the same in every locale, and no leading plus of its own.
    if (end - begin > 1 && *begin == '+' && begin[1] != '-')
        ++begin;
    double value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || stop != end || !std::isfinite(value))
        throw Error(Status::TypeMismatch, "Type mismatch: \"" + text + "\"");
    return value;
}

void throwObjectUnloaded()
{
    throw Error(Status::ObjectUnloaded, "Object was unloaded");
}

} // namespace tk
