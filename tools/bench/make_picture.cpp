#include <QGuiApplication>
#include <QImage>
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const int side = QString(argv[2]).toInt();
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    return image.save(argv[1]) ? 0 : 1;
}
