#pragma once

// Pictures the tests write byte by byte: hostile ones that declare huge sizes in a few KB, huge
// ones written without ever being whole in memory, and animations of any frame count. Made by
// hand because Qt's writers cannot declare sizes a picture does not have, nor write them cheaply.
#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <QSize>

#include <vector>
#include <zlib.h>

namespace pw::test {

// An animated GIF of `frames` (all of one size) at the top-left of a logical screen of
// `screen` (by default the frames' size), each with its own 256-colour table. The pixels are
// LZW-coded without compression, a clear code before every 254 literals, so that codes stay
// nine bits wide: simple, and any decoder reads it.
inline QByteArray animatedGif(const QList<QImage> &frames, QSize screen = {})
{
    const QSize size = frames.value(0).size();
    if (!screen.isValid())
        screen = size;
    const auto u16 = [](int v) { return QByteArray(1, char(v & 0xFF)) + char((v >> 8) & 0xFF); };
    QByteArray out = "GIF89a" + u16(screen.width()) + u16(screen.height()) + QByteArray("\x00\x00\x00", 3);
    out += QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
    for (const QImage &frame : frames) {
        const QImage indexed = frame.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
        out += QByteArray("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8);  // a tenth of a second each
        out += ',' + u16(0) + u16(0) + u16(size.width()) + u16(size.height()) + char(0x87);
        for (int i = 0; i < 256; ++i) {
            const QRgb c = indexed.colorTable().value(i);
            out += char(qRed(c)) + QByteArray(1, char(qGreen(c))) + char(qBlue(c));
        }
        QByteArray codes;
        quint32 bits = 0;
        int count = 0;
        const auto put = [&](int code) {
            bits |= quint32(code) << count;
            for (count += 9; count >= 8; count -= 8, bits >>= 8)
                codes += char(bits & 0xFF);
        };
        int run = 254;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                if (run++ == 254) {
                    put(256);
                    run = 1;
                }
                put(indexed.pixelIndex(x, y));
            }
        put(257);
        if (count > 0)
            codes += char(bits & 0xFF);
        out += char(8);
        for (qsizetype i = 0; i < codes.size(); i += 255)
            out += char(qMin<qsizetype>(255, codes.size() - i)) + codes.mid(i, 255);
        out += char(0);
    }
    return out + ';';
}

// An animated WebP of `frames` (all of one size), each frame the lossless bitstream Qt's
// writer makes of it; `damaged` frames have their coded pixels overwritten, which leaves the
// file's chunks whole, so the frames are still counted.
inline QByteArray animatedWebp(const QList<QImage> &frames, const QList<int> &damaged = {})
{
    const auto le = [](quint64 v, int bytes) {
        QByteArray b;
        for (int i = 0; i < bytes; ++i)
            b += char((v >> (8 * i)) & 0xFF);
        return b;
    };
    const auto chunk = [&le](const QByteArray &tag, const QByteArray &body) { return tag + le(quint32(body.size()), 4) + body + QByteArray(body.size() % 2, '\0'); };
    const QSize size = frames.value(0).size();
    QByteArray body = "WEBP" + chunk("VP8X", QByteArray(1, 0x02) + QByteArray(3, 0) + le(size.width() - 1, 3) + le(size.height() - 1, 3));
    body += chunk("ANIM", le(0xFFFFFFFF, 4) + le(0, 2));
    for (qsizetype k = 0; k < frames.size(); ++k) {
        QByteArray still;
        QBuffer buffer(&still);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "webp");
        writer.setQuality(100);  // lossless: one VP8L chunk after the 12-byte header
        if (!writer.write(frames[k]) || still.mid(12, 4) != "VP8L")
            return {};
        QByteArray bitstream = still.mid(12);
        if (damaged.contains(int(k)))
            bitstream.replace(14, bitstream.size() - 14, QByteArray(bitstream.size() - 14, char(0xFF)));
        body += chunk("ANMF", le(0, 6) + le(size.width() - 1, 3) + le(size.height() - 1, 3) + le(100, 3) + QByteArray(1, 0) + bitstream);
    }
    return "RIFF" + le(quint32(body.size()), 4) + body;
}

