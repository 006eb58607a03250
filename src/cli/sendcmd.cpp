#include "cli/commands.h"

namespace pw::cli {

int runSend(const QStringList &, const QString &)
{
    errorLine(QStringLiteral("send is not built yet"));
    return Usage;
}

}  // namespace pw::cli
