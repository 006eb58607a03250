#pragma once

#include "core/image/layouts.h"

#include <QImage>

#include <QByteArray>
#include <QString>

namespace pw {

enum class Format { Bin, C, Hex, Pbm, Xbm, Png };
QString formatName(Format format);       // "bin", "c", "hex", "pbm", "xbm", "png"
QString formatExtension(Format format);  // "bin", "h", "hex", "pbm", "xbm", "png"

// A valid C identifier from a file name: its base name, every other character made '_',
// a leading digit prefixed with '_'.
QString identifierFrom(const QString &fileName);

// Sixteen bytes a line as lowercase hex pairs, no separators, every line ended by '\n'.
QByteArray hexLines(const QByteArray &bytes);

// The image in a format; `layout` orders the bytes of bin, c and hex (PBM, XBM and PNG have
// their own). `name` is the identifier for c and xbm, `scale` the pixel size of png.
QByteArray encodeImage(const MonoImage &image, Format format, const Layout &layout, const QString &name,
                       int scale = 1);

// The image as the device lights it, white for bit 1, each pixel a scale x scale square.
QImage previewImage(const MonoImage &image, int scale = 1);
// A black-and-white picture as a one-bit PNG file.
QByteArray encodePng(const QImage &image);

// A terminal drawing of 128 columns x 32 lines: each character is two rows, the upper half
// block for a lit top, the lower for a lit bottom, the full block for both.
QString halfBlocks(const MonoImage &image);

}  // namespace pw
