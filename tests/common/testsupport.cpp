#include "common/testsupport.h"

namespace pw::test {

Rig::Rig(const QByteArray *settings, bool create_)
{
    if (settings)
        writeFile(path(QStringLiteral("parameterv12864.ini")), *settings);
    if (create_)
        create();
}

Platform Rig::platform()
{
    Platform platform;
    platform.boxes = &boxes;
    platform.dialogs = &dialogs;
    platform.port = &port;
    platform.programDir = dir.path();
    platform.exitProgram = [this] { ++exits; };
    return platform;
}

void Rig::create() { window = std::make_unique<MainWindow>(platform()); }

QByteArray Rig::settingsBytes() const { return readFile(path(QStringLiteral("parameterv12864.ini"))); }

}  // namespace pw::test
