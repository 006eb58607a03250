#include "app/module1.h"

#include "app/form1.h"
#include "app/frmsplash.h"

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
