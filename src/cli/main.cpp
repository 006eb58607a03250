// pixelwright-cli: the command line over the core library. QCoreApplication only: decoding
// and painting into QImage need no display.
#include "cli/commands.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pixelwright-cli"));
    return pw::cli::runMain(QCoreApplication::arguments().mid(1));
}
