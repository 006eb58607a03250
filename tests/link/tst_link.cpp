// The device link: transfers, the console, and the Qt backend over a pty (never a real device).
#include "common/testsupport.h"
#include "link/console/form2.h"
#include "link/qtserialport.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace pw;
using namespace pw::test;

namespace {

const QString kBusy = QStringLiteral("画面書換中!!");

// CTS as the device drives it: low for `busy` reads at first; after DP up `ack`, low `work` reads.
std::function<bool(const QByteArray &, int)> device(int busy, int ack, int work)
{
    return [=](const QByteArray &written, int reads) {
        return written.isEmpty() ? reads >= busy
                                 : !written.endsWith("DP\r\n") || reads < ack || reads >= ack + work;
    };
}

// Every byte value, with a CR LF pair inside: a line end in data must go out as plain data.
QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 + i / 256);
    return bytes.replace(100, 2, "\r\n");
}

// What the status label showed: each paint, and at each CTS read (catches texts set without a redraw).
struct LabelLog final : QObject {
    QLabel *label;
    QStringList texts;
    explicit LabelLog(QLabel *l) : label(l) { l->installEventFilter(this); }
    void note()
    {
        if (texts.isEmpty() || texts.last() != label->text())
            texts << label->text();
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            note();
        return false;
    }
};

}  // namespace

class TstLink : public QObject {
    Q_OBJECT
private slots:
    void transfer_data()
    {
        QTest::addColumn<bool>("vram");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("VRAM, time 5") << true << "5"
                                      << QStringList{"", kBusy, "送信中", "送信終了", "内部処理中!!", kBusy, "書換終了"};
        QTest::newRow("FLASH page 12") << false << "12" << QStringList{"", kBusy, "送信中", "書換終了"};
    }

    void transfer()
    {
        QFETCH(bool, vram);
        QFETCH(QString, argument);
        QFETCH(QStringList, labels);

        Rig rig;
        rig.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
        Module1::rewriteTime = vram ? argument : QStringLiteral("1");
        QVERIFY(rig.form->selectComboText(rig.form->combo(3), vram ? QStringLiteral("0") : argument));
        const QByteArray image = pattern(kImageBytes);
        std::copy(image.begin(), image.end(), rig.form->monoImage().begin());
        LabelLog log(rig.form->statusLabel());
        rig.port.cts = [&, model = device(2, 1, 3)](const QByteArray &written, int reads) {
            log.note();
            return model(written, reads);
        };
        QString atNotice;   // every box, with the port's state while it is up
        rig.boxes.onShow = [&](const ScriptedBoxes::Shown &s) {
            atNotice += s.title + "|" + s.text + "|" + (rig.port.isOpen() ? "open" : "closed");
        };
        vram ? rig.form->tx_data() : rig.form->ts_data();

        QList<QByteArray> chunks{(vram ? "DT" : "FS") + argument.toLatin1() + "\r\n", vram ? "TI" : "TS"};
        for (int band = 0; band < 8; ++band)
            chunks << image.mid(band * 128, 128);
        chunks << "\r\n";
        if (vram)
            chunks << "DP\r\n";
        QCOMPARE(rig.port.chunks, chunks);
        QCOMPARE(rig.port.written().size(), vram ? 1037 : 1034);
        QCOMPARE(log.texts, labels);
        QCOMPARE(atNotice, vram ? QString() : "|書込み画像は、TFコマンド→DPコマンドにて表示確認できます。|open");
        QVERIFY(!rig.port.isOpen());
        QVERIFY(rig.form->progressBar()->isHidden());
        QVERIFY(!QApplication::overrideCursor());
    }

    void transferFailures_data()
    {
        QTest::addColumn<int>("op");   // -1: the port does not exist
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("chunks");
        QTest::addColumn<bool>("leftOpen");
        // CTS reads 1-3: ready wait; 4-5: DP taken up; 6-8: rewrite wait.
        QTest::newRow("missing port") << -1 << 0 << 0 << false;
        QTest::newRow("open fails") << int(FakePort::Op::Open) << 1 << 0 << false;
        QTest::newRow("CTS read, ready wait") << int(FakePort::Op::ReadCts) << 1 << 0 << true;
        QTest::newRow("band 2 write") << int(FakePort::Op::WriteBytes) << 3 << 4 << true;
        QTest::newRow("DP write") << int(FakePort::Op::WriteText) << 4 << 11 << true;
        QTest::newRow("CTS read, rewrite wait") << int(FakePort::Op::ReadCts) << 6 << 12 << true;
    }

