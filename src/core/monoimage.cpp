#include "core/monoimage.h"

#include "core/threshold.h"


namespace pw {

bool convertSurface(QImage &surface, MonoImage &out, const std::function<void(int band)> &bandDone)
{
    return convertSurface(surface, out, ThresholdOptions{}, nullptr, bandDone);
}

bool convertSurface(QImage &surface, MonoImage &out, const ThresholdOptions &options, const FlatPixels *flat,
                    const std::function<void(int band)> &bandDone)
{
    const std::optional<MonoImage> converted = threshold(surface, options, flat);
    if (!converted)
        return false;
    out = *converted;
    // The area keeps what the device will show.
    surface = renderMonoImage(out);
    for (int band = 0; band < kBands && bandDone; ++band)
        bandDone(band);
    return true;
}

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
