#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace pw {

// Reads the top-left corner of a picture file, at most `limit` in size: the picture area shows
// nothing else, so nothing else is decoded where the format allows it. PNG goes through libpng
// (only the rows needed are inflated, transparency and palettes become RGBA; an interlaced PNG,
// whose first rows need the whole file, is read whole like the formats below); every other
// format Qt's image plugins know goes through QImageReader, clipped where the plugin can clip.
// Returns a null image for a file that is missing, not a picture, truncated or corrupt within
// the part that is needed, or too large to read within bounded memory.
QImage readPictureCorner(const QString &path, const QSize &limit);

// Allocation limit (MB) for formats that cannot be clipped and are decoded whole.
constexpr int kWholePictureLimitMB = 256;

}  // namespace pw
