#pragma once

// What a BMP or GIF header declares, read before anything is decoded, for the loader only.

#include "core/picture/picturesource.h"

#include <QIODevice>
#include <QSize>
#include <QString>

namespace pw::decoding {

// The size a BMP or GIF header declares (for a GIF, its logical screen, which the decoder
// allocates whole whatever its frames' sizes), with the format's name, and whether an
// uncompressed BMP is too short for it; invalid for other formats. Qt's plugins do not report
// sizes they refuse outright, and read a short BMP without a word.
struct DeclaredSize {
    QSize size;
    QString kind;
    bool truncated = false;  // the file cannot hold the pixels it declares
};
DeclaredSize peekDeclaredSize(QIODevice &device);

}  // namespace pw::decoding
