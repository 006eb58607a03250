// The JPEG marker walk before anything is decoded: what the decoder will hold.
#include "core/picture/jpegheader.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace pw::decoding {

namespace {

// Marker numbers, the byte after 0xFF.
constexpr int kMarkerPrefix = 0xFF;
constexpr int kStuffed = 0x00;  // 0xFF 0x00: a 0xFF byte inside entropy-coded data
constexpr int kTem = 0x01;
constexpr int kRst0 = 0xD0, kRst7 = 0xD7;
constexpr int kSOI = 0xD8;
constexpr int kEOI = 0xD9;
constexpr int kSOS = 0xDA;
// Start of frame: 0xC0-0xCF, except the three in that range that are not frames.
constexpr int kSOF0 = 0xC0, kSOF15 = 0xCF;
constexpr int kDHT = 0xC4, kJPG = 0xC8, kDAC = 0xCC;
// The frame types: baseline, extended sequential and arithmetic sequential decode row by row.
constexpr int kSOFBaseline = 0xC0, kSOFExtended = 0xC1, kSOFArithmetic = 0xC9;
constexpr int kSOFProgressive = 0xC2, kSOFDiffProgressive = 0xC6, kSOFArithProgressive = 0xCA,
              kSOFArithDiffProgressive = 0xCE;
// More segments than any picture holds: a stream of empty ones ends here.
constexpr int kMaxSegments = 100000;

// What the walk has learnt from the frame header.
struct Frame {
    int type = -1;
    int components = 0;
    int h[256] = {}, v[256] = {};
};

bool nextByte(QIODevice &device, int *value)
{
    char c = 0;
    const bool ok = device.getChar(&c);
    *value = static_cast<uchar>(c);
    return ok;
}

// The decoder passes over stray bytes and fill bytes between segments; so does this.
bool nextMarker(QIODevice &device, int *marker)
{
    do {
        if (!nextByte(device, marker))
            return false;
    } while (*marker != kMarkerPrefix);
    do {
        if (!nextByte(device, marker))
            return false;
    } while (*marker == kMarkerPrefix);
    return true;
}

bool isFrameMarker(int marker)
{
    return marker >= kSOF0 && marker <= kSOF15 && marker != kDHT && marker != kJPG && marker != kDAC;
}

int byteAt(const QByteArray &segment, int i) { return static_cast<int>(static_cast<uchar>(segment.at(i))); }

// The frame header: size, components and their sampling. False when the picture cannot be
// decoded as it stands.
bool readFrame(const QByteArray &segment, int marker, Frame &frame, JpegHeader &header)
{
    if (frame.type >= 0 || segment.size() < 6)
        return false;
    frame.type = marker;
    header.size = QSize(byteAt(segment, 3) << 8 | byteAt(segment, 4), byteAt(segment, 1) << 8 | byteAt(segment, 2));
    frame.components = byteAt(segment, 5);
    if (header.size.isEmpty() || frame.components < 1 || segment.size() < 6 + 3 * frame.components)
        return false;
    for (int i = 0; i < frame.components; ++i) {
        frame.h[i] = byteAt(segment, 7 + 3 * i) >> 4;
        frame.v[i] = byteAt(segment, 7 + 3 * i) & 15;
        if (frame.h[i] < 1 || frame.h[i] > 4 || frame.v[i] < 1 || frame.v[i] > 4)
            return false;
    }
    return true;
}

// The first scan's header: whether the decoder must hold every coefficient, and how many bytes.
void readFirstScan(const QByteArray &segment, const Frame &frame, JpegHeader &header)
{
    if (frame.type < 0 || segment.isEmpty())
        return;
    const int type = frame.type;
    const bool sequential = type == kSOFBaseline || type == kSOFExtended || type == kSOFArithmetic;
    header.progressive = type == kSOFProgressive || type == kSOFDiffProgressive || type == kSOFArithProgressive
                         || type == kSOFArithDiffProgressive;
    if (!sequential || byteAt(segment, 0) < frame.components) {
        const int components = frame.components;
        const int hMax = *std::max_element(frame.h, frame.h + components);
        const int vMax = *std::max_element(frame.v, frame.v + components);
        const qint64 width = header.size.width(), height = header.size.height();
        for (int i = 0; i < components; ++i) {
            const int h = frame.h[i], v = frame.v[i];
            // Blocks per side as the decoder allocates them: each side of the component
            // in 8-pixel blocks, rounded up to whole sampling units.
            const qint64 across = ((width * h + hMax - 1) / hMax + 7) / 8;
            const qint64 down = ((height * v + vMax - 1) / vMax + 7) / 8;
            header.wholeBytes += (across + h - 1) / h * h * ((down + v - 1) / v * v) * 64 * 2;
        }
    }
    header.readable = true;
}

}  // namespace

// What a JPEG's decoder will hold before the first row comes out, from the markers up to the
// first scan. A sequential picture whose first scan carries every component is decoded a few
// rows at a time; anything else (progressive, components in separate scans, lossless or
// hierarchical) may need every coefficient of the picture at once.
JpegHeader readJpegHeader(QIODevice &device)
{
    JpegHeader header;
    int a = 0, b = 0;
    if (!nextByte(device, &a) || !nextByte(device, &b) || a != kMarkerPrefix || b != kSOI)
        return header;
    Frame frame;
    for (int segments = 0; segments < kMaxSegments; ++segments) {
        int marker = 0;
        if (!nextMarker(device, &marker))
            return header;
        if (marker == kStuffed || marker == kTem || (marker >= kRst0 && marker <= kRst7))
            continue;  // stuffed byte or a marker without a length
        if (marker == kSOI || marker == kEOI)
            return header;
        if (!nextByte(device, &a) || !nextByte(device, &b) || (a << 8 | b) < 2)
            return header;
        const int length = (a << 8 | b) - 2;
        const bool isFrame = isFrameMarker(marker);
        if (!isFrame && marker != kSOS) {  // tables, metadata, thumbnails: passed over unread
            if (device.skip(length) != length)
                return header;
            continue;
        }
        const QByteArray segment = device.read(length);
        if (segment.size() != length)
            return header;
        if (isFrame) {
            if (!readFrame(segment, marker, frame, header))
                return header;
        } else {
            readFirstScan(segment, frame, header);
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
