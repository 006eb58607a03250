#include "core/monoimage.h"

#include <QPainter>

namespace pw {

int luminance(int red, int green, int blue)
{
    return (30 * red + 59 * green + 11 * blue) / 100;
}

bool isWhite(int red, int green, int blue)
{
    return luminance(red, green, blue) > 128;
}

QImage composeSurface(const QImage &picture, const QColor &background)
{
    QImage surface(kImageWidth, kImageHeight, QImage::Format_RGB32);
    surface.fill(background);
    if (!picture.isNull()) {
        QPainter painter(&surface);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(QPoint(0, 0), picture, QRect(0, 0, kImageWidth, kImageHeight));
    }
    return surface;
}

void convertSurface(QImage &surface, MonoImage &out, const std::function<void(int band)> &bandDone)
{
    Q_ASSERT(surface.width() == kImageWidth && surface.height() == kImageHeight);
    if (surface.format() != QImage::Format_RGB32 && surface.format() != QImage::Format_ARGB32)
        surface = surface.convertToFormat(QImage::Format_RGB32);

    const QRgb black = qRgb(0, 0, 0);
    const QRgb white = qRgb(255, 255, 255);
    // The index runs on across bands rather than being computed, so the byte order is
    // exactly the order in which columns are visited.
    qint32 index = 0;
    for (int band = 0; band < kBands; ++band) {
        const int lastColumn = surface.width() - 1;
        for (int x = 0; x <= lastColumn && index < kImageBytes; ++x) {
            unsigned byte = 0;
            for (int y = 8 * band + 7; y >= 8 * band; --y) {
                byte *= 2;
                const QRgb rgb = surface.pixel(x, y);
                const bool white_ = isWhite(qRed(rgb), qGreen(rgb), qBlue(rgb));
                if (white_)
                    byte += 1;
                surface.setPixel(x, y, white_ ? white : black);
            }
            out[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(byte);
            ++index;
        }
        if (bandDone)
            bandDone(band);
    }
}

QImage renderMonoImage(const MonoImage &image)
{
    QImage result(kImageWidth, kImageHeight, QImage::Format_RGB32);
    for (int y = 0; y < kImageHeight; ++y)
        for (int x = 0; x < kImageWidth; ++x) {
            const bool white = image[static_cast<std::size_t>(128 * (y / 8) + x)] & (1u << (y % 8));
            result.setPixel(x, y, white ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        }
    return result;
}

}  // namespace pw
