#pragma once

#include "core/link/linewatcher.h"
#include "core/link/serialport.h"

#include <QSerialPort>
#include <memory>

namespace pw {

class SocketLine;

// The serial seam over QSerialPort. Port numbers map to device names through
// portDeviceName(), given the program's folder. A device name that leads to a Unix socket is
// a simulated display module: the port then speaks to it through a SocketLine instead.
class QtSerialPort final : public SerialPort {
public:
    explicit QtSerialPort(QString programDir);
    ~QtSerialPort() override;
    // For tests and tools that name the device directly.
    void setDeviceNameOverride(const QString &deviceName);

    bool isOpen() const override;
    void close() override;
    bool setPortNumber(int number) override;
    void clearTransmitBuffer() override;
    bool open() override;
    bool writeText(const QByteArray &text) override;
    bool writeBytes(const QByteArray &bytes) override;
    bool handOver(qint64 &left) override;
    bool readCts(bool &asserted) override;
    bool watchCts(std::function<void()> changed) override;
    void stopWatchingCts() override;
    bool transmitCount(qint64 &count) override;
    QString failureReason() const override { return failureReason_; }

    QString deviceName() const;

private:
    bool queue(const QByteArray &bytes);
    // Hands the driver what it takes now: the count, 0 when it is full, -1 on failure.
    qint64 writeSome(const char *bytes, qint64 size);

    QString programDir_;
    QString override_;
    QString failureReason_;
    int number_ = 1;
    QSerialPort port_;
    // Written and not yet taken by the driver; sent from `sent_` on.
    QByteArray pending_;
    qsizetype sent_ = 0;
    std::unique_ptr<LineWatcher> watcher_;
    std::unique_ptr<SocketLine> socket_;
};

}  // namespace pw
