#include "sni.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QImage>
#include <QTimer>
#include <QtEndian>

namespace tk::qt {
namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kGnomeShell = QStringLiteral("org.gnome.Shell");
// The item's methods; its properties are told from their values.
constexpr char kMethods[] = R"xml(
<method name="Activate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
<method name="SecondaryActivate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
<method name="ContextMenu"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
<method name="Scroll"><arg type="i" direction="in"/><arg type="s" direction="in"/></method>
<signal name="NewStatus"><arg type="s"/></signal>
)xml";
// Debian's status-notifier-watcher takes its bus name before its object
// exists, so a registration right after it appears can fail: try again,
// waiting a little longer each time.
constexpr int kFirstRetryMs = 100;
constexpr int kRetries = 8;
// A host that drops the item again and again refuses it: it is offered that
// many times, then left to the XEmbed tray.
constexpr int kOffers = 3;

// The mouse messages an XEmbed tray gives for the same clicks.
constexpr int kLeftDown = 513;
constexpr int kRightDown = 516;
constexpr int kMiddleDown = 519;

SniPixmaps pixmapsOf(const QIcon& icon)
{
    SniPixmaps pixmaps;
    for (int side : {16, 22, 32}) {
        const QImage image =
            icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        SniPixmap p{image.width(), image.height(), {}};
        p.bytes.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<quint32*>(p.bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *out++ = qToBigEndian(line[x]);
        }
        pixmaps << p;
    }
    return pixmaps;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& tip)
{
    argument.beginStructure();
    argument << tip.iconName << tip.icon << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& tip)
{
    argument.beginStructure();
    argument >> tip.iconName >> tip.icon >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

StatusNotifierItem::StatusNotifierItem(const QIcon& icon, std::function<void(int)> onMouseMessage)
    : m_pixmaps(pixmapsOf(icon)), m_onMouseMessage(std::move(onMouseMessage))
{
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Registered by the connection's own name, not a name of its own: given
    // a well-known name, GNOME Shell's AppIndicator extension (43, Debian's
    // ubuntu-appindicators) also watches that name, and its first report of
    // the owner clears the properties it is reading; the read then fails
    // ("Argument two may not be null") and the extension drops the item for
    // the whole session.
    m_service = bus.baseService();
    m_exported = bus.registerVirtualObject(kItemPath, this);
    if (!m_exported) {
        m_exportFailure = QStringLiteral("the bus took no object at ") + kItemPath;
        return;
    }
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, [this] { tryRegister(); });
    m_watcher =
        new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                m_watcherOwner = newOwner;
                setRegistered(false);
                m_retry->stop();
                m_attempt = 0;
                m_dropped = 0;
                if (!newOwner.isEmpty())
                    tryRegister();
                if (m_onChanged)
                    m_onChanged();
            });
    bus.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierItemUnregistered"),
                this, SLOT(itemUnregistered(QString)));
    auto* shell =
        new QDBusServiceWatcher(kGnomeShell, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(shell, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                m_gnomeShell = owner;
                if (m_onChanged)
                    m_onChanged();
            });
    m_gnomeShell = bus.interface()->serviceOwner(kGnomeShell).value();
    m_watcherOwner = bus.interface()->serviceOwner(kWatcher).value();
    if (watcherPresent())
        tryRegister();
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!m_exported)
        return;
    QDBusConnection::sessionBus().unregisterObject(kItemPath);
}

void StatusNotifierItem::onChanged(std::function<void()> handler)
{
    m_onChanged = std::move(handler);
}

bool StatusNotifierItem::watcherIsGnomeShell() const
{
    return !m_watcherOwner.isEmpty() && m_watcherOwner == m_gnomeShell;
}

void StatusNotifierItem::setPassive(bool passive)
{
    if (passive == m_passive)
        return;
    m_passive = passive;
    if (!m_exported)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kItemPath, kItem, QStringLiteral("NewStatus"));
    signal << properties(QString()).value(QStringLiteral("Status"));
    QDBusConnection::sessionBus().send(signal);
}

bool StatusNotifierItem::watcherPresent()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(kWatcher).value();
}

void StatusNotifierItem::tryRegister()
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, kWatcher, QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    auto* pending =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (!w->isError()) {
            setRegistered(true);
            return;
        }
        if (m_attempt < kRetries && watcherPresent())
            m_retry->start(kFirstRetryMs << m_attempt++);
    });
}

