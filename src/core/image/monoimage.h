#pragma once

#include <QImage>
#include <array>
#include <bitset>
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

// A mark for each pixel of the area, row by row: which pixels show nothing of the picture (the
// flat background around where it was placed and behind its fully transparent parts).
using FlatPixels = std::bitset<std::size_t(kImageWidth) * kImageHeight>;

// A pixel of the working image: bit (y mod 8) of byte 128 (y div 8) + x, 1 = white.
inline bool pixelAt(const MonoImage &image, int x, int y)
{
    return image[static_cast<std::size_t>(kImageWidth * (y / 8) + x)] & (1u << (y % 8));
}
inline void setPixelAt(MonoImage &image, int x, int y, bool white)
{
    auto &byte = image[static_cast<std::size_t>(kImageWidth * (y / 8) + x)];
    const auto bit = static_cast<std::uint8_t>(1u << (y % 8));
    byte = static_cast<std::uint8_t>(white ? byte | bit : byte & ~bit);
}

// (30 R + 59 G + 11 B) div 100, truncated before the threshold is applied.
inline int luminance(int red, int green, int blue) { return (30 * red + 59 * green + 11 * blue) / 100; }

// Renders a working image as a black-and-white picture, white where the bit is 1.
QImage renderMonoImage(const MonoImage &image);

}  // namespace pw
