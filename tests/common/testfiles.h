#pragma once

#include <QColor>
#include <QFile>
#include <QImage>
#include <QList>
#include <QRandomGenerator>

#include "common/pictures.h"
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

}  // namespace pw::test
