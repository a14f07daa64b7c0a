#include "shell.h"
#include "backend.h"

#include <map>
#include <utility>

namespace tk {
namespace {

std::function<void(std::int32_t)>& observer()
{
    static std::function<void(std::int32_t)> instance;
    return instance;
}

// The icons added and not deleted, by window and identifier. Left to the
// process's end: icons are deleted while exit() runs.
std::map<std::pair<WindowHandle, std::int32_t>, TrayIconRecord>& icons()
{
    static auto* table = new std::map<std::pair<WindowHandle, std::int32_t>, TrayIconRecord>;
    return *table;
}

} // namespace

std::int32_t Shell_NotifyIconA(std::int32_t operation, TrayIconRecord& record)
{
    if (observer())
        observer()(operation);
    const std::pair key{record.hWnd, record.uID};
    if (operation == NIM_ADD) {
        // Kept even when the shell refuses it for now: the backend adds it
        // again when a notification area appears.
        if (!icons().emplace(key, record).second)
            return 0;
    } else if (operation == NIM_DELETE) {
        icons().erase(key);
    }
    return backend::notifyIcon(operation, record);
}

bool iconRegistered(WindowHandle hWnd, std::int32_t id)
{
    return icons().contains({hWnd, id});
}

void backend::forEachIcon(const std::function<void(const TrayIconRecord&)>& function)
{
    for (const auto& [key, record] : icons())
        function(record);
}

void observeShell(std::function<void(std::int32_t operation)> function)
{
    observer() = std::move(function);
}

} // namespace tk
