#include "win32.h"

#include <map>
#include <utility>

namespace tk::win32 {

HICON iconOf(const Picture& picture, int size)
{
    // Loaded once per size and kept: windows and the shell hold on to them.
    static auto* icons = new std::map<std::pair<std::string, int>, Icon>;
    if (picture.isNull())
        return nullptr;
    Icon& icon = (*icons)[{picture.resource(), size}];
    if (!icon)
        icon.reset(static_cast<HICON>(
            check(LoadImageW(GetModuleHandleW(nullptr), widen(picture.resource()).c_str(),
                             IMAGE_ICON, size, size, LR_DEFAULTCOLOR),
                  "LoadImageW")));
    return icon.get();
}

} // namespace tk::win32
