// pixelwright-cli: the command line over the core library. QCoreApplication only: decoding
// and painting into QImage need no display.
#include "cli/commands.h"

#include "core/pictureloader.h"

#include <QCoreApplication>

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
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pixelwright-cli"));
    defaultHandler = qInstallMessageHandler(keepSevereMessages);
    pw::silenceImageLibraries();
    return pw::cli::runMain(QCoreApplication::arguments().mid(1));
}
