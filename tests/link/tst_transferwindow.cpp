// The transfers run from the main window: the label, bar and pointer the user sees, the
// boxes, Esc, input held back during a wait, and the cost of a long wait.
#include "common/testsupport.h"
#include "linksupport.h"
#include "tst_link.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <sys/resource.h>

using namespace pw;
using namespace pw::test;

namespace {

void showAndWait(QWidget *widget)
{
    widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(widget));
}

bool hourglassShown()
{
    return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

void postEscape(QObject *target)
{
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
}

void postClick(QWidget *target)
{
    const QPointF at = QRectF(target->rect()).center();
    const QPointF global = target->mapToGlobal(at);
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                         Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                         Qt::NoButton, Qt::NoModifier));
}

void postKey(QWidget *target, Qt::Key key, const QString &text)
{
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
    QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

MonoImage patternImage(QByteArray *bytes)
{
    *bytes = patternBytes(kImageBytes, 11);
    MonoImage image{};
    for (int i = 0; i < kImageBytes; ++i)
        image[i] = std::uint8_t(bytes->at(i));
    return image;
}

// A widget that counts how often it was painted.
class PaintProbe final : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
};

}  // namespace

void TstTransferWindow::vramOnScreen()
{
    Rig rig;
    showAndWait(rig.form.get());
    LabelPaints paints(rig.form->statusLabel());
    QByteArray image;
    rig.form->monoImage() = patternImage(&image);

    // While the device works after the data: hourglass, bar full, port open.
    QStringList duringWork;
    const DeviceModel device{2, 3, 3};
    rig.port.cts = [&](const QByteArray &written, int reads) {
        if (written.endsWith("DP\r\n"))
            duringWork << QStringLiteral("%1 %2 %3")
                              .arg(hourglassShown())
                              .arg(rig.form->progressBar()->isVisible())
                              .arg(rig.form->progressBar()->value());
        return device.cts(written, reads);
    };
    rig.form->tx_data();

    QCOMPARE(rig.port.written(), QByteArray("DT3\r\nTI") + image + QByteArray("\r\nDP\r\n"));
    QCOMPARE(paints.texts, (QStringList{"", "画面書換中!!", "送信中", "内部処理中!!", "画面書換中!!", "書換終了"}));
    QVERIFY(!duringWork.isEmpty());
    for (const QString &state : std::as_const(duringWork))
        QCOMPARE(state, QStringLiteral("1 1 7"));
    QCOMPARE(rig.form->statusLabel()->text(), QStringLiteral("書換終了"));
    QVERIFY(!rig.form->progressBar()->isVisible());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!rig.port.isOpen());
    QVERIFY(rig.boxes.shown.isEmpty());
}

void TstTransferWindow::flashOnScreen()
{
    Rig rig;
    showAndWait(rig.form.get());
    QVERIFY(rig.form->selectComboText(rig.form->combo(3), QStringLiteral("12")));
    QByteArray image;
    rig.form->monoImage() = patternImage(&image);
    rig.port.cts = DeviceModel{3, 0, 0}.asFunction();

    QString whileNotice;
    rig.boxes.onShow = [&](const ScriptedBoxes::Shown &) {
        whileNotice = QStringLiteral("%1 %2 %3 %4 %5")
                          .arg(rig.port.isOpen())
                          .arg(hourglassShown())
                          .arg(rig.form->progressBar()->isVisible())
                          .arg(rig.form->progressBar()->value())
                          .arg(rig.form->statusLabel()->text());
    };
    rig.form->ts_data();

    QCOMPARE(rig.port.written(), QByteArray("FS12\r\nTS") + image + QByteArray("\r\n"));
    QCOMPARE(rig.boxes.shown.size(), 1);
    QCOMPARE(rig.boxes.shown[0].title, QString());
    QCOMPARE(rig.boxes.shown[0].text, QStringLiteral("書込み画像は、TFコマンド→DPコマンドにて表示確認できます。"));
    QCOMPARE(rig.boxes.shown[0].buttons, MessageBoxes::Buttons::Ok);
    QCOMPARE(whileNotice, QStringLiteral("1 1 1 7 書換終了"));
    QVERIFY(!rig.port.isOpen());
    QVERIFY(!rig.form->progressBar()->isVisible());
    QVERIFY(!QApplication::overrideCursor());
}

void TstTransferWindow::failureOnScreen_data()
{
    QTest::addColumn<bool>("vram");
    QTest::addColumn<bool>("portMissing");
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("hourglassDuringBox");

    using Op = FakePort::Op;
    QTest::newRow("VRAM, no such port") << true << true << -1 << 0 << "before" << false;
    QTest::newRow("VRAM, CTS read fails while rewriting") << true << false << int(Op::ReadCts) << 6 << "画面書換中!!" << true;
    QTest::newRow("FLASH, no such port") << false << true << -1 << 0 << "before" << false;
    QTest::newRow("FLASH, band write fails") << false << false << int(Op::WriteBytes) << 3 << "送信中" << true;
}

