#include "instance.h"

#include <QDir>
#include <QRegularExpression>

namespace app {

QString SingleInstance::normaliseDisplay(const QString& display)
{
    static const QRegularExpression x11(QStringLiteral("^(.*):([0-9]+)(\\.[0-9]+)?$"));
    const auto m = x11.match(display);
    if (!m.hasMatch())
        return display; // a Wayland socket name
    QString host = m.captured(1);
    if (host == QStringLiteral("unix"))
        host.clear();
    return host + QLatin1Char(':') + m.captured(2);
}

QString SingleInstance::currentDisplay()
{
    QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("WAYLAND_DISPLAY");
    return normaliseDisplay(display);
}

QString SingleInstance::nameFor(QString display)
{
    // One lock and channel per display, so that each desktop session has its
    // own Kelvane.
    display = normaliseDisplay(display);
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    return QStringLiteral("kelvane-%1").arg(display);
}

QString SingleInstance::lockPath() const
{
    return m_folder.isEmpty() ? QString()
                              : QDir(m_folder).filePath(m_name + QStringLiteral(".lock"));
}

QString SingleInstance::socketPath() const
{
    return m_folder.isEmpty() ? QString()
                              : QDir(m_folder).filePath(m_name + QStringLiteral(".socket"));
}

} // namespace app
