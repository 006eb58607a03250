#include "core/conversion.h"

#include <new>

namespace pw {

namespace {

const QList<QPair<QString, Fit>> &fits()
{
    static const QList<QPair<QString, Fit>> table{{QStringLiteral("crop"), Fit::Crop},
                                                  {QStringLiteral("contain"), Fit::Contain},
                                                  {QStringLiteral("cover"), Fit::Cover},
                                                  {QStringLiteral("stretch"), Fit::Stretch}};
    return table;
}

const QList<QPair<QString, Dither>> &dithers()
{
    static const QList<QPair<QString, Dither>> table{{QStringLiteral("none"), Dither::None},
                                                     {QStringLiteral("floyd-steinberg"), Dither::FloydSteinberg},
                                                     {QStringLiteral("atkinson"), Dither::Atkinson},
                                                     {QStringLiteral("bayer4"), Dither::Bayer4},
                                                     {QStringLiteral("bayer8"), Dither::Bayer8}};
    return table;
}

template <typename T>
std::optional<T> fromName(const QList<QPair<QString, T>> &table, const QString &name)
{
    for (const auto &entry : table)
        if (entry.first == name)
            return entry.second;
    return std::nullopt;
}

template <typename T>
QString nameOf(const QList<QPair<QString, T>> &table, T value)
{
    for (const auto &entry : table)
        if (entry.second == value)
            return entry.first;
    return {};
}

template <typename T>
QStringList names(const QList<QPair<QString, T>> &table)
{
    QStringList list;
    for (const auto &entry : table)
        list << entry.first;
    return list;
}

}  // namespace

QStringList fitNames() { return names(fits()); }
QStringList ditherNames() { return names(dithers()); }
std::optional<Fit> fitFromName(const QString &name) { return fromName(fits(), name); }
std::optional<Dither> ditherFromName(const QString &name) { return fromName(dithers(), name); }
QString fitName(Fit fit) { return nameOf(fits(), fit); }
QString ditherName(Dither dither) { return nameOf(dithers(), dither); }

void setMirrors(PrepareOptions &options, bool horizontal, bool vertical)
{
    if (horizontal && vertical) {
        options.rotate = (options.rotate + 180) % 360;
        options.flip = Flip::None;
    } else {
        options.flip = horizontal ? Flip::Horizontal : vertical ? Flip::Vertical : Flip::None;
    }
}

std::optional<MonoImage> convertLoaded(const QImage &loaded, const ConversionOptions &options)
{
    FlatPixels flat;
    const QImage surface = prepareSurface(loaded, options.prepare, &flat);
    if (surface.isNull())
        return std::nullopt;
    std::optional<MonoImage> image = threshold(surface, options.threshold, &flat);
    if (image && !options.text.isEmpty())
        stampText(*image, layoutText(options.text), options.text.white);
    return image;
}

QImage backgroundSurface(const QColor &background)
{
    QImage surface(kImageWidth, kImageHeight, QImage::Format_RGB32);
    surface.fill(background.rgb());
    return surface;
}

std::optional<MonoImage> convertBackground(const ConversionOptions &options)
{
    // Nothing but background: it converts by the threshold alone, as the bars around a picture do.
    FlatPixels flat;
    flat.set();
    std::optional<MonoImage> image = threshold(backgroundSurface(options.prepare.background), options.threshold, &flat);
    if (image && !options.text.isEmpty())
        stampText(*image, layoutText(options.text), options.text.white);
    return image;
}

namespace {

// A step that cannot be allocated fails the picture, as too large for it.
std::optional<MonoImage> convertPart(const QImage &part, const ConversionOptions &options, LoadedPicture &failure)
{
    std::optional<MonoImage> image;
    try {
        image = convertLoaded(part, options);
    } catch (const std::bad_alloc &) {
    }
    if (!image)
        failure = LoadedPicture::tooLarge(part.size(), QStringLiteral("picture"));
    return image;
}

}  // namespace

LoadedPicture convertFrames(const PictureSource &source, const ConversionOptions &options,
                            const std::function<bool(const MonoImage &image)> &frame)
{
    LoadedPicture failure;
    const LoadedPicture frames = loadFrames(source, PictureRequest::forOptions(options.prepare), [&](const QImage &part) {
        const std::optional<MonoImage> image = convertPart(part, options, failure);
        return image && frame(*image);
    });
    return frames.ok() ? failure : frames;
}

Conversion convertPicture(const PictureSource &source, const ConversionOptions &options, bool allFrames)
{
    Conversion result;
    if (allFrames) {
        result.failure = convertFrames(source, options, [&](const MonoImage &image) {
            result.images << image;
            return true;
        });
    } else if (const LoadedPicture loaded = loadPicture(source, PictureRequest::forOptions(options.prepare)); !loaded.ok()) {
        result.failure = loaded;
    } else if (const std::optional<MonoImage> image = convertPart(loaded.image, options, result.failure)) {
        result.images << *image;
    }
    if (!result.ok())
        result.images.clear();
    return result;
}

}  // namespace pw
