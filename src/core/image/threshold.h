#pragma once

#include "core/image/monoimage.h"

#include <QImage>
#include <functional>
#include <optional>

namespace pw {

enum class Dither { None, FloydSteinberg, Atkinson, Bayer4, Bayer8 };

struct ThresholdOptions {
    int threshold = 128;  // white where the luminance is strictly above it
    Dither dither = Dither::None;
    bool invert = false;  // swap black and white afterwards
};

// The one rule from a 128 x 64 surface to the device's image: each pixel's luminance
// (30R + 59G + 11B) div 100, white where it is strictly above the threshold, after the dither
// has moved the threshold (Bayer) or spread each pixel's error to its neighbours (Floyd-Steinberg,
// Atkinson: never beyond the area). The `flat` pixels (the background alone) take the threshold
// alone, plain white or black: no dither pattern there, and no error spread into or out of them.
// Returns nullopt when the surface cannot be read (a conversion of it could not be allocated).
std::optional<MonoImage> threshold(const QImage &surface, const ThresholdOptions &options = {}, const FlatPixels *flat = nullptr);

// The window's conversion: thresholds the 128 x 64 surface with the default rule (threshold()),
// stores the bits in `out` and paints the surface as the device will show it, pure black and
// white. `bandDone(band)` is called for each band in order. False (and nothing changed) when
// the surface cannot be converted.
bool convertSurface(QImage &surface, MonoImage &out, const std::function<void(int band)> &bandDone = {});
// The same with these options.
bool convertSurface(QImage &surface, MonoImage &out, const ThresholdOptions &options, const FlatPixels *flat = nullptr,
                    const std::function<void(int band)> &bandDone = {});

}  // namespace pw