void TstTransferWindow::failureOnScreen()
{
    QFETCH(bool, vram);
    QFETCH(bool, portMissing);
    QFETCH(int, op);
    QFETCH(int, nth);
    QFETCH(QString, label);
    QFETCH(bool, hourglassDuringBox);

    Rig rig;
    showAndWait(rig.form.get());
    rig.form->setStatus(QStringLiteral("before"), true);
    if (portMissing)
        rig.port.missingPorts = {1};
    if (op >= 0)
        rig.port.failAt(FakePort::Op(op), nth);
    rig.port.cts = DeviceModel{0, 2, 2}.asFunction();
    bool hourglassAtBox = false;
    rig.boxes.onShow = [&](const ScriptedBoxes::Shown &) { hourglassAtBox = hourglassShown(); };
    vram ? rig.form->tx_data() : rig.form->ts_data();

    QCOMPARE(rig.boxes.texts(), QStringList{"ポートの指定が誤りです。(tx_data)"});
    QCOMPARE(rig.boxes.shown[0].title, QStringLiteral("注意"));
    QCOMPARE(hourglassAtBox, hourglassDuringBox);
    QCOMPARE(rig.form->statusLabel()->text(), label);
    QVERIFY(!rig.form->progressBar()->isVisible());
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(rig.port.isOpen(), !portMissing);
    if (portMissing)
        QVERIFY(rig.port.chunks.isEmpty());
}

void TstTransferWindow::escCancels_data()
{
    QTest::addColumn<bool>("vram");
    QTest::addColumn<int>("busyAtStart");
    QTest::addColumn<int>("workReads");
    QTest::addColumn<int>("chunks");
    QTest::newRow("VRAM, ready wait") << true << 1000000000 << 0 << 0;
    QTest::newRow("VRAM, rewrite wait") << true << 0 << 1000000000 << 12;
    QTest::newRow("FLASH, ready wait") << false << 1000000000 << 0 << 0;
}

void TstTransferWindow::escCancels()
{
    QFETCH(bool, vram);
    QFETCH(int, busyAtStart);
    QFETCH(int, workReads);
    QFETCH(int, chunks);

    Rig rig;
    showAndWait(rig.form.get());
    const DeviceModel device{busyAtStart, 0, workReads};
    int busyReads = 0;
    rig.port.cts = [&](const QByteArray &written, int reads) {
        const bool cts = device.cts(written, reads);
        if (!cts && ++busyReads == 20)
            postEscape(rig.form.get());
        return cts;
    };
    vram ? rig.form->tx_data() : rig.form->ts_data();

    QCOMPARE(rig.form->statusLabel()->text(), QStringLiteral("送信を中止しました"));
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.port.chunks.size(), chunks);
    QVERIFY(!rig.form->progressBar()->isVisible());
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(rig.boxes.shown.isEmpty());
    // The wait ended soon after the key, not by chance much later.
    QVERIFY2(busyReads < 40, qPrintable(QString::number(busyReads)));
}

void TstTransferWindow::inputHeldBack()
{
    Rig rig;
    showAndWait(rig.form.get());
    QPushButton button(QStringLiteral("probe"));
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&] { ++clicks; });
    QLineEdit edit;
    PaintProbe painted;
    for (QWidget *w : std::initializer_list<QWidget *>{&button, &edit, &painted})
        showAndWait(w);

    // The user clicks, types and closes the main window while the device rewrites its screen;
    // meanwhile a part of the screen needs painting.
    const DeviceModel device{0, 0, 300};
    int paintsBefore = -1;
    int paintsDuring = -1;
    rig.port.cts = [&](const QByteArray &written, int reads) {
        if (written.endsWith("DP\r\n")) {
            if (reads == 1) {
                postClick(&button);
                postKey(&edit, Qt::Key_A, QStringLiteral("a"));
                QCoreApplication::postEvent(rig.form.get(), new QCloseEvent);
                paintsBefore = painted.paints;
                painted.update();
            } else if (reads == 200) {
                paintsDuring = painted.paints;
            }
        }
        return device.cts(written, reads);
    };
    rig.form->tx_data();
    QCoreApplication::processEvents();

    QCOMPARE(rig.form->statusLabel()->text(), QStringLiteral("書換終了"));
    QCOMPARE(clicks, 0);
    QCOMPARE(edit.text(), QString());
    QVERIFY(rig.form->isVisible());
    QCOMPARE(rig.port.log.count(QStringLiteral("close")), 1);   // only the transfer's own close
    QVERIFY2(paintsDuring > paintsBefore, qPrintable(QStringLiteral("%1 %2").arg(paintsBefore).arg(paintsDuring)));

    // The same input outside a transfer does reach its targets.
    postClick(&button);
    postKey(&edit, Qt::Key_A, QStringLiteral("a"));
    QCoreApplication::processEvents();
    QCOMPARE(clicks, 1);
    QCOMPARE(edit.text(), QStringLiteral("a"));
}

void TstTransferWindow::waitUsesLittleCpu()
{
    // PW_WAIT_SECONDS=5 gives the five-second figure; the default keeps the suite short.
    const int seconds = qEnvironmentVariableIsSet("PW_WAIT_SECONDS") ? qEnvironmentVariableIntValue("PW_WAIT_SECONDS") : 1;
    Rig rig;
    showAndWait(rig.form.get());
    rig.port.cts = [](const QByteArray &, int) { return false; };
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, rig.form.get(), [&] { postEscape(rig.form.get()); });

    QElapsedTimer wall;
    const double cpuBefore = cpuSeconds();
    wall.start();
    rig.form->tx_data();
    const double cpu = cpuSeconds() - cpuBefore;
    const double elapsed = double(wall.elapsed()) / 1000.0;

    qInfo("CTS wait of %.2f s used %.3f s CPU (%.1f %%), %d CTS reads", elapsed, cpu, 100.0 * cpu / elapsed,
          rig.port.ctsReads);
    QCOMPARE(rig.form->statusLabel()->text(), QStringLiteral("送信を中止しました"));
    QVERIFY(elapsed >= seconds - 0.05);
    // A wait that spins keeps a core busy all the time.
    QVERIFY2(cpu < 0.25 * elapsed, qPrintable(QStringLiteral("%1 s CPU in %2 s").arg(cpu).arg(elapsed)));
}
