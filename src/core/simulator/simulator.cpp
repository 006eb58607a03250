#include "core/simulator/simulatorengine.h"

#include "core/storage/outputfile.h"
#include "core/link/socketline.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QStringList>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace pw {

namespace {

constexpr qsizetype kFlashBytes = qsizetype(DisplayModule::kPages) * kImageBytes;

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

}  // namespace

QString Simulator::Engine::replaceFile(const QString &path, const QByteArray &bytes)
{
    const WriteResult result = writeOutputFile(path, bytes);
    return result.ok() ? QString() : path + QStringLiteral(": ") + writeErrorText(result);
}

QByteArray Simulator::Engine::snapshotPng(const MonoImage &screen)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // Grey, 0 and 255: every reader sees the same two values, with no palette to look up.
    QImageWriter(&buffer, "png").write(renderMonoImage(screen).convertToFormat(QImage::Format_Grayscale8));
    return bytes;
}

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

void Simulator::Engine::setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#ifdef SO_NOSIGPIPE
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
}

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
        // An empty pipe always takes one byte.
        [[maybe_unused]] const ssize_t told = ::write(e.wakePipe[1], &stop, 1);
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


#else  // no Unix sockets

bool Simulator::start(QString &error)
{
    error = QStringLiteral("a simulated module needs Unix sockets, which this system lacks");
    return false;
}

void Simulator::stop() {}

#endif

}  // namespace pw
