// The one way in for pictures: every request goes through the same checks before anything is
// decoded, whichever part of the picture it needs.
#include "core/picture/pictureloader.h"

#include "core/picture/declaredsize.h"
#include "core/picture/decoding.h"
#include "core/picture/jpegheader.h"
#include "core/picture/pngreader.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <limits>
#include <mutex>
#include <optional>
#include <new>

namespace pw {

using namespace decoding;

namespace {

// Decoders slow for their size get fewer pixels than the memory bound would let through, so
// that no picture takes more than a second or two: here Qt's GIF decoder takes 2.4 s for 64
// million pixels, and plain-text PNM 5 s for 48 million numbers (16 million RGB pixels).
qint64 pixelLimit(const QByteArray &format, QIODevice *device)
{
    if (format == "gif")
        return 32'000'000;
    if (format == "pbm" || format == "pgm" || format == "ppm") {
        // Qt names plain text and raw alike; the magic at the start tells them apart. The
        // reader has read the header by now, so the start is looked at and the place kept.
        QByteArray magic;
        if (device && !device->isSequential()) {
            const qint64 at = device->pos();
            if (device->seek(0))
                magic = device->peek(2);
            device->seek(at);
        }
        if (magic == "P1" || magic == "P2")
            return 8'000'000;
        if (magic == "P3")
            return 8'000'000 / 3;
    }
    return std::numeric_limits<qint64>::max();
}

// A reader over the source, as the plugins see it: by name for a file (the suffix helps them
// tell formats without a signature), by content for bytes.
struct Reader {
    explicit Reader(const PictureSource &source)
    {
        if (source.isFile()) {
            reader.setFileName(source.path());
        } else {
            device = source.open();
            reader.setDevice(device.get());
        }
        // The picture is taken as stored, without turning it by its orientation tag.
        reader.setAutoTransform(false);
        // Somewhat more than Qt's default, still bounded, for what declares no size.
        static std::once_flag limitSet;
        std::call_once(limitSet, [] { QImageReader::setAllocationLimit(int(kWholePictureLimitMB)); });
    }
    QString kind() { return reader.format().isEmpty() ? fallbackKind : QString::fromLatin1(reader.format().toUpper()); }