    void transferFailures()
    {
        QFETCH(int, op);
        QFETCH(int, nth);
        QFETCH(int, chunks);
        QFETCH(bool, leftOpen);

        Rig rig;
        rig.form->show();
        rig.port.cts = device(2, 1, 3);
        if (op < 0)
            rig.port.missingPorts = {1};
        else
            rig.port.failAt(FakePort::Op(op), nth);
        rig.form->tx_data();

        QCOMPARE(rig.boxes.texts(), QStringList{"ポートの指定が誤りです。(tx_data)"});
        QCOMPARE(rig.boxes.shown[0].title, QStringLiteral("注意"));
        QCOMPARE(rig.port.chunks.size(), chunks);
        QCOMPARE(rig.port.isOpen(), leftOpen);   // a failure leaves the port as it was
        QVERIFY(rig.form->progressBar()->isHidden());
        QVERIFY(!QApplication::overrideCursor());
    }

    void escCancelsCheapWait()
    {
        Rig rig;
        QPushButton button(QStringLiteral("probe"));
        button.setCheckable(true);
        QLineEdit edit;
        for (QWidget *w : std::initializer_list<QWidget *>{rig.form.get(), &button, &edit}) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w));
        }
        // The device rewrites for seconds; the user clicks, types, closes the window, and
        // presses Esc after a second.
        QList<bool> during;   // window closed, bar shown, hourglass
        rig.port.cts = [&, model = device(0, 0, 5000)](const QByteArray &written, int reads) {
            if (written.endsWith("DP\r\n") && reads == 1) {
                QTest::mouseClick(&button, Qt::LeftButton);
                QTest::keyClick(&edit, Qt::Key_A);
                during = {rig.form->close(), rig.form->progressBar()->isVisible(),
                          QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor};
            }
            return model(written, reads);
        };
        QTimer::singleShot(1000, Qt::PreciseTimer, rig.form.get(), [&] {
            QCoreApplication::postEvent(rig.form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        });
        const auto cpuSeconds = [] {
            rusage u{};
            getrusage(RUSAGE_SELF, &u);
            return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        QElapsedTimer wall;
        const double cpuBefore = cpuSeconds();
        wall.start();
        rig.form->tx_data();
        const double cpu = cpuSeconds() - cpuBefore;
        const double elapsed = double(wall.elapsed()) / 1000.0;
        qInfo("CTS wait of %.2f s used %.3f s CPU, %d CTS reads", elapsed, cpu, rig.port.ctsReads);

        QCOMPARE(during, (QList<bool>{false, true, true}));
        QCOMPARE(rig.form->statusLabel()->text(), QStringLiteral("送信を中止しました"));
        QVERIFY(!rig.port.isOpen());
        QVERIFY(rig.form->progressBar()->isHidden());
        QVERIFY(!QApplication::overrideCursor());
        QVERIFY(rig.boxes.shown.isEmpty());
        QVERIFY(!button.isChecked());
        QCOMPARE(edit.text(), QString());
        QVERIFY(elapsed >= 0.95);
        // A wait that spins keeps a core busy the whole time.
        QVERIFY2(cpu < 0.3 * elapsed, qPrintable(QStringLiteral("%1 s CPU in %2 s").arg(cpu).arg(elapsed)));
        // The same input outside a transfer does reach its targets.
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::keyClick(&edit, Qt::Key_A);
        QVERIFY(button.isChecked());
        QCOMPARE(edit.text(), QStringLiteral("a"));
    }

    void consoleLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::newRow("DP") << "DP" << "" << QList<QByteArray>{"DP\r\n"};
        QTest::newRow("empty line") << "" << "" << QList<QByteArray>{"\r\n"};
        QTest::newRow("missing port") << "DP" << "missing" << QList<QByteArray>{};
        QTest::newRow("write fails") << "DP" << "write" << QList<QByteArray>{};
    }

    void consoleLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, fault);
        QFETCH(QList<QByteArray>, chunks);

        Rig rig;
        rig.form->show();
        rig.form->mmucom_Click();
        Form2 *console = rig.form->console();
        QVERIFY(console && console->isVisible() && !rig.form->isVisible());
        if (fault == "missing")
            rig.port.missingPorts = {1};
        else if (fault == "write")
            rig.port.failAt(FakePort::Op::WriteText, 1);
        console->text1()->setText(text);
        console->Command1_Click();

        QCOMPARE(rig.port.chunks, chunks);
        QCOMPARE(rig.boxes.texts(), fault.isEmpty() ? QStringList() : QStringList{"ポートの指定が誤りです。"});
        QCOMPARE(rig.boxes.shown.value(0).title, fault.isEmpty() ? QString() : QStringLiteral("注意"));
        QCOMPARE(rig.port.isOpen(), fault == "write");   // a failed write leaves the port open
        QVERIFY(console->close());
        QVERIFY(!rig.port.isOpen());
        QVERIFY(rig.form->isVisible());
    }

    void consoleFile()
    {
        Rig rig;
        rig.form->mmucom_Click();
        Form2 *console = rig.form->console();
        const QString caption = console->consoleCaption();
        const QString empty = rig.path(QStringLiteral("empty.cmd"));
        const QString path = rig.path(QStringLiteral("init.cmd"));
        const QByteArray bytes("DT3\r\nDP\r\n\0\xff\r", 12);
        QVERIFY(writeFile(empty, {}) && writeFile(path, bytes));
        rig.dialogs.answers << std::optional<QString>(empty) << std::optional<QString>(path);

        console->Command2_Click();   // an empty file: nothing at all happens
        QVERIFY(rig.port.log.filter("open").isEmpty() && rig.boxes.shown.isEmpty());
        QCOMPARE(console->windowTitle(), caption);
        console->Command2_Click();
        QCOMPARE(rig.port.written(), bytes);
        QCOMPARE(rig.boxes.texts(), QStringList{"コマンドファイルを送信しました。"});
        QCOMPARE(console->windowTitle(), caption + "(" + QDir::toNativeSeparators(path) + ")");
        QVERIFY(!rig.port.isOpen());
        QVERIFY(!QApplication::overrideCursor());
    }

    void qtBackendOverPty()
    {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
        const QString slavePath = QString::fromLocal8Bit(::ptsname(master));
        // Held open so the line does not hang up when the port closes.
        const int slave = ::open(qPrintable(slavePath), O_RDWR | O_NOCTTY);
        QVERIFY(slave >= 0);
        // The device side takes everything that arrives, so large writes never stall.
        QByteArray got;
        std::atomic<qsizetype> count{0};
        std::atomic<bool> stop{false};
        std::thread reader([&] {
            char buffer[4096];
            for (pollfd p{master, POLLIN, 0}; !stop; p.revents = 0) {
                const ssize_t n = ::poll(&p, 1, 20) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
                got.append(buffer, qMax<ssize_t>(n, 0));
                count = got.size();
            }
        });
        const auto cleanup = qScopeGuard([&] {
            stop = true;
            reader.join();
            ::close(slave);
            ::close(master);
        });

        QTemporaryDir dir;
        QVERIFY(QFile::link(slavePath, dir.filePath("COM3")));
        QVERIFY(QFile::link(dir.filePath("gone"), dir.filePath("COM4")));
        QCOMPARE(portDeviceName(3, dir.path()), dir.filePath("COM3"));
        QCOMPARE(portDeviceName(4, dir.path()), dir.filePath("COM4"));   // even with its target gone
        QtSerialPort port(dir.path());
        QVERIFY(port.setPortNumber(4));
        QVERIFY(!port.open());   // the link leads nowhere
        QVERIFY(openPortSequence(port, QStringLiteral("3")));
        bool cts = true;
        QVERIFY(!port.readCts(cts));   // no modem lines on a pty: an error, never "CTS low"

        const QByteArray image = pattern(kImageBytes);
        QList<QByteArray> parts{"DT5\r\n", "TI"};
        for (int band = 0; band < 8; ++band)
            parts << image.mid(band * 128, 128);
        parts << "\r\n" << "DP\r\n" << pattern(64 * 1024);
        QByteArray expected;
        for (const QByteArray &part : std::as_const(parts)) {
            QVERIFY(port.writeBytes(part));
            expected += part;
        }
        port.close();   // right after the last write: nothing may be lost
        QTRY_COMPARE_WITH_TIMEOUT(count.load(), expected.size(), 10000);
        QVERIFY(got == expected);
    }
};

QTEST_MAIN(TstLink)
#include "tst_link.moc"
