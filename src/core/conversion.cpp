#include "core/conversion.h"

#include "core/conversionoptions.h"

#include <new>

namespace pw {

namespace {

QStringList names(const QList<Choice> &choices)
{
    QStringList list;
    for (const Choice &choice : choices)
        list << choice.name;
    return list;
}

}  // namespace

QStringList fitNames() { return names(fitChoices()); }
QStringList ditherNames() { return names(ditherChoices()); }

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

Conversion convertPicture(const PictureSource &source, const ConversionOptions &options, bool allFrames)
{
    Conversion result;
    const PictureRequest request = PictureRequest::forOptions(options.prepare);
    // A step that cannot be allocated fails this picture alone, as too large for it.
    auto convert = [&](const QImage &part) {
        std::optional<MonoImage> image;
        try {
            image = convertLoaded(part, options);
        } catch (const std::bad_alloc &) {
        }
        if (!image) {
            result.failure = LoadedPicture::tooLarge(part.size(), QStringLiteral("picture"));
            return false;
        }
        result.images << *image;
        return true;
    };
    if (allFrames) {
        const LoadedPicture frames = loadFrames(source, request, convert);
        if (!frames.ok())
            result.failure = frames;
    } else {
        const LoadedPicture loaded = loadPicture(source, request);
        if (!loaded.ok())
            result.failure = loaded;
        else
            convert(loaded.image);
    }
    if (!result.ok())
        result.images.clear();
    return result;
}

}  // namespace pw
