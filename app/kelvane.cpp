#include "kelvane.h"
#include "exit.h"
#include "instance.h"
#include "signals.h"

#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"
#include "tray/form2.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace app {
namespace {

void printHelp()
{
    std::printf("Usage: kelvane [--help | --version]\n\n"
                "Kelvane shows the graphics card's core temperature and its peak since start\n"
                "in a small popup at the bottom-right corner of the screen. \"Masqué\" slides\n"
                "the popup away; a left click on Kelvane's notification-area icon, or starting\n"
                "kelvane again, brings it back. \"Quitter\" ends the program.\n\n"
                "Options:\n"
                "  --help     show this text and exit\n"
                "  --version  show the version and exit\n\n"
                "Kelvane takes no other options and no configuration.\n");
}

bool hasEnv(const char* name)
{
    return !qEnvironmentVariableIsEmpty(name);
}

// A Wayland client cannot place its own window, so the popup could not sit
// at the screen's corner; XWayland can, so prefer it unless the user chose.
void choosePlatform()
{
    if (!hasEnv("QT_QPA_PLATFORM") && hasEnv("WAYLAND_DISPLAY") && hasEnv("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

// Qt aborts when no platform can be set up, which is what an unreachable
// DISPLAY gives; Kelvane says so in one line of its own and exits 1 instead.
// Everything else said while the application starts is passed on once it
// has started.
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

int run(int argc, char** argv)
{
    if (argc > 1) {
        if (std::strcmp(argv[1], "--version") == 0 && argc == 2) {
            std::printf("Kelvane %s\n", kVersion);
            return 0;
        }
        if ((std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) && argc == 2) {
            printHelp();
            return 0;
        }
        std::fprintf(stderr, "kelvane: unknown option '%s'; try 'kelvane --help'\n", argv[1]);
        return 2;
    }

    choosePlatform();
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!hasEnv("QT_QPA_PLATFORM") && !hasEnv("DISPLAY") && !hasEnv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "kelvane: no display to show the popup on (neither DISPLAY nor "
                             "WAYLAND_DISPLAY is set)\n");
        return 1;
    }
#endif

    g_passOn = qInstallMessageHandler(whileStarting);
    QApplication application(argc, argv);
    started();
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QApplication::setDesktopFileName(QStringLiteral("kelvane"));
    tk::init();

    SingleInstance instance;
    const SingleInstance::Role role =
        instance.start([] { tk::dispatch([] { tray::requestPopup(); }); });
    if (!instance.problem().isEmpty()) {
        std::fprintf(stderr, "kelvane: %s\n", qUtf8Printable(instance.problem()));
        std::fflush(stderr);
    }
    if (role == SingleInstance::Role::Forwarded || role == SingleInstance::Role::AlreadyRunning)
        return 0;
#ifdef Q_OS_UNIX
    onEndRequest([] { endSession(); });
#endif

    return runForms();
}

int runForms()
{
    Form2->load();
    const int status = tk::exec();
    tk::releaseInstances();
    sampler::shutdown();
    return status;
}

} // namespace app
