// libpng's reader: only the rows a region needs, or the whole picture shrunk row by row.
#include "core/picture/pngreader.h"

#include "core/picture/decoding.h"

#include <QRect>
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <png.h>
#include <vector>

namespace pw::decoding {

namespace {

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

// Reads rows until the region is complete: memory stays at one row plus the region however
// large the picture is, and damage past the last row needed never matters. An interlaced
// picture spreads the region over seven passes, so the passes before the last one that adds
// to it are read through, their rows below the region inflated and dropped.
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

// What reading everything up to the bottom-right of a region costs (the whole picture, for a
// region as large), in bytes inflated plus four for each pixel libpng turns into RGBA: a tiny
// file can declare an interlaced picture whose corner comes only after gigabytes. Here
// 12000 x 12000 RGBA (576 million) takes 0.9 s, 1-bit 40000 x 40000 (3300 million) 5.4 s.
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

bool pngReadRegion(png_structp png, const PngGeometry *g, png_bytep row, const QRect &region, QImage *out)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    const auto right = static_cast<png_uint_32>(region.right()) + 1, bottom = static_cast<png_uint_32>(region.bottom()) + 1;
    const auto left = static_cast<png_uint_32>(region.left()), top = static_cast<png_uint_32>(region.top());
    const int lastUseful = lastPassFor(*g, right, bottom);
    for (int p = 0; p <= lastUseful; ++p) {
        const Pass pass = passOf(*g, p);
        if (!pass.columns || !pass.rows)
            continue;  // libpng skips empty passes too
        for (png_uint_32 r = 0; r < pass.rows; ++r) {
            const png_uint_32 y = pass.y0 + (r << pass.yShift);
            if (y >= bottom) {
                if (p == lastUseful)
                    break;
                png_read_row(png, nullptr, nullptr);
                continue;
            }
            png_read_row(png, row, nullptr);
            if (y < top)
                continue;
            uchar *line = out->scanLine(static_cast<int>(y - top));
            if (pass.xShift == 0) {  // every column: the region's part of the row at once
                std::memcpy(line, row + 4 * static_cast<size_t>(left), 4 * static_cast<size_t>(right - left));
                continue;
            }
            for (png_uint_32 i = 0; i < pass.columns; ++i) {
                const png_uint_32 x = pass.x0 + (i << pass.xShift);
                if (x >= right)
                    break;
                if (x >= left)
                    std::memcpy(line + 4 * static_cast<size_t>(x - left), row + 4 * static_cast<size_t>(i), 4);
            }
        }
    }
    return true;
}

// Reads every row of every pass, adding each pixel a pass delivers to its block's sums. A
// plain picture's rows come in order, so one band of blocks is enough; an interlaced one's
// blocks are complete only after the last pass.
bool pngReadShrunk(png_structp png, const PngGeometry *g, png_bytep row, Shrinker *s)
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
            s->addRow(row, y, pass.x0, pass.xShift, pass.columns);
            if (!g->interlaced && ((y + 1) % png_uint_32(s->factor()) == 0 || y + 1 == g->height))
                s->emitBand(y / png_uint_32(s->factor()));
        }
    }
    if (g->interlaced)
        for (png_uint_32 b = 0; b * png_uint_32(s->factor()) < g->height; ++b)
            s->emitBand(b);
    png_read_end(png, nullptr);
    return true;
}

// The corner's bound keeps opening a picture in the window within about a second. The region
// and the shrunk whole picture may take up to about one and a half: here a grey 20000 x 20000
// (2000 million) takes 1.5 s shrunk, 0.9 s for a region at its bottom.
constexpr quint64 kPngCornerWorkLimit = 640 * 1000 * 1000;
constexpr quint64 kPngWholeWorkLimit = 2100ull * 1000 * 1000;

QString pngKind(const PngGeometry &g)
{
    return g.interlaced ? QStringLiteral("interlaced PNG") : QStringLiteral("PNG");
}

LoadedPicture readPngPrepared(png_structp png, const PngGeometry &g, const PictureRequest &request)
{
    const QSize full(static_cast<int>(g.width), static_cast<int>(g.height));  // libpng caps both far below INT_MAX
    std::vector<png_byte> row(g.rowBytes);
    LoadedPicture result;
    if (request.part == PictureRequest::Part::Reduced) {
        const int factor = boundedShrinkFactor(full, request.atLeast);
        if (cornerWork(g, g.width, g.height) > kPngWholeWorkLimit)
            return LoadedPicture::tooLarge(full, pngKind(g));
        const QSize size = shrunkSize(full, factor);
        const int bandRows = g.interlaced ? size.height() : 1;
        BudgetHold hold(qint64(size.width()) * bandRows * 32 + qint64(size.width()) * size.height() * 4);
        Shrinker shrinker(full, factor, bandRows);
        if (!shrinker.valid())
            return LoadedPicture::tooLarge(full, pngKind(g));
        if (!pngReadShrunk(png, &g, row.data(), &shrinker))
            return LoadedPicture::failed(LoadError::NotAPicture);
        result.image = shrinker.result();
    } else {
        const bool corner = request.part == PictureRequest::Part::Corner;
        const QRect region = (corner ? QRect(QPoint(0, 0), request.size) : sourceRegion(full, request.rotate, request.flip))
                             & QRect(QPoint(0, 0), full);
        if (region.isEmpty())
            return LoadedPicture::failed(LoadError::NotAPicture);
        const quint64 work = cornerWork(g, png_uint_32(region.right()) + 1, png_uint_32(region.bottom()) + 1);
        if (work > (corner ? kPngCornerWorkLimit : kPngWholeWorkLimit))
            return LoadedPicture::tooLarge(full, pngKind(g));
        BudgetHold hold(qint64(region.width()) * region.height() * 4);
        QImage image(region.size(), QImage::Format_RGBA8888);
        if (image.isNull())
            return LoadedPicture::tooLarge(full, pngKind(g));
        image.fill(Qt::transparent);
        if (!pngReadRegion(png, &g, row.data(), region, &image))
            return LoadedPicture::failed(LoadError::NotAPicture);
        result.image = image;
    }
    result.fullSize = full;
    return result;
}

}  // namespace

bool isPng(QIODevice &device)
{
    const QByteArray signature = device.peek(8);
    return signature.size() == 8 && png_sig_cmp(reinterpret_cast<png_const_bytep>(signature.constData()), 0, 8) == 0;
}

LoadedPicture readPng(QIODevice &device, const PictureRequest &request)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!png)
        return LoadedPicture::failed(LoadError::TooLarge);
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return LoadedPicture::failed(LoadError::TooLarge);
    }
    png_set_read_fn(png, &device, pngRead);
    // libpng allocates a text or profile chunk at the length its header declares before a
    // byte of it is read, so a 200-byte file can ask for gigabytes. Nothing here uses any
    // chunk but IHDR, PLTE, tRNS, IDAT and IEND: libpng passes over the others unread.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);

    PngGeometry g;
    const LoadedPicture result = pngPrepare(png, info, &g) ? readPngPrepared(png, g, request)
                                                           : LoadedPicture::failed(LoadError::NotAPicture);
    png_destroy_read_struct(&png, &info, nullptr);
    return result;
}

}  // namespace pw::decoding
