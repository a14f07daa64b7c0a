#include "support/support.h"

#include "app/instance.h"

#include <cerrno>
#include <cstring>
#include <future>
#include <optional>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using Role = app::SingleInstance::Role;
namespace fs = std::filesystem;

namespace {

sockaddr_un unixAddress(const std::string& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return addr;
}

// A client that speaks raw bytes, as a stranger to the protocol would.
struct RawClient final {
    explicit RawClient(const std::string& path)
        : fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0))
    {
        const sockaddr_un addr = unixAddress(path);
        connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(fd); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // True once the other end has closed the connection.
    bool closedByPeer()
    {
        char c;
        const ssize_t n = ::recv(fd, &c, 1, 0);
        answered |= n > 0;
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

    const int fd;
    bool connected = false, answered = false;
};

// A second start blocks while it waits for the first to answer, so it runs
// on a thread of its own while this one serves the first.
Role startSecond(app::SingleInstance& second)
{
    auto role = std::async(std::launch::async, [&] { return second.start([] {}); });
    support::waitUntil(
        [&] { return role.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return role.get();
}

std::string privateFolder(const support::TempDir& dir, const std::string& name)
{
    const fs::path path = dir.path() / name;
    fs::create_directories(path);
    ::chmod(path.c_str(), 0700);
    return path.string();
}

// The tests move the runtime and temporary folders; the next gets them back.
class Instance : public testing::Test {
protected:
    void TearDown() override
    {
        for (const auto& [name, value] : m_saved)
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }

private:
    static std::pair<const char*, std::optional<std::string>> saved(const char* name)
    {
        const char* value = std::getenv(name);
        return {name, value ? std::optional<std::string>(value) : std::nullopt};
    }
    const std::pair<const char*, std::optional<std::string>> m_saved[2] = {saved("XDG_RUNTIME_DIR"),
                                                                           saved("TMPDIR")};
};

TEST_F(Instance, aSecondStartReachesTheFirst)
{
    for (const std::string setup : {"plain", "busy", "display", "long", "readonly"}) {
        SCOPED_TRACE(setup);
        support::TempDir dir;
        std::string folder = privateFolder(dir, "run");
        std::string secondDisplay = ":0";
        if (setup == "display") {
            secondDisplay = "unix:0.0";
        } else if (setup == "long") {
            // Longer than a socket address holds.
            folder = privateFolder(dir, "run/" + std::string(120, 'd'));
        } else if (setup == "readonly") {
            // A read-only runtime folder: both fall back to the same one.
            ::chmod(folder.c_str(), 0500);
            ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
            ::setenv("TMPDIR", dir.path().c_str(), 1);
            folder = app::SingleInstance::privateFolder();
            EXPECT_TRUE(folder.starts_with(dir.path().string() + "/kelvane-")) << folder;
        }

        app::SingleInstance first(folder, ":0");
        int requests = 0;
        ASSERT_EQ(first.start([&requests] { ++requests; }), Role::First);
        EXPECT_EQ(first.problem(), "");
        std::vector<std::unique_ptr<RawClient>> idle;
        if (setup == "busy") {
            // Four idle connections keep the channel busy.
            for (int i = 0; i < 4; ++i)
                idle.push_back(std::make_unique<RawClient>(first.socketPath()));
            tk::processEvents(50);
        }

        app::SingleInstance second(folder, secondDisplay);
        EXPECT_EQ(startSecond(second), Role::Forwarded);
        EXPECT_EQ(requests, 1);

        if (setup == "plain") {
            // Only this user may connect: group and others get no access.
            struct stat st {};
            ASSERT_EQ(::stat(first.socketPath().c_str(), &st), 0);
            EXPECT_TRUE(S_ISSOCK(st.st_mode));
            EXPECT_EQ(st.st_mode & 077, 0u);
        }
        ::chmod(dir.path().c_str(), 0700);
        ::chmod((dir.path() / "run").c_str(), 0700);
    }
}

TEST_F(Instance, aDirectoryAtTheSocketPathIsReportedNotIgnored)
{
    support::TempDir dir;
    const std::string folder = privateFolder(dir, "run");
    app::SingleInstance first(folder, ":0");
    fs::create_directories(first.socketPath());
    EXPECT_EQ(first.start([] {}), Role::First);
    EXPECT_NE(first.problem().find("not a socket"), std::string::npos) << first.problem();

    app::SingleInstance second(folder, ":0");
    EXPECT_EQ(startSecond(second), Role::AlreadyRunning);
    EXPECT_NE(second.problem(), "");
}

TEST_F(Instance, withoutAPrivateFolderNothingIsCreatedAnywhere)
{
    support::TempDir dir;
    // Another user could have made the fallback folder, open to all.
    const fs::path shared = dir.path() / ("kelvane-" + std::to_string(::getuid()));
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 0777);
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    EXPECT_EQ(app::SingleInstance::privateFolder(), "");

    support::TempDir working;
    const fs::path before = fs::current_path();
    fs::current_path(working.path());
    app::SingleInstance alone;
    const Role role = alone.start([] {});
    fs::current_path(before);
    EXPECT_EQ(role, Role::Alone);
    EXPECT_NE(alone.problem(), "");
    EXPECT_TRUE(fs::is_empty(working.path()));
    EXPECT_TRUE(fs::is_empty(shared));
}

TEST_F(Instance, theLeftoversOfAnEndedInstanceDoNotStopTheNext)
{
    support::TempDir dir;
    const std::string folder = privateFolder(dir, "run");
    {
        app::SingleInstance ended(folder, ":0");
        ASSERT_EQ(ended.start([] {}), Role::First);
    }
    EXPECT_TRUE(fs::is_empty(folder));

    // A crash leaves both behind: a lock file nobody holds and a socket
    // nobody listens on.
    app::SingleInstance next(folder, ":0");
    dir.write("run/kelvane-_0.lock", "");
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const sockaddr_un addr = unixAddress(next.socketPath());
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ::close(stale);

    EXPECT_EQ(next.start([] {}), Role::First);
    EXPECT_EQ(next.problem(), "");
}

TEST_F(Instance, anythingButTheOneRequestIsRefused)
{
    for (const std::string& request : {std::string("quit\n"), std::string("show\nshow\n"),
                                       std::string(4096, 'x'), std::string("sh")}) {
        SCOPED_TRACE(request.substr(0, 12));
        support::TempDir dir;
        app::SingleInstance first(privateFolder(dir, "run"), ":0");
        int requests = 0;
        ASSERT_EQ(first.start([&requests] { ++requests; }), Role::First);
        RawClient client(first.socketPath());
        ASSERT_TRUE(client.connected);
        ::send(client.fd, request.data(), request.size(), MSG_NOSIGNAL);
        EXPECT_TRUE(support::waitUntil([&] { return client.closedByPeer(); }));
        EXPECT_EQ(requests, 0);
        EXPECT_FALSE(client.answered);
    }
}

} // namespace
