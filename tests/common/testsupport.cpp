#include "common/testsupport.h"


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

}  // namespace pw::test
