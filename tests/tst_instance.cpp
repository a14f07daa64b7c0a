#include "testsupport.h"

#include "app/instance.h"

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

} // namespace

class InstanceTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondStartIsForwardedToTheFirst()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.socket"));
        app::SingleInstance first(path);
        QVERIFY(!first.forwardToRunning());
        int requests = 0;
        QVERIFY(first.listen([&requests] { ++requests; }));

        // The second instance blocks while it waits for the answer, so it
        // runs on its own thread here.
        bool forwarded = false;
        std::unique_ptr<QThread> second(QThread::create([&] {
            app::SingleInstance other(path);
            forwarded = other.forwardToRunning();
        }));
        second->start();
        QTRY_VERIFY(second->isFinished());
        QVERIFY(forwarded);
        QCOMPARE(requests, 1);
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
        const QString path = dir.filePath(QStringLiteral("k.socket"));
        app::SingleInstance first(path);
        int requests = 0;
        QVERIFY(first.listen([&requests] { ++requests; }));
        RawClient client(path);
        QVERIFY(client.connected());
        client.send(request);
        QTRY_VERIFY(client.closedByPeer());
        QCOMPARE(requests, 0);
        QVERIFY(!client.answered());
    }

    void onlyThisUserCanReachTheChannel()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.socket"));
        app::SingleInstance first(path);
        QVERIFY(first.listen([] {}));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QVERIFY(S_ISSOCK(st.st_mode));
        QCOMPARE(st.st_mode & 077, 0u); // no access for group or others
    }

    void staleSocketOfACrashedInstanceIsReplaced()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.socket"));
        QFile stale(path);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        app::SingleInstance first(path);
        QVERIFY(!first.forwardToRunning());
        QVERIFY(first.listen([] {}));
    }
};

QTEST_MAIN(InstanceTest)
#include "tst_instance.moc"
