#include "sni.h"

#include <QCoreApplication>
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
// Debian's status-notifier-watcher takes its bus name before its object
// exists, so a registration right after it appears can fail: try again,
// waiting a little longer each time.
constexpr int kFirstRetryMs = 100;
constexpr int kRetries = 8;

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

StatusNotifierItem::StatusNotifierItem(const QIcon& icon, int id,
                                       std::function<void(int)> onMouseMessage)
    : m_pixmaps(pixmapsOf(icon)), m_onMouseMessage(std::move(onMouseMessage))
{
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmaps>();
    qDBusRegisterMetaType<SniToolTip>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    m_service = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                    .arg(QCoreApplication::applicationPid())
                    .arg(id);
    m_exported =
        bus.registerService(m_service) &&
        bus.registerObject(kItemPath, this,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                               QDBusConnection::ExportAllProperties);
    if (!m_exported)
        return;
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, [this] { tryRegister(); });
    m_watcher =
        new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) {
                setRegistered(false);
                m_retry->stop();
                m_attempt = 0;
                if (!newOwner.isEmpty())
                    tryRegister();
            });
    if (watcherPresent())
        tryRegister();
}

StatusNotifierItem::~StatusNotifierItem()
{
    if (!m_exported)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kItemPath);
    bus.unregisterService(m_service);
}

void StatusNotifierItem::onRegisteredChanged(std::function<void(bool)> handler)
{
    m_onRegisteredChanged = std::move(handler);
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

void StatusNotifierItem::setRegistered(bool registered)
{
    if (registered == m_registered)
        return;
    m_registered = registered;
    if (m_onRegisteredChanged)
        m_onRegisteredChanged(registered);
}

void StatusNotifierItem::Activate(int, int)
{
    m_onMouseMessage(kLeftDown);
}

void StatusNotifierItem::SecondaryActivate(int, int)
{
    m_onMouseMessage(kMiddleDown);
}

void StatusNotifierItem::ContextMenu(int, int)
{
    m_onMouseMessage(kRightDown);
}

void StatusNotifierItem::Scroll(int, const QString&) {}

} // namespace tk::qt
