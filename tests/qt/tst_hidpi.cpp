// The popup at 150 %, where Qt rounds positions and sizes to device pixels
// one by one (the desktop checks look at its outlines at 150 and 200 %). Runs with
// QT_SCALE_FACTOR=1.5 on the 960 x 720 offscreen screen.
#include "support/support.h"

#include "popup/form1.h"
#include "toolkit/qt/qt.h"
#include "tray/form2.h"

#include <QWindow>
#include <qpa/qplatformwindow.h>

namespace {

class HiDpi : public testing::Test {
protected:
    void SetUp() override { Form2->load(); }
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

} // namespace
