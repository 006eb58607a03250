#include "common/fakeport.h"

namespace pw::test {

bool FakePort::fails(Op op)
{
    const int n = ++calls_[op];
    return failures_.value(op, 0) == n;
}

bool FakePort::isOpen() const { return open_; }

void FakePort::close()
{
    log << QStringLiteral("close");
    open_ = false;
}

bool FakePort::setPortNumber(int number)
{
    log << QStringLiteral("setPortNumber %1").arg(number);
    if (fails(Op::SetPortNumber) || open_ || number < 1 || number > 16)
        return false;
    portNumber = number;
    return true;
}

void FakePort::clearTransmitBuffer()
{
    log << QStringLiteral("clear");
    fails(Op::Clear);
}

bool FakePort::open()
{
    log << QStringLiteral("open");
    if (fails(Op::Open) || open_ || missingPorts.contains(portNumber))
        return false;
    open_ = true;
    return true;
}

bool FakePort::writeText(const QByteArray &text)
{
    log << QStringLiteral("writeText");
    if (fails(Op::WriteText) || !open_)
        return false;
    chunks << text;
    pollsSinceWrite_ = 0;
    return true;
}

bool FakePort::writeBytes(const QByteArray &bytes)
{
    log << QStringLiteral("writeBytes");
    if (fails(Op::WriteBytes) || !open_)
        return false;
    chunks << bytes;
    pollsSinceWrite_ = 0;
    return true;
}

bool FakePort::readCts(bool &asserted)
{
    ++ctsReads;
    if (fails(Op::ReadCts) || !open_)
        return false;
    asserted = cts(written(), pollsSinceWrite_++);
    return true;
}

bool FakePort::transmitCount(qint64 &count)
{
    if (fails(Op::TransmitCount) || !open_)
        return false;
    count = pending();
    return true;
}

QByteArray FakePort::written() const
{
    QByteArray all;
    for (const QByteArray &c : chunks)
        all += c;
    return all;
}

}  // namespace pw::test
