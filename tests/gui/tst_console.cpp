// The command console over the fake port: typed lines and command files byte for byte, the
// port closed after each send, Esc on a device that stalls, and files of any size in bounded
// memory.
#include "common/testsupport.h"
#include "gui/commandconsole.h"

#include <QPushButton>
#include <QtTest>
#include <QtWidgets>

#include <algorithm>
#include <unistd.h>

using namespace pw;
using namespace pw::test;
using Op = FakePort::Op;

namespace {

void recordBoxes(Rig &rig, QStringList &out)   // title|text|port state while the box is up
{
    rig.boxes.onShow = [&](const auto &s) { out << s.title + "|" + s.text + (rig.port.isOpen() ? "|open" : "|closed"); };
}

CommandConsole *openConsole(Rig &rig)
{
    rig.window->show();
    rig.window->openConsole();
    return rig.window->console();
}

#if defined(__SANITIZE_ADDRESS__)
#define PW_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PW_UNDER_ASAN 1
#endif
#endif
#ifdef PW_UNDER_ASAN
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// What the process holds in memory now, in bytes: its resident pages (0 where /proc is
// missing). AddressSanitizer keeps freed memory resident in its quarantine for a while, so
// under it this is what the program has allocated and not freed.
qint64 heldBytes()
{
#ifdef PW_UNDER_ASAN
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
#endif
}

// A port that keeps no copy of what it is sent, so that a huge send costs it nothing: it
// hashes the bytes, counts them, and notes the memory the process holds now and then.
class HashingPort final : public SerialPort {
public:
    bool isOpen() const override { return open_; }
    void close() override { open_ = false; }
    bool setPortNumber(int) override { return !open_; }
    void clearTransmitBuffer() override {}
    bool open() override { return open_ = true; }
    bool writeText(const QByteArray &text) override { return writeBytes(text); }
    bool writeBytes(const QByteArray &bytes) override
    {
        if (!open_)
            return false;
        hash.addData(bytes);
        written += bytes.size();
        if (++writes % 2048 == 0)
            peakHeld = std::max(peakHeld, heldBytes());
        return true;
    }
    bool handOver(qint64 &left) override { return left = 0, open_; }
    bool readCts(bool &asserted) override { return asserted = true, open_; }
    bool transmitCount(qint64 &count) override { return count = 0, open_; }

    QCryptographicHash hash{QCryptographicHash::Sha1};
    qint64 written = 0;
    qint64 writes = 0;
    qint64 peakHeld = 0;

private:
    bool open_ = false;
};

}  // namespace

class TstConsole : public QObject {
    Q_OBJECT
private slots:
    // The line is out, so the console closes the port at once: nothing is left open between
    // sends, whatever comes next.
    void typedLineClosesPortOnceItIsOut()
    {
        Rig rig;
        CommandConsole *console = openConsole(rig);
        console->commandLineEdit()->setText(QStringLiteral("DP"));
        rig.port.log.clear();
        console->sendTypedLine();
        QCOMPARE(rig.port.written(), QByteArray("DP\r\n"));
        QCOMPARE(rig.port.log, (QStringList{"setPortNumber 1", "clear", "open", "write", "close"}));
        QVERIFY(!rig.port.isOpen() && console->isVisible() && rig.boxes.shown.isEmpty());
    }

