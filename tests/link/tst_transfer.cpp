// The image transfers without a window: byte streams, CTS waits, status order, failures.
#include "linksupport.h"
#include "tst_link.h"

#include <QtTest>

using namespace pw;
using namespace pw::test;

namespace {

MonoImage imageFrom(const QByteArray &bytes)
{
    MonoImage image{};
    for (int i = 0; i < kImageBytes; ++i)
        image[i] = std::uint8_t(bytes.at(i));
    return image;
}

// The chunks a complete transfer writes, built from the command framing.
QList<QByteArray> expectedChunks(ImageTarget target, const QByteArray &argument, const QByteArray &image)
{
    const bool vram = target == ImageTarget::Vram;
    QList<QByteArray> chunks;
    chunks << (vram ? QByteArray("DT") : QByteArray("FS")) + argument + "\r\n";
    chunks << (vram ? QByteArray("TI") : QByteArray("TS"));
    for (int band = 0; band < 8; ++band)
        chunks << image.mid(band * 128, 128);
    chunks << QByteArray("\r\n");
    if (vram)
        chunks << QByteArray("DP\r\n");
    return chunks;
}

struct Run {
    FakePort port;
    StepWaiter waiter;
    RecordingUi ui{port.log};
    std::array<std::uint8_t, 128> txBuf{};
    MonoImage image{};

    TransferEnd send(ImageTarget target, const QString &argument, const QString &portText = QStringLiteral("3"))
    {
        return sendImage({target, portText, argument}, image, txBuf, port, waiter, ui);
    }
};

}  // namespace

void TstTransfer::byteStreams_data()
{
    QTest::addColumn<ImageTarget>("target");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<int>("total");

    const QByteArray zeros(kImageBytes, '\0');
    const QByteArray pattern = patternBytes(kImageBytes, 3);
    QTest::newRow("VRAM, time 1, blank image") << ImageTarget::Vram << "1" << zeros << 1037;
    QTest::newRow("VRAM, time 5, CR LF inside") << ImageTarget::Vram << "5" << pattern << 1037;
    QTest::newRow("FLASH page 0") << ImageTarget::Flash << "0" << pattern << 1033;
    QTest::newRow("FLASH page 12") << ImageTarget::Flash << "12" << pattern << 1034;
    QTest::newRow("FLASH, no page chosen") << ImageTarget::Flash << "" << zeros << 1032;
}

void TstTransfer::byteStreams()
{
    QFETCH(ImageTarget, target);
    QFETCH(QString, argument);
    QFETCH(QByteArray, image);
    QFETCH(int, total);

    Run run;
    run.image = imageFrom(image);
    run.port.cts = DeviceModel{0, 1, 1}.asFunction();
    QCOMPARE(run.send(target, argument), TransferEnd::Done);

    const QList<QByteArray> expected = expectedChunks(target, argument.toLatin1(), image);
    QCOMPARE(run.port.chunks, expected);
    QCOMPARE(run.port.written().size(), total);
    QVERIFY(!run.port.isOpen());
    QCOMPARE(run.port.portNumber, 3);
    // The buffer keeps the last band.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(run.txBuf.data()), 128), image.mid(896, 128));
}

void TstTransfer::statusOrder_data()
{
    QTest::addColumn<ImageTarget>("target");
    QTest::addColumn<int>("busyAtStart");
    QTest::addColumn<int>("ackReads");
    QTest::addColumn<int>("workReads");
    QTest::addColumn<QStringList>("statuses");
    QTest::addColumn<int>("ctsReads");

    const QString busy = QStringLiteral("画面書換中!!");
    const QString sending = QStringLiteral("送信中");
    const QString sent = QStringLiteral("送信終了");
    const QString working = QStringLiteral("内部処理中!!");
    const QString done = QStringLiteral("書換終了");
    // Reads count as time: ready wait, then the wait while CTS is up, then while it is down.
    QTest::newRow("VRAM, device dropped and raised CTS between two reads")
        << ImageTarget::Vram << 0 << 0 << 1 << QStringList{"", sending, sent, done} << 1 + 1 + 1;
    QTest::newRow("VRAM, device busy at the start")
        << ImageTarget::Vram << 4 << 0 << 1 << QStringList{"", busy, sending, sent, done} << 5 + 1 + 1;
    QTest::newRow("VRAM, device slow to take up DP")
        << ImageTarget::Vram << 0 << 3 << 1 << QStringList{"", sending, sent, working, done} << 1 + 4 + 1;
    QTest::newRow("VRAM, device drops CTS at once")
        << ImageTarget::Vram << 0 << 0 << 5 << QStringList{"", sending, sent, busy, done} << 1 + 1 + 5;
    QTest::newRow("VRAM, every phase")
        << ImageTarget::Vram << 2 << 3 << 4 << QStringList{"", busy, sending, sent, working, busy, done} << 3 + 4 + 4;
    QTest::newRow("FLASH, device ready") << ImageTarget::Flash << 0 << 0 << 0 << QStringList{"", sending, done} << 1;
    QTest::newRow("FLASH, device busy at the start, drops CTS after the data")
        << ImageTarget::Flash << 3 << 0 << 1000 << QStringList{"", busy, sending, done} << 4;
}

