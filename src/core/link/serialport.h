#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

namespace pw {

// The one serial port of the program (MSComm1). Every operation reports failure to the
// caller; nothing here shows anything.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Accepted while closed; whether the port exists shows only on open.
    virtual bool setPortNumber(int number) = 0;
    // Discards bytes written but not yet sent; harmless on a closed port.
    virtual void clearTransmitBuffer() = 0;
    // 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control.
    virtual bool open() = 0;
    // Both writes queue the bytes and hand the driver what it takes at once; they never block.
    // The rest goes out through handOver().
    virtual bool writeText(const QByteArray &text) = 0;
    virtual bool writeBytes(const QByteArray &bytes) = 0;
    // Hands queued bytes to the driver as far as it takes them now, without blocking; `left`
    // is what the program still holds. False when the port failed. A port whose writes hand
    // everything over at once keeps this default.
    virtual bool handOver(qint64 &left)
    {
        left = 0;
        return isOpen();
    }
    // False when the line cannot be read (no modem lines, adapter gone).
    virtual bool readCts(bool &asserted) = 0;
    // Calls `changed`, from another thread, whenever CTS may have changed, until
    // stopWatchingCts() or close(). False when this port cannot watch: the caller polls.
    virtual bool watchCts(std::function<void()> changed)
    {
        Q_UNUSED(changed);
        return false;
    }
    virtual void stopWatchingCts() {}
    // Bytes written and still waiting to go out, the program's and the driver's.
    virtual bool transmitCount(qint64 &count) = 0;
    // Why the last open() failed, when the port can say more than that it failed.
    virtual QString failureReason() const { return {}; }
};

// Port number n is COMn on Windows. Elsewhere it is the file COMn in the program's folder
// when one exists (normally a link to a device), otherwise /dev/ttyS<n-1>.
QString portDeviceName(int number, const QString &programDir);

// The opening sequence every port user runs: close if open, set the number from the saved
// text, clear the transmit buffer, open.
bool openPortSequence(SerialPort &port, const QString &portText);

}  // namespace pw
