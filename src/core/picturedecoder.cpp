#include "core/picturedecoder.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

namespace pw {

namespace {

struct PngGeometry {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool interlaced = false;
    size_t rowBytes = 0;
};

[[noreturn]] void pngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep data, size_t length)
{
    auto *device = static_cast<QIODevice *>(png_get_io_ptr(png));
    const qint64 got = device->read(reinterpret_cast<char *>(data), static_cast<qint64>(length));
    if (got != static_cast<qint64>(length))
        png_error(png, "truncated");
}

// libpng reports errors by longjmp into the two functions below: they hold nothing that needs
// a destructor, and every buffer they fill belongs to the caller.

bool pngPrepare(png_structp png, png_infop info, PngGeometry *g)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    const int colorType = png_get_color_type(png, info);
    const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    // Everything becomes 8-bit RGBA: palettes and grey keep their colours, a transparent
    // colour becomes alpha so that the area's background shows through.
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    if (!alpha)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    g->width = png_get_image_width(png, info);
    g->height = png_get_image_height(png, info);
    g->interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    g->rowBytes = png_get_rowbytes(png, info);
    return png_get_channels(png, info) == 4 && png_get_bit_depth(png, info) == 8
           && g->rowBytes >= static_cast<size_t>(g->width) * 4;
}

// Reads the first rows, one at a time, until the corner is complete: memory stays at one
// row however large the picture is, and damage below the corner never matters.
bool pngReadCorner(png_structp png, png_bytep row, uchar *out, qsizetype stride, png_uint_32 outWidth,
                   png_uint_32 outHeight)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (png_uint_32 y = 0; y < outHeight; ++y) {
        png_read_row(png, row, nullptr);
        std::memcpy(out + static_cast<qsizetype>(y) * stride, row, 4 * static_cast<size_t>(outWidth));
    }
    return true;
}

// A null image with `interlaced` set means the rows come in passes over the whole picture,
// which this reader does not take: the caller reads such a file whole instead.
QImage readPngCorner(QIODevice &device, const QSize &limit, bool *interlaced)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!png)
        return {};
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return {};
    }
    png_set_read_fn(png, &device, pngRead);

    QImage result;
    PngGeometry g;
    if (pngPrepare(png, info, &g) && !(*interlaced = g.interlaced)) {
        const auto outWidth = std::min<png_uint_32>(g.width, static_cast<png_uint_32>(limit.width()));
        const auto outHeight = std::min<png_uint_32>(g.height, static_cast<png_uint_32>(limit.height()));
        std::vector<png_byte> row(g.rowBytes);
        QImage image(static_cast<int>(outWidth), static_cast<int>(outHeight), QImage::Format_RGBA8888);
        if (!image.isNull()) {
            image.fill(Qt::transparent);
            if (pngReadCorner(png, row.data(), image.bits(), image.bytesPerLine(), outWidth, outHeight))
                result = image;
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return result;
}

QImage readWithImageReader(const QString &path, const QSize &limit)
{
    QImageReader reader(path);
    // The picture is shown as stored, without turning it by its orientation tag.
    reader.setAutoTransform(false);
    const QRect corner(QPoint(0, 0), limit);
    const QSize full = reader.size();
    QImage image;
    if (full.isValid() && reader.supportsOption(QImageIOHandler::ClipRect)) {
        // Decodes only what is shown (JPEG stops after the first rows), so even pictures far
        // beyond the reader's allocation limit load quickly.
        reader.setClipRect(corner & QRect(QPoint(0, 0), full));
        image = reader.read();
    } else {
        // Read whole: allow somewhat more than Qt's default, still bounded.
        const int previous = QImageReader::allocationLimit();
        QImageReader::setAllocationLimit(kWholePictureLimitMB);
        image = reader.read();
        QImageReader::setAllocationLimit(previous);
    }
    if (image.isNull())
        return {};
    if (image.width() > limit.width() || image.height() > limit.height())
        image = image.copy(corner & image.rect());
    return image;
}

}  // namespace

QImage readPictureCorner(const QString &path, const QSize &limit)
{
    if (limit.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray signature = file.peek(8);
    if (signature.size() == 8
        && png_sig_cmp(reinterpret_cast<png_const_bytep>(signature.constData()), 0, 8) == 0) {
        bool interlaced = false;
        QImage image = readPngCorner(file, limit, &interlaced);
        if (!interlaced)
            return image;
    }
    file.close();
    return readWithImageReader(path, limit);
}

}  // namespace pw
