#include "layershell.h"
#include "qt.h"

#include "toolkit/application.h"
#include "toolkit/backend.h"
#include "toolkit/dispatch.h"
#include "toolkit/events.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace tk {
namespace {

bool hasEnv(const char* name)
{
    return !qEnvironmentVariableIsEmpty(name);
}

bool waylandChosen()
{
    return qEnvironmentVariable("QT_QPA_PLATFORM").startsWith(QStringLiteral("wayland"));
}

// A Wayland client cannot place its own window, so the popup could neither
// sit at the screen's corner nor slide off it, unless it is a layer surface;
// XWayland can place it. So a native Wayland client where the compositor
// offers layer surfaces, XWayland elsewhere, unless the user chose; asked
// before Qt connects, since it chooses its platform once.
bool choosePlatform()
{
    const bool chosen = hasEnv("QT_QPA_PLATFORM");
    const bool layerShell =
        (chosen ? waylandChosen() : hasEnv("WAYLAND_DISPLAY")) && qt::compositorOffersLayerShell();
    // XWayland still, where Qt's Wayland platform is not installed.
    if (!chosen && layerShell)
        qputenv("QT_QPA_PLATFORM", hasEnv("DISPLAY") ? "wayland;xcb" : "wayland");
    else if (!chosen && hasEnv("WAYLAND_DISPLAY") && hasEnv("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    return layerShell;
}

[[noreturn]] void needX11(const char* why)
{
    std::fprintf(stderr,
                 "kelvane: needs an X11 display; Wayland sessions run it through XWayland (%s)\n",
                 why);
    std::exit(1);
}

// Whether the platform asked for, if any, is one that shows windows on the
// desktop (not offscreen, say).
bool desktopPlatform()
{
    const QString chosen = qEnvironmentVariable("QT_QPA_PLATFORM");
    return chosen.isEmpty() || chosen.startsWith(QStringLiteral("wayland")) ||
           chosen.startsWith(QStringLiteral("xcb"));
}

// Qt aborts when no platform can be set up, which is what an unreachable
// DISPLAY gives; the program says so in one line of its own and exits 1
// instead. Everything else said while the application starts is passed on
// once it has started.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};

QtMessageHandler g_passOn = nullptr;

std::vector<HeldMessage>& heldMessages()
{
    static std::vector<HeldMessage> held;
    return held;
}

void whileStarting(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        const QByteArray display =
            qgetenv("DISPLAY").isEmpty() ? qgetenv("WAYLAND_DISPLAY") : qgetenv("DISPLAY");
        std::fprintf(stderr, "kelvane: cannot open the display '%s'\n", display.constData());
        std::fflush(stderr);
        std::_Exit(1);
    }
    heldMessages().push_back({type, QByteArray(context.category), text});
}

void started()
{
    qInstallMessageHandler(g_passOn);
    for (const HeldMessage& m : heldMessages()) {
        const QMessageLogContext context(nullptr, 0, nullptr, m.category.constData());
        qt_message_output(m.type, context, m.text);
    }
    heldMessages().clear();
}

} // namespace

struct Application::Native {
    Native(int& argc, char** argv)
    {
        const bool layerShell = choosePlatform();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
        if (!hasEnv("QT_QPA_PLATFORM") && !hasEnv("DISPLAY") && !hasEnv("WAYLAND_DISPLAY")) {
            std::fprintf(stderr, "kelvane: no display to show the popup on (neither DISPLAY "
                                 "nor WAYLAND_DISPLAY is set)\n");
            std::exit(1);
        }
        // Never an ordinary Wayland window, on which "Masqué" and the icon
        // would do nothing.
        if (!hasEnv("DISPLAY") && hasEnv("WAYLAND_DISPLAY") && desktopPlatform() && !layerShell)
            needX11("this session offers none: DISPLAY is not set");
#endif
        g_passOn = qInstallMessageHandler(whileStarting);
        application = std::make_unique<QApplication>(argc, argv);
        started();
        if (QGuiApplication::platformName().startsWith(QStringLiteral("wayland")) &&
            !qt::onLayerShell())
            needX11("QT_QPA_PLATFORM chose Wayland");
        QApplication::setApplicationName(QStringLiteral("Kelvane"));
        QApplication::setDesktopFileName(QStringLiteral("kelvane"));
        QApplication::setQuitOnLastWindowClosed(false);
        QApplication::setFont(qt::defaultFont());
        qt::watchScreens();
        qt::watchFrames();
        qt::endWithTheServer();
        if (!qt::onLayerShell())
            qt::focusOnClick();
        detail::acceptPosts(true);
    }
    ~Native()
    {
        detail::acceptPosts(false);
    }

    std::unique_ptr<QApplication> application;
};

Application::Application(int& argc, char** argv) : m_native(std::make_unique<Native>(argc, argv)) {}

Application::~Application() = default;

QFont qt::defaultFont()
{
    // An Arial-metric sans face at 8 pt on a 96 dpi screen: the labels were
    // sized for a small face like this one and wider faces overflow them.
    QFont font;
    font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                      QStringLiteral("Helvetica"), QStringLiteral("DejaVu Sans Condensed")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

void processEvents(int waitMs)
{
    QCoreApplication::processEvents();
    if (waitMs > 0) {
        QEventLoop loop;
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // Windows of unloaded forms go now, as they would between two events.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int backend::runLoop()
{
    return QApplication::exec();
}

void backend::quit(int status)
{
    QCoreApplication::exit(status);
}

void backend::postToLoop(std::function<void()> function)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(function), Qt::QueuedConnection);
}

void backend::showFatal(const std::string& message)
{
    // Before the application or after it, the line on stderr is all there is.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    QMessageBox::critical(nullptr, QStringLiteral("Kelvane"), QString::fromStdString(message));
}

struct ReadWatch::Native {
    QSocketNotifier notifier;
    Native(int fd) : notifier(fd, QSocketNotifier::Read) {}
};

ReadWatch::ReadWatch(int fd, Handler onReadable) : m_native(std::make_unique<Native>(fd))
{
    QObject::connect(&m_native->notifier, &QSocketNotifier::activated, &m_native->notifier,
                     [handler = std::move(onReadable)] { handler(); });
}

ReadWatch::~ReadWatch() = default;

struct OneShot::Native {
    QTimer timer;
    QMetaObject::Connection connection;
};

OneShot::OneShot() : m_native(std::make_unique<Native>())
{
    m_native->timer.setSingleShot(true);
}

OneShot::~OneShot() = default;

void OneShot::start(int delayMs, Handler handler)
{
    QObject::disconnect(m_native->connection);
    m_native->connection = QObject::connect(&m_native->timer, &QTimer::timeout, &m_native->timer,
                                            [handler = std::move(handler)] { handler(); });
    m_native->timer.start(delayMs);
}

void OneShot::stop()
{
    m_native->timer.stop();
}

} // namespace tk
