#include "qt.h"

#include "toolkit/backend.h"
#include "toolkit/base/error.h"
#include "toolkit/screen.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace tk {
namespace {

QScreen& primary()
{
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s)
        throw Error(Status::InvalidCall, "No screen is available");
    return *s;
}

} // namespace

backend::ScreenMetrics backend::primaryScreen()
{
    QScreen& s = primary();
    const QRect whole = s.geometry();
    // On X11 Qt takes the work area from the window manager's _NET_WORKAREA,
    // which leaves out the struts of docks and panels.
    const QRect work = s.availableGeometry();
    return {whole.width(), whole.height(), s.logicalDotsPerInchX(), s.logicalDotsPerInchY(),
            work.bottom() + 1 - whole.top()};
}

void qt::watchScreens()
{
    const auto watch = [](QScreen* s) {
        for (auto signal : {&QScreen::geometryChanged, &QScreen::availableGeometryChanged})
            QObject::connect(s, signal, qApp, [] { backend::screenChanged(); });
        QObject::connect(s, &QScreen::logicalDotsPerInchChanged, qApp,
                         [] { backend::screenChanged(); });
    };
    for (QScreen* s : QGuiApplication::screens())
        watch(s);
    QObject::connect(qApp, &QGuiApplication::screenAdded, qApp, [watch](QScreen* s) {
        watch(s);
        backend::screenChanged();
    });
    QObject::connect(qApp, &QGuiApplication::screenRemoved, qApp, [] { backend::screenChanged(); });
    QObject::connect(qApp, &QGuiApplication::primaryScreenChanged, qApp,
                     [] { backend::screenChanged(); });
}

QPoint qt::origin()
{
    return primary().geometry().topLeft();
}

bool saveScreenshot(const std::string& path)
{
    return primary().grabWindow(0).save(QString::fromStdString(path));
}

} // namespace tk
