#pragma once

#include "cli/imaging.h"

#include <QImage>
#include <QList>
#include <QString>

namespace pw::cli {

// Reads what the conversion needs of a picture file, never more than bounded memory:
// - crop without a turn or mirror: the window's corner-only loader (readPictureCorner);
// - crop with --rotate/--flip: only the part of the picture that lands in the top-left
//   corner, clipped while decoding where the format allows it;
// - contain, cover, stretch: the whole picture reduced while decoding, never below the area.
// With `allFrames`, every frame of an animation (each read whole, within the reader's limit).
// On failure `error` says why ("not a picture, or damaged", ...).
bool loadPicture(const QString &path, const ConvertOptions &options, bool allFrames, QList<QImage> &frames,
                 QString &error);

// The reason a path cannot be read as a file, or an empty string when it can.
QString unreadableReason(const QString &path);

// The source rectangle of a picture of `full` size that turning and mirroring bring into the
// top-left 128 x 64 corner.
QRect sourceRegion(const QSize &full, int rotate, Flip flip);

}  // namespace pw::cli
