#include "testsupport.h"

#include "app/instance.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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
    }

    void anythingButTheOneRequestIsRefused()
    {
        QFETCH(QByteArray, request);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k.socket"));
        app::SingleInstance first(path);
        int requests = 0;
        QVERIFY(first.listen([&requests] { ++requests; }));
        QLocalSocket client;
        client.connectToServer(path);
        QVERIFY(client.waitForConnected(1000));
        client.write(request);
        client.flush();
        QTRY_COMPARE(client.state(), QLocalSocket::UnconnectedState);
        QCOMPARE(requests, 0);
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
