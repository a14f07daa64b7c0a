#pragma once

#include <stdexcept>
#include <string>

namespace tk {

// Status numbers follow the classic forms runtime, so a report names the
// same kind of failure a user of such programs would recognise.
enum class Status : int {
    InvalidCall = 5,
    Overflow = 6,
    TypeMismatch = 13,
    DllNotFound = 48,
    FileNotFound = 53,
    ObjectUnloaded = 364,
    EntryPointNotFound = 453,
};

class Error final : public std::runtime_error {
public:
    Error(Status status, const std::string& message);

    Status status() const noexcept { return m_status; }

private:
    Status m_status;
};

// Twips arithmetic must never hand an infinity or NaN to a window.
float checked(float value);

// Text without the spaces, tabs and line ends at either end.
std::string trimmed(const std::string& text);

// Text to number the way the program stores numbers as text; throws on
// anything that is not a plain decimal number.
double toDouble(const std::string& text);

[[noreturn]] void throwObjectUnloaded();

} // namespace tk
