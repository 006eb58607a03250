#pragma once

#include "core/convert/conversion.h"

#include <QByteArray>
#include <QColor>
#include <QString>
#include <optional>

namespace pw {

// The window's conversion choices as the user sets them, kept between runs in conversion.ini.
// The defaults are the window's conversion, bit for bit. Two things are kept as chosen rather
// than as ConversionOptions has them: the two mirrorings may both be on (the same as half a
// turn more), and the background follows the picture area's own colour until one is chosen.
struct ConversionSettings {
    Fit fit = Fit::Crop;
    int rotate = 0;  // clockwise: 0, 90, 180, 270
    bool flipHorizontal = false;
    bool flipVertical = false;
    Tone tone;
    std::optional<QColor> background;  // none: the picture area's background
    ThresholdOptions threshold;
    int frame = 0;                         // of an animated picture, from 0
    QString layout = QStringLiteral("page-lsb");  // the export's byte order
    TextOptions text;

    // The options of the core's conversion; `areaBackground` stands in for no background.
    ConversionOptions conversionOptions(const QColor &areaBackground) const;
    bool operator==(const ConversionSettings &other) const;
    bool operator!=(const ConversionSettings &other) const { return !(*this == other); }
};

// "key=value" lines, one for each setting, in a fixed order.
QByteArray formatConversionSettings(const ConversionSettings &settings);

// Reads what it can: a line it does not know, a value out of range or misspelt, leaves that
// setting at its default; blanks around keys and values, CR LF or LF, a [section] line and
// comments (# or ;) are all taken. The last line for a key counts.
ConversionSettings parseConversionSettings(const QByteArray &content);

// From the settings file's bounded read: a missing, damaged or huge file gives defaults for
// whatever cannot be read.
ConversionSettings readConversionSettings(const QString &path);

// Through the one writer, atomically.
bool writeConversionSettings(const QString &path, const ConversionSettings &settings);

}  // namespace pw
