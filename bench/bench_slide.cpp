// A full slide down and a full slide up on the real 1 ms timers, timed.
#include "popup/form1.h"
#include "toolkit/application.h"
#include "toolkit/dispatch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double timeSlide(bool down)
{
    QElapsedTimer clock;
    clock.start();
    if (down)
        Form1->slideDown();
    else
        Form1->slideUp();
    tk::Timer& timer = down ? Form1->Timer3.get() : Form1->Timer2.get();
    while (timer.enabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    tk::Application app(argc, argv);
    tk::setPoster(tk::postToDispatch);
    Form1->show();
    QTest::qWait(500);
    std::vector<double> downs, ups;
    for (int i = 0; i < 9; ++i) {
        downs.push_back(timeSlide(true));
        ups.push_back(timeSlide(false));
    }
    std::printf("slide_down_ms %.1f\nslide_up_ms %.1f\n", median(downs), median(ups));
    tk::releaseInstances();
    return 0;
}
