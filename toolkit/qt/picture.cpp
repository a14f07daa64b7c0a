#include "qt.h"

#include <QHash>

namespace tk::qt {

QIcon iconOf(const Picture& picture)
{
    // Icons outlive the application when exit() tears statics down.
    static auto* icons = new QHash<QString, QIcon>;
    if (picture.isNull())
        return {};
    const QString name = QString::fromStdString(picture.resource());
    auto it = icons->find(name);
    if (it == icons->end())
        it = icons->insert(name, QIcon(QStringLiteral(":/icons/%1.xpm").arg(name)));
    return *it;
}

} // namespace tk::qt
