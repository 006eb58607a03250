#include "core/image/monoimage.h"

namespace pw {

QImage renderMonoImage(const MonoImage &image)
{
    QImage result(kImageWidth, kImageHeight, QImage::Format_RGB32);
    if (result.isNull())
        return result;
    for (int y = 0; y < kImageHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(result.scanLine(y));
        for (int x = 0; x < kImageWidth; ++x)
            line[x] = pixelAt(image, x, y) ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
    }
    return result;
}

}  // namespace pw
