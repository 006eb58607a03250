#include "core/qtserialport.h"

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace pw {

namespace {
constexpr int kWriteStallMs = 5000;
}  // namespace

QtSerialPort::QtSerialPort(QString programDir) : programDir_(std::move(programDir)) {}

void QtSerialPort::setDeviceNameOverride(const QString &deviceName) { override_ = deviceName; }

QString QtSerialPort::deviceName() const
{
    return override_.isEmpty() ? portDeviceName(number_, programDir_) : override_;
}

bool QtSerialPort::isOpen() const { return port_.isOpen(); }

void QtSerialPort::close()
{
    if (port_.isOpen())
        port_.close();
}

bool QtSerialPort::setPortNumber(int number)
{
    if (port_.isOpen() || number < 1 || number > 16)
        return false;
    number_ = number;
    return true;
}

void QtSerialPort::clearTransmitBuffer()
{
    if (port_.isOpen())
        port_.clear(QSerialPort::Output);
}

bool QtSerialPort::open()
{
    if (port_.isOpen())
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
    return true;
}

bool QtSerialPort::writeAll(const QByteArray &bytes)
{
    if (!port_.isOpen())
        return false;
    port_.clearError();
    if (port_.write(bytes) != bytes.size())
        return false;
    // QSerialPort only queues; hand everything to the driver now so that CTS polling sees the
    // device react and a close cannot drop what was written. Each round moves at least one
    // byte into the driver's queue; with no flow control the line drains that queue at 960
    // bytes a second, so a round that moves nothing for five seconds means a dead port.
    while (port_.bytesToWrite() > 0) {
        if (!port_.waitForBytesWritten(kWriteStallMs))
            return false;
    }
    return port_.error() == QSerialPort::NoError;
}

bool QtSerialPort::writeText(const QByteArray &text) { return writeAll(text); }

bool QtSerialPort::writeBytes(const QByteArray &bytes) { return writeAll(bytes); }

bool QtSerialPort::readCts(bool &asserted)
{
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

bool QtSerialPort::transmitCount(qint64 &count)
{
    if (!port_.isOpen())
        return false;
    count = port_.bytesToWrite();
#ifdef Q_OS_UNIX
    // Written bytes leave QSerialPort at once (writeAll); what still waits for the line sits
    // in the driver's output queue.
    int queued = 0;
    if (::ioctl(int(port_.handle()), TIOCOUTQ, &queued) != 0)
        return false;
    count += queued;
#endif
    return true;
}

}  // namespace pw
