// The image transfers through the main window, over the fake port: bytes, phases, failures,
// and the wait that keeps the windows alive, cheap and stoppable with Esc.
#include "common/testsupport.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/resource.h>

using namespace pw;
using namespace pw::test;
using Chunks = QList<QByteArray>;
using Op = FakePort::Op;

namespace {

// CTS as the device drives it: low for `busy` reads at first; after DP up `ack`, low `work` reads.
std::function<bool(const QByteArray &, int)> device(int busy, int ack, int work)
{
    return [=](const QByteArray &written, int reads) {
        return written.isEmpty() ? reads >= busy : !written.endsWith("DP\r\n") || reads < ack || reads >= ack + work;
    };
}

bool idleUi(Rig &rig) { return rig.window->progressBar()->isHidden() && !QApplication::overrideCursor(); }

void recordBoxes(Rig &rig, QStringList &out)   // title|text|port state while the box is up
{
    rig.boxes.onShow = [&](const auto &s) { out << s.title + "|" + s.text + (rig.port.isOpen() ? "|open" : "|closed"); };
}

// The status label's texts at each paint and each CTS read.
struct LabelLog final : QObject {
    QLabel *label; QStringList texts;
    explicit LabelLog(QLabel *l) : label(l) { l->installEventFilter(this); }
    void note() { if (texts.isEmpty() || texts.last() != label->text()) texts << label->text(); }
    bool eventFilter(QObject *, QEvent *e) override { if (e->type() == QEvent::Paint) note(); return false; }
};

// op -1: the port does not exist; nth 0: nothing fails; leftOpen: a failure leaves the port as it was.
struct Case {
    bool vram = false, leftOpen = false;
    int op = 0, nth = 0, sent = 0;
    QStringList boxes{}, labels{};
    bool watched = false;
};

}  // namespace

Q_DECLARE_METATYPE(Case)

class TstLink : public QObject {
    Q_OBJECT
private slots:
    void transferFollowsDeviceAndReportsPhases_data()
    {
        QTest::addColumn<Case>("c");
        const QString busy = "画面書換中!!", fail = "注意|ポートの指定が誤りです。(tx_data)|";
        const QStringList vramLabels{"", busy, "送信中", "送信終了", "内部処理中!!", busy, "書換終了"};
        QTest::newRow("VRAM") << Case{.vram = true, .sent = 13, .labels = vramLabels};
        QTest::newRow("VRAM, watched line") << Case{.vram = true, .sent = 13, .labels = vramLabels, .watched = true};
        QTest::newRow("FLASH") << Case{.vram = false,
                                       .sent = 12,
                                       .boxes = {"|書込み画像は、TFコマンド→DPコマンドにて表示確認できます。|open"},
                                       .labels = {"", busy, "送信中", "書換終了"}};
        QTest::newRow("missing port") << Case{.vram = true, .op = -1, .boxes = {fail + "closed"}};
        QTest::newRow("open fails") << Case{.vram = true, .op = int(Op::Open), .nth = 1, .boxes = {fail + "closed"}};
        // Each write of the stream failing in turn (the command, the mark, eight bands, the line
        // end, DP): what went before it is all that was sent, and it is said.
        for (int k = 0; k < 12; ++k) {
            const bool band = k >= 2 && k < 10;
            QTest::addRow("write %d fails", k) << Case{.vram = true, .leftOpen = true, .op = int(band ? Op::WriteBytes : Op::WriteText),
                                                      .nth = band ? k - 1 : k < 2 ? k + 1 : k - 7, .sent = k, .boxes = {fail + "open"}};
        }
        QTest::newRow("not drained") << Case{.vram = true, .leftOpen = true, .op = int(Op::TransmitCount), .nth = 1, .sent = 12, .boxes = {fail + "open"}};
        QTest::newRow("CTS read") << Case{.vram = true, .leftOpen = true, .op = int(Op::ReadCts), .nth = 1, .boxes = {fail + "open"}};
        // After DP: the read while the device takes it up, and while it rewrites.
        for (const auto &[name, nth] : {std::pair{"CTS read, busy", 4}, std::pair{"CTS read, rewriting", 6}})
            QTest::newRow(name) << Case{.vram = true, .leftOpen = true, .op = int(Op::ReadCts), .nth = nth, .sent = 13, .boxes = {fail + "open"}};
        QTest::newRow("hand-over")
            << Case{.vram = true, .leftOpen = true, .op = int(Op::HandOver), .nth = 2, .sent = 2, .boxes = {fail + "open"}};
    }

