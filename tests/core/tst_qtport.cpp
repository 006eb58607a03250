// The Qt serial backend over a pseudo-terminal the test opens itself (never a real device).
#include "common/testfiles.h"
#include "core/qtserialport.h"
#include "core/monoimage.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <future>
#include <unistd.h>

using namespace pw;
using namespace pw::test;
using Chunks = QList<QByteArray>;

namespace {

// Every byte value, with a CR LF inside: a line end in data must go out as plain data.
QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 256);
    return bytes.replace(100, 2, "\r\n");
}

Chunks imageChunks(const QByteArray &command, const QByteArray &mark, const QByteArray &image)
{
    Chunks chunks{command + "\r\n", mark};
    for (int band = 0; band < 8; ++band)
        chunks << image.mid(band * 128, 128);
    return chunks << "\r\n";
}

}  // namespace

class TstQtPort : public QObject {
    Q_OBJECT
private slots:
    void qtBackendOverPty()
    {
        const Chunks parts = imageChunks("DT5", "TI", pattern(kImageBytes)) << "DP\r\n" << pattern(64 * 1024);
        const QByteArray expected = parts.join();
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QString slavePath = QString::fromLocal8Bit(::ptsname(master));
        const int slave = ::open(qPrintable(slavePath), O_RDWR | O_NOCTTY);   // no hang-up when the port closes
        QByteArray got;   // the device side drains everything for up to 10 s, so large writes never stall
        auto reader = std::async(std::launch::async, [&, deadline = QDeadlineTimer(10000)] {
            char buffer[4096];
            for (pollfd p{master, POLLIN, 0}; got.size() < expected.size() && !deadline.hasExpired(); p.revents = 0)
                got.append(buffer, ::poll(&p, 1, 20) > 0 ? qMax<ssize_t>(::read(master, buffer, sizeof buffer), 0) : 0);
        });
        QVERIFY(slave >= 0);

        QTemporaryDir dir;
        QVERIFY(QFile::link(slavePath, dir.filePath("COM3")) && QFile::link(dir.filePath("gone"), dir.filePath("COM4")));
        QCOMPARE(portDeviceName(3, dir.path()), dir.filePath("COM3"));
        QCOMPARE(portDeviceName(4, dir.path()), dir.filePath("COM4"));   // even with its target gone
        QtSerialPort port(dir.path());
        QVERIFY(port.setPortNumber(4) && !port.open());   // the link leads nowhere
        QVERIFY(openPortSequence(port, QStringLiteral("3")));
        bool cts = true;
        QVERIFY(!port.readCts(cts));   // no modem lines on a pty: an error, never "CTS low"
        for (const QByteArray &part : parts)
            QVERIFY(port.writeBytes(part));
        port.close();   // right after the last write: nothing may be lost
        reader.wait();
        ::close(slave);
        ::close(master);
        QVERIFY(got == expected);
    }
};

QTEST_GUILESS_MAIN(TstQtPort)
#include "tst_qtport.moc"
