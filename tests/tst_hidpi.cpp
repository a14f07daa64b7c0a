// The popup at 150 %, where Qt rounds positions and sizes to device pixels
// one by one. Runs with QT_SCALE_FACTOR=1.5 on the 960 x 720 offscreen screen.
#include "testsupport.h"

#include "popup/form1.h"
#include "tray/form2.h"

#include <QApplication>
#include <QTest>
#include <QWindow>
#include <qpa/qplatformwindow.h>

class HiDpiTest final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        tk::init();
        testsupport::failOnFatalReport();
    }

    void init() { Form2->load(); }
    void cleanup() { tk::releaseInstances(); }

    void theRightEdgeIsTheScreensInDevicePixels()
    {
        QWindow* window = Form1->window().windowHandle();
        QVERIFY(window);
        QCOMPARE(window->devicePixelRatio(), 1.5);
        const QRect native = window->handle()->geometry();
        QCOMPARE(native.x() + native.width(), 960);
        // And after a slide, which moves the window again.
        Form1->slideDown();
        testsupport::runUntilStopped(Form1->Timer3.get());
        QCOMPARE(window->handle()->geometry().right(), 959);
    }

    void outlinesAreOneDevicePixelOnAllFourSides()
    {
        const QImage image = Form1->window().grab().toImage();
        QCOMPARE(image.devicePixelRatio(), 1.5);
        const QColor black(Qt::black);
        const QColor white(Qt::white);
        const int w = image.width();
        const int h = image.height();
        const int midY = h / 4; // inside the upper band, clear of the text
        const int midX = w / 2;
        QCOMPARE(image.pixelColor(0, midY), black);
        QCOMPARE(image.pixelColor(1, midY), white);
        QCOMPARE(image.pixelColor(w - 1, midY), black);
        QCOMPARE(image.pixelColor(w - 2, midY), white);
        QCOMPARE(image.pixelColor(midX, 0), black);
        QCOMPARE(image.pixelColor(midX, 1), white);
        QCOMPARE(image.pixelColor(midX, h - 1), black);
        QCOMPARE(image.pixelColor(midX, h - 2), white);
    }
};

QTEST_MAIN(HiDpiTest)
#include "tst_hidpi.moc"
