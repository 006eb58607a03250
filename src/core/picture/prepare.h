#pragma once

#include "core/image/monoimage.h"

#include <QColor>
#include <QImage>
#include <QRect>
#include <bitset>

namespace pw {

enum class Fit { Crop, Contain, Cover, Stretch };
enum class Flip { None, Horizontal, Vertical };

// Brightness and contrast from -100 to 100, gamma from 0.2 to 5; the defaults change nothing.
struct Tone {
    int brightness = 0;
    int contrast = 0;
    double gamma = 1.0;

    bool isIdentity() const { return brightness == 0 && contrast == 0 && gamma == 1.0; }
    // The value a channel of 0 to 255 becomes: brightness adds brightness * 255 / 100, contrast
    // scales the distance from the middle grey by (100 + contrast) / (100 - min(contrast, 99)) for a
    // positive contrast and by (100 + contrast) / 100 for a negative one, each step rounded
    // and clamped to 0..255; then gamma: 255 (v / 255)^(1 / gamma), rounded.
    int apply(int value) const;
};

// How the picture becomes the 128 x 64 surface the conversion reads.
struct PrepareOptions {
    Fit fit = Fit::Crop;
    int rotate = 0;  // clockwise degrees: 0, 90, 180, 270
    Flip flip = Flip::None;
    Tone tone;
    QColor background = defaultBackground();

    // The window's picture area background: the palette's Button colour, #efefef under Qt's
    // default palette (also offscreen). It converts to white.
    static QColor defaultBackground() { return QColor(0xef, 0xef, 0xef); }
    bool transforms() const { return rotate != 0 || flip != Flip::None; }
};

// Turns (clockwise) and then mirrors a picture. Null when it cannot be allocated.
QImage transformPicture(const QImage &picture, int rotate, Flip flip);

// The rectangle of a picture of `full` size that turning and mirroring bring into the
// top-left 128 x 64 corner.
QRect sourceRegion(const QSize &full, int rotate, Flip flip);

// The picture area's surface: 128 x 64 RGB32 filled with `background`, the picture drawn on it
// at (0, 0) unscaled with SourceOver (alpha blends over the background), cut at 128 x 64.
QImage composeSurface(const QImage &picture, const QColor &background);

// The 128 x 64 surface the picture becomes: crop is composeSurface() (the window's rule);
// contain scales the whole picture inside with the background around it, cover fills the
// area and cuts the overflow evenly, stretch ignores the aspect ratio. Null when a step could
// not be allocated.
QImage fitSurface(const QImage &picture, Fit fit, const QColor &background);

// Applies the tone to every colour channel (alpha is kept). The picture itself when the tone
// changes nothing.
QImage applyTone(const QImage &picture, const Tone &tone);

// The whole preparation of what the loader gave for these options (the corner, the region that
// turning brings into the corner, or the reduced whole picture): turned, mirrored, fitted,
// toned (what shows of the picture, not the background) and laid over the background. Null
// when a step could not be allocated. With `flat`, also where the surface is background alone.
QImage prepareSurface(const QImage &loaded, const PrepareOptions &options, FlatPixels *flat = nullptr);

}  // namespace pw