    std::unique_ptr<QIODevice> device;
    QString fallbackKind;
    QImageReader reader;
};

// Bytes a pixel of a whole decode takes: four, more for wider formats.
qint64 bytesPerPixel(QImageReader &reader)
{
    const QImage::Format format = reader.imageFormat();
    return std::max<int>(32, format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel()) / 8;
}

qint64 wholeBytes(QImageReader &reader, const QSize &size) { return qint64(size.width()) * size.height() * bytesPerPixel(reader); }

// Whether `frames` decodes of `size` stay within the memory bound and the format's pixel limit
// (a header may declare sizes and counts whose product overflows, so it is divided, never multiplied).
bool withinWholeLimits(Reader &r, const QSize &size, qint64 frames = 1)
{
    const qint64 pixels = std::max<qint64>(1, qint64(size.width()) * size.height());
    const qint64 allowed = std::min(kWholePictureLimitMB * kMB / bytesPerPixel(r.reader), pixelLimit(r.reader.format(), r.reader.device()));
    return frames >= 1 && pixels <= allowed / frames;
}

// The next image of the reader, decoded whole within the limits.
LoadedPicture readWhole(Reader &r, const QSize &full)
{
    if (full.isValid() && !withinWholeLimits(r, full))
        return LoadedPicture::tooLarge(full, r.kind());
    BudgetHold hold(full.isValid() ? wholeBytes(r.reader, full) : kBudgetBytes);
    LoadedPicture result;
    result.fullSize = full;
    result.image = r.reader.read();
    if (result.image.isNull()) {
        // The plugins fail alike for damage and for want of memory; only the latter keeps a
        // picture of the declared size from being allocated.
        if (full.isValid() && QImage(full, QImage::Format_ARGB32).isNull())
            return LoadedPicture::tooLarge(full, r.kind());
        return LoadedPicture::failed(LoadError::NotAPicture);
    }
    return result;
}

// Cuts or shrinks a picture decoded whole to what the request needs.
// A palette picture whose pixels name colours its table does not hold is damaged: what such a
// pixel shows is nowhere written down.
bool pixelsWithinPalette(const QImage &image)
{
    if (image.format() != QImage::Format_Indexed8)
        return true;
    const int colours = image.colorCount();
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        if (std::any_of(line, line + image.width(), [colours](uchar index) { return index >= colours; }))
            return false;
    }
    return true;
}

LoadedPicture partOf(LoadedPicture whole, const PictureRequest &request)
{
    if (!whole.ok())
        return whole;
    if (!pixelsWithinPalette(whole.image))
        return LoadedPicture::failed(LoadError::NotAPicture);
    QImage &image = whole.image;
    const QRect rect = image.rect();
    switch (request.part) {
    case PictureRequest::Part::Corner:
        if (image.width() > request.size.width() || image.height() > request.size.height())
            image = image.copy(QRect(QPoint(0, 0), request.size) & rect);
        break;
    case PictureRequest::Part::TurnedCorner:
        image = image.copy(sourceRegion(image.size(), request.rotate, request.flip) & rect);
        break;
    case PictureRequest::Part::Reduced:
        if (const int factor = boundedShrinkFactor(image.size(), request.atLeast); factor > 1)
            image = shrinkImage(image, factor);
        break;
    }
    if (image.isNull())
        return LoadedPicture::tooLarge(whole.fullSize.isValid() ? whole.fullSize : rect.size(), QStringLiteral("picture"));
    return whole;
}

constexpr qint64 kJpegRowsLimit = 1'000'000'000;

// JPEG: clipped or shrunk by the decoder itself, after its header has been checked.
LoadedPicture readJpeg(Reader &r, const JpegHeader &header, const PictureRequest &request)
{
    const QSize full = header.size;
    if (header.wholeBytes > kJpegCoefficientLimitMB * kMB)
        return LoadedPicture::tooLarge(full, header.progressive ? QStringLiteral("progressive JPEG") : QStringLiteral("multi-scan JPEG"));
    LoadedPicture result;
    result.fullSize = full;
    QSize outSize;
    if (request.part == PictureRequest::Part::Reduced) {
        // The decoder shrinks by 1/2, 1/4 or 1/8 in its inverse DCT, at next to no cost.
        int factor = 1;
        while (factor < 8 && factor * 2 <= shrinkFactor(full, request.atLeast))
            factor *= 2;
        outSize = shrunkSize(full, factor);
        if (!fitsReducedLimit(outSize))
            return LoadedPicture::tooLarge(full, QStringLiteral("JPEG"));
        r.reader.setScaledSize(outSize);
    } else {
        const QRect region = request.part == PictureRequest::Part::Corner
                                 ? QRect(QPoint(0, 0), request.size) & QRect(QPoint(0, 0), full)
                                 : sourceRegion(full, request.rotate, request.flip);
        // Every row above the region is decoded too (and dropped): here a billion pixels of
        // them take more than a second.
        if (qint64(full.width()) * (region.bottom() + 1) > kJpegRowsLimit)
            return LoadedPicture::tooLarge(full, QStringLiteral("JPEG"));
        // Decodes only what is needed (rows below the region are never decoded), so even
        // pictures far beyond the reader's allocation limit load quickly.
        r.reader.setClipRect(region);
        outSize = region.size();
    }
    BudgetHold hold(qint64(outSize.width()) * outSize.height() * 4 + qint64(full.width()) * 64);
    result.image = r.reader.read();
    if (result.image.isNull())
        return LoadedPicture::failed(LoadError::NotAPicture);
    return result;
}

// What a whole decode allocates: the size the plugin reports, or what the header declares
// where that is larger (a GIF's logical screen) or the plugin refuses to say.
QSize decodedSize(Reader &r, QIODevice &device)
{
    const QSize reported = r.reader.size();
    const DeclaredSize declared = peekDeclaredSize(device);
    if (!declared.size.isValid())
        return reported;
    if (r.kind().isEmpty())
        r.fallbackKind = declared.kind;
    if (declared.size.isEmpty())
        return declared.size;  // no pixels: damaged, whatever the plugin would show
    return reported.isValid() ? reported.expandedTo(declared.size) : declared.size;
}

LoadedPicture load(const PictureSource &source, const PictureRequest &request)
{
    const std::unique_ptr<QIODevice> device = source.open();
    if (!device)
        return LoadedPicture::failed(LoadError::Unreadable);
    if (isPng(*device))
        return readPng(*device, request);
    if (isJpeg(*device)) {
        const JpegHeader header = readJpegHeader(*device);
        if (!header.readable)
            return LoadedPicture::failed(LoadError::NotAPicture);
        Reader r(source);
        return readJpeg(r, header, request);
    }
    const bool truncated = peekDeclaredSize(*device).truncated;
    Reader r(source);
    const QSize full = decodedSize(r, *device);
    // A side of 0 holds no pixel: damaged, whatever a decoder would make of it.
    if (full.isValid() && full.isEmpty())
        return LoadedPicture::failed(LoadError::NotAPicture);
    if (full.isValid() && request.part != PictureRequest::Part::Reduced && r.reader.supportsOption(QImageIOHandler::ClipRect)) {
        // A plugin that clips decodes only what is needed.
        const QRect region = request.part == PictureRequest::Part::Corner ? QRect(QPoint(0, 0), request.size)
                                                                          : sourceRegion(full, request.rotate, request.flip);
        r.reader.setClipRect(region & QRect(QPoint(0, 0), full));
        LoadedPicture clipped;
        clipped.fullSize = full;
        clipped.image = r.reader.read();
        return clipped.image.isNull() || !pixelsWithinPalette(clipped.image) ? LoadedPicture::failed(LoadError::NotAPicture) : clipped;
    }
    // What is too large says so first, whatever else is wrong with it.
    if (truncated && !(full.isValid() && !withinWholeLimits(r, full)))
        return LoadedPicture::failed(LoadError::NotAPicture);
    return partOf(readWhole(r, full), request);
}

}  // namespace


