#include "app/form1.h"
#include "link/qtserialport.h"

#include <QApplication>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixelwright"));
    QApplication::setApplicationDisplayName(QStringLiteral("Pixelwright"));

    const QString programDir = QCoreApplication::applicationDirPath();
    static pw::QtMessageBoxes boxes;
    static pw::QtFileDialogBackend dialogs;
    static pw::QtSerialPort port(programDir);
    pw::Platform platform;
    platform.boxes = &boxes;
    platform.dialogs = &dialogs;
    platform.port = &port;
    platform.programDir = programDir;
    platform.exitProgram = [] { std::_Exit(0); };

    pw::Form1 form(platform);
    form.show();
    return app.exec();
}
