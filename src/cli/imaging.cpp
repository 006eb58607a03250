// Transform, fit, threshold and dithers.
#include "cli/imaging.h"

#include <QPainter>
#include <QTransform>
#include <array>
#include <vector>

namespace pw::cli {

namespace {

template <typename T>
bool fromName(const QString &name, const QList<QPair<QString, T>> &table, T &out)
{
    for (const auto &entry : table)
        if (entry.first == name) {
            out = entry.second;
            return true;
        }
    return false;
}

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

// Error diffusion over the luminances; error never leaves the 128 x 64 area (no wrap).
void diffuse(std::vector<double> &lum, int limit, const std::vector<Spread> &spread, MonoImage &out)
{
    for (int y = 0; y < kImageHeight; ++y)
        for (int x = 0; x < kImageWidth; ++x) {
            const double value = lum[std::size_t(y * kImageWidth + x)];
            const bool white = value > limit;
            setPixelAt(out, x, y, white);
            const double error = value - (white ? 255.0 : 0.0);
            for (const Spread &s : spread) {
                const int nx = x + s.dx, ny = y + s.dy;
                if (nx >= 0 && nx < kImageWidth && ny < kImageHeight)
                    lum[std::size_t(ny * kImageWidth + nx)] += error * s.weight;
            }
        }
}

}  // namespace

bool ditherFromName(const QString &name, Dither &out)
{
    return fromName<Dither>(name,
                            {{QStringLiteral("none"), Dither::None},
                             {QStringLiteral("floyd-steinberg"), Dither::FloydSteinberg},
                             {QStringLiteral("atkinson"), Dither::Atkinson},
                             {QStringLiteral("bayer4"), Dither::Bayer4},
                             {QStringLiteral("bayer8"), Dither::Bayer8}},
                            out);
}

bool fitFromName(const QString &name, Fit &out)
{
    return fromName<Fit>(name,
                         {{QStringLiteral("crop"), Fit::Crop},
                          {QStringLiteral("contain"), Fit::Contain},
                          {QStringLiteral("cover"), Fit::Cover},
                          {QStringLiteral("stretch"), Fit::Stretch}},
                         out);
}

bool flipFromName(const QString &name, Flip &out)
{
    return fromName<Flip>(name, {{QStringLiteral("h"), Flip::Horizontal}, {QStringLiteral("v"), Flip::Vertical}}, out);
}

QImage transformPicture(const QImage &picture, int rotate, Flip flip)
{
    QImage result = picture;
    if (rotate != 0)
        result = result.transformed(QTransform().rotate(rotate));
    if (flip != Flip::None)
        result = result.mirrored(flip == Flip::Horizontal, flip == Flip::Vertical);
    return result;
}

QImage fitSurface(const QImage &picture, Fit fit, const QColor &background)
{
    if (fit == Fit::Crop || picture.isNull())
        return composeSurface(picture, background);
    const QSize area(kImageWidth, kImageHeight);
    QSize size = picture.size();
    size.scale(area, fit == Fit::Contain ? Qt::KeepAspectRatio
                     : fit == Fit::Cover ? Qt::KeepAspectRatioByExpanding
                                         : Qt::IgnoreAspectRatio);
    size = size.expandedTo(QSize(1, 1));
    // Premultiplied, so that transparent pixels do not bleed their colour into the scaling.
    const QImage scaled = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              .scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage surface(area, QImage::Format_RGB32);
    surface.fill(background);
    QPainter painter(&surface);
    painter.drawImage(QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2), scaled);
    return surface;
}

MonoImage threshold(const QImage &surface, int limit, Dither dither, bool invert)
{
    Q_ASSERT(surface.size() == QSize(kImageWidth, kImageHeight));
    const QImage rgb = surface.format() == QImage::Format_RGB32 || surface.format() == QImage::Format_ARGB32
                           ? surface
                           : surface.convertToFormat(QImage::Format_RGB32);
    MonoImage out{};
    auto lumAt = [&rgb](int x, int y) {
        const QRgb p = reinterpret_cast<const QRgb *>(rgb.constScanLine(y))[x];
        return luminance(qRed(p), qGreen(p), qBlue(p));
    };
    switch (dither) {
    case Dither::None:
        for (int y = 0; y < kImageHeight; ++y)
            for (int x = 0; x < kImageWidth; ++x)
                setPixelAt(out, x, y, lumAt(x, y) > limit);
        break;
    case Dither::Bayer4:
    case Dither::Bayer8: {
        // The threshold moves by a bias spread evenly over (-128, 128): (2 M + 1) 128 / n^2 - 128.
        const int n = dither == Dither::Bayer4 ? 4 : 8;
        for (int y = 0; y < kImageHeight; ++y)
            for (int x = 0; x < kImageWidth; ++x) {
                const int bias = (2 * bayerIndex(n, x, y) + 1) * 128 / (n * n) - 128;
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
        if (dither == Dither::FloydSteinberg)
            diffuse(lum, limit, {{1, 0, 7 / 16.0}, {-1, 1, 3 / 16.0}, {0, 1, 5 / 16.0}, {1, 1, 1 / 16.0}}, out);
        else
            diffuse(lum, limit,
                    {{1, 0, 1 / 8.0}, {2, 0, 1 / 8.0}, {-1, 1, 1 / 8.0}, {0, 1, 1 / 8.0}, {1, 1, 1 / 8.0}, {0, 2, 1 / 8.0}},
                    out);
        break;
    }
    }
    if (invert)
        for (auto &byte : out)
            byte = static_cast<std::uint8_t>(~byte);
    return out;
}

MonoImage convertPicture(const QImage &picture, const ConvertOptions &options)
{
    const QImage turned = options.transforms() ? transformPicture(picture, options.rotate, options.flip) : picture;
    return threshold(fitSurface(turned, options.fit, options.background), options.threshold, options.dither,
                     options.invert);
}

}  // namespace pw::cli
