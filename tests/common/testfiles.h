#pragma once

#include <QColor>
#include <QFile>
#include <QImage>
#include <QList>
#include <QRandomGenerator>

#include "core/image/monoimage.h"

namespace pw::test {

inline QImage solidImage(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// A working image of random bits, the same for the same seed.
inline MonoImage randomImage(quint32 seed)
{
    QRandomGenerator random(seed);
    MonoImage image;
    for (auto &byte : image)
        byte = std::uint8_t(random.bounded(256));
    return image;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every byte value, with a CR LF inside: a line end in data must go out as plain data.
inline QByteArray bytePattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 256);
    return bytes.replace(100, 2, "\r\n");
}

// The writes of an image transfer, built apart from the program: command, mark, 8 bands, line end.
inline QList<QByteArray> imageChunks(const QByteArray &command, const QByteArray &mark, const QByteArray &image)
{
    QList<QByteArray> chunks{command + "\r\n", mark};
    for (int band = 0; band < 8; ++band)
        chunks << image.mid(band * 128, 128);
    return chunks << "\r\n";
}

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

}  // namespace pw::test
