#include "core/picture/prepare.h"

#include <QPainter>
#include <QTransform>
#include <algorithm>
#include <array>
#include <cmath>

namespace pw {

namespace {

// Covering scales the whole picture until both sides reach the area's; beyond this many pixels
// only the part that shows is scaled.
constexpr qint64 kLargestScaledPixels = 1 << 20;

int clampChannel(double value) { return int(std::lround(std::clamp(value, 0.0, 255.0))); }

}  // namespace

int Tone::apply(int value) const
{
    double v = clampChannel(value + brightness * 255.0 / 100.0);
    if (contrast != 0) {
        const double factor = contrast > 0 ? (100.0 + contrast) / (100.0 - std::min(contrast, 99)) : (100.0 + contrast) / 100.0;
        v = clampChannel((v - 127.5) * factor + 127.5);
    }
    if (gamma != 1.0)
        v = clampChannel(255.0 * std::pow(v / 255.0, 1.0 / gamma));
    return int(v);
}

QImage transformPicture(const QImage &picture, int rotate, Flip flip)
{
    QImage result = picture;
    if (rotate != 0)
        result = result.transformed(QTransform().rotate(rotate));
    if (flip != Flip::None && !result.isNull())
        result = result.mirrored(flip == Flip::Horizontal, flip == Flip::Vertical);
    return result;
}

QRect sourceRegion(const QSize &full, int rotate, Flip flip)
{
    QTransform mapping = QImage::trueMatrix(QTransform().rotate(rotate), full.width(), full.height());
    const QSize turned = mapping.mapRect(QRect(QPoint(0, 0), full)).size();
    if (flip == Flip::Horizontal)
        mapping *= QTransform(-1, 0, 0, 1, turned.width(), 0);
    else if (flip == Flip::Vertical)
        mapping *= QTransform(1, 0, 0, -1, 0, turned.height());
    const QRectF corner(0, 0, kImageWidth, kImageHeight);
    return mapping.inverted().mapRect(corner).toAlignedRect() & QRect(QPoint(0, 0), full);
}

QImage composeSurface(const QImage &picture, const QColor &background)
{
    QImage surface(kImageWidth, kImageHeight, QImage::Format_RGB32);
    if (surface.isNull())
        return surface;
    surface.fill(background);
    if (!picture.isNull()) {
        QPainter painter(&surface);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(QPoint(0, 0), picture, QRect(0, 0, kImageWidth, kImageHeight));
    }
    return surface;
}

namespace {

// The picture scaled for a fit (not crop), premultiplied, and where it goes in the area. Null
// when a step could not be allocated.
QImage scaledForFit(const QImage &picture, Fit fit, QPoint *at)
{
    const QSize area(kImageWidth, kImageHeight);
    QSize size = picture.size();
    size.scale(area, fit == Fit::Contain ? Qt::KeepAspectRatio
                     : fit == Fit::Cover ? Qt::KeepAspectRatioByExpanding
                                         : Qt::IgnoreAspectRatio);
    size = size.expandedTo(QSize(1, 1));
    *at = QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
    QImage source = picture;
    // Covering with a picture of an extreme shape (a 1000000 x 10 strip) would scale it to
    // gigabytes: only the part that shows is cut out and scaled then.
    if (qint64(size.width()) * size.height() > kLargestScaledPixels) {
        const double sx = double(picture.width()) / size.width(), sy = double(picture.height()) / size.height();
        const QRect shown = QRectF(-at->x() * sx, -at->y() * sy, area.width() * sx, area.height() * sy).toAlignedRect() & picture.rect();
        source = picture.copy(shown);
        size = QSize(qMax(1, qRound(shown.width() / sx)), qMax(1, qRound(shown.height() / sy)));
        *at = QPoint(qRound(shown.x() / sx) + at->x(), qRound(shown.y() / sy) + at->y());
    }
    // Premultiplied, so that transparent pixels do not bleed their colour into the scaling.
    const QImage premultiplied = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return premultiplied.isNull() ? QImage() : premultiplied.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The scaled picture drawn at `at` over the background. Null when it could not be allocated.
QImage overBackground(const QImage &scaled, QPoint at, const QColor &background)
{
    QImage surface(kImageWidth, kImageHeight, QImage::Format_RGB32);
    if (surface.isNull())
        return surface;
    surface.fill(background);
    QPainter painter(&surface);
    painter.drawImage(at, scaled);
    return surface;
}

// Everything flat but what `placed`, drawn at `at`, covers with some opacity.
void markFlat(const QImage &placed, QPoint at, FlatPixels &flat)
{
    flat.set();
    const QRect shown = QRect(at, placed.size()) & QRect(0, 0, kImageWidth, kImageHeight);
    if (shown.isEmpty())
        return;
    const QImage part = placed.copy(shown.translated(-at)).convertToFormat(QImage::Format_ARGB32);
    if (part.isNull()) {
        flat.reset();  // unknown: the whole area dithers, as a picture
        return;
    }
    const bool opaque = !placed.hasAlphaChannel();
    for (int y = 0; y < part.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(part.constScanLine(y));
        for (int x = 0; x < part.width(); ++x)
            if (opaque || qAlpha(line[x]) != 0)
                flat.reset(std::size_t((shown.y() + y) * kImageWidth + shown.x() + x));
    }
}

}  // namespace

QImage fitSurface(const QImage &picture, Fit fit, const QColor &background)
{
    if (fit == Fit::Crop || picture.isNull())
        return composeSurface(picture, background);
    QPoint at;
    const QImage scaled = scaledForFit(picture, fit, &at);
    return scaled.isNull() ? QImage() : overBackground(scaled, at, background);
}

QImage applyTone(const QImage &picture, const Tone &tone)
{
    if (tone.isIdentity() || picture.isNull())
        return picture;
    std::array<uchar, 256> table{};
    for (int v = 0; v < 256; ++v)
        table[std::size_t(v)] = uchar(tone.apply(v));
    // Straight (not premultiplied) colour, so that the tone sees the colours as they look.
    QImage toned = picture.convertToFormat(picture.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (toned.isNull())
        return {};
    for (int y = 0; y < toned.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(toned.scanLine(y));
        for (int x = 0; x < toned.width(); ++x) {
            const QRgb p = line[x];
            line[x] = qRgba(table[std::size_t(qRed(p))], table[std::size_t(qGreen(p))], table[std::size_t(qBlue(p))], qAlpha(p));
        }
    }
    return toned;
}

QImage prepareSurface(const QImage &loaded, const PrepareOptions &options, FlatPixels *flat)
{
    const QImage picture = options.transforms() ? transformPicture(loaded, options.rotate, options.flip) : loaded;
    if (picture.isNull() && !loaded.isNull())
        return {};
    // Where the picture lands: unscaled from the corner (crop), or scaled and placed for a fit.
    const bool scales = options.fit != Fit::Crop && !picture.isNull();
    QPoint at;
    const QImage placed = scales ? scaledForFit(picture, options.fit, &at) : picture;
    if (scales && placed.isNull())
        return {};
    if (flat)
        markFlat(placed, at, *flat);
    if (options.tone.isIdentity() || picture.isNull())
        return scales ? overBackground(placed, at, options.background) : composeSurface(picture, options.background);
    // The tone goes to what reaches the area, never to the background: the picture is placed
    // on a transparent layer of the area's size, the layer toned (8192 pixels, whatever the
    // picture's size) and then laid over the background.
    QImage layer(kImageWidth, kImageHeight, QImage::Format_ARGB32_Premultiplied);
    if (layer.isNull())
        return {};
    layer.fill(Qt::transparent);
    {
        QPainter painter(&layer);
        if (scales)
            painter.drawImage(at, placed);
        else
            painter.drawImage(QPoint(0, 0), picture, QRect(0, 0, kImageWidth, kImageHeight));
    }
    return composeSurface(applyTone(layer, options.tone), options.background);
}

}  // namespace pw
