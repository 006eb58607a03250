#include "core/picturedecoder.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <limits>
#include <png.h>
#include <vector>

namespace pw {

namespace {

constexpr qint64 kMB = 1024 * 1024;

struct PngGeometry {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool interlaced = false;
    size_t rowBytes = 0;
    int storedBits = 0;  // per pixel in the file
};

// One pass of the row stream as libpng delivers it when left to interlace nothing itself: each
// row holds only the pass's pixels, every `1 << xShift` columns from `x0`. A plain picture is
// one pass over everything. (libpng's own de-interlacing would widen every pass row to the full
// width first, which for a huge picture costs more than inflating it.)
struct Pass {
    png_uint_32 x0, xShift, y0, yShift, columns, rows;
};

int passCount(const PngGeometry &g)
{
    return g.interlaced ? 7 : 1;
}

Pass passOf(const PngGeometry &g, int pass)
{
    if (!g.interlaced)
        return {0, 0, 0, 0, g.width, g.height};
    // libpng's pass macros give int; the casts keep brace initialisation free of narrowing.
    return {static_cast<png_uint_32>(PNG_PASS_START_COL(pass)), static_cast<png_uint_32>(PNG_PASS_COL_SHIFT(pass)),
            static_cast<png_uint_32>(PNG_PASS_START_ROW(pass)), static_cast<png_uint_32>(PNG_PASS_ROW_SHIFT(pass)),
            PNG_PASS_COLS(g.width, pass), PNG_PASS_ROWS(g.height, pass)};
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

// libpng reports errors by longjmp into the functions below that call setjmp: they hold
// nothing that needs a destructor, and every buffer they fill belongs to the caller.

bool pngPrepare(png_structp png, png_infop info, PngGeometry *g)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    g->storedBits = png_get_bit_depth(png, info) * png_get_channels(png, info);
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

// Reads rows until the corner is complete: memory stays at one row plus the corner however
// large the picture is, and damage past the last row needed never matters. An interlaced
// picture spreads the corner over seven passes, so the passes before the last one that adds
// to it are read through, their rows below the corner inflated and dropped.
int lastPassFor(const PngGeometry &g, png_uint_32 outWidth, png_uint_32 outHeight)
{
    int last = 0;
    for (int p = 0; p < passCount(g); ++p) {
        const Pass pass = passOf(g, p);
        if (pass.columns && pass.rows && pass.x0 < outWidth && pass.y0 < outHeight)
            last = p;
    }
    return last;
}

// What reading the corner (or the whole, for a corner as large) costs, in bytes inflated plus four for each pixel libpng turns into
// RGBA: a tiny file can declare an interlaced picture whose corner comes only after gigabytes.
// Here 12000 x 12000 RGBA (576 million) takes 0.9 s, 1-bit 40000 x 40000 (3300 million) 5.4 s.
quint64 cornerWork(const PngGeometry &g, png_uint_32 outWidth, png_uint_32 outHeight)
{
    const int last = lastPassFor(g, outWidth, outHeight);
    quint64 work = 0;
    for (int p = 0; p <= last; ++p) {
        const Pass pass = passOf(g, p);
        if (!pass.columns || !pass.rows)
            continue;
        const quint64 rows = p < last ? pass.rows
                                      : std::min<quint64>(pass.rows, ((outHeight - pass.y0 - 1) >> pass.yShift) + 1);
        work += rows * (1 + (static_cast<quint64>(pass.columns) * g.storedBits + 7) / 8 + 4 * static_cast<quint64>(pass.columns));
    }
    return work;
}

constexpr quint64 kPngCornerWorkLimit = 640 * 1000 * 1000;
// The shrunk whole picture is for the command line, which may take a few seconds more.
constexpr quint64 kPngWholeWorkLimit = 4000ull * 1000 * 1000;

bool pngReadCorner(png_structp png, const PngGeometry *g, png_bytep row, uchar *out, qsizetype stride,
                   png_uint_32 outWidth, png_uint_32 outHeight)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    const int lastUseful = lastPassFor(*g, outWidth, outHeight);
    for (int p = 0; p <= lastUseful; ++p) {
        const Pass pass = passOf(*g, p);
        if (!pass.columns || !pass.rows)
            continue;  // libpng skips empty passes too
        for (png_uint_32 r = 0; r < pass.rows; ++r) {
            const png_uint_32 y = pass.y0 + (r << pass.yShift);
            if (y >= outHeight) {
                if (p == lastUseful)
                    break;
                png_read_row(png, nullptr, nullptr);
                continue;
            }
            png_read_row(png, row, nullptr);
            uchar *line = out + static_cast<qsizetype>(y) * stride;
            for (png_uint_32 i = 0; i < pass.columns && pass.x0 + (i << pass.xShift) < outWidth; ++i)
                std::memcpy(line + 4 * static_cast<size_t>(pass.x0 + (i << pass.xShift)), row + 4 * static_cast<size_t>(i), 4);
        }
    }
    return true;
}

// Block sums for the shrunk picture: colour weighted by alpha, so that transparent pixels
// lend no colour to their block.
struct Shrink {
    png_uint_32 factor = 1;
    png_uint_32 width = 0;   // of the shrunk picture
    png_uint_32 bandRows = 1;  // block rows summed at once: all of them for an interlaced picture
    std::vector<quint64> sums;
};

void addRow(Shrink *s, png_const_bytep row, png_uint_32 y, const Pass &pass)
{
    quint64 *band = s->sums.data() + static_cast<size_t>((y / s->factor) % s->bandRows) * s->width * 4;
    quint64 x = pass.x0;
    png_uint_32 i = 0;
    while (i < pass.columns) {
        // The row's pixels within one block, summed in registers.
        const quint64 block = x / s->factor;
        const quint64 blockEnd = (block + 1) * s->factor;
        quint64 r = 0, g = 0, b = 0, a = 0;
        for (; i < pass.columns && x < blockEnd; ++i, x += quint64(1) << pass.xShift) {
            const png_const_bytep p = row + 4 * static_cast<size_t>(i);
            r += p[0] * p[3];
            g += p[1] * p[3];
            b += p[2] * p[3];
            a += p[3];
        }
        quint64 *sum = band + 4 * block;
        sum[0] += r;
        sum[1] += g;
        sum[2] += b;
        sum[3] += a;
    }
}

void emitBand(Shrink *s, png_uint_32 blockRow, png_uint_32 width, png_uint_32 height, uchar *out, qsizetype stride)
{
    quint64 *band = s->sums.data() + static_cast<size_t>(blockRow % s->bandRows) * s->width * 4;
    uchar *line = out + static_cast<qsizetype>(blockRow) * stride;
    const quint64 rows = std::min<quint64>(s->factor, height - static_cast<quint64>(blockRow) * s->factor);
    for (png_uint_32 b = 0; b < s->width; ++b) {
        quint64 *sum = band + 4 * static_cast<size_t>(b);
        const quint64 n = rows * std::min<quint64>(s->factor, width - static_cast<quint64>(b) * s->factor);
        const quint64 a = sum[3];
        for (int c = 0; c < 3; ++c)
            line[4 * b + c] = a ? static_cast<uchar>((sum[c] + a / 2) / a) : 0;
        line[4 * b + 3] = static_cast<uchar>((a + n / 2) / n);
        std::fill(sum, sum + 4, 0);
    }
}

// Reads every row of every pass, adding each pixel a pass delivers to its block's sums. A
// plain picture's rows come in order, so one band of blocks is enough; an interlaced one's
// blocks are complete only after the last pass.
bool pngReadShrunk(png_structp png, const PngGeometry *g, png_bytep row, Shrink *s, uchar *out, qsizetype stride)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (int p = 0; p < passCount(*g); ++p) {
        const Pass pass = passOf(*g, p);
        if (!pass.columns || !pass.rows)
            continue;
        for (png_uint_32 r = 0; r < pass.rows; ++r) {
            const png_uint_32 y = pass.y0 + (r << pass.yShift);
            png_read_row(png, row, nullptr);
            addRow(s, row, y, pass);
            if (!g->interlaced && ((y + 1) % s->factor == 0 || y + 1 == g->height))
                emitBand(s, y / s->factor, g->width, g->height, out, stride);
        }
    }
    if (g->interlaced)
        for (png_uint_32 b = 0; b * s->factor < g->height; ++b)
            emitBand(s, b, g->width, g->height, out, stride);
    png_read_end(png, nullptr);
    return true;
}

// The largest factor that keeps each side at least `atLeast`, or the picture's own side where
// that is smaller.
int shrinkFactor(const QSize &full, const QSize &atLeast)
{
    const int keepWidth = std::max(1, std::min(full.width(), atLeast.width()));
    const int keepHeight = std::max(1, std::min(full.height(), atLeast.height()));
    return std::max(1, std::min(full.width() / keepWidth, full.height() / keepHeight));
}

QSize shrunkSize(const QSize &full, int factor)
{
    return QSize((full.width() + factor - 1) / factor, (full.height() + factor - 1) / factor);
}

bool fitsReducedLimit(const QSize &size)
{
    return static_cast<qint64>(size.width()) * size.height() * 4 <= kReducedPictureLimitMB * kMB;
}

// With `atLeast` valid the whole picture is read shrunk, otherwise the corner within `limit`.
QImage readPng(QIODevice &device, const QSize &limit, const QSize &atLeast, QSize *fullSize)
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
    // libpng allocates a text or profile chunk at the length its header declares before a
    // byte of it is read, so a 200-byte file can ask for gigabytes. Nothing here uses any
    // chunk but IHDR, PLTE, tRNS, IDAT and IEND: libpng passes over the others unread.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);

