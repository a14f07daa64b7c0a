// Single instance on Unix: flock on a lock file decides who is first, and a
// Unix domain socket beside it carries the show request.
#include "instance.h"

#include "toolkit/dispatch.h"
#include "toolkit/events.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <regex>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace app {
namespace {

constexpr int kTimeoutMs = 1000;
// How long a second start keeps trying while the first is still starting,
// and waits for its answer: ten Kelvanes started at once on a busy machine
// take seconds to come up.
constexpr int kReachMs = 5000;
constexpr int kAnswerMs = 5000;
constexpr std::size_t kMaxClients = 16;
constexpr std::size_t kRequestSize = sizeof(SingleInstance::kRequest) - 1;

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
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

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

// What a process that ends without unwinding (Qt calls exit() when the X
// server goes away) must still remove.
struct Leftovers {
    std::string socket;
    std::string lock;
};

Leftovers& leftovers()
{
    static Leftovers* l = [] {
        std::atexit([] {
            if (!leftovers().socket.empty())
                ::unlink(leftovers().socket.c_str());
            if (!leftovers().lock.empty())
                ::unlink(leftovers().lock.c_str());
        });
        return new Leftovers;
    }();
    return *l;
}

bool isPrivate(const std::string& path, bool followLinks)
{
    struct stat st {};
    const int rc = followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    return rc == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 0777) == 0700;
}

// A socket address for a path of any length: one too long for sun_path is
// reached through the folder's descriptor in /proc.
struct Address {
    sockaddr_un addr{};
    Fd folder;
};

bool makeAddress(const std::string& folder, const std::string& name, Address& out)
{
    std::string path = folder + '/' + name;
    if (path.size() >= sizeof out.addr.sun_path) {
        out.folder.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!out.folder)
            return false;
        path = "/proc/self/fd/" + std::to_string(out.folder.get()) + '/' + name;
        if (path.size() >= sizeof out.addr.sun_path)
            return false;
    }
    out.addr.sun_family = AF_UNIX;
    std::memcpy(out.addr.sun_path, path.data(), path.size());
    return true;
}

bool waitFor(int fd, short events, int timeoutMs = kTimeoutMs)
{
    pollfd p{fd, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc == 1 && (p.revents & events);
}

bool sameUser(int fd)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == ::getuid();
}

std::string errorText()
{
    return std::strerror(errno);
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

struct SingleInstance::State {
    struct Client {
        Fd fd;
        std::unique_ptr<tk::ReadWatch> watch;
        tk::OneShot timeout;
        std::string received;
        std::uint64_t serial = 0;
        bool done = false; // answered or given up; waiting to be dropped

        // Reads what has come; true once the client is done with, by a
        // whole request or by anything else.
        bool readRequest()
        {
            char buffer[kRequestSize + 1];
            const ssize_t n = ::recv(fd.get(), buffer, sizeof buffer, 0);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                return false;
            if (n > 0)
                received.append(buffer, static_cast<std::size_t>(n));
            // Only the one short request is understood; anything else, or
            // anything longer, closes the connection.
            const bool complete = received.size() >= kRequestSize;
            if (n > 0 && !complete && std::string_view(kRequest).starts_with(received))
                return false;
            done = true;
            return true;
        }
    };

    // Idle connections must not lock a second start out: the oldest gives
    // way to the newest.
    void dropOldestClient()
    {
        auto oldest = clients.begin();
        for (auto it = clients.begin(); it != clients.end(); ++it)
            if (it->second.serial < oldest->second.serial)
                oldest = it;
        clients.erase(oldest);
    }

    Fd lock;
    Fd listener;
    bool ownsSocket = false;
    std::unique_ptr<tk::ReadWatch> watch;
    std::map<int, Client> clients;
    std::uint64_t nextSerial = 0;
};

std::string SingleInstance::privateFolder()
{
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    if (runtime.starts_with('/') && isPrivate(runtime, true))
        return runtime;
    std::string tmp = environment("TMPDIR");
    if (!tmp.starts_with('/'))
        tmp = "/tmp";
    const std::string own = tmp + "/kelvane-" + std::to_string(::getuid());
    ::mkdir(own.c_str(), 0700);
    // Not a link, and nobody else's: another user could otherwise answer for
    // this one, or see the requests.
    if (isPrivate(own, false))
        return own;
    return {};
}

std::string SingleInstance::currentDisplay()
{
    std::string display = environment("DISPLAY");
    if (display.empty())
        display = environment("WAYLAND_DISPLAY");
    return normaliseDisplay(display);
}

SingleInstance::SingleInstance(std::string folder, std::string display)
    : m_folder(std::move(folder)), m_name(nameFor(std::move(display)))
{
}

SingleInstance::~SingleInstance()
{
    if (!m_state || !m_state->lock)
        return;
    if (m_state->ownsSocket)
        ::unlink(socketPath().c_str());
    ::unlink(lockPath().c_str());
    leftovers() = {};
}

SingleInstance::Role SingleInstance::start(std::function<void()> onShowRequest)
{
    m_onShow = std::move(onShowRequest);
    m_state = std::make_unique<State>();
    if (m_folder.empty()) {
        m_problem = "no private runtime folder (XDG_RUNTIME_DIR, or one of this user's own in "
                    "the temporary folder); running without the single-instance check";
        return Role::Alone;
    }
    if (!takeLock()) {
        if (!m_problem.empty())
            return Role::Alone;
        if (forward())
            return Role::Forwarded;
        m_problem = "Kelvane is already running, but did not answer at " + socketPath();
        return Role::AlreadyRunning;
    }
    leftovers().lock = lockPath();
    listen();
    return Role::First;
}

bool SingleInstance::takeLock()
{
    const std::string path = lockPath();
    // An instance that ends removes its lock file. One that opened the old
    // file just before then holds a lock nobody else can see, so it looks
    // again until the file it locked is the one at the path.
    for (int attempt = 0; attempt < 8; ++attempt) {
        Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd) {
            m_problem = "cannot open " + path + " (" + errorText() +
                        "); running without the single-instance check";
            return false;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            return false; // held by the running instance
        struct stat locked {
        }, current{};
        if (::fstat(fd.get(), &locked) == 0 && ::stat(path.c_str(), &current) == 0 &&
            locked.st_dev == current.st_dev && locked.st_ino == current.st_ino) {
            m_state->lock = std::move(fd);
            return true;
        }
    }
    return false;
}

bool SingleInstance::listen()
{
    const std::string path = socketPath();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            m_problem = path + " is in the way and is not a socket; remove it so that starting "
                               "Kelvane again can bring the popup back";
            return false;
        }
        // This process holds the lock, so whoever made the socket is gone.
        ::unlink(path.c_str());
    }
    Address address;
    if (!makeAddress(m_folder, m_name + ".socket", address)) {
        m_problem = "cannot reach " + path + " (" + errorText() + ")";
        return false;
    }
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd)
        return false;
    // Only this user may connect: group and others get no access to the file.
    const mode_t previous = ::umask(0077);
    const bool bound =
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address.addr), sizeof address.addr) == 0;
    ::umask(previous);
    if (!bound || ::listen(fd.get(), 8) != 0) {
        m_problem = "cannot listen at " + path + " (" + errorText() + ")";
        return false;
    }
    m_state->ownsSocket = true;
    leftovers().socket = path;
    m_state->listener = std::move(fd);
    m_state->watch = std::make_unique<tk::ReadWatch>(m_state->listener.get(), [this] { serve(); });
    return true;
}

