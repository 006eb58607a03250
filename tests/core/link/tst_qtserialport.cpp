// The Qt serial backend over a pseudo-terminal the test opens itself (never a real device).
#include "common/testfiles.h"
#include "core/link/linewatcher.h"
#include "core/image/monoimage.h"
#include "core/link/qtserialport.h"
#include "core/link/transfer.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <future>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace pw;
using namespace pw::test;
using Chunks = QList<QByteArray>;

namespace {
// A pty has no modem lines; a test that needs a port whose CTS can be read and watched
// gives it some: 1, a driver that can only be asked (the line is polled); 2, one that can
// also sleep until the line changes.
std::atomic<int> modemDriver{0};
std::atomic<bool> ctsHigh{false};
}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) __THROW
{
    va_list args;
    va_start(args, request);
    void *argument = va_arg(args, void *);
    va_end(args);
    if (modemDriver && (request == TIOCMGET || request == TIOCMIWAIT)) {
        if (::fcntl(fd, F_GETFD) < 0)
            return -1;   // a closed descriptor: EBADF, as the driver would give
        if (request == TIOCMGET) {
            *static_cast<int *>(argument) = ctsHigh ? TIOCM_CTS : 0;
            return 0;
        }
        if (modemDriver == 1) {
            errno = EINVAL;
            return -1;
        }
        for (const bool seen = ctsHigh; ctsHigh == seen;)
            if (::usleep(1000) != 0 || ::fcntl(fd, F_GETFD) < 0)
                return -1;   // EINTR when a signal ends the sleep
        return 0;
    }
    static const auto real = reinterpret_cast<int (*)(int, unsigned long, ...)>(dlsym(RTLD_NEXT, "ioctl"));
    return real(fd, request, argument);
}

namespace {

// A pseudo-terminal standing in for the device; the slave stays open so a close of the port
// never hangs the line up.
struct Pty {
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
            path = QString::fromLocal8Bit(::ptsname(master));
            slave = ::open(qPrintable(path), O_RDWR | O_NOCTTY);
        }
    }
    ~Pty()
    {
        ::close(slave);
        ::close(master);
    }
    int master = -1, slave = -1;
    QString path;
};

// Sleeps between polls; stops when `stopAfterMs` has passed since the wait began.
struct SleepWaiter final : Waiter {
    qint64 stopAfterMs = 0;
    QElapsedTimer clock;
    void begin() override { clock.start(); }
    bool pause() override
    {
        QThread::msleep(2);
        return stopAfterMs <= 0 || clock.elapsed() < stopAfterMs;
    }
};

}  // namespace

class TstQtSerialPort : public QObject {
    Q_OBJECT
private slots:
    void qtBackendOverPty()
    {
        const Chunks parts = imageChunks("DT5", "TI", bytePattern(kImageBytes)) << "DP\r\n" << bytePattern(64 * 1024);
        const QByteArray expected = parts.join();
        Pty pty;
        const int master = pty.master;
        const QString slavePath = pty.path;
        QByteArray got;   // the device side drains everything for up to 10 s, so large writes never stall
        auto reader = std::async(std::launch::async, [&, deadline = QDeadlineTimer(10000)] {
            char buffer[4096];
            for (pollfd p{master, POLLIN, 0}; got.size() < expected.size() && !deadline.hasExpired(); p.revents = 0)
                got.append(buffer, ::poll(&p, 1, 20) > 0 ? qMax<ssize_t>(::read(master, buffer, sizeof buffer), 0) : 0);
        });
        QVERIFY(pty.slave >= 0);

        QTemporaryDir dir;
        QVERIFY(QFile::link(slavePath, dir.filePath("COM3")) && QFile::link(dir.filePath("gone"), dir.filePath("COM4")));
        QCOMPARE(portDeviceName(3, dir.path()), dir.filePath("COM3"));
        QCOMPARE(portDeviceName(4, dir.path()), dir.filePath("COM4"));   // even with its target gone
        QtSerialPort port(dir.path());
        for (const int outside : {0, 17})   // the window's ports are 1 to 16, closed or not
            QVERIFY(!port.setPortNumber(outside));
        QVERIFY(port.setPortNumber(4) && !port.open());   // the link leads nowhere
        QVERIFY(openPortSequence(port, QStringLiteral("3")));
        bool cts = true;
        QVERIFY(!port.readCts(cts));   // no modem lines on a pty: an error, never "CTS low"
        SleepWaiter waiter;
        for (const QByteArray &part : parts)
            QVERIFY(port.writeBytes(part) && waitHandedOver(port, waiter) == Waiter::End::Reached);
        port.close();   // right after the last hand-over: nothing may be lost
        reader.wait();
        QVERIFY(got == expected);
    }

    // A device that goes away (an adapter pulled out; here the pty's other side closed) fails
    // the next write at once, instead of looking like a line that has stopped taking bytes.
    void deviceGoneFailsTheWrite()
    {
        Pty pty;
        QVERIFY(pty.slave >= 0);
        QTemporaryDir dir;
        QVERIFY(QFile::link(pty.path, dir.filePath("COM3")));
        QtSerialPort port(dir.path());
        QVERIFY(openPortSequence(port, QStringLiteral("3")));
        ::close(pty.master);
        pty.master = -1;
        SleepWaiter waiter;
        QElapsedTimer clock;
        clock.start();
        const bool written = port.writeBytes(QByteArray(100, 'x'));
        QVERIFY(!written || waitHandedOver(port, waiter) == Waiter::End::Failed);
        QVERIFY2(clock.elapsed() < kWriteStallMs, qPrintable(QString::number(clock.elapsed())));
        port.close();
    }

