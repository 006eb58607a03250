// simulate: a display module on a Unix socket, to try the whole job without the device.
#include "cli/commands.h"
#include "core/encoders.h"

#include "core/outputfile.h"
#include "core/simulator.h"
#include "core/socketline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

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

// Standard output: the command lines, and on a terminal the screen drawn below them. Every
// byte goes out through a writer thread of its own, so a reader that stops reading holds up
// neither the module nor the signals: up to kMaxQueued lines wait for it, the ones beyond are
// dropped, and the next line that gets through is preceded by their count. The drawing is
// redrawn by the main thread at most twenty times a second, and only while little waits, so
// a flood of lines never costs a drawing each.
class Output {
public:
    static constexpr std::size_t kMaxQueued = 1000;

    explicit Output(bool terminal) : terminal_(terminal), shared_(std::make_shared<Shared>())
    {
        writer_ = std::thread([shared = shared_] { shared->run(); });
    }
    ~Output() { finish(0); }

    void line(const QString &text, int fd = STDOUT_FILENO)
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        if (drawnRows_ > 0) {
            // Back to the drawing's first row, and everything from there on erased.
            push(STDOUT_FILENO, QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawnRows_).toLatin1());
            drawnRows_ = 0;
            dirty_ = true;
        }
        if (shared_->queue.size() >= kMaxQueued) {
            ++dropped_;
            return;
        }
        pushDropped();
        push(fd, text.toUtf8() + '\n');
    }

    void shown(const MonoImage &screen)
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        screen_ = screen;
        dirty_ = true;
    }

    void redrawIfDue()
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        // A reader that has fallen behind gets no drawings to pile up, only the last one later.
        if (!terminal_ || !dirty_ || shared_->queue.size() > 8)
            return;
        QString drawing = drawnRows_ > 0 ? QStringLiteral("\r\x1b[%1A").arg(drawnRows_) : QString();
        const QString rule(kImageWidth, QChar(0x2500));
        drawing += QChar(0x250c) + rule + QChar(0x2510) + QLatin1Char('\n');
        const QStringList rows = halfBlocks(screen_).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &row : rows)
            drawing += QChar(0x2502) + row + QChar(0x2502) + QLatin1Char('\n');
        drawing += QChar(0x2514) + rule + QChar(0x2518) + QLatin1Char('\n');
        push(STDOUT_FILENO, drawing.toUtf8());
        // A terminal narrower than the drawing wraps each of its lines over several rows.
        const int width = kImageWidth + 2, columns = terminalColumns();
        drawnRows_ = int(rows.size() + 2) * (columns > 0 ? (width + columns - 1) / columns : 1);
        dirty_ = false;
    }

    // The last drawing stays on the terminal as it is.
    void leave()
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        drawnRows_ = 0;
        terminal_ = false;
    }

    // What waits may go out for `ms` more; a writer that a reader still holds up then is left
    // to the end of the process.
    void finish(int ms)
    {
        if (!writer_.joinable())
            return;
        std::unique_lock<std::mutex> lock(shared_->mutex);
        pushDropped();
        shared_->closing = true;
        shared_->changed.notify_all();
        const bool done = shared_->changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return shared_->finished; });
        lock.unlock();
        if (done)
            writer_.join();
        else
            writer_.detach();
    }

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::pair<int, QByteArray>> queue;
        bool closing = false;
        bool finished = false;

        void run()
        {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                changed.wait(lock, [this] { return !queue.empty() || closing; });
                if (queue.empty())
                    break;
                const auto [fd, bytes] = std::move(queue.front());
                queue.pop_front();
                lock.unlock();
                writeAll(fd, bytes);
                lock.lock();
            }
            finished = true;
            changed.notify_all();
        }
        static void writeAll(int fd, const QByteArray &bytes)
        {
            for (qsizetype done = 0; done < bytes.size();) {
                const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
                if (n > 0) {
                    done += n;
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    pollfd room{fd, POLLOUT, 0};
                    ::poll(&room, 1, -1);
                } else if (!(n < 0 && errno == EINTR)) {
                    return;  // a reader gone for good: the rest has nowhere to go
                }
            }
        }
    };

    // With the mutex held.
    void push(int fd, QByteArray bytes)
    {
        shared_->queue.emplace_back(fd, std::move(bytes));
        shared_->changed.notify_all();
    }
    void pushDropped()
    {
        if (dropped_ > 0)
            push(STDOUT_FILENO, QStringLiteral("\u2026 %1 lines not shown\n").arg(dropped_).toUtf8());
        dropped_ = 0;
    }

    static int terminalColumns()
    {
#if defined(Q_OS_UNIX) && defined(TIOCGWINSZ)
        winsize size {};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
            return size.ws_col;
#endif
        return 0;
    }

    bool terminal_;
    std::shared_ptr<Shared> shared_;
    std::thread writer_;
    MonoImage screen_{};
    int drawnRows_ = 0;
    bool dirty_ = true;
    qint64 dropped_ = 0;
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
// snapshot and the flash file against each other and against the socket and the link.
QString sameFileNamedTwice(const QList<std::pair<QString, QString>> &named)
{
    for (qsizetype i = 0; i < named.size(); ++i) {
        for (qsizetype j = i + 1; j < named.size(); ++j) {
            const auto &[optionA, a] = named[i];
            const auto &[optionB, b] = named[j];
            const bool files = optionA == QLatin1String("--snapshot") || optionA == QLatin1String("--flash-file")
                               || optionB == QLatin1String("--snapshot") || optionB == QLatin1String("--flash-file");
            const FileIdentity ia = fileIdentity(a), ib = fileIdentity(b);
            if (files && (ia.valid && ib.valid ? ia == ib : placeOf(a) == placeOf(b)))
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
    QList<std::pair<QString, QString>> named;
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

    Output output(::isatty(STDOUT_FILENO) == 1);
    Simulator::Hooks hooks;
    hooks.line = [&output](const QString &text) { output.line(text); };
    hooks.shown = [&output](const MonoImage &screen) { output.shown(screen); };
    hooks.trouble = [&output](const QString &text) { output.line(QStringLiteral("pixelwright-cli: ") + text, STDERR_FILENO); };
    Simulator simulator(options, hooks);
    if (!simulator.start(error)) {
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
    QString where = options.socketPath;
    if (number > 0)
        where += separateLink ? QStringLiteral(" (port %1: %2 links to it)").arg(number).arg(linkPath) : QStringLiteral(" (port %1)").arg(number);
    output.line(QStringLiteral("simulating the display module on %1%2; Ctrl-C stops it").arg(where, options.fast ? QStringLiteral(", fast") : QString()),
                STDERR_FILENO);

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
    output.line(QStringLiteral("simulator stopped; %1 removed").arg(separateLink ? QStringLiteral("the socket and the link") : QStringLiteral("the socket")),
                STDERR_FILENO);
    output.finish(500);
    return Done;
#endif
}

}  // namespace pw::cli
