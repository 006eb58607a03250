// simulate: a display module on a Unix socket, to try the whole job without the device.
#include "cli/commands.h"
#include "core/image/encoders.h"

#ifdef Q_OS_UNIX
#include "cli/simulateoutput.h"
#endif
#include "core/storage/outputfile.h"
#include "core/simulator/simulator.h"
#include "core/link/socketline.h"
#include "core/link/protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace pw::cli {

namespace {

// The ranges are the protocol's, so that the help describes the module that runs.
QByteArray helpText()
{
    return QStringLiteral(
        "Usage: pixelwright-cli simulate --link N [--dir DIR] [options]\n"
        "       pixelwright-cli simulate --socket PATH [--link N [--dir DIR]] [options]\n"
        "Runs a simulated display module until Ctrl-C, SIGTERM or SIGHUP. The window program\n"
        "reaches it as port N, 'send' as --port N or --port PATH, exactly as they reach the device.\n"
        "On stopping it removes the socket and the link it made.\n"
        "  --socket PATH     the Unix socket it listens on\n"
        "  --link N          makes the window's port number N (%1) reach it: COMn in the window\n"
        "                    program's folder becomes the socket itself, or with --socket a link\n"
        "                    to PATH. Only a socket (or a link to one) that an earlier simulate\n"
        "                    left behind is replaced\n"
        "  --dir DIR         the window program's folder (default: this program's own folder)\n"
        "  --fast            takes the bytes at once and rewrites in 50 ms (for tests); otherwise\n"
        "                    they come at the line's 960 bytes a second and DP takes the rewrite time\n"
        "  --flash-file FILE keeps the %2 FLASH pages in FILE (%2 x 1024 bytes) between runs\n"
        "  --snapshot FILE   a 128 x 64 PNG of the screen (white where a bit is 1), replaced after\n"
        "                    each DP\n"
        "  -h, --help        this text\n"
        "Standard output has one line per command, in order: DT 3, TI 1024 bytes, DP, FS 12,\n"
        "TS 1024 bytes, TF 5, unknown: TEXT (\\r \\n \\t \\\\ and \\xNN for other bytes), and what was\n"
        "cut short or dropped. On a terminal the screen is drawn below them in half blocks.\n"
        "The module: DT%3-DT%4 sets the rewrite time in seconds (%5 at power-up); DP shows the display\n"
        "memory: CTS drops as DP is taken and rises when the rewrite time has passed; TI and TS,\n"
        "1024 bytes and CR LF fill the display memory and the selected FLASH page; FS%6-FS%7 selects\n"
        "the page; TF%6-TF%7 copies a page into the display memory.\n"
        "Exit codes: 0 stopped by Ctrl-C, SIGTERM or SIGHUP, 1 usage or two of its files named as one,\n"
        "  3 the socket, the link, the snapshot or the flash file could not be made (or the flash\n"
        "  file is longer than the %2 pages).\n")
        .arg(rangeText(protocol::kPorts), QString::number(protocol::kPages.count()),
             QString::number(protocol::kRewriteTimes.low), QString::number(protocol::kRewriteTimes.high),
             QString::number(protocol::kPowerUpRewriteTime), QString::number(protocol::kPages.low),
             QString::number(protocol::kPages.high))
        .toUtf8();
}

#ifdef Q_OS_UNIX

int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    const char stop = 0;
    // A pipe full already has told the main thread: what write answers needs nothing.
    [[maybe_unused]] const ssize_t told = ::write(stopPipe[1], &stop, 1);
    errno = saved;
}

// COMn may be replaced only when it is a socket, or a link to one, that an earlier simulate
// left behind. A socket the simulator is about to make there is checked when it is made.
bool clearLink(const QString &linkPath, bool becomesSocket, QString &error)
{
    const QFileInfo info(linkPath);
    if (info.isSymLink()) {
        const QString target = info.symLinkTarget();
        const SocketPresence presence = socketPresence(target);
        if (presence == SocketPresence::Stale && QFile::remove(linkPath))
            return true;
        error = presence == SocketPresence::Live
                    ? linkPath + QStringLiteral(" already leads to a running simulator (%1)").arg(target)
                    : linkPath + QStringLiteral(" is a link to %1, not to a socket an earlier simulate left behind; left as it is").arg(target);
        return false;
    }
    if (becomesSocket || !info.exists())
        return true;
    const SocketPresence presence = socketPresence(linkPath);
    if (presence == SocketPresence::Stale && QFile::remove(linkPath))
        return true;
    error = presence == SocketPresence::Live
                ? linkPath + QStringLiteral(": a simulator already listens there")
                : linkPath + QStringLiteral(": exists and is not a socket an earlier simulate left behind; left as it is");
    return false;
}

