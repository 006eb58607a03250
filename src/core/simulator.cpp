#include "core/simulator.h"

#include "core/outputfile.h"
#include "core/socketline.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QImageWriter>

#ifdef Q_OS_UNIX
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>
#endif

namespace pw {

namespace {

constexpr qsizetype kFlashBytes = qsizetype(DisplayModule::kPages) * kImageBytes;

// Every file the simulator writes goes through here: whole, and in place of the old one
// only once complete, so a reader never sees half a snapshot. Empty, or the reason in the
// words every output of the program uses.
QString replaceFile(const QString &path, const QByteArray &bytes)
{
    const WriteResult result = writeOutputFile(path, bytes);
    return result.ok() ? QString() : path + QStringLiteral(": ") + writeErrorText(result);
}

// What starts blank when the flash file holds `size` bytes, fewer than the pages.
QString shortFlashWarning(const QString &path, qsizetype size)
{
    const int last = DisplayModule::kPages - 1;
    const int page = int(size / kImageBytes), offset = int(size % kImageBytes);
    QStringList parts;
    if (offset > 0)
        parts << QStringLiteral("page %1 from byte %2 on").arg(page).arg(offset);
    const int next = offset > 0 ? page + 1 : page;
    if (next < last)
        parts << QStringLiteral("pages %1-%2").arg(next).arg(last);
    else if (next == last)
        parts << QStringLiteral("page %1").arg(last);
    const bool one = parts.size() == 1 && parts.constFirst().startsWith(QLatin1String("page "));
    return QStringLiteral("%1: holds %2 of %3 bytes; %4 %5 blank")
        .arg(path).arg(size).arg(kFlashBytes).arg(parts.join(QStringLiteral(" and ")), one ? QStringLiteral("starts") : QStringLiteral("start"));
}

QByteArray snapshotPng(const MonoImage &screen)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // Grey, 0 and 255: every reader sees the same two values, with no palette to look up.
    QImageWriter(&buffer, "png").write(renderMonoImage(screen).convertToFormat(QImage::Format_Grayscale8));
    return bytes;
}

}  // namespace

struct Simulator::Engine {
    Engine(SimulatorOptions options_, Hooks hooks_) : options(std::move(options_)), hooks(std::move(hooks_)) {}

    bool prepareFiles(QString &error);
    void trouble(const QString &text)
    {
        if (hooks.trouble)
            hooks.trouble(text);
    }

    SimulatorOptions options;
    Hooks hooks;

#ifdef Q_OS_UNIX
    using Clock = std::chrono::steady_clock;
    // The line delivers a byte every 1.04 ms; a paced module wakes for about eight at a time
    // and may take up to sixteen at once after a pause.
    static constexpr double kPacedChunk = 8;
    static constexpr double kBurst = 16;

    // Senders that connect while another is served wait in line, this many at most.
    static constexpr std::size_t kMaxWaiting = 64;
    struct Waiting {
        int fd;
        bool gone;  // went away with bytes on the line: still served, no longer watched
    };

    bool checkSocketPath(QString &error);
    bool listen(QString &error);
    void run();
    int pollTimeout(Clock::time_point now, bool &wantBytes);
    void watchWaiting(const pollfd *fds);
    void accept();
    void serve(int fd);
    void take();
    void endClient();
    void sendReport();
    void setCts(bool asserted);
    void onEvent(const DisplayModule::Event &event);
    void refill(Clock::time_point now)
    {
        credit = std::min(kBurst, credit + std::chrono::duration<double>(now - credited).count() * kBytesPerSecond);
        credited = now;
    }

    DisplayModule module{[this](const DisplayModule::Event &event) { onEvent(event); }};
    int listenFd = -1;
    int clientFd = -1;
    std::deque<Waiting> waiting;
    int wakePipe[2] = {-1, -1};
    dev_t socketDevice = 0;
    ino_t socketInode = 0;
    std::thread thread;
    bool cts = true;
    bool reportPending = false;
    std::optional<Clock::time_point> rewriteEnds;
    double credit = 0;
    Clock::time_point credited;
    std::vector<char> buffer = std::vector<char>(16 * 1024);
#else
    DisplayModule module;
#endif
};

bool Simulator::Engine::prepareFiles(QString &error)
{
    const QString &flash = options.flashFile;
    if (!flash.isEmpty()) {
        QFile file(flash);
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly)) {
                error = flash + QStringLiteral(": cannot be read");
                return false;
            }
            const QByteArray bytes = file.read(kFlashBytes + 1);
            // Whatever else it is, its first page write would cut it down: it stays as it is.
            if (bytes.size() > kFlashBytes) {
                const QString size = QFileInfo(flash).isFile() ? QString::number(QFileInfo(flash).size()) : QStringLiteral("over %1").arg(kFlashBytes);
                error = QStringLiteral("%1: %2 bytes, more than the %3 FLASH pages' %4; not a flash file, left as it is")
                            .arg(flash, size).arg(DisplayModule::kPages).arg(kFlashBytes);
                return false;
            }
            module.loadFlash(bytes);
            if (bytes.size() < kFlashBytes)
                trouble(shortFlashWarning(flash, bytes.size()));
        } else if (error = replaceFile(flash, module.flashBytes()); !error.isEmpty()) {
            return false;
        }
    }
    if (!options.snapshotFile.isEmpty() && !(error = replaceFile(options.snapshotFile, snapshotPng(module.screen()))).isEmpty())
        return false;
    return true;
}

