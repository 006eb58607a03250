// The JPEG marker walk before anything is decoded: what the decoder will hold.
#include "core/picture/jpegheader.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace pw::decoding {

// What a JPEG's decoder will hold before the first row comes out, from the markers up to the
// first scan. A sequential picture whose first scan carries every component is decoded a few
// rows at a time; anything else (progressive, components in separate scans, lossless or
// hierarchical) may need every coefficient of the picture at once.
JpegHeader readJpegHeader(QIODevice &device)
{
    JpegHeader header;
    const auto next = [&device](int *value) {
        char c = 0;
        const bool ok = device.getChar(&c);
        *value = static_cast<uchar>(c);
        return ok;
    };
    int a = 0, b = 0;
    if (!next(&a) || !next(&b) || a != 0xFF || b != 0xD8)
        return header;
    int frameType = -1;
    int components = 0;
    int h[256] = {}, v[256] = {};
    // The decoder passes over stray bytes and fill bytes between segments; so does this.
    for (int segments = 0; segments < 100000; ++segments) {
        int marker = 0;
        do {
            if (!next(&marker))
                return header;
        } while (marker != 0xFF);
        do {
            if (!next(&marker))
                return header;
        } while (marker == 0xFF);
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;  // stuffed byte or a marker without a length
        if (marker == 0xD8 || marker == 0xD9)
            return header;
        if (!next(&a) || !next(&b) || (a << 8 | b) < 2)
            return header;
        const int length = (a << 8 | b) - 2;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (!frame && marker != 0xDA) {  // tables, metadata, thumbnails: passed over unread
            if (device.skip(length) != length)
                return header;
            continue;
        }
        const QByteArray segment = device.read(length);
        if (segment.size() != length)
            return header;
        const auto at = [&segment](int i) { return static_cast<int>(static_cast<uchar>(segment.at(i))); };
        if (frame) {
            if (frameType >= 0 || segment.size() < 6)
                return header;
            frameType = marker;
            header.size = QSize(at(3) << 8 | at(4), at(1) << 8 | at(2));
            components = at(5);
            if (header.size.isEmpty() || components < 1 || segment.size() < 6 + 3 * components)
                return header;
            for (int i = 0; i < components; ++i) {
                h[i] = at(7 + 3 * i) >> 4;
                v[i] = at(7 + 3 * i) & 15;
                if (h[i] < 1 || h[i] > 4 || v[i] < 1 || v[i] > 4)
                    return header;
            }
        } else if (marker == 0xDA) {
            if (frameType < 0 || segment.isEmpty())
                return header;
            const bool sequential = frameType == 0xC0 || frameType == 0xC1 || frameType == 0xC9;
            header.progressive = frameType == 0xC2 || frameType == 0xC6 || frameType == 0xCA || frameType == 0xCE;
            if (!sequential || at(0) < components) {
                const int hMax = *std::max_element(h, h + components);
                const int vMax = *std::max_element(v, v + components);
                const qint64 width = header.size.width(), height = header.size.height();
                for (int i = 0; i < components; ++i) {
                    // Blocks per side as the decoder allocates them: each side of the component
                    // in 8-pixel blocks, rounded up to whole sampling units.
                    const qint64 across = ((width * h[i] + hMax - 1) / hMax + 7) / 8;
                    const qint64 down = ((height * v[i] + vMax - 1) / vMax + 7) / 8;
                    header.wholeBytes += (across + h[i] - 1) / h[i] * h[i] * ((down + v[i] - 1) / v[i] * v[i]) * 64 * 2;
                }
            }
            header.readable = true;
            return header;
        }
    }
    return header;
}

bool isJpeg(QIODevice &device)
{
    return device.peek(2) == QByteArray("\xFF\xD8", 2);
}

}  // namespace pw::decoding