// Ctrl-C, SIGTERM and SIGHUP end the run through the pipe from the first moment, before
// anything is made, so that whatever was made is removed again; a reader of standard output
// that goes away must not end it either.
bool catchStopSignals()
{
    if (::pipe(stopPipe) != 0)
        return false;
    for (const int fd : stopPipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(stopPipe[1], F_SETFL, ::fcntl(stopPipe[1], F_GETFL) | O_NONBLOCK);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

// Where a path would put its file: another spelling of the same place gives the same text.
QString placeOf(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? QDir::cleanPath(info.absolutePath()) : folder) + QLatin1Char('/') + info.fileName();
}

// The first two of the module's files that are one file, by any spelling or link: the
// snapshot and the flash file against each other and against the socket and the link. The
// socket and the link meet only where they are one place: an earlier run's link that still
// leads to the socket is cleared later, not refused.
QString sameFileNamedTwice(const QList<std::pair<QString, QString>> &named)
{
    for (qsizetype i = 0; i < named.size(); ++i) {
        for (qsizetype j = i + 1; j < named.size(); ++j) {
            const auto &[optionA, a] = named[i];
            const auto &[optionB, b] = named[j];
            const bool files = optionA == QLatin1String("--snapshot") || optionA == QLatin1String("--flash-file")
                               || optionB == QLatin1String("--snapshot") || optionB == QLatin1String("--flash-file");
            const FileIdentity ia = fileIdentity(a), ib = fileIdentity(b);
            if ((files && ia.valid && ib.valid && ia == ib) || placeOf(a) == placeOf(b))
                return QStringLiteral("%1 %2 and %3 %4 name the same file; nothing was written").arg(optionA, a, optionB, b);
        }
    }
    return {};
}

// A new link beside the old place, renamed into it.
bool makeLink(const QString &target, const QString &linkPath, QString &error)
{
    const QString temporary = linkPath + QStringLiteral(".%1.tmp").arg(::getpid());
    QFile::remove(temporary);
    if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(temporary).constData()) != 0
        || ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(linkPath).constData()) != 0) {
        error = linkPath + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        QFile::remove(temporary);
        return false;
    }
    return true;
}

// Removes the link only while it still leads where this run made it lead.
void removeLink(const QString &target, const QString &linkPath)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(linkPath).constData(), buffer, sizeof buffer);
    if (n > 0 && QByteArray(buffer, int(n)) == QFile::encodeName(target))
        QFile::remove(linkPath);
}

// The module from its start until a stop signal, then the socket and the link removed;
// the exit code.
int runModule(const SimulatorOptions &options, int number, const QString &linkPath, bool socketGiven)
{
    const bool separateLink = number > 0 && socketGiven;
    Output output(::isatty(STDOUT_FILENO) == 1);
    Simulator::Hooks hooks;
    hooks.line = [&output](const QString &text) { output.line(text); };
    hooks.shown = [&output](const MonoImage &screen) { output.shown(screen); };
    hooks.trouble = [&output](const QString &text) { output.line(QStringLiteral("pixelwright-cli: ") + text, STDERR_FILENO); };
    // A module that no longer serves must not keep the command, and its socket, alive.
    std::atomic<bool> moduleFailed = false;
    hooks.failed = [&moduleFailed] {
        moduleFailed = true;
        onStopSignal(0);
    };
    Simulator simulator(options, hooks);
    QString error;
    if (!simulator.start(error)) {
        if (!socketGiven && QFile::encodeName(options.socketPath).size() >= 108)
            error += QStringLiteral("; give a shorter --socket PATH, and --link makes COM%1 a link to it").arg(number);
        errorLine(error);
        return BadOutput;
    }
    if (separateLink && !makeLink(options.socketPath, linkPath, error)) {
        simulator.stop();
        errorLine(error);
        return BadOutput;
    }
    QString where = options.socketPath;
    if (number > 0)
        where += separateLink ? QStringLiteral(" (port %1: %2 links to it)").arg(number).arg(linkPath) : QStringLiteral(" (port %1)").arg(number);
    output.line(QStringLiteral("simulating the display module on %1%2; Ctrl-C stops it").arg(where, options.fast ? QStringLiteral(", fast") : QString()),
                STDERR_FILENO);

    QString waitFailed;
    for (const bool terminal = ::isatty(STDOUT_FILENO) == 1;;) {
        output.redrawIfDue();
        pollfd stop{stopPipe[0], POLLIN, 0};
        const int ready = ::poll(&stop, 1, terminal ? 50 : -1);
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR) {
            waitFailed = QStringLiteral("waiting for a stop signal failed: ") + QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
    }
    if (!waitFailed.isEmpty())
        output.line(QStringLiteral("pixelwright-cli: ") + waitFailed, STDERR_FILENO);
    simulator.stop();
    if (separateLink)
        removeLink(options.socketPath, linkPath);
    output.leave();
    output.line(QStringLiteral("simulator stopped; %1 removed").arg(separateLink ? QStringLiteral("the socket and the link") : QStringLiteral("the socket")),
                STDERR_FILENO);
    output.finish(500);
    return moduleFailed || !waitFailed.isEmpty() ? PortFailed : Done;
}