void TstTransfer::statusOrder()
{
    QFETCH(ImageTarget, target);
    QFETCH(int, busyAtStart);
    QFETCH(int, ackReads);
    QFETCH(int, workReads);
    QFETCH(QStringList, statuses);
    QFETCH(int, ctsReads);

    Run run;
    DeviceModel device{busyAtStart, ackReads, workReads};
    if (target == ImageTarget::Flash)
        device.trigger = QByteArrayLiteral("\r\n");
    // No byte may go out while the device is still busy from before.
    run.port.cts = [&run, device](const QByteArray &written, int reads) {
        const bool cts = device.cts(written, reads);
        if (written.isEmpty() && !cts)
            [&] { QVERIFY(run.port.chunks.isEmpty()); }();
        return cts;
    };
    QCOMPARE(run.send(target, QStringLiteral("3")), TransferEnd::Done);
    QCOMPARE(run.ui.statuses, statuses);
    QCOMPARE(run.port.ctsReads, ctsReads);
    QVERIFY(!run.waiter.cutOff);
    QVERIFY(run.ui.messages.isEmpty() == (target == ImageTarget::Vram));
}

void TstTransfer::stepOrder_data()
{
    QTest::addColumn<ImageTarget>("target");
    QTest::newRow("VRAM") << ImageTarget::Vram;
    QTest::newRow("FLASH") << ImageTarget::Flash;
}

void TstTransfer::stepOrder()
{
    QFETCH(ImageTarget, target);
    const bool vram = target == ImageTarget::Vram;

    Run run;
    run.port.cts = DeviceModel{2, 2, 2}.asFunction();
    // A port left open by an earlier failure is closed first.
    QVERIFY(run.port.setPortNumber(1) && run.port.open());
    run.port.log.clear();
    QStringList notices;
    run.ui.onMessage = [&] { notices << QStringLiteral("port %1").arg(run.port.isOpen() ? "open" : "closed"); };
    QCOMPARE(run.send(target, QStringLiteral("2")), TransferEnd::Done);

    QStringList expected = {"close", "setPortNumber 3", "clear", "open", "status  (drawn)", "status 画面書換中!! (drawn)",
                            "status 送信中 (drawn)", "hourglass", "progress shown", "writeText", "writeText"};
    for (int band = 0; band < 8; ++band)
        expected << "writeBytes" << QStringLiteral("progress %1").arg(band);
    expected << "writeText";
    if (vram)
        expected << "writeText" << "status 送信終了" << "status 内部処理中!! (drawn)" << "status 画面書換中!! (drawn)"
                 << "status 書換終了 (drawn)";
    else
        expected << "status 書換終了 (drawn)" << "message";
    expected << "close" << "progress hidden" << "pointer";
    QCOMPARE(run.port.log, expected);
    if (!vram) {
        QCOMPARE(run.ui.messages, (QList<QPair<QString, QString>>{{QString(), LinkText::flashNotice}}));
        QCOMPARE(notices, QStringList{"port open"});
    }
}

