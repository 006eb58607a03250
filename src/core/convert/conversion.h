#pragma once

#include "core/image/monoimage.h"
#include "core/picture/pictureloader.h"
#include "core/picture/prepare.h"
#include "core/text/textlayer.h"
#include "core/image/threshold.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace pw {

// Every option of the conversion, from the picture to the device's image. The defaults are the
// window's conversion, bit for bit.
struct ConversionOptions {
    PrepareOptions prepare;
    ThresholdOptions threshold;
    TextOptions text;  // stamped into the one-bit image, after the threshold and the inversion
};

// The options' names as the command line and the settings files spell them.
std::optional<Fit> fitFromName(const QString &name);
std::optional<Dither> ditherFromName(const QString &name);
QString fitName(Fit fit);

// Mirrors after the turn `options` has: mirrored both ways is half a turn more, which the one
// flip cannot say.
void setMirrors(PrepareOptions &options, bool horizontal, bool vertical);
QString ditherName(Dither dither);

// What the loader gave, prepared and thresholded, with the text stamped on it; nullopt when a step could not be allocated.
std::optional<MonoImage> convertLoaded(const QImage &loaded, const ConversionOptions &options);

// No picture: the text over the background alone.
QImage backgroundSurface(const QColor &background);
std::optional<MonoImage> convertBackground(const ConversionOptions &options);

// One picture through the whole pipeline: loaded as the options need it (guarded), prepared,
// thresholded. With `allFrames`, every frame of an animation, each converted and dropped in
// turn. On failure `failure` says why (a picture too large to convert is reported as such).
struct Conversion {
    QList<MonoImage> images;
    LoadedPicture failure;  // ok() when the conversion succeeded
    bool ok() const { return failure.ok(); }
};
Conversion convertPicture(const PictureSource &source, const ConversionOptions &options, bool allFrames = false);

// Every frame of an animation (a still picture is one frame) converted and handed to `frame`
// in order, each dropped before the next is decoded, so that memory stays flat whatever the
// frame count. Stops when `frame` returns false. The result is the failure, if any; frames
// handed over before it stay handed over.
LoadedPicture convertFrames(const PictureSource &source, const ConversionOptions &options,
                            const std::function<bool(const MonoImage &image)> &frame);

}  // namespace pw
