// Headers read before anything is decoded: the JPEG marker walk (what the decoder will hold)
// and the sizes BMP and GIF declare.
#include "core/decoding.h"

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

DeclaredSize peekDeclaredSize(QIODevice &device)
{
    const QByteArray head = device.peek(34);
    const auto u16 = [&head](int at) { return int(uchar(head[at])) | int(uchar(head[at + 1])) << 8; };
    const auto i32 = [&u16](int at) { return qint32(quint32(u16(at)) | quint32(u16(at + 2)) << 16); };
    if (head.size() >= 10 && (head.startsWith("GIF87a") || head.startsWith("GIF89a")))
        return {QSize(u16(6), u16(8)), QStringLiteral("GIF")};
    if (head.size() < 26 || !head.startsWith("BM"))
        return {};
    DeclaredSize declared;
    declared.kind = QStringLiteral("BMP");
    int bits = 0, compression = 0;
    // Qt's reader takes the info header's layout for these sizes only, and the core header's
    // 16-bit sides for any other size, however odd.
    const qint32 headerSize = i32(14);
    if (headerSize != 40 && headerSize != 64 && headerSize != 108 && headerSize != 124) {
        declared.size = QSize(u16(18), u16(20));
        bits = u16(24);
    } else {
        const qint64 height = std::abs(qint64(i32(22)));
        if (head.size() < 34 || i32(18) <= 0 || height <= 0 || height > std::numeric_limits<int>::max())
            return {};
        declared.size = QSize(i32(18), int(height));
        bits = u16(28);
        compression = i32(30);
    }
    // Uncompressed rows have a known length: a file too short to hold them would leave pixels
    // that the decoder never writes (whatever memory held before). A picture with no pixels
    // is damaged whatever follows, and its rows have no length to divide by.
    if (declared.size.isEmpty())
        return declared;
    if ((compression == 0 || compression == 3 || compression == 6) && bits > 0) {
        // Divided, never multiplied: a header may declare sizes whose product overflows.
        const qint64 rowBytes = (qint64(declared.size.width()) * bits + 31) / 32 * 4;
        const qint64 pixelBytes = device.size() - qint64(quint32(i32(10)));
        declared.truncated = pixelBytes < 0 || pixelBytes / rowBytes < declared.size.height();
    }
    return declared;
}

bool isJpeg(QIODevice &device)
{
    return device.peek(2) == QByteArray("\xFF\xD8", 2);
}

}  // namespace pw::decoding
