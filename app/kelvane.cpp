#include "kelvane.h"
#include "instance.h"

#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"
#include "tray/form2.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

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

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvane"));
    QApplication::setApplicationVersion(QString::fromLatin1(kVersion));
    QApplication::setDesktopFileName(QStringLiteral("kelvane"));
    tk::init();

    SingleInstance instance;
    if (instance.forwardToRunning())
        return 0;
    instance.listen([] { tk::dispatch([] { tray::requestPopup(); }); });

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