    void transferFollowsDeviceAndReportsPhases()
    {
        QFETCH(Case, c);
        Rig rig;
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        QVERIFY(rig.window->selectListEntry(rig.window->rewriteTimeList(), QStringLiteral("5")));   // VRAM time and FLASH page differ on purpose
        QVERIFY(rig.window->selectListEntry(rig.window->pageList(), QStringLiteral("12")));
        const QByteArray image = bytePattern(kImageBytes);
        std::copy(image.begin(), image.end(), rig.window->monoImage().begin());
        LabelLog log(rig.window->statusLabel());
        rig.port.cts = [&, model = device(2, 1, 3)](const QByteArray &w, int n) { return log.note(), model(w, n); };
        rig.port.missingPorts = {c.op < 0 ? 1 : 0};   // port 0 is never asked for
        rig.port.watchable = c.watched;
        bool listenedWhileSending = false;  // a wait that has ended leaves the line alone
        rig.port.onWrite = [&] { listenedWhileSending |= rig.port.watching(); };
        rig.port.failAt(Op(qMax(c.op, 0)), c.nth);
        QStringList shown;
        recordBoxes(rig, shown);
        QElapsedTimer clock;
        clock.start();
        c.vram ? rig.window->sendToDisplayMemory() : rig.window->sendToFlashPage();
        // A watched line wakes the wait when it changes, instead of after a long pause.
        QVERIFY2(!c.watched || clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed())));

        const Chunks all = c.vram ? imageChunks("DT5", "TI", image) << "DP\r\n" : imageChunks("FS12", "TS", image);
        QCOMPARE(rig.port.chunks, all.mid(0, c.sent));
        QVERIFY(!shown.isEmpty() && shown.takeFirst().startsWith("注意：表示書換中は"));   // the confirmation, answered Yes
        QCOMPARE(shown, c.boxes);
        QVERIFY(rig.port.isOpen() == c.leftOpen && idleUi(rig) && !listenedWhileSending);
        if (!c.labels.isEmpty())
            QCOMPARE(log.texts, c.labels);
        if (c.leftOpen) {  // the next transfer closes what the failure left open, and goes out whole
            rig.port.chunks.clear();
            rig.port.log.clear();
            shown.clear();
            c.vram ? rig.window->sendToDisplayMemory() : rig.window->sendToFlashPage();
            QCOMPARE(rig.port.chunks, all);
            QCOMPARE(rig.port.log.value(0), QStringLiteral("close"));
            QVERIFY(shown.size() == 1 && !rig.port.isOpen() && idleUi(rig));
        }
    }

    // The bar starts empty with each transfer, the one after a full bar too.
    void progressStartsEmptyEachTime()
    {
        Rig rig;
        rig.window->show();
        QList<int> atCommand;
        rig.port.onWrite = [&] {
            if (rig.port.log.size() >= 2 && rig.port.log.at(rig.port.log.size() - 2) == "open")
                atCommand << rig.window->progressBar()->value();
        };
        rig.window->sendToDisplayMemory();
        rig.window->sendToDisplayMemory();
        QCOMPARE(atCommand, (QList<int>{0, 0}));
        QCOMPARE(rig.port.chunks.size(), 24);
    }

    void escStopsTransferWaitThatBlocksInputAndCostsNoCpu()
    {
        Rig rig;
        QPushButton button(QStringLiteral("probe"));
        button.setCheckable(true);
        QLineEdit edit;
        for (QWidget *w : std::initializer_list<QWidget *>{rig.window.get(), &button, &edit})
            QVERIFY((w->show(), QTest::qWaitForWindowExposed(w)));
        // The device rewrites for seconds; meanwhile the user clicks, types, closes the window, then presses Esc.
        QList<bool> during;   // window closed, bar shown, hourglass
        auto cpuSeconds = [u = rusage{}]() mutable {
            getrusage(RUSAGE_SELF, &u);
            return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
        };
        double cpu = 0;   // spent while the device is busy: from its second CTS read to Esc
        QElapsedTimer busy;
        rig.port.watchable = true;   // as a real port's line is
        rig.port.cts = [&, model = device(0, 0, 5000)](const QByteArray &written, int reads) {
            if (written.endsWith("DP\r\n") && reads == 1) {
                QTest::mouseClick(&button, Qt::LeftButton);
                QTest::keyClick(&edit, Qt::Key_A);
                const QCursor *cursor = QApplication::overrideCursor();
                during = {rig.window->close(), rig.window->progressBar()->isVisible(),
                          cursor && cursor->shape() == Qt::WaitCursor};
            } else if (written.endsWith("DP\r\n") && reads == 2) {
                cpu = cpuSeconds();
                busy.start();
            }
            return model(written, reads);
        };
        double busySeconds = 0;
        QTimer::singleShot(1000, Qt::PreciseTimer, rig.window.get(), [&] {
            cpu = cpuSeconds() - cpu;
            busySeconds = double(busy.elapsed()) / 1000.0;
            QCoreApplication::postEvent(rig.window.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        });
        QElapsedTimer wall;
        wall.start();
        rig.window->sendToDisplayMemory();
        const double elapsed = double(wall.elapsed()) / 1000.0;

        QCOMPARE(during, (QList<bool>{false, true, true}));
        QCOMPARE(rig.window->statusLabel()->text(), QStringLiteral("送信中止"));
        QVERIFY(!rig.port.isOpen() && idleUi(rig) && rig.boxes.texts() == QStringList{"画像を書換しますか？"});
        QVERIFY(!button.isChecked() && edit.text().isEmpty());
        // Esc ends the wait at once, and a wait that wakes a hundred times a second to poll
        // costs a core's percent or more.
        QVERIFY2(elapsed >= 0.95 && elapsed < 1.5, qPrintable(QString::number(elapsed)));
        QVERIFY2(busySeconds > 0.5 && cpu < 0.005 * busySeconds, qPrintable(QString("%1 s CPU in %2 s").arg(cpu).arg(busySeconds)));
        QTest::mouseClick(&button, Qt::LeftButton);   // outside a transfer the same input does arrive
        QTest::keyClick(&edit, Qt::Key_A);
        QVERIFY(button.isChecked() && edit.text() == "a");
    }

};

QTEST_MAIN(TstLink)
#include "tst_link.moc"
