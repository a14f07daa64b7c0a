// The single-instance channel over a Unix domain socket, with nothing but
// QtCore: the network library would cost more memory than all of Kelvane's
// own code.
#include "instance.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace app {
namespace {

constexpr int kTimeoutMs = 1000;
constexpr qsizetype kRequestSize = sizeof(SingleInstance::kRequest) - 1;

// A file descriptor that closes itself.
class Fd final {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    Q_DISABLE_COPY(Fd)

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

bool address(const QString& path, sockaddr_un& out)
{
    const QByteArray encoded = QFile::encodeName(path);
    std::memset(&out, 0, sizeof out);
    out.sun_family = AF_UNIX;
    if (encoded.size() >= static_cast<qsizetype>(sizeof out.sun_path))
        return false;
    std::memcpy(out.sun_path, encoded.constData(), static_cast<size_t>(encoded.size()));
    return true;
}

bool waitFor(int fd, short events)
{
    pollfd p{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, kTimeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc == 1 && (p.revents & events);
}

bool sameUser(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::getuid();
}

} // namespace

struct SingleInstance::Channel {
    struct Client {
        Fd fd;
        std::unique_ptr<QSocketNotifier> notifier;
        std::unique_ptr<QTimer> timeout;
        QByteArray received;
    };

    Fd listener;
    std::unique_ptr<QSocketNotifier> notifier;
    std::map<int, Client> clients;
};

SingleInstance::SingleInstance(QString socketPath) : m_path(std::move(socketPath)) {}

SingleInstance::~SingleInstance()
{
    if (m_channel)
        QFile::remove(m_path);
}

bool SingleInstance::forwardToRunning()
{
    sockaddr_un addr;
    if (!address(m_path, addr))
        return false;
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd || ::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return false;
    if (::send(fd.get(), kRequest, kRequestSize, MSG_NOSIGNAL) != kRequestSize)
        return false;
    if (!waitFor(fd.get(), POLLIN))
        return false;
    char answer[8] = {};
    const ssize_t n = ::recv(fd.get(), answer, sizeof answer - 1, 0);
    return n > 0 && QByteArray(answer, n) == kAnswer;
}

bool SingleInstance::listen(std::function<void()> onShowRequest)
{
    m_onShow = std::move(onShowRequest);
    sockaddr_un addr;
    if (!address(m_path, addr))
        return false;
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return false;
    // Nothing answered forwardToRunning(), so a socket file left by a crashed
    // instance is stale.
    ::unlink(addr.sun_path);
    // Only this user may connect: group and others get no access to the file.
    const mode_t previous = ::umask(0077);
    const bool bound = ::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::umask(previous);
    if (!bound || ::listen(fd.get(), 4) != 0)
        return false;

    m_channel = std::make_unique<Channel>();
    m_channel->listener = std::move(fd);
    m_channel->notifier =
        std::make_unique<QSocketNotifier>(m_channel->listener.get(), QSocketNotifier::Read);
    connect(m_channel->notifier.get(), &QSocketNotifier::activated, this, [this] { serve(); });
    return true;
}

void SingleInstance::serve()
{
    Channel& channel = *m_channel;
    for (;;) {
        Fd fd(::accept4(channel.listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd)
            return;
        // The socket file's mode keeps others out; the peer's credentials
        // are checked as well, in case the runtime folder is shared.
        if (!sameUser(fd.get()) || channel.clients.size() >= 4)
            continue;
        const int key = fd.get();
        Channel::Client& client = channel.clients[key];
        client.fd = std::move(fd);
        client.notifier = std::make_unique<QSocketNotifier>(key, QSocketNotifier::Read);
        client.timeout = std::make_unique<QTimer>();
        client.timeout->setSingleShot(true);
        auto drop = [this, key] {
            // Deferred: the notifier that called may not be destroyed under it.
            QTimer::singleShot(0, this, [this, key] {
                if (m_channel)
                    m_channel->clients.erase(key);
            });
        };
        connect(client.timeout.get(), &QTimer::timeout, this, [&client, drop] {
            client.notifier->setEnabled(false);
            drop();
        });
        connect(client.notifier.get(), &QSocketNotifier::activated, this, [this, &client, drop] {
            char buffer[kRequestSize + 1];
            const ssize_t n = ::recv(client.fd.get(), buffer, sizeof buffer, 0);
            if (n > 0)
                client.received.append(buffer, n);
            // Only the one short request is understood; anything else, or
            // anything longer, closes the connection.
            const bool complete = client.received.size() >= kRequestSize;
            if (n > 0 && !complete && QByteArray(kRequest).startsWith(client.received))
                return;
            client.notifier->setEnabled(false);
            if (client.received == kRequest) {
                ::send(client.fd.get(), kAnswer, sizeof(kAnswer) - 1, MSG_NOSIGNAL);
                if (m_onShow)
                    m_onShow();
            }
            drop();
        });
        client.timeout->start(kTimeoutMs);
    }
}

} // namespace app
