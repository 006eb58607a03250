#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace pw::test {

// A PNG written row by row with libpng, so that even very large pictures take no memory.
struct PngSpec {
    int width = 0;
    int height = 0;
    int colorType = 2;  // PNG_COLOR_TYPE_*
    int bitDepth = 8;
    bool interlaced = false;
    int paletteSize = 0;     // palette pictures: colour i is paletteColor(i)
    int transparentCount = 0;  // palette: alpha of the first entries, paletteAlpha(i)
    bool greyKey = false;    // grey or RGB: sample value 0 is transparent (tRNS)
};

// Colour i of a test palette and the alpha given to it.
std::uint32_t paletteColor(int index);  // 0xRRGGBB
int paletteAlpha(int index);

// `sample(x, y, channel)` gives each sample at the PNG's bit depth.
bool writePng(const QString &path, const PngSpec &spec, const std::function<unsigned(int x, int y, int channel)> &sample);

// A baseline greyscale JPEG of any size in a couple of megabytes: the top-left 8 x 8 block is
// grey `corner`, all other blocks grey 128. Built by hand (every later block is a zero DC
// difference and an end-of-block), so no encoder has to hold the picture.
bool writeGreyJpeg(const QString &path, int width, int height, int corner);

}  // namespace pw::test
