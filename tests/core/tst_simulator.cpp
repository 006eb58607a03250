// The simulated display module: its command stream as tables, its files, and the Qt port
// speaking to it over its socket (in this process, in a temporary folder).
#include "common/simulated.h"
#include "common/testfiles.h"
#include "core/displaymodule.h"
#include "core/qtserialport.h"
#include "core/socketline.h"
#include "core/transfer.h"

#include <QtTest>

using namespace pw;
using namespace pw::test;

namespace {

const QByteArray imageA = bytePattern(kImageBytes);  // a CR LF at byte 100: data, not a line end
const QByteArray imageB = QByteArray(kImageBytes, '\x5a');
const QByteArray black(kImageBytes, '\0');

QByteArray flashWith(int page, const QByteArray &image)
{
    QByteArray flash(DisplayModule::kPages * kImageBytes, '\0');
    return page < 0 ? flash : flash.replace(page * kImageBytes, kImageBytes, image);
}

struct Outcome {
    QStringList lines;
    QByteArray screen, flash;
    qsizetype mostPending = 0;
    bool operator==(const Outcome &o) const { return lines == o.lines && screen == o.screen && flash == o.flash; }
};

// Feeds the stream cut at `cuts` (ascending), then ends it.
Outcome feedInPieces(const QByteArray &stream, QList<qsizetype> cuts)
{
    Outcome out;
    DisplayModule module([&out](const DisplayModule::Event &e) { out.lines << DisplayModule::describe(e); });
    qsizetype at = 0;
    for (const qsizetype cut : cuts << stream.size()) {
        module.feed(stream.constData() + at, cut - at);
        at = cut;
        out.mostPending = qMax(out.mostPending, module.pendingBytes());
    }
    module.endOfStream();
    out.screen = imageBytes(module.screen());
    out.flash = module.flashBytes();
    return out;
}

struct SleepWaiter final : Waiter {
    bool pause() override
    {
        QThread::msleep(2);
        return true;
    }
};

}  // namespace

