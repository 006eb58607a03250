#pragma once

#include "link/serialport.h"

#include <QList>
#include <QSet>
#include <QString>
#include <functional>

namespace pw::test {

// A serial port that records every write as one chunk, answers CTS from a device model given
// the bytes written so far, and fails any operation on request.
class FakePort final : public SerialPort {
public:
    enum class Op { IsOpen, Close, SetPortNumber, Clear, Open, WriteText, WriteBytes, ReadCts, TransmitCount };

    bool isOpen() const override;
    void close() override;
    bool setPortNumber(int number) override;
    void clearTransmitBuffer() override;
    bool open() override;
    bool writeText(const QByteArray &text) override;
    bool writeBytes(const QByteArray &bytes) override;
    bool readCts(bool &asserted) override;
    bool transmitCount(qint64 &count) override;

    // The device: CTS as a function of all bytes written since the port was opened and of
    // how many times CTS has been read since the last write.
    std::function<bool(const QByteArray &written, int pollsSinceWrite)> cts = [](const QByteArray &, int) {
        return true;
    };
    // Bytes reported as still queued.
    std::function<qint64()> pending = [] { return qint64(0); };

    // Fail the n-th call (1-based) of an operation; 0 keeps it working.
    void failAt(Op op, int nth) { failures_[op] = nth; }
    // Ports that do not exist: open fails for these numbers.
    QSet<int> missingPorts;

    QList<QByteArray> chunks;      // every write, in order
    QByteArray written() const;    // all chunks joined
    QStringList log;               // operations in order: "close", "setPortNumber 3", "open", ...
    int portNumber = 0;
    int ctsReads = 0;

private:
    bool fails(Op op);

    bool open_ = false;
    int pollsSinceWrite_ = 0;
    QHash<Op, int> failures_;
    QHash<Op, int> calls_;
};

}  // namespace pw::test
