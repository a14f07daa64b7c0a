#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QDBusServiceWatcher;
class QTimer;

namespace tk::qt {

// One image of an icon as StatusNotifierItem hosts take it: ARGB32 pixels in
// network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmaps icon;
    QString title;
    QString text;
};

// The icon as a StatusNotifierItem on the session bus, for the panels whose
// notification area is a StatusNotifierWatcher (KDE Plasma, GNOME with the
// AppIndicator extension, Xfce's plugin, waybar). It registers whenever a
// watcher appears, again when one restarts, and again (a few times) when a
// host drops it while its watcher stays. Clicks reach onMouseMessage as the
// mouse messages an XEmbed tray would give.
class StatusNotifierItem final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(tk::qt::SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ iconName)
    Q_PROPERTY(tk::qt::SniPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ iconName)
    Q_PROPERTY(tk::qt::SniPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(tk::qt::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    StatusNotifierItem(const QIcon& icon, std::function<void(int)> onMouseMessage);
    ~StatusNotifierItem() override;
    Q_DISABLE_COPY_MOVE(StatusNotifierItem)

    // Whether a watcher has taken the item; the XEmbed icon is not needed then.
    bool registered() const { return m_registered; }
    // Called whenever registered() changes.
    void onRegisteredChanged(std::function<void(bool)> handler);

    // Whether a StatusNotifierWatcher runs on the session bus now.
    static bool watcherPresent();

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("kelvane"); }
    QString title() const { return QStringLiteral("Kelvane"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return {}; }
    SniPixmaps iconPixmap() const { return m_pixmaps; }
    SniPixmaps noPixmaps() const { return {}; }
    SniToolTip toolTip() const { return {}; } // the icon has no tooltip
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QStringLiteral("/NO_DBUSMENU")); }

public Q_SLOTS:
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

private Q_SLOTS:
    void itemUnregistered(const QString& item);

Q_SIGNALS:
    void NewIcon();
    void NewStatus(const QString& status);

private:
    void tryRegister();
    void setRegistered(bool registered);

    QString m_service;
    SniPixmaps m_pixmaps;
    std::function<void(int)> m_onMouseMessage;
    std::function<void(bool)> m_onRegisteredChanged;
    QDBusServiceWatcher* m_watcher = nullptr;
    QTimer* m_retry = nullptr;
    int m_attempt = 0;
    int m_dropped = 0; // by hosts of the current watcher
    bool m_exported = false;
    bool m_registered = false;
};

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);

} // namespace tk::qt

Q_DECLARE_METATYPE(tk::qt::SniPixmap)
Q_DECLARE_METATYPE(tk::qt::SniToolTip)
