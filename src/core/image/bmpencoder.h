#pragma once

#include <QByteArray>
#include <QImage>

namespace pw {

// The picture area's surface as a BMP file: file header, 40-byte information header, bottom-up
// rows of 24 bits per pixel, no compression, 96 dpi. Empty for a null image.
QByteArray encodeBmp(const QImage &surface);

}  // namespace pw