void TstTransfer::failures_data()
{
    QTest::addColumn<ImageTarget>("target");
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<QString>("lastStatus");
    QTest::addColumn<bool>("hourglass");

    using Op = FakePort::Op;
    const QString none = QStringLiteral("<none>");
    const QString busy = QStringLiteral("画面書換中!!");
    const QString sending = QStringLiteral("送信中");
    // The device: busy for two reads at the start; after DP up for two reads, down for two.
    QTest::newRow("VRAM, port text not a number") << ImageTarget::Vram << "x" << -1 << 0 << 0 << none << false;
    QTest::newRow("VRAM, port missing") << ImageTarget::Vram << "9" << -1 << 0 << 0 << none << false;
    QTest::newRow("VRAM, set port number") << ImageTarget::Vram << "3" << int(Op::SetPortNumber) << 1 << 0 << none << false;
    QTest::newRow("VRAM, open") << ImageTarget::Vram << "3" << int(Op::Open) << 1 << 0 << none << false;
    QTest::newRow("VRAM, first CTS read") << ImageTarget::Vram << "3" << int(Op::ReadCts) << 1 << 0 << "" << false;
    QTest::newRow("VRAM, CTS read while busy") << ImageTarget::Vram << "3" << int(Op::ReadCts) << 2 << 0 << busy << false;
    QTest::newRow("VRAM, DT line") << ImageTarget::Vram << "3" << int(Op::WriteText) << 1 << 0 << sending << true;
    QTest::newRow("VRAM, TI") << ImageTarget::Vram << "3" << int(Op::WriteText) << 2 << 1 << sending << true;
    QTest::newRow("VRAM, band 0") << ImageTarget::Vram << "3" << int(Op::WriteBytes) << 1 << 2 << sending << true;
    QTest::newRow("VRAM, band 7") << ImageTarget::Vram << "3" << int(Op::WriteBytes) << 8 << 9 << sending << true;
    QTest::newRow("VRAM, terminator") << ImageTarget::Vram << "3" << int(Op::WriteText) << 3 << 10 << sending << true;
    QTest::newRow("VRAM, DP") << ImageTarget::Vram << "3" << int(Op::WriteText) << 4 << 11 << sending << true;
    QTest::newRow("VRAM, CTS read after DP") << ImageTarget::Vram << "3" << int(Op::ReadCts) << 4 << 12 << "送信終了" << true;
    QTest::newRow("VRAM, CTS read while processing")
        << ImageTarget::Vram << "3" << int(Op::ReadCts) << 5 << 12 << "内部処理中!!" << true;
    QTest::newRow("VRAM, CTS read while rewriting") << ImageTarget::Vram << "3" << int(Op::ReadCts) << 8 << 12 << busy << true;
    QTest::newRow("FLASH, port missing") << ImageTarget::Flash << "9" << -1 << 0 << 0 << none << false;
    QTest::newRow("FLASH, open") << ImageTarget::Flash << "3" << int(Op::Open) << 1 << 0 << none << false;
    QTest::newRow("FLASH, CTS read while busy") << ImageTarget::Flash << "3" << int(Op::ReadCts) << 3 << 0 << busy << false;
    QTest::newRow("FLASH, FS line") << ImageTarget::Flash << "3" << int(Op::WriteText) << 1 << 0 << sending << true;
    QTest::newRow("FLASH, TS") << ImageTarget::Flash << "3" << int(Op::WriteText) << 2 << 1 << sending << true;
    QTest::newRow("FLASH, band 3") << ImageTarget::Flash << "3" << int(Op::WriteBytes) << 4 << 5 << sending << true;
    QTest::newRow("FLASH, terminator") << ImageTarget::Flash << "3" << int(Op::WriteText) << 3 << 10 << sending << true;
}

void TstTransfer::failures()
{
    QFETCH(ImageTarget, target);
    QFETCH(QString, portText);
    QFETCH(int, op);
    QFETCH(int, nth);
    QFETCH(int, chunks);
    QFETCH(QString, lastStatus);
    QFETCH(bool, hourglass);

    Run run;
    run.port.missingPorts = {9};
    run.port.cts = DeviceModel{2, 2, 2}.asFunction();
    if (op >= 0)
        run.port.failAt(FakePort::Op(op), nth);
    QCOMPARE(run.send(target, QStringLiteral("4"), portText), TransferEnd::Failed);

    QCOMPARE(run.port.chunks.size(), chunks);
    QCOMPARE(run.ui.messages, (QList<QPair<QString, QString>>{{QStringLiteral("注意"), LinkText::transferPortError}}));
    QCOMPARE(run.ui.statuses.isEmpty() ? QStringLiteral("<none>") : run.ui.statuses.last(), lastStatus);
    // After the box: bar hidden, pointer back if it had been set, nothing else; in particular the
    // port is not closed.
    const qsizetype box = run.port.log.indexOf(QStringLiteral("message"));
    QStringList tail = {"progress hidden"};
    if (hourglass)
        tail << "pointer";
    QCOMPARE(run.port.log.mid(box + 1), tail);
    QCOMPARE(run.port.log.count(QStringLiteral("hourglass")), hourglass ? 1 : 0);
    const bool opened = run.port.log.contains(QStringLiteral("open")) && op != int(FakePort::Op::Open)
        && op != int(FakePort::Op::SetPortNumber) && portText == QLatin1String("3");
    QCOMPARE(run.port.isOpen(), opened);
    QVERIFY(!run.port.log.mid(run.port.log.indexOf(QStringLiteral("open"))).contains(QStringLiteral("close")));
}

