#pragma once

#include <QIcon>
#include <QtGlobal>

namespace tk {

// An icon with a handle, as a form's icon is passed around by handle.
class Picture final {
public:
    Picture() = default;
    explicit Picture(const QIcon& icon);

    quint32 handle() const noexcept { return m_handle; }
    operator quint32() const noexcept { return m_handle; } // its default value
    QIcon icon() const { return m_icon; }
    bool isNull() const { return m_icon.isNull(); }

    // The icon a handle stands for, or a null icon for an unknown handle.
    static QIcon fromHandle(quint32 handle);

private:
    QIcon m_icon;
    quint32 m_handle = 0;
};

} // namespace tk
