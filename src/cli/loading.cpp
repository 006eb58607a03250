#include "cli/loading.h"

#include "core/picturedecoder.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>

namespace pw::cli {

namespace {

const QString kNotAPicture = QStringLiteral("not a picture, or damaged");

// Qt's reader for what cannot be clipped, bounded as the window bounds it.
QImage readBounded(QImageReader &reader)
{
    const int previous = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(kWholePictureLimitMB);
    QImage image = reader.read();
    QImageReader::setAllocationLimit(previous);
    return image;
}

QImage readRegion(const QString &path, const QRect &region)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    const QSize full = reader.size();
    if (full.isValid() && reader.supportsOption(QImageIOHandler::ClipRect)) {
        reader.setClipRect(region & QRect(QPoint(0, 0), full));
        return reader.read();
    }
    const QImage image = readBounded(reader);
    return image.isNull() ? image : image.copy(region & image.rect());
}

// The whole picture at a size reduced by an integer factor while decoding, no smaller than
// `atLeast` where it is larger.
// The core's reduced decoding: JPEG shrinks in its decoder, PNG row by row, bounded memory.
QImage readReduced(const QString &path, const QSize &atLeast) { return readPictureReduced(path, atLeast); }

QSize pictureSize(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.size();
}

}  // namespace

QString unreadableReason(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (info.isDir())
        return QStringLiteral("is a folder");
    if (!info.isReadable())
        return QStringLiteral("cannot be read (permission denied)");
    return {};
}

QRect sourceRegion(const QSize &full, int rotate, Flip flip)
{
    QTransform mapping = QImage::trueMatrix(QTransform().rotate(rotate), full.width(), full.height());
    const QSize turned = mapping.mapRect(QRect(QPoint(0, 0), full)).size();
    if (flip == Flip::Horizontal)
        mapping *= QTransform(-1, 0, 0, 1, turned.width(), 0);
    else if (flip == Flip::Vertical)
        mapping *= QTransform(1, 0, 0, -1, 0, turned.height());
    const QRectF corner(0, 0, kImageWidth, kImageHeight);
    return mapping.inverted().mapRect(corner).toAlignedRect() & QRect(QPoint(0, 0), full);
}

bool loadPicture(const QString &path, const ConvertOptions &options, bool allFrames, QList<QImage> &frames,
                 QString &error)
{
    frames.clear();
    error = unreadableReason(path);
    if (!error.isEmpty())
        return false;
    const QSize area(kImageWidth, kImageHeight);
    if (allFrames) {
        QImageReader reader(path);
        reader.setAutoTransform(false);
        for (;;) {
            QImage frame = readBounded(reader);
            if (frame.isNull())
                break;
            if (options.fit == Fit::Crop)  // the turned frame is cut by the conversion
                frame = frame.copy(sourceRegion(frame.size(), options.rotate, options.flip));
            frames << frame;
            if (!reader.canRead())
                break;
        }
    } else {
        QImage image;
        if (options.fit != Fit::Crop)
            image = readReduced(path, options.rotate % 180 ? area.transposed() : area);
        else if (!options.transforms())
            image = readPictureCorner(path, area);
        else if (const QSize full = pictureSize(path); full.isValid())
            image = readRegion(path, sourceRegion(full, options.rotate, options.flip));
        if (!image.isNull())
            frames << image;
    }
    if (frames.isEmpty())
        error = kNotAPicture;
    return !frames.isEmpty();
}

}  // namespace pw::cli
