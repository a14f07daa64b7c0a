// What only the Qt backend can show: the native widgets behind the forms,
// real mouse and keyboard events, the offscreen platform's screen and the
// notification record the emulated shell works on.
#include "support/support.h"

#include "about/frmabout.h"
#include "app/kelvane.h"
#include "popup/form1.h"
#include "toolkit/dispatch.h"
#include "toolkit/qt/qt.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFontMetrics>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QTest>
#include <qpa/qplatformnativeinterface.h>

using tk::qt::widgetOf;

namespace {

// The offscreen platform's configuration, read and replaced through its
// native interface.
using Getter = QJsonObject (*)(QPlatformNativeInterface*);
using Setter = void (*)(const QJsonObject&, QPlatformNativeInterface*);
template <class F> F integration(const char* name)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    auto fn = reinterpret_cast<F>(native->nativeResourceForIntegration(name));
    if (!fn)
        throw std::runtime_error(std::string("the platform has no ") + name);
    return fn;
}
void setScreens(const QJsonArray& screens)
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    QJsonObject config = integration<Getter>("configuration")(native);
    config.insert(QStringLiteral("screens"), screens);
    integration<Setter>("setConfiguration")(config, native);
}

// Gives the offscreen platform one screen of this name and size in pixels;
// a new name makes it another display, as docking a laptop does.
bool setScreen(int width, int height, const QString& name = QStringLiteral("test"))
{
    setScreens({QJsonObject{{"name", name},
                            {"width", width},
                            {"height", height},
                            {"logicalDpi", 96},
                            {"logicalBaseDpi", 96},
                            {"dpr", 1}}});
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary->name() == name && primary->geometry().size() == QSize(width, height);
}

QWidget& child(const tk::Form& form, const char* name)
{
    auto* widget = widgetOf(form).findChild<QWidget*>(QString::fromLatin1(name));
    if (!widget)
        throw std::runtime_error(std::string("no control ") + name);
    return *widget;
}

class QtBackend : public testing::Test {
protected:
    void SetUp() override { Form2->load(); }
};

TEST_F(QtBackend, captionsFitTheirLabels)
{
    std::vector<std::pair<QLabel*, QString>> shown;
    for (QLabel* label : widgetOf(*Form1).findChildren<QLabel*>())
        if (!label->text().isEmpty())
            shown.emplace_back(label, label->text());
    ASSERT_EQ(shown.size(), 7u);
    // The temperatures at their widest.
    for (const char* name : {"gputemp", "piquegputemp"})
        for (const char* value : {"100°c", "--°c"})
            shown.emplace_back(&static_cast<QLabel&>(child(*Form1, name)),
                               QString::fromUtf8(value));
    for (const auto& [label, text] : shown) {
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(text), label->width())
            << text.toStdString() << " in " << QFontInfo(label->font()).family().toStdString();
        EXPECT_LE(metrics.height(), label->height()) << text.toStdString();
    }
}

TEST_F(QtBackend, mouseClicksReachTheCommandLabelsThroughTheirFrames)
{
    QWidget& popup = widgetOf(*Form1);
    // Elsewhere a click does nothing.
    for (const char* name : {"gputemp", "piquegputemp", "Label2", "Label4"})
        QTest::mouseClick(&child(*Form1, name), Qt::LeftButton);
    QTest::mouseClick(popup.windowHandle(), Qt::LeftButton, {}, QPoint(3, 70));
    EXPECT_FALSE(Form1->Timer3->enabled());
    EXPECT_FALSE(frmabout.exists() && frmabout->isVisible());
    // On "Masqué", at the middle and on the frame's own one-pixel line.
    QWidget& hide = child(*Form1, "Label7");
    EXPECT_EQ(popup.childAt(hide.geometry().topLeft()), &hide);
    QTest::mouseClick(popup.childAt(hide.geometry().center()), Qt::LeftButton);
    EXPECT_TRUE(Form1->Timer3->enabled());
}