    // A device that stops taking bytes mid-file: the windows go on answering, and Esc ends the
    // send at once, the port closed and nothing said.
    void stalledDeviceLetsEscStopEitherSend()
    {
        Rig rig;
        CommandConsole *console = openConsole(rig);
        const QString path = rig.path("big.cmd");
        QVERIFY(writeFile(path, QByteArray(64 * 1024, 'x')));
        rig.dialogs.answers << std::optional<QString>(path);
        rig.port.stalled = true;
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(50);
        QElapsedTimer clock;
        qint64 escAt = -1;
        QTimer::singleShot(600, Qt::PreciseTimer, console, [&] {
            escAt = clock.elapsed();
            QCoreApplication::postEvent(console, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        });
        clock.start();
        console->sendCommandFile();
        const qint64 ended = clock.elapsed();
        QVERIFY2(ticks >= 8, qPrintable(QString::number(ticks)));   // one every 50 ms while it waited
        QVERIFY2(escAt > 0 && ended - escAt < 500, qPrintable(QString::number(ended - escAt)));
        QVERIFY(!rig.port.isOpen() && rig.boxes.shown.isEmpty() && !QApplication::overrideCursor());
        QCOMPARE(rig.port.written(), QByteArray(96, 'x'));   // the first piece, which the driver never took

        // The typed line too: Esc stops it at once, silently, the port closed.
        console->commandLineEdit()->setText(QStringLiteral("DP"));
        QTimer::singleShot(300, Qt::PreciseTimer, console, [&] {
            escAt = clock.elapsed();
            QCoreApplication::postEvent(console, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        });
        clock.restart();
        console->sendTypedLine();
        QVERIFY2(clock.elapsed() - escAt < 500, qPrintable(QString::number(clock.elapsed() - escAt)));
        QVERIFY(!rig.port.isOpen() && rig.boxes.shown.isEmpty() && rig.port.written().endsWith("DP\r\n"));

        // Closed while a line waits: the main window is back at once, and the send closes the
        // port, silently, once the device has taken the line.
        console->commandLineEdit()->setText(QStringLiteral("DT1"));
        QTimer::singleShot(200, console, [&] {
            console->close();
            QVERIFY(rig.window->isVisible() && rig.port.isOpen());
            QTimer::singleShot(200, console, [&] { rig.port.stalled = false; });
        });
        console->sendTypedLine();
        QVERIFY(!rig.port.isOpen() && rig.boxes.shown.isEmpty() && rig.port.written().endsWith("DT1\r\n") && !console->isVisible());
    }

    void typedLinesAndFilesGoOutAsTypedAndStored()
    {
        QDir::setCurrent(QDir::rootPath());  // started from elsewhere: the dialogs still start beside the program
        Rig rig;
        CommandConsole *console = openConsole(rig);
        QVERIFY(console && console->isVisible() && !rig.window->isVisible());
        QStringList shown;
        recordBoxes(rig, shown);
        const QString caption = console->consoleCaption(), empty = rig.path("empty.cmd"), path = rig.path("init.cmd");
        const QByteArray bytes("DT3\r\nDP\r\n\0\xff\r", 12);
        QVERIFY(writeFile(empty, {}) && writeFile(path, bytes));
        rig.dialogs.answers << std::optional<QString>(empty) << std::optional<QString>(path);
        console->findChild<QPushButton *>(QStringLiteral("sendFileButton"))->click();   // an empty file: nothing happens at all
        QCOMPARE(QFileInfo(rig.dialogs.requests.value(0).initialPath).canonicalFilePath(), QFileInfo(rig.dir.path()).canonicalFilePath());
        QCOMPARE(rig.dialogs.requests.value(0).labels, QStringList{"*.*"});  // any file
        QVERIFY(rig.port.log.filter("open").isEmpty() && shown.isEmpty() && console->windowTitle() == caption);
        QList<int> cursors;  // the hourglass for as long as the file goes out
        rig.port.onWrite = [&] { cursors << (QApplication::overrideCursor() ? int(QApplication::overrideCursor()->shape()) : -1); };
        console->sendCommandFile();
        rig.port.onWrite = nullptr;
        QVERIFY(!cursors.isEmpty() && cursors == QList<int>(cursors.size(), int(Qt::WaitCursor)));
        QCOMPARE(rig.port.written(), bytes);
        QCOMPARE(console->windowTitle(), caption + "(" + QDir::toNativeSeparators(path) + ")");
        QVERIFY(!rig.port.isOpen() && !QApplication::overrideCursor());
        rig.dialogs.answers << std::optional<QString>(path);
        QCoreApplication::postEvent(console, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        console->sendCommandFile();   // Esc stops a file send: port closed, nothing said
        QVERIFY(rig.port.written() == bytes && !rig.port.isOpen() && shown.size() == 1 && !QApplication::overrideCursor());
        rig.dialogs.answers << std::optional<QString>(path);
        console->sendCommandFile();   // and the next one goes out whole
        QCOMPARE(rig.port.written(), bytes + bytes);

        console->commandLineEdit()->setText(QStringLiteral("DP"));
        console->findChild<QPushButton *>(QStringLiteral("sendCommandButton"))->click();  // the button sends the typed line
        rig.port.failAt(Op::WriteText, 2);
        console->sendTypedLine();   // a failed write leaves the port open, for the close below
        QCOMPARE(rig.port.written(), bytes + bytes + "DP\r\n");
        QCOMPARE(shown, (QStringList{"|コマンドファイルを送信しました。|open", "|コマンドファイルを送信しました。|open", "注意|ポートの指定が誤りです。|open"}));
        QVERIFY(console->close() && !rig.port.isOpen() && rig.window->isVisible());
        QVERIFY(console->windowTitle() != caption && !console->commandLineEdit()->text().isEmpty());
        // Opened again, it is a fresh console: caption and text box as when first loaded.
        CommandConsole *again = openConsole(rig);
        QVERIFY(again && again->isVisible() && !rig.window->isVisible());
        QCOMPARE(again->windowTitle(), caption);
        QCOMPARE(again->commandLineEdit()->text(), QString());
        // A file send whose write fails ends silently, and the console takes the next file.
        rig.port.failNext(Op::WriteBytes);
        rig.dialogs.answers << std::optional<QString>(path) << std::optional<QString>(empty);
        const qsizetype asked = rig.dialogs.requests.size();
        again->sendCommandFile();
        QVERIFY(!QApplication::overrideCursor() && shown.size() == 3);
        again->sendCommandFile();
        QCOMPARE(rig.dialogs.requests.size(), asked + 2);
    }

    // A file far larger than memory should hold goes out a piece at a time: the process grows
    // by a small fraction of the file, and the device gets the file's bytes exactly.
    void hugeCommandFileGoesOutInBoundedMemory()
    {
        if (heldBytes() == 0)
            QSKIP("no /proc/self/statm to read the memory held from");
        constexpr qint64 kSize = 200 * 1024 * 1024;
        Rig rig;
        const QString path = rig.path("huge.cmd");
        {
            QFile file(path);   // sparse: costs no disk, reads back as zeros between the marks
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("DT3\r\n") == 5 && file.resize(kSize));
            QVERIFY(file.seek(kSize - 4) && file.write("DP\r\n") == 4);
        }
        QCryptographicHash expected(QCryptographicHash::Sha1);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly) && expected.addData(&file));
        }
        HashingPort port;
        Platform platform = rig.platform();
        platform.port = &port;
        MainWindow window(platform);
        window.show();
        window.openConsole();
        rig.dialogs.answers << std::optional<QString>(path);
        const qint64 before = heldBytes();
        QElapsedTimer clock;
        clock.start();
        window.console()->sendCommandFile();
        qInfo("%lld MB in %lld ms, memory held %lld MB before, %lld MB at most while sending", kSize >> 20,
              static_cast<long long>(clock.elapsed()), before >> 20, port.peakHeld >> 20);

        QCOMPARE(port.written, kSize);
        QCOMPARE(port.hash.result().toHex(), expected.result().toHex());
        QVERIFY2(port.peakHeld - before < 32 * 1024 * 1024, qPrintable(QString::number((port.peakHeld - before) >> 20)));
        QCOMPARE(rig.boxes.texts(), QStringList{"コマンドファイルを送信しました。"});
        QVERIFY(!port.isOpen() && window.console()->windowTitle().endsWith("huge.cmd)"));
    }
};

QTEST_MAIN(TstConsole)
#include "tst_console.moc"
