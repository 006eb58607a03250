// ports: the serial ports present and where the window's port numbers lead; --link N DEVICE.
#include "cli/commands.h"

#include "core/link/serialport.h"
#include "core/link/socketline.h"
#include "core/link/protocol.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#endif

namespace pw::cli {

namespace {

// The range is the protocol's, so that the help names the numbers the window offers.
QByteArray helpText()
{
    return QStringLiteral(
        "Usage: pixelwright-cli ports [--dir DIR]\n"
        "       pixelwright-cli ports --link N DEVICE [--dir DIR]\n"
        "       pixelwright-cli ports --unlink N [--dir DIR]\n"
        "Lists the serial ports present (name, description, USB vendor:product) and which device\n"
        "each of the window's port numbers %1 reaches. Listing opens no device.\n"
        "  --link N DEVICE   makes port number N reach DEVICE (/dev/ttyUSB0, or ttyUSB0): the link\n"
        "                    COMn in the window program's folder, replaced atomically\n"
        "  --unlink N        removes that link again (N then reaches /dev/ttyS<N-1>)\n"
        "  --dir DIR         the window program's folder (default: this program's own folder)\n"
        "  -h, --help        this text\n")
        .arg(rangeText(protocol::kPorts))
        .toUtf8();
}

QString listing(const QString &programDir)
{
    QString text = QStringLiteral("Serial ports present:\n");
    const auto ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        text += QStringLiteral("  (none)\n");
    for (const QSerialPortInfo &info : ports) {
        QStringList details;
        if (!info.description().isEmpty())
            details << info.description();
        if (!info.manufacturer().isEmpty())
            details << info.manufacturer();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            details << QStringLiteral("USB %1:%2").arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0')).arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
        text += QStringLiteral("  %1").arg(info.systemLocation(), -16);
        if (!details.isEmpty())
            text += QStringLiteral("  ") + details.join(QStringLiteral(", "));
        text += QLatin1Char('\n');
    }
    text += QStringLiteral("The window's port numbers (links in %1):\n").arg(QDir::toNativeSeparators(programDir));
    for (int n = protocol::kPorts.low; n <= protocol::kPorts.high; ++n) {
        const QString device = portDeviceName(n, programDir);
        const QFileInfo info(device);
        QString line = QStringLiteral("  %1  %2").arg(n, 2).arg(device);
        if (info.isSymLink())
            line += QStringLiteral(" -> ") + info.symLinkTarget();
        if (!info.exists())
            line += QStringLiteral("  (missing)");
        else if (isSocketFile(device))
            line += socketPresence(info.canonicalFilePath()) == SocketPresence::Live ? QStringLiteral("  (simulator)")
                                                                                     : QStringLiteral("  (simulator, not running)");
        text += line + QLatin1Char('\n');
    }
    return text;
}

bool portNumber(const QString &text, int &number)
{
    bool ok = false;
    number = text.toInt(&ok);
    return ok && protocol::kPorts.contains(number);
}

#ifndef Q_OS_WIN
int makeLink(const QString &linkPath, int number, QString device)
{
    if (!device.contains(QLatin1Char('/')))
        device.prepend(QStringLiteral("/dev/"));
    if (!QFileInfo::exists(device)) {
        errorLine(device + QStringLiteral(": no such device"));
        return PortFailed;
    }
    device = QFileInfo(device).absoluteFilePath();
    // A new link beside the old one, renamed over it: the number never leads nowhere.
    const QString temporary = linkPath + QStringLiteral(".%1.tmp").arg(::getpid());
    QFile::remove(temporary);
    if (::symlink(QFile::encodeName(device).constData(), QFile::encodeName(temporary).constData()) != 0
        || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(linkPath).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(temporary);
        errorLine(linkPath + QStringLiteral(": ") + reason);
        return BadOutput;
    }
    writeStdout(QStringLiteral("port %1 -> %2\n").arg(number).arg(device).toUtf8());
    return Done;
}
#endif

#ifndef Q_OS_WIN
// `device` linked as port `number` in `dir`, or with `unlink` the link removed.
int changeLink(const QString &dir, int number, bool unlink, const QString &device)
{
    if (!QFileInfo(dir).isDir()) {
        errorLine(dir + QStringLiteral(": no such folder"));
        return BadOutput;
    }
    const QString linkPath = QDir(dir).filePath(QStringLiteral("COM%1").arg(number));
    const QFileInfo existing(linkPath);
    if ((existing.exists() || existing.isSymLink()) && !existing.isSymLink()) {
        errorLine(linkPath + QStringLiteral(": exists and is not a link; left as it is"));
        return BadOutput;
    }
    if (unlink) {
        if (existing.isSymLink() && !QFile::remove(linkPath)) {
            errorLine(linkPath + QStringLiteral(": could not be removed"));
            return BadOutput;
        }
        return Done;
    }
    return makeLink(linkPath, number, device);
}
#endif

}  // namespace

int runPorts(const QStringList &argv, const QString &defaultDir)
{
    const QList<OptionSpec> known{{"link", {}, true}, {"unlink", {}, true}, {"dir", {}, true}, {"help", 'h', false}};
    ParsedArgs args;
    QString error;
    if (!parseArgs(argv, known, args, error)) {
        errorLine(error + QStringLiteral(" (see 'pixelwright-cli ports --help')"));
        return Usage;
    }
    if (args.has("help")) {
        writeStdout(helpText() + kExitCodesHelp);
        return Done;
    }
    const QString dir = args.has("dir") ? args.value("dir") : defaultDir;
    const bool link = args.has("link"), unlink = args.has("unlink");
    if (args.operands.size() != (link ? 1 : 0) || (link && unlink)) {
        errorLine(QStringLiteral("ports takes --link N DEVICE, --unlink N, or nothing (see 'pixelwright-cli ports --help')"));
        return Usage;
    }
    if (!link && !unlink) {
        writeStdout(listing(dir).toUtf8());
        return Done;
    }
    int number = 0;
    if (!portNumber(args.value(link ? "link" : "unlink"), number)) {
        errorLine(QStringLiteral("the port number is %1 to %2, not '%3'")
                      .arg(QString::number(protocol::kPorts.low), QString::number(protocol::kPorts.high),
                           args.value(link ? "link" : "unlink")));
        return Usage;
    }
#ifdef Q_OS_WIN
    Q_UNUSED(number);
    errorLine(QStringLiteral("on Windows port number N is COMN itself; there is nothing to link"));
    return Usage;
#else
    return changeLink(dir, number, unlink, unlink ? QString() : args.operands.constFirst());
#endif
}

}  // namespace pw::cli
