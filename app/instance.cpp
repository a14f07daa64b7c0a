#include "instance.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QStandardPaths>

#ifdef Q_OS_LINUX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace app {
namespace {

const QByteArray kRequest = QByteArrayLiteral("show\n");
constexpr int kTimeoutMs = 1000;

bool sameUser(QLocalSocket& socket)
{
#ifdef Q_OS_LINUX
    ucred cred{};
    socklen_t len = sizeof cred;
    if (getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred,
                   &len) != 0)
        return false;
    return cred.uid == getuid();
#else
    // Elsewhere the server's user-only access option is the guard.
    Q_UNUSED(socket);
    return true;
#endif
}

} // namespace

SingleInstance::SingleInstance(QString socketPath) : m_path(std::move(socketPath)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultSocketPath()
{
    QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        display = qEnvironmentVariable("WAYLAND_DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    const QString name = QStringLiteral("kelvane-%1.socket").arg(display);
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        return name;
    return QDir(dir).filePath(name);
}

bool SingleInstance::forwardToRunning()
{
    QLocalSocket socket;
    socket.connectToServer(m_path);
    if (!socket.waitForConnected(kTimeoutMs))
        return false;
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(kTimeoutMs))
        return false;
    // The reply says the running instance took the request.
    if (!socket.waitForReadyRead(kTimeoutMs))
        return false;
    return socket.readAll().startsWith("ok");
}

bool SingleInstance::listen(std::function<void()> onShowRequest)
{
    m_onShow = std::move(onShowRequest);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(4);
    if (!m_server->listen(m_path)) {
        // Nothing answered forwardToRunning(), so a socket left by a crashed
        // instance is stale.
        QLocalServer::removeServer(m_path);
        if (!m_server->listen(m_path)) {
            m_server.reset();
            return false;
        }
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &SingleInstance::serve);
    return true;
}

void SingleInstance::serve()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!sameUser(*socket)) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            // Only the one short request is understood; anything else, or
            // anything longer, closes the connection.
            if (socket->bytesAvailable() < kRequest.size() && !socket->canReadLine())
                return;
            const QByteArray data = socket->read(kRequest.size() + 1);
            if (data == kRequest) {
                socket->write("ok\n");
                socket->flush();
                if (m_onShow)
                    m_onShow();
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace app
