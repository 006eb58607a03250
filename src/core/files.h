#pragma once

#include "core/monoimage.h"

#include <QByteArray>
#include <QString>

namespace pw {

// Writes through a temporary file in the same folder and renames it over the target, so a
// crash or a full disk never leaves a truncated file where a good one was.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);

// The BIN file is the working image, byte for byte.
bool writeBinFile(const QString &path, const MonoImage &image);

// Reads the first 1024 bytes. A shorter file fills the image from its start and the rest is
// zero (black), so nothing of the previous image survives. On failure `image` is untouched.
bool readBinFile(const QString &path, MonoImage &image);

}  // namespace pw
