// The small value types of the loader: where a picture comes from, what part of it is wanted,
// and what came of reading it.
#include "core/picture/picturesource.h"

#include <QBuffer>
#include <QFile>

namespace pw {

PictureSource PictureSource::file(const QString &path)
{
    PictureSource source;
    source.path_ = path;
    return source;
}

PictureSource PictureSource::memory(const QByteArray &bytes)
{
    PictureSource source;
    source.isFile_ = false;
    source.bytes_ = bytes;
    return source;
}

PictureSource PictureSource::decoded(const QImage &picture)
{
    PictureSource source;
    source.isFile_ = false;
    source.picture_ = picture;
    return source;
}

std::unique_ptr<QIODevice> PictureSource::open() const
{
    std::unique_ptr<QIODevice> device;
    if (isDecoded())
        return nullptr;
    if (isFile_)
        device = std::make_unique<QFile>(path_);
    else
        device = std::make_unique<QBuffer>(const_cast<QByteArray *>(&bytes_));
    if (!device->open(QIODevice::ReadOnly))
        return nullptr;
    return device;
}

LoadedPicture LoadedPicture::failed(LoadError error, const QString &detail)
{
    LoadedPicture picture;
    picture.error = error;
    picture.detail = detail;
    return picture;
}

LoadedPicture LoadedPicture::tooLarge(const QSize &size, const QString &kind)
{
    LoadedPicture picture = failed(LoadError::TooLarge, QStringLiteral("%1 × %2 %3").arg(size.width()).arg(size.height()).arg(kind));
    picture.fullSize = size;
    return picture;
}

QString loadErrorText(const LoadedPicture &picture)
{
    switch (picture.error) {
    case LoadError::None: return {};
    case LoadError::Missing: return QStringLiteral("no such file");
    case LoadError::IsFolder: return QStringLiteral("is a folder");
    case LoadError::PermissionDenied: return QStringLiteral("cannot be read (permission denied)");
    case LoadError::Unreadable: return QStringLiteral("could not be read");
    case LoadError::NotAPicture: return QStringLiteral("not a picture, or damaged");
    case LoadError::TooLarge:
        return picture.detail.isEmpty() ? QStringLiteral("too large to decode safely")
                                        : QStringLiteral("too large to decode safely (%1)").arg(picture.detail);
    }
    return {};
}

PictureRequest PictureRequest::corner(const QSize &size)
{
    PictureRequest request;
    request.size = size;
    return request;
}

PictureRequest PictureRequest::forOptions(const PrepareOptions &options)
{
    PictureRequest request;
    if (options.fit != Fit::Crop) {
        request.part = Part::Reduced;
        const QSize area(kImageWidth, kImageHeight);
        request.atLeast = options.rotate % 180 ? area.transposed() : area;
    } else if (options.transforms()) {
        request.part = Part::TurnedCorner;
        request.rotate = options.rotate;
        request.flip = options.flip;
    }
    return request;
}

}  // namespace pw
