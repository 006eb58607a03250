#include "gui/module1.h"

#include "gui/form1.h"
#include "gui/frmsplash.h"

namespace pw::Module1 {

QString versionText()
{
    return QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + QString::number(versionMajor) + QLatin1Char('.') + QString::number(versionMinor)
           + QLatin1Char('.') + QString::number(versionRevision);
}

FrmSplash *Main(const Platform &platform)
{
    auto *splash = new FrmSplash(platform);
    splash->show();
    splash->repaint();
    return splash;
}

}  // namespace pw::Module1
