#include "kelvane.h"
#include "exit.h"
#include "instance.h"
#include "signals.h"

#include "popup/form1.h"
#include "sampler/thermal.h"
#include "toolkit/application.h"
#include "toolkit/base/library.h"
#include "toolkit/dispatch.h"
#include "tray/form2.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace app {
namespace {

void printHelp()
{
    std::fputs("Usage: kelvane [--help | --version]\n\n"
               "Kelvane shows the graphics card's core temperature and its peak since start\n"
               "in a small popup at the bottom-right corner of the screen. \"Masqué\" slides\n"
               "the popup away; a left click on Kelvane's notification-area icon, or starting\n"
               "kelvane again, brings it back. \"Quitter\" ends the program.\n\n"
               "Options:\n"
               "  --help     show this text and exit\n"
               "  --version  show the version and exit\n\n"
               "Kelvane takes no other options and no configuration.\n",
               stdout);
}

// A second start can ask for the popup while this one is still starting, on
// Windows even from inside a call that the shell answers before Form1 exists;
// the request waits for the forms.
bool g_formsReady = false;
bool g_showPending = false;

void showRequested()
{
    if (!g_formsReady) {
        g_showPending = true;
        return;
    }
    // After "Quitter" the About dialog may keep the program a while; there is
    // no popup left to show then.
    if (Form1.exists() && Form1->isLoaded())
        tray::requestPopup();
}

} // namespace

int run(int argc, char** argv)
{
    tk::restrictLibrarySearch();
    if (argc > 1) {
        if (std::strcmp(argv[1], "--version") == 0 && argc == 2) {
            std::fputs((std::string("Kelvane ") + kVersion + "\n").c_str(), stdout);
            return 0;
        }
        if ((std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) && argc == 2) {
            printHelp();
            return 0;
        }
        std::fputs(
            ("kelvane: unknown option '" + std::string(argv[1]) + "'; try 'kelvane --help'\n")
                .c_str(),
            stderr);
        return 2;
    }

    tk::Application application(argc, argv);
    wire();

    SingleInstance instance;
    const SingleInstance::Role role = instance.start([] { tk::dispatch([] { showRequested(); }); });
    if (!instance.problem().empty()) {
        std::fputs(("kelvane: " + instance.problem() + "\n").c_str(), stderr);
        std::fflush(stderr);
    }
    if (role == SingleInstance::Role::Forwarded || role == SingleInstance::Role::AlreadyRunning)
        return 0;
    onEndRequest([] { endSession(); });

    return runForms();
}

void wire()
{
    // The reading thread's road to the user interface, and what every end of
    // the program lets go of.
    tk::setPoster(tk::postToDispatch);
    tk::atProgramEnd(sampler::shutdown);
}

int runForms()
{
    // Start-up is an event like any other: a window that cannot be made is
    // reported, and exec() then returns at once with status 1.
    tk::dispatch([] { Form2->load(); });
    g_formsReady = true;
    if (std::exchange(g_showPending, false))
        tk::dispatch([] { tray::requestPopup(); });
    const int status = tk::exec();
    g_formsReady = false;
    tk::releaseInstances();
    tk::programEnds();
    return status;
}

} // namespace app
