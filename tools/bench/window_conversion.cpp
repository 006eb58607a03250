#include "core/image/monoimage.h"
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <cstdio>
static void perPixel(QImage &surface, pw::MonoImage &out)
{
    int index = 0;
    for (int band = 0; band < 8; ++band)
        for (int x = 0; x < 128; ++x) {
            unsigned byte = 0;
            for (int y = 8 * band + 7; y >= 8 * band; --y) {
                const QRgb rgb = surface.pixel(x, y);
                const bool white = (30 * qRed(rgb) + 59 * qGreen(rgb) + 11 * qBlue(rgb)) / 100 > 128;
                byte = byte * 2 + white;
                surface.setPixel(x, y, white ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
            }
            out[std::size_t(index++)] = std::uint8_t(byte);
        }
}
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QImage picture(128, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            picture.setPixel(x, y, QRandomGenerator::global()->generate() | 0xff000000u);
    pw::MonoImage a{}, b{};
    const int rounds = 20000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i) {
        QImage s = picture;
        perPixel(s, a);
    }
    const double before = t.nsecsElapsed() / 1000.0 / rounds;
    t.restart();
    for (int i = 0; i < rounds; ++i) {
        QImage s = picture;
        pw::convertSurface(s, b);
    }
    const double now = t.nsecsElapsed() / 1000.0 / rounds;
    std::printf("the window's conversion of its area:  %6.1f us (the former per-pixel loop: %6.1f us)%s\n", now, before,
                a == b ? "" : "  DIFFERENT BITS");
    return 0;
}
