// The popup at 150 %, where Qt rounds positions and sizes to device pixels
// one by one. Runs with QT_SCALE_FACTOR=1.5 on the 960 x 720 offscreen screen.
#include "support/support.h"

#include "popup/form1.h"
#include "toolkit/qt/qt.h"
#include "tray/form2.h"

#include <QImage>
#include <QWindow>
#include <qpa/qplatformwindow.h>

namespace {

class HiDpi : public testing::Test {
protected:
    void SetUp() override { Form2->load(); }
    void TearDown() override { tk::releaseInstances(); }
};

TEST_F(HiDpi, theRightEdgeIsTheScreensInDevicePixels)
{
    QWindow* window = tk::qt::widgetOf(*Form1).windowHandle();
    ASSERT_TRUE(window);
    ASSERT_EQ(window->devicePixelRatio(), 1.5);
    const QRect native = window->handle()->geometry();
    EXPECT_EQ(native.x() + native.width(), 960);
    // And after a slide, which moves the window again.
    Form1->slideDown();
    support::runUntilStopped(Form1->Timer3.get());
    EXPECT_EQ(window->handle()->geometry().right(), 959);
}

TEST_F(HiDpi, outlinesAreOneDevicePixelOnAllFourSides)
{
    const QImage image = tk::qt::widgetOf(*Form1).grab().toImage();
    ASSERT_EQ(image.devicePixelRatio(), 1.5);
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    const int w = image.width();
    const int h = image.height();
    const int midY = h / 4; // inside the upper band, clear of the text
    const int midX = w / 2;
    EXPECT_EQ(image.pixelColor(0, midY), black);
    EXPECT_EQ(image.pixelColor(1, midY), white);
    EXPECT_EQ(image.pixelColor(w - 1, midY), black);
    EXPECT_EQ(image.pixelColor(w - 2, midY), white);
    EXPECT_EQ(image.pixelColor(midX, 0), black);
    EXPECT_EQ(image.pixelColor(midX, 1), white);
    EXPECT_EQ(image.pixelColor(midX, h - 1), black);
    EXPECT_EQ(image.pixelColor(midX, h - 2), white);
}

} // namespace
