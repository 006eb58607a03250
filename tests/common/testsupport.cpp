#include "common/testsupport.h"

#include <QFile>

namespace pw::test {

MessageBoxes::Answer ScriptedBoxes::ask(QWidget *, const QString &title, const QString &text, Buttons buttons)
{
    shown.append({title, text, buttons});
    if (onShow)
        onShow(shown.last());
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return answers.isEmpty() ? Answer::Yes : answers.takeFirst();
}

QStringList ScriptedBoxes::texts() const
{
    QStringList list;
    for (const Shown &s : shown)
        list << s.text;
    return list;
}

std::optional<QString> ScriptedDialogs::run(QWidget *, const FileDialogRequest &request)
{
    requests << request;
    if (answers.isEmpty())
        return std::nullopt;
    return answers.takeFirst();
}

Rig::Rig(const QByteArray *settings, bool create_)
{
    if (settings)
        writeFile(path(QStringLiteral("parameterv12864.ini")), *settings);
    if (create_)
        create();
}

Rig::~Rig() { form.reset(); }

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

QString Rig::path(const QString &name) const { return dir.filePath(name); }

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
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace pw::test