// An animation of `count` frames of 1 x 1 in two colours, 15 bytes a frame.
inline QByteArray tinyFrames(int count)
{
    QByteArray gif = QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff", 19);
    for (int k = 0; k < count; ++k)  // codes of 3 bits: clear, the colour, end
        gif += QByteArray(",\0\0\0\0\x01\0\x01\0\0\x02\x02", 12) + char(0x44 | (k % 2) << 3) + QByteArray("\x01\0", 2);
    return gif + ';';
}

// A JPEG declaring `side` x `side`, from markers: every coefficient it holds is zero (grey 128,
// and the decoder pads a scan cut short with zeros), so a few KB declare any size. Frame C0 is
// sequential, C2 progressive, CA progressive with arithmetic coding; each scan lists its
// components (Y sampled 2 x 2) and its first and last coefficient.
inline QByteArray hostileJpeg(int frame, int side, const QList<QByteArray> &scans)
{
    const auto segment = [](int marker, const QByteArray &body) {
        const int length = int(body.size()) + 2;
        return QByteArray("\xFF") + char(marker) + char(length >> 8) + char(length & 0xFF) + body;
    };
    const QByteArray s = QByteArray(1, char(side >> 8)) + char(side & 0xFF);
    QByteArray out = QByteArray::fromHex("ffd8") + segment(0xDB, QByteArray(1, 0) + QByteArray(64, 1))
                     + segment(frame, QByteArray::fromHex("08") + s + s + QByteArray::fromHex("03012200021100031100"))
                     + segment(0xC4, QByteArray::fromHex("0001") + QByteArray(16, 0)) + segment(0xC4, QByteArray::fromHex("1001") + QByteArray(16, 0));
    for (const QByteArray &scan : scans)
        out += segment(0xDA, QByteArray::fromHex(scan)) + QByteArray(2000, 0);
    return out + QByteArray::fromHex("ffd9");
}

// A 24-bit BMP header declaring `side` x `side` and 4 KB of data: nothing past the header is needed
// to be refused.
inline QByteArray hostileBmp(int side)
{
    QByteArray bmp = QByteArray::fromHex("424d") + QByteArray(52, 0);
    const auto put = [&bmp](int at, quint32 value, int bytes) { for (int i = 0; i < bytes; ++i) bmp[at + i] = char(value >> 8 * i); };
    put(10, 54, 4), put(14, 40, 4), put(18, quint32(side), 4), put(22, quint32(side), 4), put(26, 1, 2), put(28, 24, 2);
    return bmp + QByteArray(4096, 0);
}

// A grey 8-bit PNG of one colour, any size, deflated row by row (never whole in memory).
inline bool writeHugePng(const QString &path, quint32 side)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    auto chunk = [&file](const QByteArray &type, const QByteArray &body) {
        QByteArray out;
        QDataStream(&out, QIODevice::WriteOnly) << quint32(body.size());
        const QByteArray typed = type + body;
        out += typed;
        QByteArray crc;
        QDataStream(&crc, QIODevice::WriteOnly) << quint32(::crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size())));
        file.write(out + crc);
    };
    QByteArray header;
    QDataStream(&header, QIODevice::WriteOnly) << side << side << quint8(8) << quint8(0) << quint8(0) << quint8(0) << quint8(0);
    file.write("\x89PNG\r\n\x1a\n");
    chunk("IHDR", header);
    z_stream z{};
    deflateInit(&z, 1);
    QByteArray row(int(side) + 1, char(0xc8));
    row[0] = 0;
    QByteArray idat;
    std::vector<char> out(1 << 20);
    for (quint32 y = 0; y <= side; ++y) {
        const bool last = y == side;
        z.next_in = reinterpret_cast<Bytef *>(row.data());
        z.avail_in = last ? 0 : uInt(row.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            idat.append(out.data(), qsizetype(out.size() - z.avail_out));
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    chunk("IDAT", idat);
    chunk("IEND", {});
    return true;
}

}  // namespace pw::test