// Watchers name an item by its bus name, with its path or without it.
void StatusNotifierItem::itemUnregistered(const QString& item)
{
    if (item != m_service && !item.startsWith(m_service + QLatin1Char('@')) &&
        !item.startsWith(m_service + QLatin1Char('/')))
        return;
    // Still counted as registered: while a watcher runs the XEmbed tray
    // cannot take the icon, and once it goes the change shows it there.
    if (m_dropped < kOffers && watcherPresent()) {
        ++m_dropped;
        m_attempt = 0;
        m_retry->start(kFirstRetryMs);
    }
}

void StatusNotifierItem::setRegistered(bool registered)
{
    if (registered == m_registered)
        return;
    m_registered = registered;
    if (m_onChanged)
        m_onChanged();
}

QVariantMap StatusNotifierItem::properties(const QString& caller) const
{
    QVariantMap p{{QStringLiteral("Category"), QStringLiteral("ApplicationStatus")},
                  {QStringLiteral("Id"), QStringLiteral("kelvane")},
                  {QStringLiteral("Title"), QStringLiteral("Kelvane")},
                  {QStringLiteral("Status"),
                   m_passive ? QStringLiteral("Passive") : QStringLiteral("Active")},
                  {QStringLiteral("WindowId"), 0},
                  {QStringLiteral("IconName"), QString()},
                  {QStringLiteral("IconPixmap"), QVariant::fromValue(m_pixmaps)},
                  {QStringLiteral("OverlayIconName"), QString()},
                  {QStringLiteral("OverlayIconPixmap"), QVariant::fromValue(SniPixmaps())},
                  {QStringLiteral("AttentionIconName"), QString()},
                  {QStringLiteral("AttentionIconPixmap"), QVariant::fromValue(SniPixmaps())},
                  // The icon has no tooltip.
                  {QStringLiteral("ToolTip"), QVariant::fromValue(SniToolTip())},
                  {QStringLiteral("ItemIsMenu"), false}};
    if (!m_gnomeShell.isEmpty() && caller == m_gnomeShell)
        p.insert(QStringLiteral("Menu"),
                 QVariant::fromValue(QDBusObjectPath(QStringLiteral("/NO_DBUSMENU"))));
    return p;
}

// The properties every host sees (Menu aside, see the class).
QString StatusNotifierItem::introspect(const QString&) const
{
    QString xml = QStringLiteral("<interface name=\"%1\">").arg(kItem);
    const QVariantMap all = properties(QString());
    for (auto it = all.begin(); it != all.end(); ++it)
        xml += QStringLiteral("\n<property name=\"%1\" type=\"%2\" access=\"read\"/>")
                   .arg(it.key(), QLatin1String(QDBusMetaType::typeToSignature(it->metaType())));
    return xml + QLatin1String(kMethods) + QStringLiteral("</interface>\n");
}

bool StatusNotifierItem::handleMessage(const QDBusMessage& message,
                                       const QDBusConnection& connection)
{
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    QDBusMessage reply;
    if (message.interface() == kProperties) {
        const QVariantMap all =
            args.value(0).toString() == kItem ? properties(message.service()) : QVariantMap();
        if (member == QLatin1String("GetAll")) {
            reply = message.createReply(QVariant::fromValue(all));
        } else if (const QString name = args.value(1).toString();
                   member == QLatin1String("Get") && all.contains(name)) {
            reply = message.createReply(QVariant::fromValue(QDBusVariant(all.value(name))));
        } else if (member == QLatin1String("Get")) {
            reply = message.createErrorReply(QDBusError::UnknownProperty,
                                             QStringLiteral("No such property"));
        } else {
            reply = message.createErrorReply(QDBusError::PropertyReadOnly,
                                             QStringLiteral("The item's properties are read-only"));
        }
    } else if (message.interface() == kItem || message.interface().isEmpty()) {
        if (member == QLatin1String("Activate"))
            m_onMouseMessage(kLeftDown);
        else if (member == QLatin1String("SecondaryActivate"))
            m_onMouseMessage(kMiddleDown);
        else if (member == QLatin1String("ContextMenu"))
            m_onMouseMessage(kRightDown);
        else if (member != QLatin1String("Scroll"))
            return false;
        reply = message.createReply();
    } else {
        return false;
    }
    connection.send(reply);
    return true;
}

} // namespace tk::qt
