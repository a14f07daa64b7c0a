#include "icons.h"

namespace resources {

QIcon programIcon()
{
    static const QIcon icon(QStringLiteral(":/icons/kelvane.xpm"));
    return icon;
}

QIcon aboutIcon()
{
    static const QIcon icon(QStringLiteral(":/icons/about.xpm"));
    return icon;
}

} // namespace resources
