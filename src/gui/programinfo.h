#pragma once

#include "pixelwright/version.h"

#include <QString>

namespace pw {

// The title of a message box that has none of its own.
inline QString programTitle() { return QStringLiteral("Pixelwright"); }

// The main window's caption at start; a loaded file's path is appended to it in brackets.
inline QString programCaption() { return QStringLiteral("Pixelwright for 128×64(Mono)"); }

// The version as the splash and the About window show it: "ﾊﾞｰｼﾞｮﾝ 1.3.0".
inline QString versionText() { return QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + QLatin1String(PW_VERSION); }

}  // namespace pw
