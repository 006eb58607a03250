// The main window and the console against a simulated module that is port 1 of the program's
// folder, through the real Qt port: what the user does, and what the module shows.
#include "common/simulated.h"
#include "common/testsupport.h"
#include "core/link/qtserialport.h"
#include "gui/commandconsole.h"
#include "gui/mainwindow/mainwindow.h"
#include "gui/mainwindow/transfertexts.h"

#include <QtTest>
#include <QtWidgets>

using namespace pw;
using namespace pw::test;

namespace {

const QByteArray imageA = bytePattern(kImageBytes);
const QByteArray imageB = QByteArray(kImageBytes, '\x0f');

// The main window over the module: its program folder is the module's folder, where COM1 is
// the module's socket.
struct Window {
    explicit Window(InProcessModule &module) : port(module.dir.path())
    {
        Platform platform;
        platform.boxes = &boxes;
        platform.dialogs = &dialogs;
        platform.port = &port;
        platform.programDir = module.dir.path();
        platform.exitProgram = [] {};
        form = std::make_unique<MainWindow>(platform);
        form->show();
    }
    void setImage(const QByteArray &bytes) { std::copy(bytes.begin(), bytes.end(), form->monoImage().begin()); }

    ScriptedBoxes boxes;
    ScriptedDialogs dialogs;
    QtSerialPort port;
    std::unique_ptr<MainWindow> form;
};

// The status label's texts as they are painted; `painted` hears each new one.
struct LabelLog final : QObject {
    explicit LabelLog(QLabel *label) : label_(label)
    {
        label->installEventFilter(this);
        clock.start();
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && (texts.isEmpty() || texts.last() != label_->text())) {
            texts << label_->text();
            times << clock.elapsed();
            if (painted)
                painted(texts.last());
        }
        return false;
    }
    // How long `text` stood before the next text was painted.
    qint64 shownFor(const QString &text) const
    {
        const qsizetype at = texts.lastIndexOf(text);
        return at >= 0 && at + 1 < times.size() ? times[at + 1] - times[at] : -1;
    }
    QStringList texts;
    QList<qint64> times;
    QElapsedTimer clock;
    std::function<void(const QString &)> painted;

private:
    QLabel *label_;
};

}  // namespace

class TstSimulated : public QObject {
    Q_OBJECT
private slots:
    // VRAM, then a FLASH page that the console's TF and DP bring to the screen, then a
    // command file: each shows on the module exactly as sent.
    void transfersAndConsole()
    {
        InProcessModule module(true, "COM1");
        QVERIFY(module.start());
        Window window(module);
        QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
        window.setImage(imageA);
        window.form->sendToDisplayMemory();
        QCOMPARE(window.form->statusLabel()->text(), TransferText::rewritten);
        QCOMPARE(module.screen(), imageA);

        window.setImage(imageB);
        QVERIFY(window.form->selectListEntry(window.form->pageList(), "7"));
        window.form->sendToFlashPage();
        const QStringList asked{TransferText::displayMemoryQuestion(), TransferText::flashPageQuestion("7")};
        QCOMPARE(window.boxes.texts(), asked + QStringList{TransferText::flashNotice});

        window.form->openConsole();
        CommandConsole *console = window.form->console();
        QVERIFY(console && QTest::qWaitForWindowExposed(console));
        console->commandLineEdit()->setText("TF7");
        console->sendTypedLine();
        console->commandLineEdit()->setText("DP");
        console->sendTypedLine();
        QCOMPARE(module.screen(), imageB);   // the console's send returned: the module has acted

        QVERIFY(writeFile(module.dir.filePath("commands.txt"), "TF0\r\nDP\r\n"));
        window.dialogs.answers << module.dir.filePath("commands.txt");
        console->sendCommandFile();
        QCOMPARE(window.boxes.texts(), asked + (QStringList{TransferText::flashNotice, QStringLiteral("コマンドファイルを送信しました。")}));
        QCOMPARE(module.screen(), QByteArray(kImageBytes, '\0'));   // page 0 is blank
        QCOMPARE(module.lines(), (QStringList{"DT 3", "TI 1024 bytes", "DP", "FS 7", "TS 1024 bytes", "TF 7", "DP", "TF 0", "DP"}));
        QVERIFY(!window.port.isOpen());
    }

    // At the line's pace the window's waits follow the module's CTS: sending for as long as
    // the line takes the bytes, rewriting until the rewrite time has passed. Esc in the
    // rewrite wait stops the transfer, and the next one waits for the rewrite to end and then
    // goes through.
    void escDuringRewrite()
    {
        InProcessModule module(false, "COM1");
        QVERIFY(module.start());
        Window window(module);
        QVERIFY(QTest::qWaitForWindowExposed(window.form.get()));
        QVERIFY(window.form->selectListEntry(window.form->rewriteTimeList(), "1"));
        LabelLog log(window.form->statusLabel());
        log.painted = [&](const QString &text) {
            if (text == TransferText::rewriting && log.texts.contains(TransferText::sending))
                QTimer::singleShot(0, window.form.get(), [&] { QTest::keyClick(window.form.get(), Qt::Key_Escape); });
        };
        window.setImage(imageA);
        window.form->sendToDisplayMemory();
        QCOMPARE(log.texts, (QStringList{"", TransferText::sending, TransferText::rewriting, TransferText::cancelled}));
        QVERIFY(!window.port.isOpen() && window.boxes.texts() == QStringList{TransferText::displayMemoryQuestion()});
        QCOMPARE(module.lines(), (QStringList{"DT 1", "TI 1024 bytes", "DP"}));

        log.painted = nullptr;
        log.texts.clear();
        log.times.clear();
        window.setImage(imageB);
        QElapsedTimer clock;
        clock.start();
        window.form->sendToDisplayMemory();
        // The rest of the first rewrite, 1037 bytes at 960 a second, and a second's rewrite.
        QVERIFY2(clock.elapsed() >= 2000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(log.texts, (QStringList{"", TransferText::rewriting, TransferText::sending, TransferText::rewriting, TransferText::rewritten}));
        const qint64 lineMs = displayMemoryStream(MonoImage{}, 1).bytes().size() * 1000 / Simulator::kBytesPerSecond;
        QVERIFY2(qAbs(log.shownFor(TransferText::sending) - lineMs) <= lineMs / 10,
                 qPrintable(QString("%1 ms, the line's %2").arg(log.shownFor(TransferText::sending)).arg(lineMs)));
        QCOMPARE(module.screen(), imageB);
        QCOMPARE(module.lines().mid(3), (QStringList{"DT 1", "TI 1024 bytes", "DP"}));
    }
};

QTEST_MAIN(TstSimulated)
#include "tst_simulated.moc"
