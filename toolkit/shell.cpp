#include "shell.h"
#include "backend.h"

namespace tk {
namespace {

std::function<void(std::int32_t)>& observer()
{
    static std::function<void(std::int32_t)> instance;
    return instance;
}

} // namespace

std::int32_t Shell_NotifyIconA(std::int32_t operation, TrayIconRecord& record)
{
    if (observer())
        observer()(operation);
    return backend::notifyIcon(operation, record);
}

void observeShell(std::function<void(std::int32_t operation)> function)
{
    observer() = std::move(function);
}

} // namespace tk
