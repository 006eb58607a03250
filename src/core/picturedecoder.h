#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace pw {

// Reads the top-left corner of a picture file, at most `limit` in size: the picture area shows
// nothing else, so nothing else is decoded where the format allows it. PNG goes through libpng
// (only the rows needed are inflated, transparency and palettes become RGBA; an interlaced PNG
// is walked through its passes keeping only the corner's rows); every other format Qt's image
// plugins know goes through QImageReader, clipped where the plugin can clip.
// Returns a null image for a file that is missing, not a picture, truncated or corrupt within
// the part that is needed, or too large to read within bounded memory.
QImage readPictureCorner(const QString &path, const QSize &limit);

// Reads the whole picture shrunk by an integer factor while it is decoded, so that a picture
// far larger than the screen costs little more memory than the shrunk result: the factor is
// the largest that keeps each side at least `atLeast` (or the picture's own side, if smaller).
// JPEG shrinks in its decoder (by 1, 2, 4 or 8), PNG by averaging blocks of rows as they are
// inflated, the other formats after being read whole under the limits below. `fullSize`, if
// given, receives the picture's declared size whenever its header could be read. The result
// is RGBA (a JPEG's as its decoder gives it); null on the same failures as readPictureCorner
// and when even the shrunk picture would not fit within kReducedPictureLimitMB.
QImage readPictureReduced(const QString &path, const QSize &atLeast, QSize *fullSize = nullptr);

// Allocation limit (MB) for formats that cannot be clipped and are decoded whole (fewer pixels
// still for decoders slow for their size: GIF and plain-text PNM).
constexpr int kWholePictureLimitMB = 256;

// A progressive (or otherwise multi-scan) JPEG makes the decoder hold every coefficient of the
// picture, two bytes for each of 64 per 8 x 8 block, before the first row comes out; such a
// picture is refused when that would exceed this many MB.
constexpr int kJpegCoefficientLimitMB = 192;

// Largest shrunk picture (MB at 4 bytes a pixel) that readPictureReduced returns.
constexpr int kReducedPictureLimitMB = 128;

}  // namespace pw
