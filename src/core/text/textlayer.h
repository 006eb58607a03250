#pragma once

#include "core/image/monoimage.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace pw {

enum class TextAlign { Left, Center, Right };
enum class TextVAlign { Top, Middle, Bottom };

constexpr int kMinTextSize = 6;
constexpr int kMaxTextSize = 64;
constexpr int kMaxTextOffset = 128;

// Text drawn over the prepared picture. Its pixels are the device's own black or white: the
// tone, the dither and the threshold never reach them. Needs a QGuiApplication (fonts).
struct TextOptions {
    QString text;  // lines split at '\n'; empty: no text at all
    QString family = QStringLiteral("MisakiGothic");
    int size = 8;  // pixels, kMinTextSize..kMaxTextSize
    bool bold = false;
    TextAlign align = TextAlign::Left;
    TextVAlign valign = TextVAlign::Top;
    int offsetX = 0;  // -kMaxTextOffset..kMaxTextOffset, right and down
    int offsetY = 0;
    bool white = false;     // the glyphs' colour on the device
    bool fallback = false;  // other fonts may draw what this one lacks

    bool isEmpty() const { return text.isEmpty(); }
    bool operator==(const TextOptions &o) const;
    bool operator!=(const TextOptions &o) const { return !(*this == o); }
};

// The options' names as the command line and conversion.ini spell them.

// The text laid out on the 128 x 64 area.
struct TextLayer {
    QImage ink;               // 128 x 64 Grayscale8, 255 where a glyph sets the pixel; null: nothing
    QString family;           // as installed; empty when the font is not installed
    QList<char32_t> missing;  // characters the font has no glyph for (without fallback)
    bool overflow = false;    // something was cut at the display's edge
    bool bounded = false;     // the text was too long: only what can show was laid out
    bool fontMissing() const { return family.isEmpty(); }
};

// Lays out only the lines and characters that can reach the area, so any length of text costs
// about the same. Without the font installed, nothing is drawn.
TextLayer layoutText(const TextOptions &options);

// The glyphs' pixels set to the text's colour.
void stampText(MonoImage &image, const TextLayer &layer, bool white);
void drawText(QImage &surface, const TextLayer &layer, bool white);

// "U+3042 U+1F600" for the report of missing characters.
QString codePointList(const QList<char32_t> &points);

}  // namespace pw
