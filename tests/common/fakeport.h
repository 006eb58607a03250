#pragma once

#include "core/link/serialport.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <functional>

namespace pw::test {

// A serial port that records every write as one chunk, answers CTS from a device model given
// the bytes written so far, and fails any operation on request.
class FakePort final : public SerialPort {
public:
    enum class Op { SetPortNumber, Open, WriteText, WriteBytes, HandOver, ReadCts, TransmitCount };

    bool isOpen() const override { return open_; }
    void close() override
    {
        changed_ = nullptr;
        log << QStringLiteral("close");
        open_ = false;
    }
    bool setPortNumber(int n) override
    {
        log << QStringLiteral("setPortNumber %1").arg(n);
        if (fails(Op::SetPortNumber) || open_ || n < 1 || n > 16)
            return false;
        portNumber = n;
        return true;
    }
    void clearTransmitBuffer() override { log << QStringLiteral("clear"); }
    bool open() override
    {
        log << QStringLiteral("open");
        if (fails(Op::Open) || open_ || missingPorts.contains(portNumber))
            return false;
        return open_ = true;
    }
    bool writeText(const QByteArray &text) override { return write(Op::WriteText, text); }
    bool writeBytes(const QByteArray &bytes) override { return write(Op::WriteBytes, bytes); }
    bool handOver(qint64 &left) override
    {
        left = stalled ? 1 : 0;  // a stalled device keeps the last write in the program's hands
        return !fails(Op::HandOver) && open_;
    }
    bool readCts(bool &asserted) override
    {
        if (fails(Op::ReadCts) || !open_)
            return false;
        asserted = cts(written(), pollsSinceWrite_++);
        // A watched line tells of the change that the next read will see.
        if (changed_ && cts(written(), pollsSinceWrite_) != asserted)
            changed_();
        return true;
    }
    bool watchCts(std::function<void()> changed) override
    {
        if (watchable)
            changed_ = std::move(changed);
        return watchable;
    }
    void stopWatchingCts() override { changed_ = nullptr; }
    bool watching() const { return bool(changed_); }
    bool transmitCount(qint64 &count) override
    {
        count = 0;  // the fake hands everything over at once
        return !fails(Op::TransmitCount) && open_;
    }

    // The device: CTS from all bytes written so far and the reads since the last write.
    std::function<bool(const QByteArray &written, int pollsSinceWrite)> cts = [](const QByteArray &w, int polls) {
        return !w.endsWith("DP\r\n") || polls >= 1;  // drops CTS on the display command, then raises it
    };
    // Fail the n-th call (1-based) of an operation.
    void failAt(Op op, int nth) { failures_[op] = nth; }
    void failNext(Op op) { failures_[op] = calls_.value(op) + 1; }
    QSet<int> missingPorts;  // open fails for these numbers
    bool stalled = false;    // the device has stopped taking bytes
    bool watchable = false;  // the port says when CTS changes
    std::function<void()> onWrite;  // what the program looks like while a write goes out

    QList<QByteArray> chunks;  // every write, in order
    QByteArray written() const { return chunks.isEmpty() ? QByteArray() : chunks.join(); }
    QStringList log;
    int portNumber = 0;

private:
    bool fails(Op op) { return failures_.value(op, 0) == ++calls_[op]; }
    bool write(Op op, const QByteArray &bytes)
    {
        log << QStringLiteral("write");
        if (fails(op) || !open_)
            return false;
        if (onWrite)
            onWrite();
        chunks << bytes;
        pollsSinceWrite_ = 0;
        return true;
    }

    bool open_ = false;
    int pollsSinceWrite_ = 0;
    std::function<void()> changed_;
    QHash<Op, int> failures_;
    QHash<Op, int> calls_;
};

}  // namespace pw::test
