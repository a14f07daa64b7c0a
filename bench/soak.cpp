// Runs Kelvane with sampling and slides driven far faster than a user would,
// plus the About dialog and the tray host opening and closing, and reports
// resident memory and open descriptors after warm-up and at the end.
#include "about/frmabout.h"
#include "app/kelvane.h"
#include "popup/form1.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"
#include "toolkit/screen.h"
#include "tray/form2.h"

#include "toolkit/qt/qt.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

#include <cstdio>

namespace {

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

long openDescriptors()
{
    return static_cast<long>(QDir(QStringLiteral("/proc/self/fd"))
                                 .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                                 .size());
}

void report(const char* what)
{
    std::printf("%s rss_kb=%ld fds=%ld\n", what, residentKb(), openDescriptors());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvane-soak SECONDS\n");
        return 2;
    }
    tk::Application application(argc, argv);
    tk::setPoster(tk::postToDispatch);
    const int seconds = QString::fromLocal8Bit(argv[1]).toInt();
    const int warmup = std::max(30, seconds / 10);

    QTimer sampling;
    QObject::connect(&sampling, &QTimer::timeout, [] { Form1->Timer1->tick(); });
    sampling.start(2);

    QTimer sliding;
    QObject::connect(&sliding, &QTimer::timeout, [] {
        if (Form1->Timer2->enabled() || Form1->Timer3->enabled())
            return;
        if (Form1->top() >= tk::screen().height())
            Form1->slideUp();
        else
            Form1->slideDown();
    });
    sliding.start(20);

    int round = 0;
    QTimer windows;
    QObject::connect(&windows, &QTimer::timeout, [&round] {
        switch (round++ % 4) {
        case 0:
            frmabout->show();
            break;
        case 1:
            frmabout->unload();
            break;
        case 2:
            Form2->show();
            break;
        case 3:
            tk::qt::widgetOf(*Form2).close();
            break;
        }
    });
    windows.start(250);

    // Both measurements are taken in the same quiet state: popup at rest,
    // About dialog closed, tray host loaded and hidden.
    auto pause = [&] {
        sampling.stop();
        sliding.stop();
        windows.stop();
        round = 0;
        frmabout->unload();
        if (Form2->isVisible())
            tk::qt::widgetOf(*Form2).close();
        Form2->load();
        Form1->Timer2->setEnabled(false);
        Form1->Timer3->setEnabled(false);
        Form1->setTop(popup::Form1::restingTop());
    };
    auto resume = [&] {
        sampling.start();
        sliding.start();
        windows.start();
    };

    QTimer::singleShot(warmup * 1000, [&] {
        pause();
        QTimer::singleShot(1000, [&] {
            report("WARM");
            // Time for the caller to read the X server's resource counts.
            QTimer::singleShot(3000, resume);
        });
    });
    QTimer::singleShot(seconds * 1000 + 4000, [&] {
        pause();
        QTimer::singleShot(1000, [] {
            report("END");
            QTimer::singleShot(3000, [] { popup::exitSequence(); });
        });
    });

    return app::runForms();
}
