#include "testsupport.h"

#include "popup/form1.h"
#include "toolkit/screen.h"
#include "tray/form2.h"
#include "tray/shell.h"

#include <QApplication>
#include <QMenuBar>
#include <QTest>

using tray::decodeMouseMessage;
using tray::fromAnsi;
using tray::iconRegistered;
using tray::toAnsi;
using tray::trayIconFor;
using tray::TrayIconRecord;

namespace {

void clickIcon(int mouseMessage)
{
    // What the shell layer hands the form for a click on the icon.
    Form2->deliverMouseMove(0, 0, static_cast<float>(mouseMessage) * 15.0f, 0);
}

} // namespace

class TrayTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
    }

    void init() { Form2->load(); }
    void cleanup() { tk::releaseInstances(); }

    void recordHasTheShellsByteLayout()
    {
        TrayIconRecord r;
        r.cbSize = 88;
        r.hWnd = 0x01234567;
        r.uID = 1;
        r.uFlags = 7;
        r.uCallbackMessage = 512;
        r.hIcon = 0x89ABCDEF;
        r.szTip = QString(80, QLatin1Char('t'));
        const QByteArray bytes = toAnsi(r);
        QCOMPARE(bytes.size(), 88);
        QCOMPARE(bytes.left(24).toHex(), QByteArray("58000000"
                                                    "67452301"
                                                    "01000000"
                                                    "07000000"
                                                    "00020000"
                                                    "efcdab89"));
        QCOMPARE(bytes.mid(24, 63), QByteArray(63, 't'));
        QCOMPARE(bytes.at(87), '\0');
        const TrayIconRecord back = fromAnsi(bytes);
        QCOMPARE(back.hWnd, r.hWnd);
        QCOMPARE(back.hIcon, r.hIcon);
        QCOMPARE(back.szTip.size(), 63);
    }

    void loadFillsTheRecordAndAddsTheIcon()
    {
        const TrayIconRecord& r = Form2->trayRecord;
        QCOMPARE(r.cbSize, 88);
        QCOMPARE(r.hWnd, Form2->hWnd());
        QVERIFY(r.hWnd != 0);
        QCOMPARE(r.uID, 1);
        QCOMPARE(r.uFlags, 7);
        QCOMPARE(r.uCallbackMessage, 512);
        QCOMPARE(r.hIcon, Form2->icon().handle());
        QVERIFY(!tk::Picture::fromHandle(r.hIcon).isNull());
        QVERIFY(r.szTip.isEmpty());
        QSystemTrayIcon* icon = trayIconFor(r.hWnd, 1);
        QVERIFY(icon);
        QVERIFY(icon->toolTip().isEmpty());
        QVERIFY(!icon->contextMenu());
    }

    void decoderRoundsHalvesToEven_data()
    {
        QTest::addColumn<float>("x");
        QTest::addColumn<int>("message");
        QTest::newRow("a whole left press") << 7695.0f << 513;
        QTest::newRow("a third of a pixel above") << 7700.0f << 513;
        QTest::newRow("a half pixel above an odd number goes up to even") << 7702.5f << 514;
        QTest::newRow("a half pixel below an odd number goes down to even") << 7687.5f << 512;
        QTest::newRow("just under the half") << 7702.0f << 513;
    }

    void decoderRoundsHalvesToEven()
    {
        QFETCH(float, x);
        QFETCH(int, message);
        QCOMPARE(decodeMouseMessage(x, 15.0f), message);
    }

    void onlyALeftPressActsOnAHiddenPopup_data()
    {
        QTest::addColumn<int>("message");
        QTest::addColumn<bool>("slides");
        QTest::newRow("left press") << 513 << true;
        QTest::newRow("left release") << 514 << false;
        QTest::newRow("double-click") << 515 << false;
        QTest::newRow("right press") << 516 << false;
        QTest::newRow("middle press") << 519 << false;
    }

    void onlyALeftPressActsOnAHiddenPopup()
    {
        QFETCH(int, message);
        QFETCH(bool, slides);
        Form1->slideDown();
        testsupport::runUntilStopped(Form1->Timer3.get());
        clickIcon(message);
        QCOMPARE(Form1->Timer2->enabled(), slides);
    }

    void leftPressDependsOnWhereThePopupIs_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("timer2After");
        QTest::addColumn<bool>("timer3After");
        QTest::newRow("hidden: it slides up") << "hidden" << true << false;
        QTest::newRow("sliding up: it keeps sliding") << "up" << true << false;
        QTest::newRow("sliding down: ignored") << "down" << false << true;
        QTest::newRow("at rest: nothing moves") << "rest" << false << false;
    }

    void leftPressDependsOnWhereThePopupIs()
    {
        QFETCH(QString, state);
        QFETCH(bool, timer2After);
        QFETCH(bool, timer3After);
        if (state != QStringLiteral("rest")) {
            Form1->slideDown();
            if (state == QStringLiteral("down")) {
                Form1->Timer3->tick();
            } else {
                testsupport::runUntilStopped(Form1->Timer3.get());
                if (state == QStringLiteral("up")) {
                    Form1->slideUp();
                    Form1->Timer2->tick();
                }
            }
        }
        const float top = Form1->top();
        clickIcon(513);
        QCOMPARE(Form1->Timer2->enabled(), timer2After);
        QCOMPARE(Form1->Timer3->enabled(), timer3After);
        QCOMPARE(Form1->top(), top);
        if (timer2After) {
            testsupport::runUntilStopped(Form1->Timer2.get());
            QCOMPARE(Form1->top(), 9115.0f);
        }
    }

    void pointerOverTheTrayHostIsNotAClick()
    {
        Form1->slideDown();
        testsupport::runUntilStopped(Form1->Timer3.get());
        Form2->show();
        Form2->window().resize(700, 300);
        QTest::mouseMove(Form2->window().windowHandle(), QPoint(513, 100));
        QTest::mouseMove(Form2->window().windowHandle(), QPoint(513, 120));
        QVERIFY(!Form1->Timer2->enabled());
    }

    void trayHostFollowsTheDesign()
    {
        Form2->show();
        tk::FormWindow& w = Form2->window();
        QCOMPARE(w.windowTitle(), QStringLiteral("Kelvane"));
        auto* client = w.findChild<QWidget*>(QStringLiteral("client"));
        QCOMPARE(client->size(), QSize(312, 213));
        QCOMPARE(Form2->Command1->text(), QStringLiteral("up"));
        QCOMPARE(Form2->Command1->geometry(), QRect(16, 16, 57, 33));
        QCOMPARE(Form2->Command2->text(), QStringLiteral("down"));
        QCOMPARE(Form2->Command2->geometry(), QRect(16, 56, 57, 33));
        QCOMPARE(Form2->Command3->geometry(), QRect(16, 104, 33, 25));
        QCOMPARE(Form2->Label1->geometry(), QRect(80, 16, 89, 17));
        QCOMPARE(Form2->Label2->geometry(), QRect(80, 56, 105, 17));
        QCOMPARE(Form2->Label1->palette().color(QPalette::Window), QColor(0xC0, 0, 0));
        QCOMPARE(Form2->Timer1->interval(), 100);
        QVERIFY(Form2->Timer1->enabled());
        auto* bar = w.findChild<QMenuBar*>();
        QVERIFY(bar);
        QCOMPARE(bar->actions().size(), 1);
        QCOMPARE(bar->actions().first()->text(), QStringLiteral("mnutest"));
        QStringList items;
        for (QAction* a : bar->actions().first()->menu()->actions())
            items << a->text();
        QCOMPARE(items, (QStringList{"fsdf", "sdfds"}));
        QCOMPARE(w.focusWidget(), &Form2->Command1.get());

        // Resizing moves nothing.
        w.resize(600, 500);
        QCOMPARE(Form2->Command1->geometry(), QRect(16, 16, 57, 33));
    }

    void upAndDownButtonsDriveTheSlides()
    {
        Form2->show();
        QTest::mouseClick(&Form2->Command1.get(), Qt::LeftButton);
        QVERIFY(Form1->Timer2->enabled());
        QTest::mouseClick(&Form2->Command2.get(), Qt::LeftButton);
        QVERIFY(Form1->Timer3->enabled());
        QVERIFY(!Form1->Timer2->enabled()); // the newer request won
        testsupport::runUntilStopped(Form1->Timer3.get());
        QVERIFY(Form1->top() >= 10800.0f);
    }

    void closingTheTrayHostUnloadsItAndTheButtonBringsItBack()
    {
        Form2->show();
        const quint32 hWnd = Form2->trayRecord.hWnd;
        Form2->window().close();
        QVERIFY(!Form2->isLoaded());
        QVERIFY(!iconRegistered(hWnd, 1));
        QVERIFY(Form1->isVisible());
        QCOMPARE(tk::loadedForms(), 1);

        QTest::mouseClick(&Form1->Command1.get(), Qt::LeftButton);
        QVERIFY(Form2->isVisible());
        QVERIFY(iconRegistered(Form2->trayRecord.hWnd, 1));
    }

    void quitRemovesTheIconBeforeThePopupCloses()
    {
        const quint32 hWnd = Form2->trayRecord.hWnd;
        QSystemTrayIcon* icon = trayIconFor(hWnd, 1);
        QVERIFY(icon);
        bool popupLoadedWhenIconWent = false;
        connect(icon, &QObject::destroyed, this,
                [&] { popupLoadedWhenIconWent = Form1->isLoaded(); });
        QTest::mouseClick(&Form1->Label5.get(), Qt::LeftButton);
        QVERIFY(popupLoadedWhenIconWent);
        QVERIFY(!iconRegistered(hWnd, 1));
        QVERIFY(!Form1->isLoaded());
        QVERIFY(!Form2->isLoaded());
    }
};

QTEST_MAIN(TrayTest)
#include "tst_tray.moc"
