// The window program's start: Qt, the Japanese translation of Qt's own dialogs, the platform
// pieces, and the splash, which opens the main window or ends the program.
#include "core/link/qtserialport.h"
#include "gui/platform/platform.h"
#include "gui/splashscreen.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdlib>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pixelwright"));
    // No display name: the platform would append it to every caption.

    // The program speaks Japanese whatever the system's language, Qt's own dialogs included.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);

    const QString programDir = QCoreApplication::applicationDirPath();
    static pw::QtMessageBoxes boxes;
    static pw::QtFileDialogBackend dialogs;
    static pw::QtSerialPort port(programDir);
    pw::Platform platform;
    platform.boxes = &boxes;
    platform.dialogs = &dialogs;
    platform.port = &port;
    platform.programDir = programDir;
    // Exit and the colour check end the process where they stand: no window's closing steps
    // run, and the system releases the serial port.
    platform.exitProgram = [] { std::_Exit(0); };

    // Shown without waiting for it; from here on the windows' events drive everything.
    auto *splash = new pw::SplashScreen(platform);
    splash->show();
    splash->repaint();
    return app.exec();
}
