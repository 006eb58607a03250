#include "core/image/bmpencoder.h"

#include <QBuffer>
#include <QImageWriter>

namespace pw {

namespace {
// 96 dots per inch.
constexpr int kDotsPerMeter = 3780;
}  // namespace

QByteArray encodeBmp(const QImage &surface)
{
    if (surface.isNull())
        return {};
    // Qt's BMP writer stores a 32-bit image without alpha as 24-bit uncompressed rows.
    QImage image = surface.convertToFormat(QImage::Format_RGB32);
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "BMP");
    if (!writer.write(image))
        return {};
    return bytes;
}

}  // namespace pw
