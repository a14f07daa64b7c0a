#include "wide.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tk {

std::wstring widen(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& utf16)
{
    if (utf16.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

} // namespace tk

#if defined(_GLIBCXX_RELEASE) && _GLIBCXX_RELEASE >= 14
// GCC 14's libstdc++ declares this one member of std::wstring an extern
// template even in C++20, where the rest is instantiated as it is used. A
// wide string's first assignment then pulls in the library's explicit
// instantiation of the whole class, and the linker keeps all of it: 18 KB
// more in kelvane.exe. Instantiated here, it is the only part needed.
template void std::wstring::_M_replace_cold(wchar_t*, size_type, const wchar_t*, const size_type,
                                            const size_type);
#endif
