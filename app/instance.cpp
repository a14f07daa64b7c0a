#include "instance.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

namespace app {

QString SingleInstance::defaultSocketPath()
{
    // One channel per user (the runtime folder is the user's own) and per
    // display, so that each desktop session has its own Kelvane.
    QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("WAYLAND_DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    const QString name = QStringLiteral("kelvane-%1.socket").arg(display);
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return dir.isEmpty() ? name : QDir(dir).filePath(name);
}

} // namespace app
