// QtSerialPort against a pseudo-terminal the test opens itself (never a real serial device).
#include "common/testsupport.h"
#include "link/console/form2.h"
#include "link/qtserialport.h"
#include "linksupport.h"
#include "tst_link.h"

#include <QFile>
#include <QLineEdit>
#include <QtTest>

using namespace pw;
using namespace pw::test;

namespace {

// A program folder whose COM3 leads to the pseudo-terminal.
struct PtyFolder {
    PseudoTerminal pty;
    QTemporaryDir dir;

    bool link(int number = 3) const
    {
        return QFile::link(pty.slavePath(), dir.filePath(QStringLiteral("COM%1").arg(number)));
    }
};

// A real main window over the Qt serial port, in the folder.
struct PtyWindow {
    explicit PtyWindow(const QString &folder) : port(folder)
    {
        Platform platform;
        platform.boxes = &boxes;
        platform.dialogs = &dialogs;
        platform.port = &port;
        platform.programDir = folder;
        platform.exitProgram = [] {};
        form = std::make_unique<Form1>(platform);
        form->selectComboText(form->combo(2), QStringLiteral("3"));
    }
    ~PtyWindow() { form.reset(); }

    ScriptedBoxes boxes;
    ScriptedDialogs dialogs;
    QtSerialPort port;
    std::unique_ptr<Form1> form;
};

}  // namespace

void TstSerialBackend::deviceNames_data()
{
    QTest::addColumn<QString>("entry");    // what lies in the program folder
    QTest::addColumn<QString>("kind");     // "link", "dangling", "file" or "none"
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("expected"); // relative to the folder when it starts with "COM"

    QTest::newRow("link to a device") << "COM3" << "link" << 3 << "COM3";
    QTest::newRow("link whose target is gone") << "COM4" << "dangling" << 4 << "COM4";
    QTest::newRow("plain file") << "COM5" << "file" << 5 << "COM5";
    QTest::newRow("nothing there, port 1") << "" << "none" << 1 << "/dev/ttyS0";
    QTest::newRow("nothing there, port 16") << "" << "none" << 16 << "/dev/ttyS15";
    QTest::newRow("COM1 does not stand for COM13") << "COM1" << "link" << 13 << "/dev/ttyS12";
}

void TstSerialBackend::deviceNames()
{
    QFETCH(QString, entry);
    QFETCH(QString, kind);
    QFETCH(int, number);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString path = dir.filePath(entry);
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    else if (kind == QLatin1String("dangling"))
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), path));
    else if (kind == QLatin1String("file"))
        QVERIFY(writeFile(path, "x"));

    const QString want = expected.startsWith(QLatin1String("COM")) ? dir.filePath(expected) : expected;
    QCOMPARE(portDeviceName(number, dir.path()), want);
    QtSerialPort port(dir.path());
    QVERIFY(port.setPortNumber(number));
    QCOMPARE(port.deviceName(), want);
}

void TstSerialBackend::bytesArriveInOrder()
{
    PtyFolder folder;
    QVERIFY(folder.pty.isValid());
    QVERIFY(folder.link());
    QtSerialPort port(folder.dir.path());
    QVERIFY(!port.setPortNumber(0));
    QVERIFY(!port.setPortNumber(17));
    QVERIFY(port.setPortNumber(3));
    port.clearTransmitBuffer();   // harmless while closed
    QVERIFY(port.open());
    QVERIFY(port.isOpen());
    QVERIFY(!port.setPortNumber(4));   // not while open

    const QByteArray image = patternBytes(1024, 1);
    const QByteArray big = patternBytes(64 * 1024, 2);
    QVERIFY(port.writeText("DT3\r\n"));
    QVERIFY(port.writeText("TI"));
    for (int band = 0; band < 8; ++band)
        QVERIFY(port.writeBytes(image.mid(band * 128, 128)));
    QVERIFY(port.writeText("\r\n"));
    QVERIFY(port.writeText("DP\r\n"));
    QVERIFY(port.writeBytes(big));
    qint64 queued = -1;
    QVERIFY(port.transmitCount(queued));
    QCOMPARE(queued, qint64(0));
    // Closed right after the last write: nothing may be lost.
    port.close();
    QVERIFY(!port.isOpen());

    const QByteArray expected = QByteArray("DT3\r\nTI") + image + "\r\nDP\r\n" + big;
    QCOMPARE(folder.pty.waitFor(expected.size()), expected);
    qint64 unused = 0;
    QVERIFY(!port.transmitCount(unused));   // closed
    QVERIFY(!port.writeText("x"));
}

void TstSerialBackend::missingDeviceFailsAtOpen()
{
    QTemporaryDir dir;
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("no-such-tty")), dir.filePath(QStringLiteral("COM4"))));
    QtSerialPort port(dir.path());
    QVERIFY(port.setPortNumber(4));
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
    port.setDeviceNameOverride(dir.filePath(QStringLiteral("also-missing")));
    QVERIFY(!port.open());
    QVERIFY(!port.isOpen());
}

void TstSerialBackend::ctsOnPtyFails()
{
    PseudoTerminal pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    QtSerialPort port(dir.path());
    port.setDeviceNameOverride(pty.slavePath());
    QCOMPARE(port.deviceName(), pty.slavePath());
    bool cts = true;
    QVERIFY(!port.readCts(cts));   // closed
    QVERIFY(port.open());
    // A pseudo-terminal has no modem lines: an error, not "CTS low".
    QVERIFY(!port.readCts(cts));
    QVERIFY(port.isOpen());
}

void TstSerialBackend::consoleOverPty()
{
    PtyFolder folder;
    QVERIFY(folder.pty.isValid());
    QVERIFY(folder.link());
    PtyWindow w(folder.dir.path());
    w.form->show();
    w.form->mmucom_Click();
    Form2 *console = w.form->console();

    console->text1()->setText(QStringLiteral("DP"));
    console->Command1_Click();
    QVERIFY(w.boxes.shown.isEmpty());
    QVERIFY(!w.port.isOpen());

    const QByteArray file = patternBytes(64 * 1024, 9);
    const QString path = folder.dir.filePath(QStringLiteral("big.cmd"));
    QVERIFY(writeFile(path, file));
    w.dialogs.answers << std::optional<QString>(path);
    console->Command2_Click();
    QCOMPARE(w.boxes.texts(), QStringList{"コマンドファイルを送信しました。"});
    QVERIFY(!w.port.isOpen());

    const QByteArray expected = QByteArray("DP\r\n") + file;
    QCOMPARE(folder.pty.waitFor(expected.size()), expected);
}

void TstSerialBackend::transferOverPtyFails()
{
    PtyFolder folder;
    QVERIFY(folder.pty.isValid());
    QVERIFY(folder.link());
    PtyWindow w(folder.dir.path());
    w.form->show();

    // The ready wait reads CTS before any byte goes out; on a pty that read fails.
    w.form->tx_data();
    w.form->ts_data();
    QCOMPARE(w.boxes.texts(), (QStringList{"ポートの指定が誤りです。(tx_data)", "ポートの指定が誤りです。(tx_data)"}));
    QVERIFY(w.port.isOpen());   // a failure leaves the port as it was
    QVERIFY(!QApplication::overrideCursor());
    QTest::qWait(100);
    QCOMPARE(folder.pty.received(), QByteArray());
}
