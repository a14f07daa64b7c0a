#pragma once

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
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
// AppIndicator extension, Cinnamon, MATE, LXQt, Xfce's plugin, waybar). It
// registers whenever a watcher appears, again when one restarts, and again
// (a few times) when a host drops it while its watcher stays. Clicks reach
// onMouseMessage as the mouse messages an XEmbed tray would give.
//
// The item has no menu, and hosts disagree on how to say so: MATE's
// notification area, Cinnamon's xapp-sn-watcher and lxqt-panel take any
// Menu path for a menu, show it empty and let it hold the pointer, while
// GNOME Shell's AppIndicator extension drops an item without one. So the
// Menu property, as the customary "/NO_DBUSMENU", is shown to GNOME Shell
// only, and the object answers its callers itself.
class StatusNotifierItem final : public QDBusVirtualObject {
    Q_OBJECT

public:
    StatusNotifierItem(const QIcon& icon, std::function<void(int)> onMouseMessage);
    ~StatusNotifierItem() override;
    Q_DISABLE_COPY_MOVE(StatusNotifierItem)

    // Why the item could not be offered on a connected session bus; empty
    // when it was, or when there is no bus (nothing could be offered then).
    QString exportFailure() const { return m_exportFailure; }
    // Whether a watcher has taken the item; the XEmbed icon is not needed then.
    bool registered() const { return m_registered; }
    // Whether the watcher is GNOME Shell (its AppIndicator extension).
    bool watcherIsGnomeShell() const;
    // Called whenever registered() or the watcher changes.
    void onChanged(std::function<void()> handler);
    // A passive item is one that hosts need not show.
    void setPassive(bool passive);

    // Whether a StatusNotifierWatcher runs on the session bus now.
    static bool watcherPresent();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private Q_SLOTS:
    void itemUnregistered(const QString& item);

private:
    // The item's properties as the caller sees them.
    QVariantMap properties(const QString& caller) const;
    void tryRegister();
    void setRegistered(bool registered);

    QString m_service;
    QString m_exportFailure;
    QString m_gnomeShell; // the connection that owns org.gnome.Shell, if any
    QString m_watcherOwner;
    SniPixmaps m_pixmaps;
    std::function<void(int)> m_onMouseMessage;
    std::function<void()> m_onChanged;
    QDBusServiceWatcher* m_watcher = nullptr;
    QTimer* m_retry = nullptr;
    int m_attempt = 0;
    int m_dropped = 0; // by hosts of the current watcher
    bool m_exported = false;
    bool m_registered = false;
    bool m_passive = false;
};

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip);

} // namespace tk::qt

Q_DECLARE_METATYPE(tk::qt::SniPixmap)
Q_DECLARE_METATYPE(tk::qt::SniToolTip)
