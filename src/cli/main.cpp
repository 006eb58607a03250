// pixelwright-cli: the command line over the core library. Decoding and painting into QImage
// need no display; only text (fonts) needs a QGuiApplication, on the offscreen platform.
#include "cli/commands.h"
#include "cli/textcmd.h"

#include "core/picture/pictureloader.h"
#include "core/picture/silencing.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <memory>

namespace {

QtMessageHandler defaultHandler = nullptr;

// Every failing input gets one line of its own; the image plugins' and libraries' chatter
// about damaged data would only bury it (a picture that still decodes is not an error), so
// only what would end the program is let through.
void keepSevereMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        defaultHandler(type, context, text);
}

}  // namespace

int main(int argc, char *argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // convert and send stop cleanly on Ctrl-C and SIGTERM from the first moment, before Qt
    // starts (which takes a while on a busy machine); they look at the flag once they run.
    if (!args.isEmpty() && (args.constFirst() == QLatin1String("convert") || args.constFirst() == QLatin1String("send")))
        pw::cli::catchInterrupts();
    // Text needs the font database, which only a QGuiApplication has; the offscreen platform
    // draws fonts as the window does and needs no display.
    defaultHandler = qInstallMessageHandler(keepSevereMessages);
    std::unique_ptr<QCoreApplication> app;
    if (pw::cli::needsFonts(args)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("pixelwright-cli"));
    pw::silenceImageLibraries();
    return pw::cli::runMain(QCoreApplication::arguments().mid(1));
}