#endif

}  // namespace

int runSimulate(const QStringList &argv, const QString &defaultDir)
{
    const QList<OptionSpec> known{{"socket", {}, true},     {"link", {}, true},     {"dir", {}, true},
                                  {"fast", {}, false},      {"flash-file", {}, true}, {"snapshot", {}, true},
                                  {"help", 'h', false}};
    ParsedArgs args;
    QString error;
    int number = 0;
    auto usage = [](const QString &text) {
        errorLine(text + QStringLiteral(" (see 'pixelwright-cli simulate --help')"));
        return int(Usage);
    };
    if (!parseArgs(argv, known, args, error))
        return usage(error);
    if (args.has("help")) {
        writeStdout(helpText());
        return Done;
    }
    if (!args.operands.isEmpty())
        return usage(QStringLiteral("simulate takes no operands"));
    if (!args.has("socket") && !args.has("link"))
        return usage(QStringLiteral("simulate needs --socket PATH or --link N"));
    if (args.has("link") && !intOption(args, "link", protocol::kPorts.low, protocol::kPorts.high, number, error))
        return usage(error);
#ifndef Q_OS_UNIX
    Q_UNUSED(defaultDir);
    errorLine(QStringLiteral("the simulated module needs Unix sockets, which this system lacks"));
    return BadOutput;
#else
    const QString dir = args.has("dir") ? args.value("dir") : defaultDir;
    const QString linkPath = number > 0 ? QDir(dir).filePath(QStringLiteral("COM%1").arg(number)) : QString();
    if (number > 0 && !QFileInfo(dir).isDir()) {
        errorLine(dir + QStringLiteral(": no such folder"));
        return BadOutput;
    }
    SimulatorOptions options;
    options.socketPath = args.has("socket") ? QFileInfo(args.value("socket")).absoluteFilePath() : linkPath;
    options.fast = args.has("fast");
    options.flashFile = args.value("flash-file");
    options.snapshotFile = args.value("snapshot");
    const bool separateLink = number > 0 && args.has("socket");
    QList<std::pair<QString, QString>> named;   // each option and the file it names
    if (args.has("socket"))
        named.append({QStringLiteral("--socket"), args.value("socket")});
    if (number > 0)
        named.append({QStringLiteral("--link"), linkPath});
    for (const char *option : {"snapshot", "flash-file"})
        if (args.has(option))
            named.append({QStringLiteral("--") + QLatin1String(option), args.value(option)});
    if (const QString twice = sameFileNamedTwice(named); !twice.isEmpty()) {
        errorLine(twice);
        return Usage;
    }
    if (!catchStopSignals()) {
        errorLine(QStringLiteral("cannot catch signals: ") + QString::fromLocal8Bit(std::strerror(errno)));
        return BadOutput;
    }
    if (number > 0 && !clearLink(linkPath, !separateLink, error)) {
        errorLine(error);
        return BadOutput;
    }
    return runModule(options, number, linkPath, args.has("socket"));
#endif
}

}  // namespace pw::cli
