// Turns the program icon's XPM source into the .ico a Windows resource needs.
#include <QGuiApplication>
#include <QImage>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    QImage image(QString::fromLocal8Bit(argv[1]));
    return !image.isNull() && image.save(QString::fromLocal8Bit(argv[2]), "ICO") ? 0 : 1;
}
