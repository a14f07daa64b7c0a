#include "instance.h"

// The single-instance channel over QLocalServer, for systems without Unix
// domain sockets. Linux uses instance_unix.cpp, which spares the program the
// network library and its dependencies.
#include <QLocalServer>
#include <QLocalSocket>

namespace app {
namespace {

const QByteArray kRequest(SingleInstance::kRequest);
constexpr int kTimeoutMs = 1000;

} // namespace

struct SingleInstance::Channel {
    QLocalServer server;
};

SingleInstance::SingleInstance(QString socketPath) : m_path(std::move(socketPath)) {}

SingleInstance::~SingleInstance() = default;

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
    return socket.readAll() == SingleInstance::kAnswer;
}

bool SingleInstance::listen(std::function<void()> onShowRequest)
{
    m_onShow = std::move(onShowRequest);
    m_channel = std::make_unique<Channel>();
    QLocalServer& server = m_channel->server;
    // Only this user may connect.
    server.setSocketOptions(QLocalServer::UserAccessOption);
    server.setMaxPendingConnections(4);
    if (!server.listen(m_path)) {
        // Nothing answered forwardToRunning(), so a socket left by a crashed
        // instance is stale.
        QLocalServer::removeServer(m_path);
        if (!server.listen(m_path)) {
            m_channel.reset();
            return false;
        }
    }
    connect(&server, &QLocalServer::newConnection, this, [this] { serve(); });
    return true;
}

void SingleInstance::serve()
{
    while (QLocalSocket* socket = m_channel->server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            // Only the one short request is understood; anything else, or
            // anything longer, closes the connection.
            if (socket->bytesAvailable() < kRequest.size() && !socket->canReadLine())
                return;
            const QByteArray data = socket->read(kRequest.size() + 1);
            if (data == kRequest) {
                socket->write(SingleInstance::kAnswer);
                socket->flush();
                if (m_onShow)
                    m_onShow();
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace app
