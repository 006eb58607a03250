#pragma once

#include <QColor>
#include <QImage>
#include <array>
#include <cstdint>
#include <functional>

namespace pw {

constexpr int kImageWidth = 128;
constexpr int kImageHeight = 64;
constexpr int kImageBytes = kImageWidth * kImageHeight / 8;  // 1024
constexpr int kBands = kImageHeight / 8;                      // 8

// The device's image: eight bands of eight rows, one byte per column and band,
// top row of the band in bit 0, bit value 1 white.
using MonoImage = std::array<std::uint8_t, kImageBytes>;

// (30 R + 59 G + 11 B) div 100, truncated before the threshold is applied.
int luminance(int red, int green, int blue);
// Strictly above 128 is white.
bool isWhite(int red, int green, int blue);

// The picture area's surface: 128 x 64 RGB32 filled with `background`, the picture drawn on it
// at (0, 0) unscaled with SourceOver (alpha blends over the background), cut at 128 x 64.
// Both front ends compose through this before convertSurface().
QImage composeSurface(const QImage &picture, const QColor &background);

// Reads the 128 x 64 surface pixel by pixel in the device's band order, stores the bits in
// `out` and paints every pixel back as pure black or white right after reading it.
// `bandDone(band)` is called after each band. The surface must be 128 x 64.
void convertSurface(QImage &surface, MonoImage &out, const std::function<void(int band)> &bandDone = {});

// Renders a working image as a black-and-white picture (used by tests and previews).
QImage renderMonoImage(const MonoImage &image);

}  // namespace pw
