#include "testsupport.h"

#include "app/exit.h"
#include "popup/form1.h"
#include "toolkit/error.h"
#include "tray/form2.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

class StartupTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { tk::init(); }
    void cleanup() { tk::releaseInstances(); }

    void onlyThePopupIsVisibleAfterStart()
    {
        testsupport::failOnFatalReport();
        Form2->load();
        QVERIFY(Form2->isLoaded());
        QVERIFY(!Form2->isVisible());
        QVERIFY(Form1->isVisible());
        QVERIFY(tray::iconRegistered(Form2->trayRecord.hWnd, 1));
        QStringList visible;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible())
                visible << w->objectName();
        }
        QCOMPARE(visible, QStringList{QStringLiteral("Form1")});
    }

    void exitSequenceEndsTheProgram()
    {
        testsupport::failOnFatalReport();
        Form2->load();
        const quint32 hWnd = Form2->trayRecord.hWnd;
        QTimer::singleShot(0, [] { QTest::mouseClick(&Form1->Label5.get(), Qt::LeftButton); });
        QCOMPARE(tk::exec(), 0);
        QVERIFY(!Form1->isLoaded());
        QVERIFY(!Form2->isLoaded());
        QVERIFY(!tray::iconRegistered(hWnd, 1));
    }

    void unloadingAFormThatIsNotLoadedDoesNothing()
    {
        testsupport::failOnFatalReport();
        Form1->show();
        Form2->unload();
        QVERIFY(Form1->isLoaded());
        QCOMPARE(tk::loadedForms(), 1);
    }

    void versionAndHelpNeedNoDisplay_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("output");
        QTest::newRow("--version prints the version")
            << QStringList{"--version"} << 0 << "Kelvane 2.05.0003\n";
        QTest::newRow("--help says what the program is")
            << QStringList{"--help"} << 0 << "core temperature";
        QTest::newRow("an unknown option is refused") << QStringList{"--frobnicate"} << 2 << "";
        QTest::newRow("no display is reported, not a toolkit abort") << QStringList{} << 1 << "";
    }

    void versionAndHelpNeedNoDisplay()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, output);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(KELVANE_BINARY), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        QVERIFY(QString::fromUtf8(process.readAllStandardOutput()).contains(output));
        if (status != 0)
            QVERIFY(process.readAllStandardError().startsWith("kelvane: "));
    }

    // Last: after an uncaught error no handler runs in this process again.
    void uncaughtHandlerErrorIsReportedAndEndsTheProgram()
    {
        QString reported;
        tk::setFatalReporter([&reported](const QString& message) { reported = message; });
        Form1->show();
        Form1->Timer2->onTick(
            [] { throw tk::Error(tk::Status::Overflow, QStringLiteral("Overflow")); });
        Form1->Timer2->setEnabled(true);
        QCOMPARE(tk::exec(), 1);
        QCOMPARE(reported, QStringLiteral("Overflow"));
        QVERIFY(tk::failed());
        QCOMPARE(tk::exitStatus(), 1);
    }
};

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