Simulator::Simulator(SimulatorOptions options, Hooks hooks)
    : engine_(std::make_unique<Engine>(std::move(options), std::move(hooks)))
{
}

Simulator::~Simulator() { stop(); }

#ifdef Q_OS_UNIX

namespace {

#ifdef MSG_NOSIGNAL
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;
#endif

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
}

}  // namespace

bool Simulator::start(QString &error)
{
    Engine &e = *engine_;
    if (e.thread.joinable()) {
        error = QStringLiteral("already running");
        return false;
    }
    // The socket's place is looked at first: a start refused there writes no file.
    return e.checkSocketPath(error) && e.prepareFiles(error) && e.listen(error);
}

void Simulator::stop()
{
    Engine &e = *engine_;
    if (e.thread.joinable()) {
        const char stop = 0;
        if (::write(e.wakePipe[1], &stop, 1) < 0) {
            // An empty pipe always takes one byte.
        }
        e.thread.join();
    }
    for (int &fd : e.wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (e.listenFd >= 0) {
        ::close(e.listenFd);
        e.listenFd = -1;
        // Only the socket made here: someone may have put another in its place meanwhile.
        struct stat status {};
        const QByteArray path = QFile::encodeName(e.options.socketPath);
        if (::lstat(path.constData(), &status) == 0 && status.st_dev == e.socketDevice && status.st_ino == e.socketInode)
            ::unlink(path.constData());
    }
}

bool Simulator::Engine::checkSocketPath(QString &error)
{
    const QString &path = options.socketPath;
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    if (name.isEmpty() || name.size() >= qsizetype(sizeof address.sun_path)) {
        error = path + QStringLiteral(": too long for a socket (at most %1 bytes)").arg(sizeof address.sun_path - 1);
        return false;
    }
    switch (socketPresence(path)) {
    case SocketPresence::None:
        break;
    case SocketPresence::Stale:
        if (::unlink(name.constData()) != 0) {
            error = path + QStringLiteral(": a socket left behind there cannot be removed (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        break;
    case SocketPresence::Live:
        error = path + QStringLiteral(": a simulator already listens there");
        return false;
    case SocketPresence::Other:
        error = path + QStringLiteral(": exists and is not a socket left behind by a simulator; left as it is");
        return false;
    }
    return true;
}

bool Simulator::Engine::listen(QString &error)
{
    const QString &path = options.socketPath;
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
    listenFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    struct stat status {};
    if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
        || ::listen(listenFd, 16) != 0 || ::lstat(name.constData(), &status) != 0 || ::pipe(wakePipe) != 0) {
        error = path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    setNonBlocking(listenFd);
    socketDevice = status.st_dev;
    socketInode = status.st_ino;
    thread = std::thread(&Engine::run, this);
    return true;
}

void Simulator::Engine::run()
{
    std::vector<pollfd> fds;
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (rewriteEnds && now >= *rewriteEnds) {
            rewriteEnds.reset();
            setCts(true);
        }
        bool wantBytes = true;
        const int timeoutMs = pollTimeout(now, wantBytes);
        // A client that has gone away is reported at once by poll: it is looked at only while
        // the line has room for its bytes.
        const bool watchClient = clientFd >= 0 && (wantBytes || reportPending);
        fds.assign({{wakePipe[0], POLLIN, 0},
                    {listenFd, POLLIN, 0},
                    {watchClient ? clientFd : -1, short((wantBytes ? POLLIN : 0) | (reportPending ? POLLOUT : 0)), 0}});
        for (const Waiting &w : waiting)
            fds.push_back({w.gone ? -1 : w.fd, 0, 0});
        if (::poll(fds.data(), nfds_t(fds.size()), timeoutMs) < 0) {
            if (errno == EINTR)
                continue;
            trouble(QStringLiteral("the simulator stopped: ") + QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        if (fds[0].revents != 0)
            break;
        watchWaiting(fds.data() + 3);
        const short client = fds[2].revents;
        if (client & (POLLHUP | POLLERR))
            reportPending = false;  // nobody is left to read it
        if (client & POLLOUT)
            sendReport();
        if (client & POLLNVAL)
            endClient();
        else if (client & (POLLIN | POLLHUP | POLLERR))
            take();  // a client that went away still has its bytes taken at the line's pace
        if (fds[1].revents & POLLIN)
            accept();
    }
    if (clientFd >= 0) {
        module.endOfStream();
        ::close(clientFd);
        clientFd = -1;
    }
    for (const Waiting &w : waiting)
        ::close(w.fd);
    waiting.clear();
}

int Simulator::Engine::pollTimeout(Clock::time_point now, bool &wantBytes)
{
    int timeoutMs = -1;
    const auto until = [&](Clock::time_point then) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
        const int wait = int(std::max<qint64>(ms, 0));
        timeoutMs = timeoutMs < 0 ? wait : std::min(timeoutMs, wait);
    };
    if (rewriteEnds)
        until(*rewriteEnds);
    wantBytes = true;
    if (clientFd >= 0 && !options.fast) {
        refill(now);
        // Out of credit: sleep until the line has carried a few more bytes.
        if (credit < 1) {
            wantBytes = false;
            until(now + std::chrono::microseconds(qint64((kPacedChunk - credit) * 1e6 / kBytesPerSecond)));
        }
    }
    return timeoutMs;
}

// A waiting sender that went away without a byte is forgotten; one that left bytes on the
// line keeps its turn.
void Simulator::Engine::watchWaiting(const pollfd *fds)
{
    std::deque<Waiting> still;
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        Waiting w = waiting[i];
        if (fds[i].revents != 0 && !w.gone) {
            int bytes = 0;
            if (::ioctl(w.fd, FIONREAD, &bytes) != 0 || bytes <= 0) {
                ::close(w.fd);
                continue;
            }
            w.gone = true;
        }
        still.push_back(w);
    }
    waiting.swap(still);
}

void Simulator::Engine::accept()
{
    const int fd = ::accept(listenFd, nullptr, nullptr);
    if (fd < 0)
        return;
    setNonBlocking(fd);
    if (clientFd < 0) {
        serve(fd);
    } else if (waiting.size() < kMaxWaiting) {
        // Told at once that the module is not ready for it, as one busy elsewhere would be.
        const char dropped = kCtsDropped;
        if (::send(fd, &dropped, 1, kNoSignal) != 1) {
            // A socket just taken has room for a byte; one whose sender has gone is let go
            // when its turn comes.
        }
        waiting.push_back({fd, false});
    } else {
        // No room in the line of senders: closed before any report, which the sender's port
        // takes as the module being busy.
        ::close(fd);
    }
}

void Simulator::Engine::serve(int fd)
{
    clientFd = fd;
    credit = 0;
    credited = Clock::now();
    sendReport();
}

void Simulator::Engine::take()
{
    const std::size_t budget = options.fast ? buffer.size() : std::min(buffer.size(), std::size_t(credit));
    const ssize_t n = ::recv(clientFd, buffer.data(), budget, MSG_PEEK);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        endClient();
        return;
    }
    module.feed(buffer.data(), n);
    // Taken off the line only now: a sender that waits until its bytes are out finds them
    // acted on (the snapshot written, the line printed).
    if (::recv(clientFd, buffer.data(), std::size_t(n), 0) != n) {
        endClient();
        return;
    }
    if (!options.fast)
        credit -= double(n);
}

void Simulator::Engine::endClient()
{
    module.endOfStream();
    ::close(clientFd);
    clientFd = -1;
    reportPending = false;
    if (!waiting.empty()) {
        const int next = waiting.front().fd;
        waiting.pop_front();
        serve(next);
    }
}

void Simulator::Engine::sendReport()
{
    const char state = cts ? kCtsAsserted : kCtsDropped;
    const ssize_t n = ::send(clientFd, &state, 1, kNoSignal);
    // A client that reads nothing fills its socket: it is told the state once there is room.
    reportPending = n != 1 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

void Simulator::Engine::setCts(bool asserted)
{
    if (cts == asserted)
        return;
    cts = asserted;
    if (clientFd >= 0)
        sendReport();
}

void Simulator::Engine::onEvent(const DisplayModule::Event &event)
{
    using Kind = DisplayModule::Kind;
    QString failed;
    if (event.kind == Kind::Display && !options.snapshotFile.isEmpty())
        failed = replaceFile(options.snapshotFile, snapshotPng(module.screen()));
    if (event.kind == Kind::WritePage && !options.flashFile.isEmpty())
        failed = replaceFile(options.flashFile, module.flashBytes());
    if (!failed.isEmpty())
        trouble(failed);
    if (hooks.line)
        hooks.line(DisplayModule::describe(event));
    if (event.kind == Kind::Display) {
        if (hooks.shown)
            hooks.shown(module.screen());
        // Taking DP starts the rewrite: CTS drops now and rises when the rewrite time has
        // passed. A DP during a rewrite starts it again.
        setCts(false);
        rewriteEnds = Clock::now() + (options.fast ? std::chrono::milliseconds(kFastRewriteMs)
                                                   : std::chrono::milliseconds(1000 * module.rewriteSeconds()));
    }
}

#else  // no Unix sockets

bool Simulator::start(QString &error)
{
    error = QStringLiteral("a simulated module needs Unix sockets, which this system lacks");
    return false;
}

void Simulator::stop() {}

#endif

}  // namespace pw
