#include "common/testsupport.h"

#include <QFile>

namespace pw::test {

Rig::Rig(const QByteArray *settings, bool create_)
{
    if (settings)
        writeFile(path(QStringLiteral("parameterv12864.ini")), *settings);
    if (create_)
        create();
}

void Rig::create()
{
    Platform platform;
    platform.boxes = &boxes;
    platform.dialogs = &dialogs;
    platform.port = &port;
    platform.programDir = dir.path();
    platform.exitProgram = [this] { ++exits; };
    form = std::make_unique<Form1>(platform);
}

QByteArray Rig::settingsBytes() const { return readFile(path(QStringLiteral("parameterv12864.ini"))); }

QImage solidImage(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace pw::test