bool SingleInstance::forward()
{
    Address address;
    if (!makeAddress(m_folder, m_name + ".socket", address))
        return false;
    // The first instance takes its lock a moment before it listens.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReachMs);
    for (;;) {
        Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (!fd)
            return false;
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address.addr), sizeof address.addr) ==
            0) {
            // Only the user's own Kelvane may take the request.
            if (!sameUser(fd.get()))
                return false;
            if (::send(fd.get(), kRequest, kRequestSize, MSG_NOSIGNAL) !=
                    static_cast<ssize_t>(kRequestSize) ||
                !waitFor(fd.get(), POLLIN, kAnswerMs))
                return false;
            char answer[8] = {};
            const ssize_t n = ::recv(fd.get(), answer, sizeof answer - 1, 0);
            return n > 0 && std::string(answer, static_cast<std::size_t>(n)) == kAnswer;
        }
        if ((errno != ENOENT && errno != ECONNREFUSED) ||
            std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void SingleInstance::serve()
{
    State& state = *m_state;
    for (;;) {
        Fd fd(::accept4(state.listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd)
            return;
        // The socket file's mode keeps others out; the peer's credentials
        // are checked as well, in case the folder is shared.
        if (!sameUser(fd.get()))
            continue;
        if (state.clients.size() >= kMaxClients)
            state.dropOldestClient();
        const int key = fd.get();
        State::Client& client = state.clients[key];
        client.fd = std::move(fd);
        client.serial = state.nextSerial++;
        const std::uint64_t serial = client.serial;
        auto drop = [this, key, serial] {
            // Deferred: the watch that called may not be destroyed under it.
            tk::post([this, key, serial] {
                auto it = m_state->clients.find(key);
                if (it != m_state->clients.end() && it->second.serial == serial)
                    m_state->clients.erase(it);
            });
        };
        auto read = [this, &client, drop] {
            if (client.done || !client.readRequest())
                return;
            if (client.received == kRequest) {
                ::send(client.fd.get(), kAnswer, sizeof(kAnswer) - 1, MSG_NOSIGNAL);
                if (m_onShow)
                    m_onShow();
            }
            drop();
        };
        client.watch = std::make_unique<tk::ReadWatch>(key, read);
        // Many starts at once queue up before the loop gets here; a request
        // already waiting is answered now, before the next is accepted.
        read();
        client.timeout.start(kTimeoutMs, [&client, drop] {
            client.done = true;
            drop();
        });
    }
}

std::string SingleInstance::normaliseDisplay(const std::string& display)
{
    static const std::regex x11("(.*):([0-9]+)(\\.[0-9]+)?");
    std::smatch m;
    if (!std::regex_match(display, m, x11))
        return display; // a Wayland socket name
    std::string host = m[1].str();
    if (host == "unix")
        host.clear();
    return host + ':' + m[2].str();
}

} // namespace app
