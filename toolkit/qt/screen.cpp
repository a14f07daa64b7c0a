#include "qt.h"

#include "toolkit/backend.h"
#include "toolkit/error.h"
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
    return {whole.width(), whole.height(), s.logicalDotsPerInchX(), s.logicalDotsPerInchY()};
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
