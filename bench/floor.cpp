// The least any Qt program that wakes twice a second costs: one window, one
// 500 ms timer that does nothing. Only for reading the idle figures.
#include <QApplication>
#include <QTimer>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    window.setWindowTitle(QStringLiteral("Floor"));
    window.resize(185, 81);
    window.show();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [] {});
    timer.start(500);
    return app.exec();
}
