#include "core/link/serialport.h"

#include <QDir>
#include <QFileInfo>

namespace pw {

QString portDeviceName(int number, const QString &programDir)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return QStringLiteral("COM%1").arg(number);
#else
    const QString link = QDir(programDir).filePath(QStringLiteral("COM%1").arg(number));
    if (QFileInfo::exists(link) || QFileInfo(link).isSymLink())
        return link;
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
}

bool openPortSequence(SerialPort &port, const QString &portText)
{
    if (port.isOpen())
        port.close();
    bool ok = false;
    const int number = portText.toShort(&ok);
    if (!ok || !port.setPortNumber(number))
        return false;
    port.clearTransmitBuffer();
    return port.open();
}

}  // namespace pw
