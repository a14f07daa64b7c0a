#include "kelvane.h"
#include "exit.h"
#include "instance.h"
#include "signals.h"

#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"
#include "tray/form2.h"

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

    tk::Application application(argc, argv);

    SingleInstance instance;
    const SingleInstance::Role role =
        instance.start([] { tk::dispatch([] { tray::requestPopup(); }); });
    if (!instance.problem().empty()) {
        std::fprintf(stderr, "kelvane: %s\n", instance.problem().c_str());
        std::fflush(stderr);
    }
    if (role == SingleInstance::Role::Forwarded || role == SingleInstance::Role::AlreadyRunning)
        return 0;
    onEndRequest([] { endSession(); });

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
