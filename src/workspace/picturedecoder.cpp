#include "workspace/picturedecoder.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

namespace pw {

namespace {

// Adam7: where each pass starts and how far it steps, across and down.
constexpr int kPasses = 7;
constexpr png_uint_32 kPassXStart[kPasses] = {0, 4, 0, 2, 0, 1, 0};
constexpr png_uint_32 kPassXStep[kPasses] = {8, 8, 4, 4, 2, 2, 1};
constexpr png_uint_32 kPassYStart[kPasses] = {0, 0, 4, 0, 2, 0, 1};
constexpr png_uint_32 kPassYStep[kPasses] = {8, 8, 8, 4, 4, 2, 2};

struct PngGeometry {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool interlaced = false;
    size_t rowBytes = 0;
};

// One pass of the row stream as the reader sees it (a non-interlaced picture is one pass).
struct Pass {
    png_uint_32 xStart, xStep, yStart, yStep, columns, rows;
};

Pass passOf(const PngGeometry &g, int pass)
{
    if (!g.interlaced)
        return {0, 1, 0, 1, g.width, g.height};
    return {kPassXStart[pass],
            kPassXStep[pass],
            kPassYStart[pass],
            kPassYStep[pass],
            static_cast<png_uint_32>(PNG_PASS_COLS(g.width, pass)),
            static_cast<png_uint_32>(PNG_PASS_ROWS(g.height, pass))};
}

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

// Reads rows until the corner is complete. Without libpng's interlace handling every pass
// delivers its own reduced rows; their pixels are put in place here, so memory stays at one
// row however large the picture is. Rows below the corner are only read where a later pass
// still has to be reached.
bool pngReadCorner(png_structp png, const PngGeometry *g, png_bytep row, uchar *out, qsizetype stride,
                   png_uint_32 outWidth, png_uint_32 outHeight)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    const int passes = g->interlaced ? kPasses : 1;
    int lastUseful = 0;
    for (int p = 0; p < passes; ++p) {
        const Pass pass = passOf(*g, p);
        if (pass.columns && pass.rows && pass.xStart < outWidth && pass.yStart < outHeight)
            lastUseful = p;
    }
    for (int p = 0; p <= lastUseful; ++p) {
        const Pass pass = passOf(*g, p);
        if (!pass.columns || !pass.rows)
            continue;  // libpng skips empty passes too
        png_uint_32 rows = pass.rows;
        if (p == lastUseful)
            rows = std::min(rows, (outHeight - pass.yStart + pass.yStep - 1) / pass.yStep);
        for (png_uint_32 r = 0; r < rows; ++r) {
            png_read_row(png, row, nullptr);
            const png_uint_32 y = pass.yStart + r * pass.yStep;
            if (y >= outHeight)
                continue;
            uchar *line = out + static_cast<qsizetype>(y) * stride;
            for (png_uint_32 i = 0; i < pass.columns; ++i) {
                const png_uint_32 x = pass.xStart + i * pass.xStep;
                if (x >= outWidth)
                    break;
                std::memcpy(line + 4 * static_cast<size_t>(x), row + 4 * static_cast<size_t>(i), 4);
            }
        }
    }
    return true;
}

QImage readPngCorner(QIODevice &device, const QSize &limit)
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
    if (pngPrepare(png, info, &g)
        && (!g.interlaced || static_cast<qint64>(g.width) * g.height <= kMaxInterlacedPngPixels)) {
        const auto outWidth = std::min<png_uint_32>(g.width, static_cast<png_uint_32>(limit.width()));
        const auto outHeight = std::min<png_uint_32>(g.height, static_cast<png_uint_32>(limit.height()));
        std::vector<png_byte> row(g.rowBytes);
        QImage image(static_cast<int>(outWidth), static_cast<int>(outHeight), QImage::Format_RGBA8888);
        if (!image.isNull()) {
            image.fill(Qt::transparent);
            if (pngReadCorner(png, &g, row.data(), image.bits(), image.bytesPerLine(), outWidth, outHeight))
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
        && png_sig_cmp(reinterpret_cast<png_const_bytep>(signature.constData()), 0, 8) == 0)
        return readPngCorner(file, limit);
    file.close();
    return readWithImageReader(path, limit);
}

}  // namespace pw
