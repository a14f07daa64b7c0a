// The floor any Qt tray utility stands on: one frameless window, two labels
// updated every 500 ms and a tray icon. Kelvane is measured against it.
#include "resources/icons.h"
#include "toolkit/qt/qt.h"

#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    window.setWindowTitle(QStringLiteral("Baseline"));
    window.resize(185, 81);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    window.move(screen.right() + 1 - 185, screen.bottom() + 1 - 81 - 30);
    QLabel current(QStringLiteral("xxx°c"), &window);
    current.setGeometry(112, 8, 49, 17);
    QLabel peak(QStringLiteral("xxx°c"), &window);
    peak.setGeometry(144, 24, 33, 17);
    QSystemTrayIcon icon(tk::qt::iconOf(resources::programIcon()));
    icon.show();

    int n = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++n;
        current.setText(QString::number(40 + n % 5) + QStringLiteral("°c"));
        peak.setText(QString::number(44) + QStringLiteral("°c"));
    });
    timer.start(500);
    window.show();
    return app.exec();
}
