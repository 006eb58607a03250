#include "core/convert/conversion.h"

#include "core/convert/conversionoptions.h"

#include <new>

namespace pw {

std::optional<Fit> fitFromName(const QString &name)
{
    const Choice *choice = choiceNamed(fitChoices(), name);
    return choice ? std::optional<Fit>(Fit(choice->value)) : std::nullopt;
}

std::optional<Dither> ditherFromName(const QString &name)
{
    const Choice *choice = choiceNamed(ditherChoices(), name);
    return choice ? std::optional<Dither>(Dither(choice->value)) : std::nullopt;
}

QString fitName(Fit fit)
{
    const Choice *choice = choiceOf(fitChoices(), int(fit));
    return choice ? choice->name : QString();
}

QString ditherName(Dither dither)
{
    const Choice *choice = choiceOf(ditherChoices(), int(dither));
    return choice ? choice->name : QString();
}

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
