#pragma once

#include "core/monoimage.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

namespace pw::cli {

// A pixel of the working image (device order: bands of 8 rows, top row in bit 0, 1 = white).
bool pixelAt(const MonoImage &image, int x, int y);
void setPixelAt(MonoImage &image, int x, int y, bool white);

// Byte orders of other displays and libraries. Every layout keeps 1 = white.
struct Layout {
    QString name;
    QByteArray (*pack)(const MonoImage &image);
    MonoImage (*unpack)(const QByteArray &bytes);  // a short input is padded with black
};
const QList<Layout> &layouts();
const Layout *findLayout(const QString &name);  // nullptr when unknown

enum class Dither { None, FloydSteinberg, Atkinson, Bayer4, Bayer8 };
enum class Fit { Crop, Contain, Cover, Stretch };
enum class Flip { None, Horizontal, Vertical };

struct ConvertOptions {
    int threshold = 128;
    Dither dither = Dither::None;
    bool invert = false;
    int rotate = 0;  // clockwise degrees: 0, 90, 180, 270
    Flip flip = Flip::None;
    Fit fit = Fit::Crop;
    QColor background = defaultBackground();

    // The window's picture area background: the palette's Button colour, #efefef under Qt's
    // default palette (also offscreen). It converts to white.
    static QColor defaultBackground() { return QColor(0xef, 0xef, 0xef); }
    bool transforms() const { return rotate != 0 || flip != Flip::None; }
};

// Name tables for the options ("floyd-steinberg", "cover", ...); false when unknown.
bool ditherFromName(const QString &name, Dither &out);
bool fitFromName(const QString &name, Fit &out);
bool flipFromName(const QString &name, Flip &out);

// Turns (clockwise) and then mirrors a picture.
QImage transformPicture(const QImage &picture, int rotate, Flip flip);

// The 128 x 64 surface the picture becomes: crop is composeSurface() (the window's rule);
// contain scales the whole picture inside with the background around it, cover fills the
// area and cuts the overflow evenly, stretch ignores the aspect ratio.
QImage fitSurface(const QImage &picture, Fit fit, const QColor &background);

// The black-and-white image of a 128 x 64 surface: white where the luminance
// (30R + 59G + 11B) div 100 is strictly above the threshold, after the dither; then inverted.
MonoImage threshold(const QImage &surface, int threshold, Dither dither, bool invert);

// The whole conversion of a decoded picture (already cut or reduced by the loader).
MonoImage convertPicture(const QImage &picture, const ConvertOptions &options);

}  // namespace pw::cli