// Whatever goes wrong for want of memory is the picture's size, never a crash: the next
// picture still loads.
LoadError checkReadable(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return LoadError::Missing;
    if (info.isDir())
        return LoadError::IsFolder;
    if (!info.isReadable())
        return LoadError::PermissionDenied;
    return LoadError::None;
}

LoadedPicture loadPicture(const PictureSource &source, const PictureRequest &request)
{
    if (source.isFile())
        if (const LoadError error = checkReadable(source.path()); error != LoadError::None)
            return LoadedPicture::failed(error);
    try {
        if (source.isDecoded()) {
            LoadedPicture whole;
            whole.image = source.picture();
            whole.fullSize = whole.image.size();
            return partOf(whole, request);
        }
        return load(source, request);
    } catch (const std::bad_alloc &) {
        return LoadedPicture::failed(LoadError::TooLarge);
    }
}

// Whether the source is a PNG or a JPEG: pictures of one frame, read through the guarded
// readers only (Qt's own PNG reader would allocate what a hostile file's chunks declare).
bool isStillFormat(const PictureSource &source)
{
    const std::unique_ptr<QIODevice> device = source.open();
    return !device || isPng(*device) || isJpeg(*device);
}

LoadedPicture loadFrames(const PictureSource &source, const PictureRequest &request,
                         const std::function<bool(const QImage &part)> &frame)
{
    std::optional<Reader> animation;
    if (!isStillFormat(source))
        animation.emplace(source);
    // Only an animation has further frames: a multi-page file (TIFF) shows its first page, as
    // a still picture would.
    const int count = animation && animation->reader.supportsAnimation() ? std::max(1, animation->reader.imageCount()) : 1;
    if (count == 1) {
        // A still picture is its own one frame, through the guarded loader.
        LoadedPicture still = loadPicture(source, request);
        if (still.ok())
            frame(still.image);
        still.image = QImage();
        return still;
    }
    Reader &r = *animation;
    const std::unique_ptr<QIODevice> header = source.open();
    const QSize full = header ? decodedSize(r, *header) : QSize();
    // Each frame is decoded whole: together they must fit the bounds of one whole picture.
    if (!full.isValid() || full.isEmpty() || !withinWholeLimits(r, full, count))
        return !full.isEmpty() ? LoadedPicture::failed(LoadError::TooLarge, QStringLiteral("%1 frames of %2 × %3 %4")
                                                                               .arg(count).arg(full.width()).arg(full.height()).arg(r.kind()))
                               : LoadedPicture::failed(LoadError::NotAPicture);
    LoadedPicture result;
    result.fullSize = full;
    try {
        for (int k = 0; k < count; ++k) {
            LoadedPicture part = partOf(readWhole(r, full), request);
            if (!part.ok()) {
                if (k == 0)
                    return part;
                break;  // a damaged frame ends the animation, as players show it
            }
            if (!frame(part.image))
                break;
        }
    } catch (const std::bad_alloc &) {
        return LoadedPicture::failed(LoadError::TooLarge, QStringLiteral("%1 frames of %2 × %3 %4")
                                                              .arg(count).arg(full.width()).arg(full.height()).arg(r.kind()));
    }
    return result;
}

int frameCount(const PictureSource &source)
{
    if (source.isDecoded())
        return 1;
    if (isStillFormat(source)) {
        const std::unique_ptr<QIODevice> device = source.open();
        return device ? 1 : 0;
    }
    Reader r(source);
    if (!r.reader.canRead())
        return 0;
    return r.reader.supportsAnimation() ? std::max(1, r.reader.imageCount()) : 1;
}

QImage readPictureCorner(const QString &path, const QSize &limit)
{
    if (limit.isEmpty())
        return {};
    return loadPicture(PictureSource::file(path), PictureRequest::corner(limit)).image;
}

}  // namespace pw
