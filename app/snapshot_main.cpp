// Runs Kelvane for a few seconds, saves a picture of the whole screen and
// prints what the popup's labels read; `make run` uses it on machines with
// no display of their own.
#include "app/exit.h"
#include "app/kelvane.h"
#include "popup/form1.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"

#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelvane-snapshot SECONDS OUTPUT.png\n");
        return 2;
    }
    QApplication application(argc, argv);
    tk::init();
    const int seconds = QString::fromLocal8Bit(argv[1]).toInt();
    const QString output = QString::fromLocal8Bit(argv[2]);
    bool saved = false;

    QTimer::singleShot(seconds * 1000, [&] {
        tk::dispatch([&] {
            const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
            saved = shot.save(output);
            const auto line = [](const char* label, const QString& text) {
                std::printf("  %-26s%s\n", label, qUtf8Printable(text));
            };
            std::printf("The popup reads:\n");
            line("GPU Temperature :", Form1->gputemp->caption());
            line("Pique GPU Temperature :", Form1->piquegputemp->caption());
            line("(tooltip)", Form1->gputemp->toolTip());
            app::exitSequence();
        });
    });

    const int status = app::runForms();
    if (!saved) {
        std::fprintf(stderr, "kelvane-snapshot: could not save %s\n", qUtf8Printable(output));
        return 1;
    }
    return status;
}
