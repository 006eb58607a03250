// simulate: a display module on a Unix socket, to try the whole job without the device.
#include "cli/commands.h"
#include "core/encoders.h"

#include "core/simulator.h"
#include "core/socketline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <mutex>

#ifdef Q_OS_UNIX
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

const char *const kHelp =
    "Usage: pixelwright-cli simulate --link N [--dir DIR] [options]\n"
    "       pixelwright-cli simulate --socket PATH [--link N [--dir DIR]] [options]\n"
    "Runs a simulated display module until Ctrl-C or SIGTERM. The window program reaches it as\n"
    "port N, 'send' as --port N or --port PATH, exactly as they reach the device. On stopping\n"
    "it removes the socket and the link it made.\n"
    "  --socket PATH     the Unix socket it listens on\n"
    "  --link N          makes the window's port number N (1-16) reach it: COMn in the window\n"
    "                    program's folder becomes the socket itself, or with --socket a link\n"
    "                    to PATH. Only a socket (or a link to one) that an earlier simulate\n"
    "                    left behind is replaced\n"
    "  --dir DIR         the window program's folder (default: this program's own folder)\n"
    "  --fast            takes the bytes at once and rewrites in 50 ms (for tests); otherwise\n"
    "                    they come at the line's 960 bytes a second and DP takes the rewrite time\n"
    "  --flash-file FILE keeps the 13 FLASH pages in FILE (13 x 1024 bytes) between runs\n"
    "  --snapshot FILE   a 128 x 64 PNG of the screen (white where a bit is 1), replaced after\n"
    "                    each DP\n"
    "  -h, --help        this text\n"
    "Standard output has one line per command, in order: DT 3, TI 1024 bytes, DP, FS 12,\n"
    "TS 1024 bytes, TF 5, unknown: TEXT (\\r \\n \\t \\\\ and \\xNN for other bytes), and what was\n"
    "cut short or dropped. On a terminal the screen is drawn below them in half blocks.\n"
    "The module: DT1-DT5 sets the rewrite time in seconds (3 at power-up); DP shows the display\n"
    "memory: CTS drops as DP is taken and rises when the rewrite time has passed; TI and TS,\n"
    "1024 bytes and CR LF fill the display memory and the selected FLASH page; FS0-FS12 selects\n"
    "the page; TF0-TF12 copies a page into the display memory.\n"
    "Exit codes: 0 stopped by Ctrl-C or SIGTERM, 1 usage, 3 the socket, the link, the snapshot\n"
    "  or the flash file could not be made.\n";

#ifdef Q_OS_UNIX

// Standard output: the command lines, and on a terminal the screen drawn below them. The
// simulator's thread writes the lines; the drawing is redrawn by the main thread at most
// twenty times a second, so a flood of lines never costs a drawing each.
class Output {
public:
    explicit Output(bool terminal) : terminal_(terminal) {}

    void line(const QString &text, FILE *stream = stdout)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (drawnRows_ > 0) {
            // Back to the drawing's first row, and everything from there on erased.
            std::fprintf(stdout, "\r\x1b[%dA\x1b[J", drawnRows_);
            std::fflush(stdout);
            drawnRows_ = 0;
            dirty_ = true;
        }
        const QByteArray bytes = text.toUtf8() + '\n';
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
        std::fflush(stream);
    }

    void shown(const MonoImage &screen)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        screen_ = screen;
        dirty_ = true;
    }

    void redrawIfDue()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!terminal_ || !dirty_)
            return;
        if (drawnRows_ > 0)
            std::fprintf(stdout, "\r\x1b[%dA", drawnRows_);
        const QString rule(kImageWidth, QChar(0x2500));
        QString drawing = QChar(0x250c) + rule + QChar(0x2510) + QLatin1Char('\n');
        const QStringList rows = halfBlocks(screen_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &row : rows)
            drawing += QChar(0x2502) + row + QChar(0x2502) + QLatin1Char('\n');
        drawing += QChar(0x2514) + rule + QChar(0x2518) + QLatin1Char('\n');
        const QByteArray bytes = drawing.toUtf8();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
        std::fflush(stdout);
        // A terminal narrower than the drawing wraps each of its lines over several rows.
        const int width = kImageWidth + 2, columns = terminalColumns();
        drawnRows_ = int(rows.size() + 2) * (columns > 0 ? (width + columns - 1) / columns : 1);
        dirty_ = false;
    }

    // The last drawing stays on the terminal as it is.
    void leave()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        drawnRows_ = 0;
        terminal_ = false;
    }

private:
    static int terminalColumns()
    {
#if defined(Q_OS_UNIX) && defined(TIOCGWINSZ)
        winsize size {};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
            return size.ws_col;
#endif
        return 0;
    }

    std::mutex mutex_;
    bool terminal_;
    MonoImage screen_{};
    int drawnRows_ = 0;
    bool dirty_ = true;
};

int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const int saved = errno;
    const char stop = 0;
    if (::write(stopPipe[1], &stop, 1) < 0) {
        // Full already: the main thread has been told.
    }
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
        writeStdout(kHelp);
        return Done;
    }
    if (!args.operands.isEmpty())
        return usage(QStringLiteral("simulate takes no operands"));
    if (!args.has("socket") && !args.has("link"))
        return usage(QStringLiteral("simulate needs --socket PATH or --link N"));
    if (args.has("link") && !intOption(args, "link", 1, 16, number, error))
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
    if (number > 0 && !clearLink(linkPath, !separateLink, error)) {
        errorLine(error);
        return BadOutput;
    }

    Output output(::isatty(STDOUT_FILENO) == 1);
    Simulator::Hooks hooks;
    hooks.line = [&output](const QString &text) { output.line(text); };
    hooks.shown = [&output](const MonoImage &screen) { output.shown(screen); };
    hooks.trouble = [&output](const QString &text) { output.line(QStringLiteral("pixelwright-cli: ") + text, stderr); };
    Simulator simulator(options, hooks);
    if (::pipe(stopPipe) != 0 || !simulator.start(error)) {
        if (!args.has("socket") && QFile::encodeName(options.socketPath).size() >= 108)
            error += QStringLiteral("; give a shorter --socket PATH, and --link makes COM%1 a link to it").arg(number);
        errorLine(error);
        return BadOutput;
    }
    if (separateLink && !makeLink(options.socketPath, linkPath, error)) {
        simulator.stop();
        errorLine(error);
        return BadOutput;
    }
    // Ctrl-C and SIGTERM end the run through the pipe; a reader of standard output that goes
    // away must not end it without removing the socket.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    QString where = options.socketPath;
    if (number > 0)
        where += separateLink ? QStringLiteral(" (port %1: %2 links to it)").arg(number).arg(linkPath) : QStringLiteral(" (port %1)").arg(number);
    output.line(QStringLiteral("simulating the display module on %1%2; Ctrl-C stops it").arg(where, options.fast ? QStringLiteral(", fast") : QString()),
                stderr);

    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    for (;;) {
        output.redrawIfDue();
        pollfd stop{stopPipe[0], POLLIN, 0};
        const int ready = ::poll(&stop, 1, terminal ? 50 : -1);
        if (ready > 0)
            break;
        if (ready < 0 && errno != EINTR)
            break;
    }
    simulator.stop();
    if (separateLink)
        removeLink(options.socketPath, linkPath);
    output.leave();
    writeStderr(QStringLiteral("simulator stopped; %1 removed\n").arg(separateLink ? QStringLiteral("the socket and the link") : QStringLiteral("the socket")));
    return Done;
#endif
}

}  // namespace pw::cli
