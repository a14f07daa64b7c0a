// Single instance where there are no Unix domain sockets: QLockFile decides
// who is first and QLocalServer carries the show request. Not built on the
// Linux machines the project is developed on.
#include "instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

namespace app {
namespace {

const QByteArray kRequestBytes(SingleInstance::kRequest);
constexpr int kTimeoutMs = 1000;
constexpr int kReachMs = 2000;

} // namespace

struct SingleInstance::State {
    std::unique_ptr<QLockFile> lock;
    QLocalServer server;
};

QString SingleInstance::privateFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

SingleInstance::SingleInstance(QString folder, QString display)
    : m_folder(std::move(folder)), m_name(nameFor(std::move(display)))
{
}

SingleInstance::~SingleInstance() = default;

SingleInstance::Role SingleInstance::start(std::function<void()> onShowRequest)
{
    m_onShow = std::move(onShowRequest);
    m_state = std::make_unique<State>();
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder)) {
        m_problem = QStringLiteral("no private folder; running without the single-instance check");
        return Role::Alone;
    }
    if (!takeLock()) {
        if (forward())
            return Role::Forwarded;
        m_problem = QStringLiteral("Kelvane is already running, but did not answer");
        return Role::AlreadyRunning;
    }
    listen();
    return Role::First;
}

bool SingleInstance::takeLock()
{
    m_state->lock = std::make_unique<QLockFile>(lockPath());
    m_state->lock->setStaleLockTime(0);
    return m_state->lock->tryLock(0);
}

bool SingleInstance::listen()
{
    QLocalServer& server = m_state->server;
    server.setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(m_name); // this process holds the lock
    if (!server.listen(m_name)) {
        m_problem = QStringLiteral("cannot listen as %1: %2").arg(m_name, server.errorString());
        return false;
    }
    connect(&server, &QLocalServer::newConnection, this, [this] { serve(); });
    return true;
}

bool SingleInstance::forward()
{
    QDeadlineTimer deadline(kReachMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(kTimeoutMs)) {
            socket.write(kRequestBytes);
            if (!socket.waitForBytesWritten(kTimeoutMs) || !socket.waitForReadyRead(kTimeoutMs))
                return false;
            return socket.readAll() == SingleInstance::kAnswer;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}

void SingleInstance::serve()
{
    while (QLocalSocket* socket = m_state->server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
            // Only the one short request is understood; anything else, or
            // anything longer, closes the connection.
            if (socket->bytesAvailable() < kRequestBytes.size() && !socket->canReadLine())
                return;
            const QByteArray data = socket->read(kRequestBytes.size() + 1);
            if (data == kRequestBytes) {
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