class TstSimulator : public QObject {
    Q_OBJECT
private slots:
    void commandStream_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("screen");
        QTest::addColumn<QByteArray>("flash");
        const QByteArray A = imageA, B = imageB;
        const QString tooLong = "dropped: a line longer than 65536 bytes";
        QTest::newRow("VRAM transfer") << "DT5\r\nTI" + A + "\r\nDP\r\n" << QStringList{"DT 5", "TI 1024 bytes", "DP"} << A << flashWith(-1, {});
        QTest::newRow("FLASH page, then TF and DP")
            << "FS12\r\nTS" + A + "\r\nTF12\r\nDP\r\n" << QStringList{"FS 12", "TS 1024 bytes", "TF 12", "DP"} << A << flashWith(12, A);
        QTest::newRow("TS before FS goes to page 0; TI alone shows nothing")
            << "TS" + A + "\r\nTI" + B + "\n" << QStringList{"TS 1024 bytes", "TI 1024 bytes"} << black << flashWith(0, A);
        QTest::newRow("arguments outside the device's ranges")
            << QByteArray("DT0\r\nDT6\r\nDT05\r\nFS13\r\nFS\r\nTF123\r\nTFx\r\ndp\r\nDP \r\n")
            << QStringList{"unknown: DT0", "unknown: DT6", "DT 5", "unknown: FS13", "unknown: FS", "unknown: TF123", "unknown: TFx", "unknown: dp", "unknown: DP "}
            << black << flashWith(-1, {});
        QTest::newRow("unknown lines escaped, a bare LF ends a line")
            << QByteArray("\x01\xff\\\tA\rB\r\n\r\nDP\n", 14) << QStringList{"unknown: \\x01\\xff\\\\\\tA\\rB", "unknown: ", "DP"} << black << flashWith(-1, {});
        QTest::newRow("data not ended by CR LF is dropped")
            << "TI" + A + "XY\r\nDP\r\nTS" + A + "\r\r\nDP\r\n"
            << QStringList{"TI dropped: its 1024 bytes are not followed by CR LF", "DP", "TS dropped: its 1024 bytes are not followed by CR LF", "DP"}
            << black << flashWith(-1, {});
        QTest::newRow("stream ends in the data") << "TI" + A.left(100) << QStringList{"TI cut short after 100 of 1024 bytes"} << black << flashWith(-1, {});
        QTest::newRow("stream ends before the data's CR LF")
            << "FS3\r\nTS" + A + "\r" << QStringList{"FS 3", "TS cut short before its CR LF"} << black << flashWith(-1, {});
        QTest::newRow("stream ends in a line") << QByteArray("DP\r\nDT3") << QStringList{"DP", "cut off: DT3"} << black << flashWith(-1, {});
        QTest::newRow("longest line") << QByteArray(DisplayModule::kMaxLine, 'A') + "\r\n"
                                      << QStringList{"unknown: " + QString(64, 'A') + "... (65536 bytes)"} << black << flashWith(-1, {});
        QTest::newRow("a line past the bound") << QByteArray(DisplayModule::kMaxLine + 1, 'A') + "\r\nDP\r\n" << QStringList{tooLong, "DP"} << black << flashWith(-1, {});
        QTest::newRow("a megabyte without a line end")
            << QByteArray(1 << 20, '\0') + "\nTI" + B + "\r\nDP\r\n" << QStringList{tooLong, "TI 1024 bytes", "DP"} << B << flashWith(-1, {});
    }

    // Fed whole, a byte at a time, or cut anywhere: the same commands, the same memories, and
    // never more than a line's bound held.
    void commandStream()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, screen);
        QFETCH(QByteArray, flash);
        const Outcome whole = feedInPieces(stream, {});
        QCOMPARE(whole.lines, lines);
        QVERIFY(whole.screen == screen && whole.flash == flash);

        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < stream.size(); ++i)
            everyByte << i;
        const Outcome byByte = feedInPieces(stream, everyByte);
        QVERIFY(byByte == whole);
        QVERIFY(byByte.mostPending <= DisplayModule::kMaxLine + 1);

        QList<qsizetype> cuts = stream.size() <= 2100 ? everyByte : QList<qsizetype>{1, 2, 3, 1023, 1024, 1025, 1026, 65535, 65536, 65537, 65538};
        for (const qsizetype cut : cuts)
            if (cut < stream.size() && !(feedInPieces(stream, {cut}) == whole))
                QFAIL(qPrintable(QString("cut at %1 differs").arg(cut)));
    }

    // A socket left behind is replaced; the FLASH pages survive a restart, the last one
    // too; a short flash file gives blank pages past its end. (What else is refused: tst_simulate's linkRules.)
    void moduleFiles()
    {
        InProcessModule module;
        QVERIFY(leaveStaleSocket(module.options.socketPath) && socketPresence(module.options.socketPath) == SocketPresence::Stale);
        QVERIFY(writeFile(module.options.flashFile, imageA + imageB.left(500)));
        QVERIFY(module.start());
        QCOMPARE(module.screen(), black);   // the power-up screen
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        QVERIFY(port.open() && port.writeBytes("TF0\r\nDP\r\n"));
        QTRY_COMPARE(module.screen(), imageA);
        QVERIFY(port.writeBytes("TF1\r\nDP\r\nFS12\r\nTS" + imageB + "\r\n"));
        QTRY_COMPARE(module.lines().size(), 6);
        QCOMPARE(module.screen(), black);
        QCOMPARE(readFile(module.options.flashFile), flashWith(0, imageA).replace(12 * kImageBytes, kImageBytes, imageB));
        port.close();
        module.stop();

        QVERIFY(module.start());
        QVERIFY(port.open() && port.writeBytes("TF12\r\nDP\r\n"));
        QTRY_COMPARE(module.screen(), imageB);
    }

    // The port finds the module through a link in the program's folder; CTS reports come in
    // order however short the pulse; what a client leaves cut off is reported and the next
    // client is served.
    void portOverModule()
    {
        InProcessModule module;
        QVERIFY(module.start());
        QTemporaryDir folder;
        QVERIFY(QFile::link(module.options.socketPath, folder.filePath("COM3")));
        QtSerialPort port(folder.path());
        QVERIFY(openPortSequence(port, "3"));
        bool cts = false;
        QVERIFY(port.readCts(cts) && cts);
        std::atomic<int> wakes{0};
        QVERIFY(port.watchCts([&wakes] { ++wakes; }));
        QVERIFY(port.writeText("DT2\r\nDP\r\n"));
        QTRY_VERIFY(wakes >= 2);   // the drop, and 50 ms later the rise
        port.stopWatchingCts();
        QList<bool> reads;   // read late, the pulse is still there
        for (int i = 0; i < 3; ++i)
            reads << (port.readCts(cts) && cts);
        QCOMPARE(reads, (QList<bool>{false, true, true}));
        qint64 count = -1;
        QTRY_VERIFY(port.transmitCount(count) && count == 0);
        port.close();

        QVERIFY(openPortSequence(port, "3") && port.writeBytes(QByteArray("\0junk\r\nTI", 9) + imageA.left(10)));
        QTRY_VERIFY(port.transmitCount(count) && count == 0);
        port.close();
        QVERIFY(openPortSequence(port, "3") && port.writeText("DP\r\n"));
        QTRY_COMPARE(module.lines(), (QStringList{"DT 2", "DP", "unknown: \\x00junk", "TI cut short after 10 of 1024 bytes", "DP"}));
        port.close();
    }

    // Bytes go at the line's pace without ever holding up the writer; closing drops what the
    // program still held, and the module takes at once what had been handed over.
    void pacedLine()
    {
        InProcessModule module(false);
        QVERIFY(module.start());
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        QVERIFY(port.open());
        const QByteArray halfSecond = QByteArray("FS1\r\n").repeated(96);
        QElapsedTimer clock;
        clock.start();
        SleepWaiter waiter;
        QVERIFY(port.writeBytes(halfSecond));
        QCOMPARE(waitHandedOver(port, waiter), Waiter::End::Reached);
        QCOMPARE(waitTransmitted(port, waiter, halfSecond.size()), Waiter::End::Reached);
        QVERIFY2(clock.elapsed() >= 450 && clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(module.lines().size(), 96);

        clock.restart();
        QVERIFY(port.writeBytes(QByteArray("FS2\r\n").repeated(2000)));   // ten seconds of line
        qint64 left = 0, queued = 0;
        QVERIFY(port.handOver(left) && left > 0 && port.transmitCount(queued) && queued > left);
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QThread::msleep(200);
        port.close();
        // The next client is served once the last one's bytes are taken and its end reported.
        QVERIFY(port.open() && port.writeText("DP\r\n"));
        QTRY_COMPARE(module.lines().last(), QString("DP"));
        const QStringList lines = module.lines();
        const QString end = lines.at(lines.size() - 2);
        QVERIFY2(end.startsWith("cut off: F") || end == "FS 2", qPrintable(end));
        QVERIFY2(lines.size() - 98 > 30 && lines.size() - 98 < 2000, qPrintable(QString::number(lines.size())));
    }

    // A module that goes away fails the port's reads and writes, as an unplugged adapter does.
    void moduleGoesAway()
    {
        InProcessModule module;
        QVERIFY(module.start());
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        bool cts = false;
        QVERIFY(port.open() && port.readCts(cts) && cts);
        module.stop();
        QTRY_VERIFY(!port.readCts(cts));
        qint64 left = 0;
        QVERIFY(!port.writeText("DP\r\n") || !port.handOver(left));
        port.close();
        QVERIFY(!port.open());
    }
};

QTEST_GUILESS_MAIN(TstSimulator)
#include "tst_simulator.moc"
