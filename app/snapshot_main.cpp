// Runs Kelvane for a few seconds, saves a picture of the whole screen and
// prints what the popup's labels read; `make run` uses it on machines with
// no display of their own.
#include "app/kelvane.h"
#include "popup/form1.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"
#include "toolkit/events.h"
#include "toolkit/screen.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelvane-snapshot SECONDS OUTPUT.png\n");
        return 2;
    }
    tk::Application application(argc, argv);
    app::wire();
    const int seconds = std::atoi(argv[1]);
    const std::string output = argv[2];
    bool saved = false;

    tk::OneShot later;
    later.start(seconds * 1000, [&] {
        tk::dispatch([&] {
            saved = tk::saveScreenshot(output);
            const auto line = [](const char* label, const std::string& text) {
                std::printf("  %-26s%s\n", label, text.c_str());
            };
            std::printf("The popup reads:\n");
            line("GPU Temperature :", Form1->gputemp->caption());
            line("Pique GPU Temperature :", Form1->piquegputemp->caption());
            line("(tooltip)", Form1->gputemp->tip());
            popup::exitSequence();
        });
    });

    const int status = app::runForms();
    if (!saved) {
        std::fprintf(stderr, "kelvane-snapshot: could not save %s\n", output.c_str());
        return 1;
    }
    return status;
}
