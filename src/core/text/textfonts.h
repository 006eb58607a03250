#pragma once

// The fonts text may be drawn in: whether one is installed, which come close, which are pixel
// fonts. Needs a QGuiApplication.

#include <QList>
#include <QString>
#include <QStringList>

namespace pw {

// The family as the font database names it (case aside, and the Misaki fonts by either of
// their names), or empty when no installed font has that name: Qt would otherwise quietly
// draw with another font.
QString installedFamily(const QString &family);
// Installed families whose names come closest to `family`, best first.
QStringList similarFamilies(const QString &family, int count = 4);

// A family whose glyphs sit on the pixel grid at `size` (no grey pixel when drawn smoothed).
struct PixelFont {
    QString family;
    int size = 0;
};
QList<PixelFont> pixelFonts();

}  // namespace pw
