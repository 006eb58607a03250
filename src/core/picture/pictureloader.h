#pragma once

#include "core/picture/picturesource.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

namespace pw {

// Whether a file can be opened at all: Missing, IsFolder, PermissionDenied, or None.
LoadError checkReadable(const QString &path);

// The one way in for pictures. Every request is held to the same bounds, whatever the options:
// a picture whose decoding would take more than about 250 MB or a second or two is refused as
// too large before it is decoded (from its header: the JPEG coefficient buffer of a progressive
// picture, the inflating and expanding a PNG needs, the declared size of what is decoded whole,
// fewer pixels for the slow GIF and plain-text PNM decoders), and a decoding or allocation that
// fails for memory is reported the same way. PNG goes through libpng (only the rows needed are
// inflated; an interlaced picture through its passes); other formats through Qt's image
// plugins, clipped while decoding where the plugin can clip (JPEG), shrunk while decoding where
// it can shrink (JPEG by 1/2, 1/4, 1/8). The picture is taken as stored, without turning it by
// its orientation tag. Safe to call from several threads at once: decodes share one memory
// budget, so together they stay within it.
LoadedPicture loadPicture(const PictureSource &source, const PictureRequest &request);

// Every frame of an animated picture (a still picture is one frame), each cut or shrunk as
// the request says, handed to `frame` in order and dropped before the next is decoded. Stops
// when `frame` returns false. An animation whose frames together exceed the bounds above is
// refused before the first frame. The result carries the error and the size, not an image.
LoadedPicture loadFrames(const PictureSource &source, const PictureRequest &request,
                         const std::function<bool(const QImage &part)> &frame);

// How many frames the picture holds (1 for a still picture, 0 when it cannot be read).
int frameCount(const PictureSource &source);


// The window's loader: the top-left corner, at most `limit`. Null on any failure.
QImage readPictureCorner(const QString &path, const QSize &limit);

}  // namespace pw
