#pragma once

#include "core/monoimage.h"
#include "core/prepare.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

namespace pw {

// Where a picture comes from: a file, bytes already in memory (standard input), or a picture
// already decoded (the clipboard's), which is cut and shrunk as a decoded file would be.
class PictureSource {
public:
    static PictureSource file(const QString &path);
    static PictureSource memory(const QByteArray &bytes);
    static PictureSource decoded(const QImage &picture);

    bool isFile() const { return isFile_; }
    bool isDecoded() const { return !picture_.isNull(); }
    const QString &path() const { return path_; }
    const QImage &picture() const { return picture_; }
    // The source opened for reading; null when the file cannot be opened or the picture is
    // already decoded.
    std::unique_ptr<QIODevice> open() const;

private:
    bool isFile_ = true;
    QString path_;
    QByteArray bytes_;
    QImage picture_;
};

enum class LoadError { None, Missing, IsFolder, PermissionDenied, Unreadable, NotAPicture, TooLarge };

struct LoadedPicture {
    QImage image;
    QSize fullSize;  // the picture's own size, when its header could be read
    LoadError error = LoadError::None;
    QString detail;  // what was too large, e.g. "30000 × 30000 progressive JPEG"

    bool ok() const { return error == LoadError::None; }
    static LoadedPicture failed(LoadError error, const QString &detail = {});
    // A picture refused for its cost: "W × H KIND".
    static LoadedPicture tooLarge(const QSize &size, const QString &kind);
};

// Whether a file can be opened at all: Missing, IsFolder, PermissionDenied, or None.
LoadError checkReadable(const QString &path);

// The reason in words: "no such file", "is a folder", "cannot be read (permission denied)",
// "could not be read", "not a picture, or damaged", "too large to decode safely (DETAIL)".
QString loadErrorText(const LoadedPicture &picture);

// Which part of the picture the preparation needs; nothing else is decoded where the format
// allows it.
struct PictureRequest {
    enum class Part {
        Corner,        // the top-left corner, at most `size`
        TurnedCorner,  // what turning and mirroring bring into the 128 x 64 corner
        Reduced,       // the whole picture, shrunk by an integer factor while it is decoded
    };
    Part part = Part::Corner;
    QSize size{kImageWidth, kImageHeight};
    int rotate = 0;
    Flip flip = Flip::None;
    QSize atLeast;  // Reduced: each side kept at least this (or the picture's own, if smaller)

    static PictureRequest corner(const QSize &size = {kImageWidth, kImageHeight});
    // What prepareSurface() needs for these options.
    static PictureRequest forOptions(const PrepareOptions &options);
};

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

// Keeps the image libraries from writing to stderr by themselves (libtiff does, unless told
// otherwise), so that a program's own line is the only one about a picture. Qt's plugins
// report through Qt's messages, which a program filters itself.
void silenceImageLibraries();

// The window's loader: the top-left corner, at most `limit`. Null on any failure.
QImage readPictureCorner(const QString &path, const QSize &limit);

}  // namespace pw
