#include "core/link/qtserialport.h"
#include "core/link/socketline.h"
#include "core/link/protocol.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace pw {

namespace {
// Where CTS has to be polled, a change is seen within this time.
constexpr int kCtsPollMs = 8;
}  // namespace

namespace {

// The test suite sets PIXELWRIGHT_NO_SERIAL_HARDWARE: no test, not even one run against a
// deliberately broken build, may reach a real serial line (on these machines one leads
// outside). Pseudo-terminals and the simulator's sockets stay open to it.
bool hardwareRefused(const QString &name)
{
    if (!qEnvironmentVariableIsSet("PIXELWRIGHT_NO_SERIAL_HARDWARE"))
        return false;
    const QFileInfo info(name);
    const QString target = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    return !target.startsWith(QLatin1String("/dev/pts/")) && (target.startsWith(QLatin1String("/dev/")) || !name.contains(QLatin1Char('/')));
}

}  // namespace

QtSerialPort::QtSerialPort(QString programDir) : programDir_(std::move(programDir)) {}

QtSerialPort::~QtSerialPort() { stopWatchingCts(); }

void QtSerialPort::setDeviceNameOverride(const QString &deviceName) { override_ = deviceName; }

QString QtSerialPort::deviceName() const
{
    return override_.isEmpty() ? portDeviceName(number_, programDir_) : override_;
}

bool QtSerialPort::isOpen() const { return socket_ || port_.isOpen(); }

void QtSerialPort::close()
{
    stopWatchingCts();
    pending_.clear();
    sent_ = 0;
    socket_.reset();
    if (port_.isOpen())
        port_.close();
}

bool QtSerialPort::setPortNumber(int number)
{
    if (isOpen() || !protocol::kPorts.contains(number))
        return false;
    number_ = number;
    return true;
}

void QtSerialPort::clearTransmitBuffer()
{
    pending_.clear();
    sent_ = 0;
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

bool QtSerialPort::open()
{
    if (isOpen())
        return false;
    failureReason_.clear();
    if (isSocketFile(deviceName())) {
        auto line = std::make_unique<SocketLine>();
        if (!line->open(deviceName())) {
            if (line->busy())
                failureReason_ = QStringLiteral("the simulated module is busy: too many senders already wait their turn");
            return false;
        }
        socket_ = std::move(line);
        return true;
    }
    if (hardwareRefused(deviceName()))
        return false;
    port_.setPortName(deviceName());
    if (!port_.open(QIODevice::ReadWrite))
        return false;
    const bool configured = port_.setBaudRate(QSerialPort::Baud9600) && port_.setDataBits(QSerialPort::Data8)
        && port_.setParity(QSerialPort::NoParity) && port_.setStopBits(QSerialPort::OneStop)
        && port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        port_.close();
        return false;
    }
#ifdef Q_OS_UNIX
    // Writes go straight to the descriptor and must never wait for the device.
    const int fd = int(port_.handle());
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
#endif
    return true;
}

bool QtSerialPort::queue(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    pending_ += bytes;
    qint64 left = 0;
    return handOver(left);
}

qint64 QtSerialPort::writeSome(const char *bytes, qint64 size)
{
    if (socket_)
        return socket_->send(bytes, size);
#ifdef Q_OS_UNIX
    for (;;) {
        const ssize_t n = ::write(int(port_.handle()), bytes, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        return n > 0 ? n : -1;
    }
#else
    Q_UNUSED(bytes);
    Q_UNUSED(size);
    return -1;
#endif
}

bool QtSerialPort::handOver(qint64 &left)
{
    if (!isOpen())
        return false;
#ifdef Q_OS_UNIX
    // The descriptor is non-blocking: the driver takes what fits in its queue and the rest
    // stays here for the next round, so a device that stops taking bytes never holds up the
    // caller. Written bytes leave the program at once, so CTS polling sees the device react.
    while (sent_ < pending_.size()) {
        const qint64 n = writeSome(pending_.constData() + sent_, pending_.size() - sent_);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        sent_ += n;
    }
    if (sent_ == pending_.size()) {
        pending_.clear();
        sent_ = 0;
    }
    left = pending_.size() - sent_;
    return true;
#else
    if (!pending_.isEmpty()) {
        port_.clearError();
        if (port_.write(pending_) != pending_.size())
            return false;
        pending_.clear();
    }
    port_.flush();
    left = port_.bytesToWrite();
    return port_.error() == QSerialPort::NoError;
#endif
}

bool QtSerialPort::writeText(const QByteArray &text) { return queue(text); }

bool QtSerialPort::writeBytes(const QByteArray &bytes) { return queue(bytes); }

bool QtSerialPort::readCts(bool &asserted)
{
    if (socket_)
        return socket_->readCts(asserted);
    if (!port_.isOpen())
        return false;
    // A pseudo-terminal or an unplugged adapter has no modem lines to read: that is an error
    // here, never "not asserted", so that no wait can hang on it.
    port_.clearError();
    const QSerialPort::PinoutSignals signals_ = port_.pinoutSignals();
    if (port_.error() != QSerialPort::NoError)
        return false;
    asserted = signals_.testFlag(QSerialPort::ClearToSendSignal);
    return true;
}

bool QtSerialPort::watchCts(std::function<void()> changed)
{
    stopWatchingCts();
    if (socket_)
        return socket_->watch(std::move(changed));
#ifdef Q_OS_UNIX
    if (!port_.isOpen())
        return false;
    // The thread reads the line through the descriptor alone; QSerialPort stays on this thread.
    const int fd = int(port_.handle());
    auto read = [fd]() -> std::optional<bool> {
        int lines = 0;
        if (::ioctl(fd, TIOCMGET, &lines) != 0)
            return std::nullopt;
        return (lines & TIOCM_CTS) != 0;
    };
    if (!read())
        return false;
    // Most serial drivers can sleep until a modem line changes; a pseudo-terminal cannot.
    auto block = [fd]() -> int {
        if (::ioctl(fd, TIOCMIWAIT, TIOCM_CTS) == 0)
            return 1;
        return errno == EINTR ? 0 : -1;
    };
    watcher_ = std::make_unique<LineWatcher>(read, std::move(changed), kCtsPollMs, block);
    return true;
#else
    Q_UNUSED(changed);
    return false;
#endif
}

void QtSerialPort::stopWatchingCts()
{
    watcher_.reset();
    if (socket_)
        socket_->stopWatching();
}

bool QtSerialPort::transmitCount(qint64 &count)
{
    if (socket_) {
        qint64 queued = 0;
        if (!socket_->queued(queued))
            return false;
        count = (pending_.size() - sent_) + queued;
        return true;
    }
    if (!port_.isOpen())
        return false;
    count = port_.bytesToWrite() + (pending_.size() - sent_);
#ifdef Q_OS_UNIX
    // What the program handed over waits for the line in the driver's output queue.
    int queued = 0;
    if (::ioctl(int(port_.handle()), TIOCOUTQ, &queued) != 0)
        return false;
    count += queued;
#endif
    return true;
}

}  // namespace pw
