// pixelwright-cli: the command line over the core library. QCoreApplication only: decoding
// and painting into QImage need no display.
#include "cli/commands.h"

#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pixelwright-cli"));
    // Every failing input gets one line of its own; the image plugins' chatter about damaged
    // data would only bury it (a picture that still decodes is not an error).
    QLoggingCategory::setFilterRules(QStringLiteral("qt.gui.imageio*=false"));
    return pw::cli::runMain(QCoreApplication::arguments().mid(1));
}
