#pragma once

// The loader's value types: where a picture comes from, what part of it is wanted, and what came
// of reading it.

#include "core/image/monoimage.h"
#include "core/picture/prepare.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <QString>
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

}  // namespace pw
