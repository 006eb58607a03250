#pragma once

#include <QString>

namespace pw {

struct Platform;
class FrmSplash;

namespace Module1 {

// The program's version: 1.3.0 (file version 1.3.0.0).
constexpr int versionMajor = 1;
constexpr int versionMinor = 3;
constexpr int versionRevision = 0;

// "ﾊﾞｰｼﾞｮﾝ 1.3.0" as both the splash and the About window show it.
QString versionText();

// The start procedure: shows the splash without waiting for it and returns it. The splash
// opens the main window over the same platform pieces, or ends the program.
FrmSplash *Main(const Platform &platform);

}  // namespace Module1

}  // namespace pw
