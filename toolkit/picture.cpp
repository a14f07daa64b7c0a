#include "picture.h"

#include <QHash>

namespace tk {
namespace {

QHash<quint32, QIcon>& handles()
{
    // Icons outlive the application when exit() tears statics down.
    static auto* table = new QHash<quint32, QIcon>;
    return *table;
}

} // namespace

Picture::Picture(const QIcon& icon) : m_icon(icon)
{
    if (icon.isNull())
        return;
    // One handle per distinct icon, so reloading a form keeps its handle.
    const qint64 key = icon.cacheKey();
    for (auto it = handles().cbegin(); it != handles().cend(); ++it) {
        if (it.value().cacheKey() == key) {
            m_handle = it.key();
            return;
        }
    }
    m_handle = static_cast<quint32>(handles().size() + 1);
    handles().insert(m_handle, icon);
}

QIcon Picture::fromHandle(quint32 handle)
{
    return handles().value(handle);
}

} // namespace tk
