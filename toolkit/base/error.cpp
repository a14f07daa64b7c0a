#include "error.h"

#include <cmath>
#include <cstdlib>

#ifndef _WIN32
#include <charconv>
#endif

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

namespace {

// Digits, an optional fraction and an optional exponent, with an optional
// sign: the only text that counts as a number.
bool plainDecimal(const char* begin, const char* end)
{
    const auto digits = [&](const char*& at) {
        const char* start = at;
        while (at < end && *at >= '0' && *at <= '9')
            ++at;
        return at > start;
    };
    const char* at = begin;
    if (at < end && (*at == '+' || *at == '-'))
        ++at;
    if (!digits(at))
        return false;
    if (at < end && *at == '.') {
        ++at;
        if (!digits(at))
            return false;
    }
    if (at < end && (*at == 'e' || *at == 'E')) {
        ++at;
        if (at < end && (*at == '+' || *at == '-'))
            ++at;
        if (!digits(at))
            return false;
    }
    return at == end;
}

#ifdef _WIN32
extern "C" double systemStrtod(const char* text, char** end) __asm__("strtod");
#endif

} // namespace

double toDouble(const std::string& text)
{
    const std::string number = trimmed(text);
    const char* begin = number.data();
    const char* end = begin + number.size();
    if (!plainDecimal(begin, end))
        throw Error(Status::TypeMismatch, "Type mismatch: \"" + text + "\"");
    if (*begin == '+')
        ++begin;
    double value = 0;
#ifdef _WIN32
    // The Windows program never leaves the C locale, and strtod comes with
    // the system's C library; from_chars would add 33 KB to a 300 KB program,
    // and mingw's own strtod, which its headers put in place of the system's
    // in C++, 10 KB.
    value = systemStrtod(begin, nullptr);
#else
    // Qt sets the user's locale, whose decimal point may be a comma.
    if (std::from_chars(begin, end, value).ec != std::errc())
        throw Error(Status::TypeMismatch, "Type mismatch: \"" + text + "\"");
#endif
    if (!std::isfinite(value))
        throw Error(Status::TypeMismatch, "Type mismatch: \"" + text + "\"");
    return value;
}

void throwObjectUnloaded()
{
    throw Error(Status::ObjectUnloaded, "Object was unloaded");
}

} // namespace tk
