#include "core/image/threshold.h"

#include <vector>

namespace pw {

namespace {

// The Bayer index matrix of side n (2, 4 or 8), built by the usual recursion from
// [[0, 2], [3, 1]]: M2n(x, y) = 4 Mn(x mod n, y mod n) + M2(x div n, y div n).
int bayerIndex(int n, int x, int y)
{
    static const int m2[2][2] = {{0, 2}, {3, 1}};
    if (n == 2)
        return m2[y % 2][x % 2];
    const int half = n / 2;
    return 4 * bayerIndex(half, x % half, y % half) + m2[(y % n) / half][(x % n) / half];
}

struct Spread {
    int dx, dy;
    double weight;
};

bool isFlat(const FlatPixels *flat, int x, int y) { return flat && flat->test(std::size_t(y * kImageWidth + x)); }

// Error diffusion over the luminances, row by row from the top, each row left to right. Flat
// pixels neither take nor give error.
void diffuse(std::vector<double> &lum, int limit, std::initializer_list<Spread> spread, const FlatPixels *flat, MonoImage &out)
{
    for (int y = 0; y < kImageHeight; ++y)
        for (int x = 0; x < kImageWidth; ++x) {
            const double value = lum[std::size_t(y * kImageWidth + x)];
            const bool white = value > limit;
            setPixelAt(out, x, y, white);
            if (isFlat(flat, x, y))
                continue;
            const double error = value - (white ? 255.0 : 0.0);
            for (const Spread &s : spread) {
                const int nx = x + s.dx, ny = y + s.dy;
                if (nx >= 0 && nx < kImageWidth && ny < kImageHeight && !isFlat(flat, nx, ny))
                    lum[std::size_t(ny * kImageWidth + nx)] += error * s.weight;
            }
        }
}

}  // namespace

std::optional<MonoImage> threshold(const QImage &surface, const ThresholdOptions &options, const FlatPixels *flat)
{
    if (surface.size() != QSize(kImageWidth, kImageHeight))
        return std::nullopt;
    const QImage rgb = surface.format() == QImage::Format_RGB32 || surface.format() == QImage::Format_ARGB32
                           ? surface
                           : surface.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull())
        return std::nullopt;
    MonoImage out{};
    auto lumAt = [&rgb](int x, int y) {
        const QRgb p = reinterpret_cast<const QRgb *>(rgb.constScanLine(y))[x];
        return luminance(qRed(p), qGreen(p), qBlue(p));
    };
    const int limit = options.threshold;
    switch (options.dither) {
    case Dither::None:
        for (int y = 0; y < kImageHeight; ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
            std::uint8_t *band = out.data() + kImageWidth * (y / 8);
            const auto bit = std::uint8_t(1u << (y % 8));
            for (int x = 0; x < kImageWidth; ++x)
                if (luminance(qRed(line[x]), qGreen(line[x]), qBlue(line[x])) > limit)
                    band[x] |= bit;
        }
        break;
    case Dither::Bayer4:
    case Dither::Bayer8: {
        // The threshold moves by a bias spread evenly over (-128, 128): (2 M + 1) 128 / n^2 - 128.
        const int n = options.dither == Dither::Bayer4 ? 4 : 8;
        for (int y = 0; y < kImageHeight; ++y)
            for (int x = 0; x < kImageWidth; ++x) {
                const int bias = isFlat(flat, x, y) ? 0 : (2 * bayerIndex(n, x, y) + 1) * 128 / (n * n) - 128;
                setPixelAt(out, x, y, lumAt(x, y) > limit + bias);
            }
        break;
    }
    case Dither::FloydSteinberg:
    case Dither::Atkinson: {
        std::vector<double> lum(std::size_t(kImageWidth * kImageHeight));
        for (int y = 0; y < kImageHeight; ++y)
            for (int x = 0; x < kImageWidth; ++x)
                lum[std::size_t(y * kImageWidth + x)] = lumAt(x, y);
        if (options.dither == Dither::FloydSteinberg)
            diffuse(lum, limit, {{1, 0, 7 / 16.0}, {-1, 1, 3 / 16.0}, {0, 1, 5 / 16.0}, {1, 1, 1 / 16.0}}, flat, out);
        else
            diffuse(lum, limit,
                    {{1, 0, 1 / 8.0}, {2, 0, 1 / 8.0}, {-1, 1, 1 / 8.0}, {0, 1, 1 / 8.0}, {1, 1, 1 / 8.0}, {0, 2, 1 / 8.0}},
                    flat, out);
        break;
    }
    }
    if (options.invert)
        for (auto &byte : out)
            byte = static_cast<std::uint8_t>(~byte);
    return out;
}

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

}  // namespace pw
