#pragma once

#include <string>

namespace tk {

// UTF-8, as the program keeps its text, and the UTF-16 of Windows' own
// calls; for the Windows files only.
std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& utf16);

} // namespace tk
