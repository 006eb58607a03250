#include "core/link/socketline.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#endif
#endif

namespace pw {

#ifdef Q_OS_UNIX

namespace {

// Reports nobody reads are bounded: the oldest go first.
constexpr std::size_t kMaxReports = 64;
// How long opening waits for the module to tell its state.
constexpr int kFirstReportMs = 250;

#ifdef MSG_NOSIGNAL
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;
#endif

// A socket address for the path. A path too long for one is tried in its canonical form,
// which is short when the path is a link to a socket elsewhere.
bool socketAddress(const QString &path, sockaddr_un &out)
{
    QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof out.sun_path))
        name = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    if (name.isEmpty() || name.size() >= qsizetype(sizeof out.sun_path))
        return false;
    std::memset(&out, 0, sizeof out);
    out.sun_family = AF_UNIX;
    std::memcpy(out.sun_path, name.constData(), std::size_t(name.size()));
    return true;
}

// A connected, non-blocking socket, or minus the error.
int connectTo(const QString &path)
{
    sockaddr_un address;
    if (!socketAddress(path, address))
        return -ENAMETOOLONG;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return -errno;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // The system raises this to its smallest buffer: some 4 KiB of the line.
    const int smallest = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &smallest, sizeof smallest);
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
    // Non-blocking before connecting: a module whose queue of waiting senders is full
    // refuses at once instead of holding the caller.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

}  // namespace

SocketPresence socketPresence(const QString &path)
{
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT ? SocketPresence::None : SocketPresence::Other;
    if (!S_ISSOCK(status.st_mode))
        return SocketPresence::Other;
    const int fd = connectTo(path);
    if (fd >= 0) {
        ::close(fd);
        return SocketPresence::Live;
    }
    if (fd == -ECONNREFUSED)
        return SocketPresence::Stale;
    return fd == -EAGAIN ? SocketPresence::Live : SocketPresence::Other;
}

bool isSocketFile(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISSOCK(status.st_mode);
}

SocketLine::~SocketLine()
{
    stopWatching();
    if (fd_ >= 0)
        ::close(fd_);
}

bool SocketLine::open(const QString &path)
{
    if (fd_ >= 0)
        return false;
    const int fd = connectTo(path);
    busy_ = fd == -EAGAIN;
    if (fd < 0)
        return false;
    const std::lock_guard<std::mutex> lock(mutex_);
    fd_ = fd;
    reports_.clear();
    asserted_ = false;
    gone_ = false;
    // A module that is free answers at once; one busy with another sender is not waited for.
    pollfd first{fd_, POLLIN, 0};
    if (::poll(&first, 1, kFirstReportMs) > 0)
        takeReports();
    // Closed before any report: the module has no room for another waiting sender.
    if (gone_ && reports_.empty()) {
        ::close(fd_);
        fd_ = -1;
        busy_ = true;
        return false;
    }
    return true;
}

qint64 SocketLine::send(const char *bytes, qint64 size)
{
    for (;;) {
        const ssize_t n = ::send(fd_, bytes, std::size_t(size), kNoSignal);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

// Moves what has arrived into the queue; with the mutex held.
void SocketLine::takeReports()
{
    char buffer[64];
    while (!gone_) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            gone_ = true;
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buffer[i] != '0' && buffer[i] != '1')
                continue;
            if (reports_.size() == kMaxReports)
                reports_.pop_front();
            reports_.push_back(buffer[i] == '1');
        }
    }
}

bool SocketLine::readCts(bool &asserted)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0)
        return false;
    takeReports();
    if (!reports_.empty()) {
        asserted_ = reports_.front();
        reports_.pop_front();
    } else if (gone_) {
        return false;
    }
    asserted = asserted_;
    return true;
}

bool SocketLine::watch(std::function<void()> changed)
{
    stopWatching();
    if (fd_ < 0 || ::pipe(wakePipe_) != 0)
        return false;
    watcher_ = std::thread([this, changed = std::move(changed)] {
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents != 0)
                break;
            bool news = false, gone = false;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                const std::size_t before = reports_.size();
                takeReports();
                news = reports_.size() != before || reports_.size() == kMaxReports;
                gone = gone_;
            }
            if (news || gone)
                changed();
            if (gone)
                break;
        }
    });
    return true;
}

void SocketLine::stopWatching()
{
    if (watcher_.joinable()) {
        const char stop = 0;
        // A pipe with room for one byte cannot refuse it (else the join below would hang).
        [[maybe_unused]] const ssize_t told = ::write(wakePipe_[1], &stop, 1);
        watcher_.join();
    }
    for (int &fd : wakePipe_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool SocketLine::queued(qint64 &count) const
{
    count = 0;
    if (fd_ < 0)
        return false;
#if defined(Q_OS_LINUX) && defined(SIOCOUTQ)
    int bytes = 0;
    if (::ioctl(fd_, SIOCOUTQ, &bytes) != 0)
        return false;
    count = bytes;
#endif
    return true;
}

#else  // no Unix sockets: nothing is ever a simulated module

SocketPresence socketPresence(const QString &path)
{
    return QFileInfo::exists(path) ? SocketPresence::Other : SocketPresence::None;
}
bool isSocketFile(const QString &) { return false; }
SocketLine::~SocketLine() = default;
bool SocketLine::open(const QString &) { return false; }
qint64 SocketLine::send(const char *, qint64) { return -1; }
void SocketLine::takeReports() {}
bool SocketLine::readCts(bool &) { return false; }
bool SocketLine::watch(std::function<void()>) { return false; }
void SocketLine::stopWatching() {}
bool SocketLine::queued(qint64 &count) const
{
    count = 0;
    return false;
}

#endif

}  // namespace pw
