#pragma once

// Small valid pictures of every format the loader reads, each with one field of its header set
// to 0, 1, -1 (every bit set: the largest value of an unsigned field) or the largest signed
// value: what a damaged or hostile file declares, for the loader and the window alike.

#include "common/testfiles.h"

#include <QBuffer>
#include <QImage>
#include <QList>
#include <QString>
#include <QtEndian>

namespace pw::test {

struct HeaderCase {
    QString name;      // "BMP core width = 0"
    QByteArray bytes;
    bool noPixels;     // a side of the picture declared 0: nothing to show, whatever the rest
};

namespace headerfields {

struct Field {
    const char *name;
    int at;     // offset in the file
    int size;   // 1, 2 or 4 bytes
    bool bigEndian = false;
    bool side = false;  // the picture's width or height
};

inline QByteArray encoded(const char *format, const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    image.save(&buffer, format);
    return bytes;
}

inline void put(QByteArray &bytes, const Field &field, quint32 value)
{
    for (int i = 0; i < field.size; ++i) {
        const int shift = 8 * (field.bigEndian ? field.size - 1 - i : i);
        bytes[field.at + i] = char(value >> shift);
    }
}

// A PNG chunk's CRC, so that a changed header is read as declared rather than refused for it.
inline quint32 crc32(const QByteArray &data)
{
    quint32 crc = 0xFFFFFFFF;
    for (const char c : data) {
        crc ^= quint8(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

// The offset of a TIFF tag's value in the first directory (a little-endian file, as Qt writes).
inline int tiffValue(const QByteArray &tiff, int tag, int *size)
{
    const auto u16 = [&tiff](int at) { return qFromLittleEndian<quint16>(tiff.constData() + at); };
    const int ifd = int(qFromLittleEndian<quint32>(tiff.constData() + 4));
    for (int i = 0, n = u16(ifd); i < n; ++i) {
        const int entry = ifd + 2 + 12 * i;
        if (u16(entry) == tag) {
            *size = u16(entry + 2) == 3 ? 2 : 4;
            return entry + 8;
        }
    }
    return -1;
}

}  // namespace headerfields

inline QList<HeaderCase> headerCases()
{
    using namespace headerfields;
    QImage image(6, 4, QImage::Format_RGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            image.setPixel(x, y, qRgb(x * 40, y * 60, 90));

    struct Base {
        QString kind;
        QByteArray bytes;
        QList<Field> fields;
    };
    QList<Base> bases;
    // A core header: 12 bytes, 16-bit sides, 24-bit pixels in rows of 8 bytes.
    QByteArray core = QByteArray::fromHex("424d") + QByteArray(24, 0);
    core[10] = 26, core[14] = 12, core[18] = 2, core[20] = 2, core[22] = 1, core[24] = 24;
    bases.append({"BMP core", core + QByteArray(16, '\x55'),
                  {{.name = "offset", .at = 10, .size = 4},
                   {.name = "header size", .at = 14, .size = 4},
                   {.name = "width", .at = 18, .size = 2, .side = true},
                   {.name = "height", .at = 20, .size = 2, .side = true},
                   {.name = "planes", .at = 22, .size = 2},
                   {.name = "bits", .at = 24, .size = 2}}});
    const QList<Field> info{{.name = "offset", .at = 10, .size = 4},
                            {.name = "header size", .at = 14, .size = 4},
                            {.name = "width", .at = 18, .size = 4, .side = true},
                            {.name = "height", .at = 22, .size = 4, .side = true},
                            {.name = "planes", .at = 26, .size = 2},
                            {.name = "bits", .at = 28, .size = 2},
                            {.name = "compression", .at = 30, .size = 4},
                            {.name = "image size", .at = 34, .size = 4},
                            {.name = "colours", .at = 46, .size = 4}};
    const QByteArray bmp = encoded("bmp", image);
    bases.append({"BMP info", bmp, info});
    // The same pixels behind a 124-byte header, with colour masks.
    QByteArray v5 = bmp.left(54) + QByteArray(84, 0) + bmp.mid(54);
    v5[10] = char(54 + 84), v5[14] = char(124);
    QList<Field> v5Fields = info;
    v5Fields << Field{.name = "red mask", .at = 54, .size = 4} << Field{.name = "alpha mask", .at = 66, .size = 4};
    bases.append({"BMP v5", v5, v5Fields});
    bases.append({"BMP v5 bit fields", [&] { QByteArray b = v5; b[30] = 3; b[28] = 32; return b; }(), v5Fields});

    const QByteArray gif = animatedGif({image, image});
    const int frame = int(gif.indexOf(QByteArray("\x2C\x00\x00\x00\x00", 5)));
    bases.append({"GIF", gif,
                  {{.name = "screen width", .at = 6, .size = 2, .side = true},
                   {.name = "screen height", .at = 8, .size = 2, .side = true},
                   {.name = "frame left", .at = frame + 1, .size = 2},
                   {.name = "frame top", .at = frame + 3, .size = 2},
                   {.name = "frame width", .at = frame + 5, .size = 2},
                   {.name = "frame height", .at = frame + 7, .size = 2},
                   {.name = "code size", .at = frame + 10 + 768, .size = 1}}});

    bases.append({"PNG", encoded("png", image),
                  {{.name = "width", .at = 16, .size = 4, .bigEndian = true, .side = true},
                   {.name = "height", .at = 20, .size = 4, .bigEndian = true, .side = true},
                   {.name = "bit depth", .at = 24, .size = 1, .bigEndian = true},
                   {.name = "colour type", .at = 25, .size = 1, .bigEndian = true},
                   {.name = "interlace", .at = 28, .size = 1, .bigEndian = true}}});

    const QByteArray jpeg = encoded("jpg", image);
    const int sof = int(jpeg.indexOf("\xFF\xC0"));
    bases.append({"JPEG", jpeg,
                  {{.name = "frame length", .at = sof + 2, .size = 2, .bigEndian = true},
                   {.name = "height", .at = sof + 5, .size = 2, .bigEndian = true, .side = true},
                   {.name = "width", .at = sof + 7, .size = 2, .bigEndian = true, .side = true},
                   {.name = "components", .at = sof + 9, .size = 1, .bigEndian = true},
                   {.name = "sampling", .at = sof + 11, .size = 1, .bigEndian = true}}});

    const QByteArray tiff = encoded("tiff", image);
    QList<Field> tiffFields;
    for (const auto &[name, tag, side] : {std::tuple{"width", 256, true}, {"length", 257, true}, {"samples", 277, false},
                                          {"rows per strip", 278, false}, {"strip offsets", 273, false}, {"strip bytes", 279, false}}) {
        int size = 0;
        const int at = tiffValue(tiff, tag, &size);
        if (at > 0)
            tiffFields << Field{.name = name, .at = at, .size = size, .side = side};
    }
    bases.append({"TIFF", tiff, tiffFields});

    QList<HeaderCase> cases;
    for (const Base &base : bases)
        for (const Field &field : base.fields)
            for (const qint64 value : {qint64(0), qint64(1), qint64(-1), (qint64(1) << (8 * field.size - 1)) - 1}) {
                QByteArray bytes = base.bytes;
                put(bytes, field, quint32(value));
                if (base.kind == "PNG")  // IHDR's CRC over its type and data
                    qToBigEndian(crc32(bytes.mid(12, 17)), bytes.data() + 29);
                cases.append({QStringLiteral("%1 %2 = %3").arg(base.kind, field.name).arg(value), bytes, field.side && value == 0});
            }
    return cases;
}

}  // namespace pw::test
