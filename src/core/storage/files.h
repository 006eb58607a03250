#pragma once

#include "core/image/monoimage.h"

#include <QByteArray>
#include <QString>

namespace pw {

// The windows' saves: through the one writer (whole or not at all, permissions kept), flushed
// to disk before it returns. A file the system lets this user write is replaced, as the
// windows always did.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);

// The BIN file is the working image, byte for byte.
bool writeBinFile(const QString &path, const MonoImage &image);
QByteArray binBytes(const MonoImage &image);

// Reads the first 1024 bytes. A shorter file fills the image from its start and the rest is
// zero (black), so nothing of the previous image survives. On failure `image` is untouched.
bool readBinFile(const QString &path, MonoImage &image);

// Whether a name is taken as a BIN file rather than a picture. The two front ends have always
// decided this differently and their users rely on each: a file dropped on the window is a BIN
// file when its name ends in exactly "BIN" or "bin" (no dot needed, mixed case not), the
// command line takes a name ending in ".bin" in any case.
enum class BinNameRule { Window, CommandLine };
bool isBinFileName(const QString &path, BinNameRule rule);

}  // namespace pw
