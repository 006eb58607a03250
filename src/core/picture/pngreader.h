#pragma once

// libpng's reader, for the loader only.

#include "core/picture/picturesource.h"

#include <QIODevice>
#include <QSize>
#include <QString>

namespace pw::decoding {

// libpng's reader for any request, with its cost bound: only the rows up to the last one the
// corner or region needs, or the whole picture shrunk as its rows come in.
LoadedPicture readPng(QIODevice &device, const PictureRequest &request);
bool isPng(QIODevice &device);

}  // namespace pw::decoding
