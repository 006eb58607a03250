#include "core/monoimage.h"

#include "core/threshold.h"


namespace pw {

bool pixelAt(const MonoImage &image, int x, int y)
{
    return image[static_cast<std::size_t>(kImageWidth * (y / 8) + x)] & (1u << (y % 8));
}

void setPixelAt(MonoImage &image, int x, int y, bool white)
{
    auto &byte = image[static_cast<std::size_t>(kImageWidth * (y / 8) + x)];
    const auto bit = static_cast<std::uint8_t>(1u << (y % 8));
    byte = static_cast<std::uint8_t>(white ? byte | bit : byte & ~bit);
}

int luminance(int red, int green, int blue)
{
    return (30 * red + 59 * green + 11 * blue) / 100;
}

bool convertSurface(QImage &surface, MonoImage &out, const std::function<void(int band)> &bandDone)
{
    return convertSurface(surface, out, ThresholdOptions{}, bandDone);
}

bool convertSurface(QImage &surface, MonoImage &out, const ThresholdOptions &options, const std::function<void(int band)> &bandDone)
{
    const std::optional<MonoImage> converted = threshold(surface, options);
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
    for (int y = 0; y < kImageHeight; ++y)
        for (int x = 0; x < kImageWidth; ++x) {
            result.setPixel(x, y, pixelAt(image, x, y) ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        }
    return result;
}

}  // namespace pw