void TstTransfer::cancel_data()
{
    QTest::addColumn<ImageTarget>("target");
    QTest::addColumn<int>("busyAtStart");
    QTest::addColumn<int>("ackReads");
    QTest::addColumn<int>("workReads");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("hourglass");

    QTest::newRow("VRAM, ready wait") << ImageTarget::Vram << 1000000 << 0 << 0 << 0 << false;
    QTest::newRow("VRAM, processing wait") << ImageTarget::Vram << 0 << 1000000 << 0 << 12 << true;
    QTest::newRow("VRAM, rewrite wait") << ImageTarget::Vram << 0 << 0 << 1000000 << 12 << true;
    QTest::newRow("FLASH, ready wait") << ImageTarget::Flash << 1000000 << 0 << 0 << 0 << false;
}

void TstTransfer::cancel()
{
    QFETCH(ImageTarget, target);
    QFETCH(int, busyAtStart);
    QFETCH(int, ackReads);
    QFETCH(int, workReads);
    QFETCH(int, chunks);
    QFETCH(bool, hourglass);

    Run run;
    run.port.cts = DeviceModel{busyAtStart, ackReads, workReads}.asFunction();
    run.waiter.cancelAt = 50;
    QCOMPARE(run.send(target, QStringLiteral("1")), TransferEnd::Cancelled);

    QCOMPARE(run.waiter.pauses, 50);
    QCOMPARE(run.port.chunks.size(), chunks);
    QVERIFY(run.ui.messages.isEmpty());
    QVERIFY(!run.port.isOpen());
    QStringList tail = {"close", "progress hidden"};
    if (hourglass)
        tail << "pointer";
    tail << "status 送信を中止しました (drawn)";
    QCOMPARE(run.port.log.mid(run.port.log.size() - tail.size()), tail);
}

void TstTransfer::waiterBounds_data()
{
    QTest::addColumn<int>("reachedAt");   // poll that reports the condition; 0: never
    QTest::addColumn<int>("failAt");      // poll that cannot read; 0: never
    QTest::addColumn<qint64>("boundMs");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("polls");

    QTest::newRow("reached at once") << 1 << 0 << qint64(0) << int(Waiter::End::Reached) << 1;
    QTest::newRow("reached later") << 30 << 0 << qint64(0) << int(Waiter::End::Reached) << 30;
    QTest::newRow("read fails") << 0 << 7 << qint64(0) << int(Waiter::End::Failed) << 7;
    QTest::newRow("bound runs out") << 0 << 0 << qint64(30) << int(Waiter::End::TimedOut) << -1;
}

void TstTransfer::waiterBounds()
{
    QFETCH(int, reachedAt);
    QFETCH(int, failAt);
    QFETCH(qint64, boundMs);
    QFETCH(int, end);
    QFETCH(int, polls);

    struct SleepingWaiter final : Waiter {
        bool pause() override
        {
            QThread::msleep(1);
            return true;
        }
    } waiter;
    int count = 0;
    QElapsedTimer clock;
    clock.start();
    const Waiter::End result = waiter.until(
        [&]() -> std::optional<bool> {
            ++count;
            if (count == failAt)
                return std::nullopt;
            return count == reachedAt;
        },
        boundMs);
    QCOMPARE(int(result), end);
    if (polls >= 0)
        QCOMPARE(count, polls);
    else
        QVERIFY(clock.elapsed() >= boundMs && clock.elapsed() < boundMs + 1000);
}

void TstTransfer::transmitBound_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("bound");
    QTest::newRow("nothing") << qint64(0) << qint64(1000);
    QTest::newRow("one byte, rounded up") << qint64(1) << qint64(1002);
    QTest::newRow("a second's worth") << qint64(960) << qint64(2000);
    QTest::newRow("64 KiB") << qint64(65536) << qint64(69267);
}

void TstTransfer::transmitBound()
{
    QFETCH(qint64, bytes);
    QFETCH(qint64, bound);
    QCOMPARE(transmitBoundMs(bytes), bound);
}
