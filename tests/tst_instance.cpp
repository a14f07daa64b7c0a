#include "testsupport.h"

#include "app/instance.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using Role = app::SingleInstance::Role;

namespace {

// A client that speaks raw bytes, as a stranger to the protocol would.
class RawClient final {
public:
    explicit RawClient(const QString& path)
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray p = QFile::encodeName(path);
        std::memcpy(addr.sun_path, p.constData(), static_cast<size_t>(p.size()));
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~RawClient() { ::close(m_fd); }
    Q_DISABLE_COPY_MOVE(RawClient)

    bool connected() const { return m_connected; }
    void send(const QByteArray& bytes)
    {
        ::send(m_fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL);
    }
    // True once the other end has closed the connection.
    bool closedByPeer()
    {
        char c;
        const ssize_t n = ::recv(m_fd, &c, 1, 0);
        if (n > 0)
            m_answered = true;
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    bool answered() const { return m_answered; }

private:
    int m_fd = -1;
    bool m_connected = false;
    bool m_answered = false;
};

// A second start blocks while it waits for the first to answer, so it runs
// on a thread of its own while this one serves the first.
Role startSecond(app::SingleInstance& second)
{
    Role role = Role::First;
    std::unique_ptr<QThread> thread(QThread::create([&] { role = second.start([] {}); }));
    thread->start();
    while (!thread->wait(QDeadlineTimer(10)))
        QCoreApplication::processEvents();
    return role;
}

QString privateFolder(const QTemporaryDir& dir, const QString& name)
{
    const QString path = dir.filePath(name);
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), 0700);
    return path;
}

} // namespace

class InstanceTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { m_env = {qgetenv("XDG_RUNTIME_DIR"), qgetenv("TMPDIR"), qgetenv("DISPLAY")}; }

    void cleanup()
    {
        qputenv("XDG_RUNTIME_DIR", m_env[0]);
        qputenv("TMPDIR", m_env[1]);
        qputenv("DISPLAY", m_env[2]);
    }

    void aSecondStartReachesTheFirst_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("a plain second start") << "plain";
        QTest::newRow("four idle connections keep the channel busy") << "busy";
        QTest::newRow("the display written :0 by one and unix:0.0 by the other") << "display";
        QTest::newRow("a folder path longer than a socket address holds") << "long";
        QTest::newRow("a read-only runtime folder: both fall back to the same one") << "readonly";
    }

    void aSecondStartReachesTheFirst()
    {
        QFETCH(QString, setup);
        QTemporaryDir dir;
        QString folder = privateFolder(dir, QStringLiteral("run"));
        QString firstDisplay = QStringLiteral(":0");
        QString secondDisplay = firstDisplay;
        if (setup == "display") {
            secondDisplay = QStringLiteral("unix:0.0");
        } else if (setup == "long") {
            folder = privateFolder(dir, QStringLiteral("run/") + QString(120, QLatin1Char('d')));
        } else if (setup == "readonly") {
            ::chmod(QFile::encodeName(folder).constData(), 0500);
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
            qputenv("TMPDIR", QFile::encodeName(dir.path()));
            folder = app::SingleInstance::privateFolder();
            QVERIFY(folder.startsWith(dir.path() + QStringLiteral("/kelvane-")));
        }

        app::SingleInstance first(folder, firstDisplay);
        int requests = 0;
        QCOMPARE(first.start([&requests] { ++requests; }), Role::First);
        QVERIFY2(first.problem().isEmpty(), qPrintable(first.problem()));
        std::vector<std::unique_ptr<RawClient>> idle;
        if (setup == "busy") {
            for (int i = 0; i < 4; ++i)
                idle.push_back(std::make_unique<RawClient>(first.socketPath()));
            QTest::qWait(50);
        }

        app::SingleInstance second(folder, secondDisplay);
        QCOMPARE(startSecond(second), Role::Forwarded);
        QCOMPARE(requests, 1);

        if (setup == "plain") {
            // Only this user may connect: group and others get no access.
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(first.socketPath()).constData(), &st), 0);
            QVERIFY(S_ISSOCK(st.st_mode));
            QCOMPARE(st.st_mode & 077, 0u);
        }
    }

    void aDirectoryAtTheSocketPathIsReportedNotIgnored()
    {
        QTemporaryDir dir;
        const QString folder = privateFolder(dir, QStringLiteral("run"));
        app::SingleInstance first(folder, QStringLiteral(":0"));
        QVERIFY(QDir().mkpath(first.socketPath()));
        QCOMPARE(first.start([] {}), Role::First);
        QVERIFY2(first.problem().contains(QStringLiteral("not a socket")),
                 qPrintable(first.problem()));

        app::SingleInstance second(folder, QStringLiteral(":0"));
        QCOMPARE(startSecond(second), Role::AlreadyRunning);
        QVERIFY(!second.problem().isEmpty());
    }

    void withoutAPrivateFolderNothingIsCreatedAnywhere()
    {
        QTemporaryDir dir;
        // Another user could have made the fallback folder, open to all.
        const QString shared = dir.filePath(QStringLiteral("kelvane-%1").arg(::getuid()));
        QVERIFY(QDir().mkpath(shared));
        ::chmod(QFile::encodeName(shared).constData(), 0777);
        qputenv("XDG_RUNTIME_DIR", "");
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        QCOMPARE(app::SingleInstance::privateFolder(), QString());

        QTemporaryDir working;
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(working.path()));
        app::SingleInstance alone;
        const Role role = alone.start([] {});
        const QStringList created = QDir().entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QDir::setCurrent(before);
        QCOMPARE(role, Role::Alone);
        QVERIFY(!alone.problem().isEmpty());
        QCOMPARE(created, QStringList());
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }

    void theLeftoversOfAnEndedInstanceDoNotStopTheNext()
    {
        QTemporaryDir dir;
        const QString folder = privateFolder(dir, QStringLiteral("run"));
        {
            app::SingleInstance ended(folder, QStringLiteral(":0"));
            QCOMPARE(ended.start([] {}), Role::First);
        }
        QVERIFY(!QFile::exists(folder + QStringLiteral("/kelvane-_0.lock")));
        QVERIFY(!QFile::exists(folder + QStringLiteral("/kelvane-_0.socket")));

        // A crash leaves both behind: a lock file nobody holds and a socket
        // nobody listens on.
        app::SingleInstance probe(folder, QStringLiteral(":0"));
        QFile lock(probe.lockPath());
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.close();
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(probe.socketPath());
        std::memcpy(addr.sun_path, path.constData(), static_cast<size_t>(path.size()));
        QCOMPARE(::bind(stale, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(stale);

        app::SingleInstance next(folder, QStringLiteral(":0"));
        QCOMPARE(next.start([] {}), Role::First);
        QVERIFY2(next.problem().isEmpty(), qPrintable(next.problem()));
    }

    void displayNamesAreNormalised_data()
    {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("normalised");
        QTest::newRow("display only") << ":0"
                                      << ":0";
        QTest::newRow("with a screen number") << ":0.1"
                                              << ":0";
        QTest::newRow("the unix prefix") << "unix:1.0"
                                         << ":1";
        QTest::newRow("a remote host keeps its name") << "host:10.0"
                                                      << "host:10";
        QTest::newRow("a Wayland socket") << "wayland-0"
                                          << "wayland-0";
    }

    void displayNamesAreNormalised()
    {
        QFETCH(QString, given);
        QFETCH(QString, normalised);
        QCOMPARE(app::SingleInstance::normaliseDisplay(given), normalised);
    }

    void anythingButTheOneRequestIsRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("another word") << QByteArray("quit\n");
        QTest::newRow("the request with more after it") << QByteArray("show\nshow\n");
        QTest::newRow("a long stream of bytes") << QByteArray(4096, 'x');
        QTest::newRow("half a request, then nothing") << QByteArray("sh");
    }

    void anythingButTheOneRequestIsRefused()
    {
        QFETCH(QByteArray, request);
        QTemporaryDir dir;
        app::SingleInstance first(privateFolder(dir, QStringLiteral("run")), QStringLiteral(":0"));
        int requests = 0;
        QCOMPARE(first.start([&requests] { ++requests; }), Role::First);
        RawClient client(first.socketPath());
        QVERIFY(client.connected());
        client.send(request);
        QTRY_VERIFY(client.closedByPeer());
        QCOMPARE(requests, 0);
        QVERIFY(!client.answered());
    }

private:
    QList<QByteArray> m_env;
};

QTEST_MAIN(InstanceTest)
#include "tst_instance.moc"