    // The watcher tells of each change of the line, and once of a line that can no longer be
    // read; it never calls for a line that stays as it is. Where the driver can sleep until
    // the line changes it does, and a stop ends that sleep; where it cannot, the watcher polls.
    void lineWatcher_data()
    {
        QTest::addColumn<int>("driver");   // 0 none, 1 sleeps until a change, -1 says it cannot
        QTest::newRow("polled") << 0;
        QTest::newRow("driver sleeps") << 1;
        QTest::newRow("driver cannot sleep") << -1;
    }
    void lineWatcher()
    {
        QFETCH(int, driver);
        std::atomic<int> line{0};   // 0 low, 1 high, -1 unreadable
        std::atomic<int> calls{0}, sleeps{0};
        const auto waitCalls = [&](int n) {
            QDeadlineTimer deadline(2000);
            while (calls < n && !deadline.hasExpired())
                QThread::msleep(1);
            return calls == n;
        };
        LineWatcher::Block block;
        if (driver != 0)
            block = [&, driver]() -> int {
                if (driver < 0)
                    return -1;
                ++sleeps;
                for (const int seen = line;;) {   // as TIOCMIWAIT: back on a change or a signal
                    if (line != seen)
                        return 1;
                    if (::usleep(2000) != 0)
                        return 0;
                }
            };
        QElapsedTimer clock;
        {
            LineWatcher watcher([&]() -> std::optional<bool> { return line < 0 ? std::nullopt : std::optional<bool>(line == 1); },
                                [&] { ++calls; }, driver > 0 ? 60000 : 2, block);
            QThread::msleep(30);
            QCOMPARE(int(calls), 0);
            line = 1;
            QVERIFY(waitCalls(1));
            line = 0;
            QVERIFY(waitCalls(2));
            if (driver == 0) {
                line = -1;
                QVERIFY(waitCalls(3));
                line = 1;   // after a failure the watcher has stopped
                QThread::msleep(30);
                QCOMPARE(int(calls), 3);
            }
            clock.start();
        }
        QVERIFY(clock.elapsed() < 500);   // stopping waits out neither the period nor the driver
        QCOMPARE(int(sleeps) > 0, driver > 0);
        if (driver < 0) {   // polled once a minute, and stopped in its first wait
            {
                LineWatcher slow([] { return std::optional<bool>(false); }, [] {}, 60000, block);
                QThread::msleep(30);
                clock.restart();
            }
            QVERIFY(clock.elapsed() < 500);
        }
    }

    // CTS watched on a serial port: its change is told, and closing the port ends the watch,
    // so nothing is told after it (the waiter it would call may be gone) and the closed
    // descriptor is never read again.
    void closeEndsTheWatch_data()
    {
        QTest::addColumn<int>("driver");
        QTest::newRow("polled") << 1;
        QTest::newRow("driver sleeps") << 2;
    }
    void closeEndsTheWatch()
    {
        QFETCH(int, driver);
        std::atomic<int> calls{0};
        Pty pty;
        QtSerialPort port(QString{});
        port.setDeviceNameOverride(pty.path);
        QVERIFY(pty.slave >= 0 && port.open());
        modemDriver = driver, ctsHigh = false;
        const auto restore = qScopeGuard([&] { port.close(), modemDriver = 0; });
        bool cts = true;
        QVERIFY(port.readCts(cts) && !cts);
        QVERIFY(port.watchCts([&] { ++calls; }));
        QThread::msleep(30);
        QCOMPARE(int(calls), 0);
        ctsHigh = true;
        for (QDeadlineTimer deadline(2000); calls == 0 && !deadline.hasExpired();)
            QThread::msleep(1);
        QCOMPARE(int(calls), 1);
        port.close();
        QThread::msleep(50);   // several of the watcher's polls
        QCOMPARE(int(calls), 1);
    }

    // A device that stops taking bytes: no write blocks, a stop comes at once, and a port that
    // takes nothing for the stall time is given up and closed.
    void stalledDevice()
    {
        Pty pty;   // nobody reads the master: the line fills up and stays full
        QtSerialPort port(QString{});
        port.setDeviceNameOverride(pty.path);
        QVERIFY(pty.slave >= 0 && port.open());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.writeBytes(bytePattern(64 * 1024)));
        qint64 left = 0, queued = 0;
        QVERIFY(port.handOver(left) && left > 0 && port.transmitCount(queued) && queued >= left);
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));

        SleepWaiter stopper;
        stopper.stopAfterMs = 200;
        clock.restart();
        QCOMPARE(waitHandedOver(port, stopper), Waiter::End::Cancelled);
        QVERIFY(clock.elapsed() < 1000 && port.isOpen());

        SleepWaiter patient;
        clock.restart();
        QCOMPARE(waitHandedOver(port, patient), Waiter::End::TimedOut);
        QVERIFY(clock.elapsed() >= kWriteStallMs && !port.isOpen());
    }
};

QTEST_GUILESS_MAIN(TstQtSerialPort)
#include "tst_qtserialport.moc"