TEST_F(QtBackend, theWindowSystemsCloseRequestGoesToTheForm)
{
    EXPECT_FALSE(widgetOf(*Form1).close());
    EXPECT_TRUE(Form1->isLoaded());
    EXPECT_TRUE(Form1->Timer3->enabled());
}

// The host hears the icon's clicks as mouse moves; the pointer really moving
// over it is none.
TEST_F(QtBackend, thePointerOverTheTrayHostIsNoClickOnTheIcon)
{
    Form2->show();
    QWidget& host = widgetOf(*Form2);
    host.resize(600, 500); // wide enough for x = 513, a left press's number
    Form1->slideDown();
    support::runUntilStopped(Form1->Timer3.get());
    QTest::mouseMove(host.windowHandle(), QPoint(513, 100));
    EXPECT_FALSE(Form1->Timer2->enabled());
}

TEST_F(QtBackend, aSmallerScreenMovesTheSlidesStopsOnTheNextTick)
{
    Form1->slideDown();
    Form1->Timer3->tick();
    EXPECT_EQ(Form1->top(), 9155.0f);
    ASSERT_TRUE(setScreen(960, 600)); // the bottom edge is now at 9000 twips
    Form1->Timer3->tick();
    EXPECT_FALSE(Form1->Timer3->enabled());
    Form1->slideUp();
    support::runUntilStopped(Form1->Timer2.get());
    EXPECT_EQ(Form1->top(), 7315.0f);
    EXPECT_TRUE(setScreen(960, 720));
}

// The desktop checks change a screen's size under Xephyr; this is another
// screen taking over.
TEST_F(QtBackend, anotherPrimaryDisplayTakesThePopupToItsCorner)
{
    struct DesignScreen {
        ~DesignScreen() { setScreen(960, 720); }
    } restore;
    ASSERT_TRUE(setScreen(1280, 1024, QStringLiteral("docked")));
    QWidget& popup = widgetOf(*Form1);
    EXPECT_TRUE(support::waitUntil([&] { return popup.pos() == QPoint(1095, 913); }))
        << "the popup is at " << popup.pos().x() << "," << popup.pos().y();
}

// The display's last monitor gone as Kelvane starts: its first window cannot
// be made, which is reported like any other error, never an abort, and
// leaves no window behind (Qt's widget is made before the screen is asked
// for).
TEST(QtBackendStart, aWindowThatCannotBeMadeIsReportedAndLeavesNoWindow)
{
    EXPECT_EXIT(support::exitReporting([] {
                    setScreens({});
                    const int status = app::runForms();
                    std::fprintf(stderr, "windows left: %d\n",
                                 support::windowsCaptioned("Kelvane"));
                    return status;
                }),
                testing::ExitedWithCode(1),
                "^kelvane: No screen is available\nreported: No screen is available\n"
                "windows left: 0\nfailed 1, status 1\n$");
}

// A session bus with a status-notifier watcher that takes no item from
// Kelvane (another object has the item's path): with no X11 notification
// area either, Kelvane says why there is no icon.
TEST(QtBackendStart, anIconTheSessionBusRefusesIsNamed)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(support::exitReporting([] {
                    QProcess bus;
                    bus.start(QStringLiteral("dbus-daemon"),
                              {QStringLiteral("--session"), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1")});
                    if (!bus.waitForReadyRead(5000))
                        return 2;
                    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
                    QDBusConnection session = QDBusConnection::sessionBus();
                    QObject taken;
                    session.registerObject(QStringLiteral("/StatusNotifierItem"), &taken);
                    session.interface()->registerService(
                        QStringLiteral("org.kde.StatusNotifierWatcher"));
                    Form2->load();
                    tk::processEvents();
                    tk::releaseInstances();
                    bus.kill();
                    bus.waitForFinished();
                    return 0;
                }),
                testing::ExitedWithCode(0),
                "kelvane: the icon could not be offered on the session bus \\(the bus took no "
                "object at /StatusNotifierItem\\), and there is no X11 notification area; run "
                "kelvane again to bring a hidden popup back\\.\n(.*\n)*failed 0, status 0\n$");
}

} // namespace