    QImage result;
    PngGeometry g;
    if (pngPrepare(png, info, &g)) {
        const QSize full(static_cast<int>(g.width), static_cast<int>(g.height));  // libpng caps both far below INT_MAX
        if (fullSize)
            *fullSize = full;
        std::vector<png_byte> row(g.rowBytes);
        if (atLeast.isValid()) {
            Shrink s;
            s.factor = static_cast<png_uint_32>(shrinkFactor(full, atLeast));
            const QSize size = shrunkSize(full, static_cast<int>(s.factor));
            s.width = static_cast<png_uint_32>(size.width());
            s.bandRows = g.interlaced ? static_cast<png_uint_32>(size.height()) : 1;
            if (fitsReducedLimit(size) && cornerWork(g, g.width, g.height) <= kPngWholeWorkLimit
                && static_cast<qint64>(s.width) * s.bandRows * 4 * sizeof(quint64) <= kReducedPictureLimitMB * kMB) {
                s.sums.assign(static_cast<size_t>(s.width) * s.bandRows * 4, 0);
                QImage image(size, QImage::Format_RGBA8888);
                if (!image.isNull() && pngReadShrunk(png, &g, row.data(), &s, image.bits(), image.bytesPerLine()))
                    result = image;
            }
        } else {
            const auto outWidth = std::min<png_uint_32>(g.width, static_cast<png_uint_32>(limit.width()));
            const auto outHeight = std::min<png_uint_32>(g.height, static_cast<png_uint_32>(limit.height()));
            QImage image;
            if (cornerWork(g, outWidth, outHeight) <= kPngCornerWorkLimit)
                image = QImage(static_cast<int>(outWidth), static_cast<int>(outHeight), QImage::Format_RGBA8888);
            if (!image.isNull()) {
                image.fill(Qt::transparent);
                if (pngReadCorner(png, &g, row.data(), image.bits(), image.bytesPerLine(), outWidth, outHeight))
                    result = image;
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return result;
}

// What a JPEG's decoder will hold before the first row comes out, from the markers up to the
// first scan. A sequential picture whose first scan carries every component is decoded a few
// rows at a time; anything else (progressive, components in separate scans, lossless or
// hierarchical) may need every coefficient of the picture at once.
struct JpegHeader {
    bool readable = false;
    QSize size;
    qint64 wholeBytes = 0;  // coefficients held at once; 0 when decoded row by row
};

JpegHeader readJpegHeader(QIODevice &device)
{
    JpegHeader header;
    const auto next = [&device](int *value) {
        char c = 0;
        const bool ok = device.getChar(&c);
        *value = static_cast<uchar>(c);
        return ok;
    };
    int a = 0, b = 0;
    if (!next(&a) || !next(&b) || a != 0xFF || b != 0xD8)
        return header;
    int frameType = -1;
    int components = 0;
    int h[256] = {}, v[256] = {};
    // The decoder passes over stray bytes and fill bytes between segments; so does this.
    for (int segments = 0; segments < 100000; ++segments) {
        int marker = 0;
        do {
            if (!next(&marker))
                return header;
        } while (marker != 0xFF);
        do {
            if (!next(&marker))
                return header;
        } while (marker == 0xFF);
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // stuffed byte or a marker without a length
        if (marker == 0xD8 || marker == 0xD9)
            return header;
        if (!next(&a) || !next(&b) || (a << 8 | b) < 2)
            return header;
        const int length = (a << 8 | b) - 2;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (!frame && marker != 0xDA) {  // tables, metadata, thumbnails: passed over unread
            if (device.skip(length) != length)
                return header;
            continue;
        }
        const QByteArray segment = device.read(length);
        if (segment.size() != length)
            return header;
        const auto at = [&segment](int i) { return static_cast<int>(static_cast<uchar>(segment.at(i))); };
        if (frame) {
            if (frameType >= 0 || segment.size() < 6)
                return header;
            frameType = marker;
            header.size = QSize(at(3) << 8 | at(4), at(1) << 8 | at(2));
            components = at(5);
            if (header.size.isEmpty() || components < 1 || segment.size() < 6 + 3 * components)
                return header;
            for (int i = 0; i < components; ++i) {
                h[i] = at(7 + 3 * i) >> 4;
                v[i] = at(7 + 3 * i) & 15;
                if (h[i] < 1 || h[i] > 4 || v[i] < 1 || v[i] > 4)
                    return header;
            }
        } else if (marker == 0xDA) {
            if (frameType < 0 || segment.isEmpty())
                return header;
            const bool sequential = frameType == 0xC0 || frameType == 0xC1 || frameType == 0xC9;
            if (!sequential || at(0) < components) {
                const int hMax = *std::max_element(h, h + components);
                const int vMax = *std::max_element(v, v + components);
                const qint64 width = header.size.width(), height = header.size.height();
                for (int i = 0; i < components; ++i) {
                    // Blocks per side as the decoder allocates them: each side of the component
                    // in 8-pixel blocks, rounded up to whole sampling units.
                    const qint64 across = ((width * h[i] + hMax - 1) / hMax + 7) / 8;
                    const qint64 down = ((height * v[i] + vMax - 1) / vMax + 7) / 8;
                    header.wholeBytes += (across + h[i] - 1) / h[i] * h[i] * ((down + v[i] - 1) / v[i] * v[i]) * 64 * 2;
                }
            }
            header.readable = true;
            return header;
        }
    }
    return header;
}

bool isJpeg(QIODevice &device)
{
    return device.peek(2) == QByteArray("\xFF\xD8", 2);
}

// Refuses before decoding a JPEG whose decoder could not bound its own memory.
bool jpegWithinLimits(QIODevice &device, QSize *fullSize)
{
    const JpegHeader header = readJpegHeader(device);
    if (header.readable && fullSize)
        *fullSize = header.size;
    return header.readable && header.wholeBytes <= kJpegCoefficientLimitMB * kMB;
}

// For a picture decoded whole: refuses what its declared size says cannot fit, and bounds by
// the allocation limit what the plugin does not declare.
// Decoders slow for their size get fewer pixels than the allocation limit would let through,
// so that no picture takes more than a second or two: here Qt's GIF decoder takes 2.4 s for
// 64 million pixels, and plain-text PNM 5 s for 48 million numbers (16 million RGB pixels).
qint64 pixelLimit(const QImageReader &reader)
{
    const QByteArray format = reader.format();
    if (format == "gif")
        return 32'000'000;
    if (format == "pbm" || format == "pgm" || format == "ppm") {
        QFile file(reader.fileName());
        const QByteArray magic = file.open(QIODevice::ReadOnly) ? file.read(2) : QByteArray();
        if (magic == "P1" || magic == "P2")
            return 8'000'000;
        if (magic == "P3")
            return 8'000'000 / 3;
    }
    return std::numeric_limits<qint64>::max();
}

// For a picture decoded whole: refuses what its declared size says cannot fit, and bounds by
// the allocation limit what the plugin does not declare.
QImage readWhole(QImageReader &reader, const QSize &full)
{
    if (full.isValid()) {
        const QImage::Format format = reader.imageFormat();
        const int bits = format == QImage::Format_Invalid ? 32 : std::max<int>(32, QImage::toPixelFormat(format).bitsPerPixel());
        const qint64 pixels = static_cast<qint64>(full.width()) * full.height();
        if (pixels * bits / 8 > kWholePictureLimitMB * kMB || pixels > pixelLimit(reader))
            return {};
    }
    // Allow somewhat more than Qt's default, still bounded.
    const int previous = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(kWholePictureLimitMB);
    QImage image = reader.read();
    QImageReader::setAllocationLimit(previous);
    return image;
}

// Shrinks a picture read whole with the same block averages as a PNG's, a row at a time in
// RGBA: smooth scaling would first turn a whole 1-bit or 8-bit picture into 32 bits.
QImage shrinkImage(const QImage &image, int factor)
{
    const QSize size = shrunkSize(image.size(), factor);
    QImage out(size, QImage::Format_RGBA8888);
    if (out.isNull())
        return {};
    const auto width = static_cast<png_uint_32>(image.width()), height = static_cast<png_uint_32>(image.height());
    Shrink s;
    s.factor = static_cast<png_uint_32>(factor);
    s.width = static_cast<png_uint_32>(size.width());
    s.sums.assign(static_cast<size_t>(s.width) * 4, 0);
    const Pass pass{0, 0, 0, 0, width, height};
    for (png_uint_32 y = 0; y < height; ++y) {
        const QImage row = image.copy(0, static_cast<int>(y), image.width(), 1).convertToFormat(QImage::Format_RGBA8888);
        addRow(&s, row.constBits(), y, pass);
        if ((y + 1) % s.factor == 0 || y + 1 == height)
            emitBand(&s, y / s.factor, width, height, out.bits(), out.bytesPerLine());
    }
    return out;
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
        image = readWhole(reader, full);
    }
    if (image.isNull())
        return {};
    if (image.width() > limit.width() || image.height() > limit.height())
        image = image.copy(corner & image.rect());
    return image;
}

QImage readShrunkWithImageReader(const QString &path, const QSize &atLeast, bool jpeg, QSize *fullSize)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize full = reader.size();
    if (full.isValid() && fullSize)
        *fullSize = full;
    if (jpeg) {
        if (!full.isValid())
            return {};
        // The decoder shrinks by 1/2, 1/4 or 1/8 in its inverse DCT, at next to no cost.
        int factor = 1;
        while (factor < 8 && factor * 2 <= shrinkFactor(full, atLeast))
            factor *= 2;
        const QSize size = shrunkSize(full, factor);
        if (!fitsReducedLimit(size))
            return {};
        reader.setScaledSize(size);
        return reader.read();
    }
    QImage image = readWhole(reader, full);
    if (image.isNull())
        return {};
    const int factor = shrinkFactor(image.size(), atLeast);
    return factor == 1 ? image : shrinkImage(image, factor);
}

bool isPng(QIODevice &device)
{
    const QByteArray signature = device.peek(8);
    return signature.size() == 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(signature.constData()), 0, 8) == 0;
}

}  // namespace

QImage readPictureCorner(const QString &path, const QSize &limit)
{
    if (limit.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (isPng(file))
        return readPng(file, limit, QSize(), nullptr);
    if (isJpeg(file) && !jpegWithinLimits(file, nullptr))
        return {};
    file.close();
    return readWithImageReader(path, limit);
}

QImage readPictureReduced(const QString &path, const QSize &atLeast, QSize *fullSize)
{
    if (fullSize)
        *fullSize = QSize();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QSize wanted = atLeast.expandedTo(QSize(1, 1));
    if (isPng(file))
        return readPng(file, QSize(), wanted, fullSize);
    const bool jpeg = isJpeg(file);
    if (jpeg && !jpegWithinLimits(file, fullSize))
        return {};
    file.close();
    return readShrunkWithImageReader(path, wanted, jpeg, fullSize);
}

}  // namespace pw
