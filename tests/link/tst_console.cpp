// The command console: its window, the typed line and the command file.
#include "common/testsupport.h"
#include "link/console/form2.h"
#include "linksupport.h"
#include "tst_link.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace pw;
using namespace pw::test;

namespace {

// A main window with its console open, the port log cleared of the start-up steps.
struct ConsoleRig {
    Rig rig;
    Form2 *console = nullptr;

    ConsoleRig()
    {
        rig.form->show();
        rig.form->mmucom_Click();
        console = rig.form->console();
        rig.port.log.clear();
    }
    QPushButton *button(const char *name) const { return console->findChild<QPushButton *>(QLatin1String(name)); }
};

void postClick(QWidget *target)
{
    const QPointF at = QRectF(target->rect()).center();
    const QPointF global = target->mapToGlobal(at);
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                                         Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                                         Qt::NoButton, Qt::NoModifier));
}

QString fileCaption(const QString &path)
{
    return QStringLiteral("コマンド送信(") + QDir::toNativeSeparators(path) + QLatin1Char(')');
}

}  // namespace

void TstConsole::opensInPlaceOfMainWindow()
{
    Rig rig;
    rig.form->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.form.get()));
    rig.form->mmucom_Click();
    Form2 *console = rig.form->console();
    QVERIFY(console);
    QVERIFY(console->isVisible());
    QVERIFY(!console->isModal());
    QVERIFY(!rig.form->isVisible());
    QCOMPARE(console->windowTitle(), QStringLiteral("コマンド送信"));
    QCOMPARE(console->consoleCaption(), QStringLiteral("コマンド送信"));
    QCOMPARE(console->size(), QSize(235, 136));
    QCOMPARE(console->text1()->text(), QString());

    // Closing shows the main window again; the next opening is a fresh console.
    console->setWindowTitle(QStringLiteral("changed"));
    console->text1()->setText(QStringLiteral("typed"));
    QVERIFY(console->close());
    QVERIFY(rig.form->isVisible());
    QVERIFY(!console->isVisible());
    rig.form->mmucom_Click();
    QVERIFY(!rig.form->isVisible());
    QCOMPARE(rig.form->console()->windowTitle(), QStringLiteral("コマンド送信"));
    QCOMPARE(rig.form->console()->text1()->text(), QString());
}

void TstConsole::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");
    QTest::addColumn<QString>("text");
    QTest::newRow("Label1") << "Label1" << QRect(16, 8, 113, 17) << "ダイレクトコマンド入力";
    QTest::newRow("Text1") << "Text1" << QRect(16, 24, 201, 18) << "";
    QTest::newRow("Command1") << "Command1" << QRect(56, 48, 121, 33) << "コマンド送信";
    QTest::newRow("Command2") << "Command2" << QRect(56, 96, 121, 33) << "コマンドファイル送信";
}

void TstConsole::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, place);
    QFETCH(QString, text);

    ConsoleRig c;
    auto *widget = c.console->findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), place);
    QString shown;
    if (auto *label = qobject_cast<QLabel *>(widget))
        shown = label->text();
    else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        shown = edit->text();
    else if (auto *button = qobject_cast<QPushButton *>(widget))
        shown = button->text();
    QCOMPARE(shown, text);

    // The line across the window, and the tab order Text1, Command1, Label1, Command2.
    auto *line = c.console->findChild<QFrame *>(QStringLiteral("Line1"));
    QVERIFY(line);
    QCOMPARE(line->frameShape(), QFrame::HLine);
    QCOMPARE(line->geometry().top(), 88);
    QCOMPARE(line->geometry().left(), 0);
    QCOMPARE(line->geometry().width(), 235);
    // (A label never takes the focus, so Tab goes from Command1 straight to Command2.)
    QStringList order;
    QWidget *w = c.console->text1();
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != c.console->text1() && order.size() < 10);
    QCOMPARE(order, (QStringList{"Text1", "Command1", "Command2"}));
    QCOMPARE(c.console->findChild<QLabel *>(QStringLiteral("Label1"))->focusPolicy(), Qt::NoFocus);
}

void TstConsole::typedLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("DP") << "DP" << QByteArray("\x44\x50\x0d\x0a");
    QTest::newRow("empty line") << "" << QByteArray("\r\n");
    QTest::newRow("blanks kept") << "  TF 3 " << QByteArray("  TF 3 \r\n");
    const QString local = QStringLiteral("DT漢字");
    QTest::newRow("non-ASCII in the local code page") << local << QByteArray(local.toLocal8Bit() + "\r\n");
}

void TstConsole::typedLine()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);

    ConsoleRig c;
    c.console->text1()->setText(text);
    // The driver reports the line going out over a few polls; the port must stay open until then.
    QList<qint64> queue = {4, 2, 1, 0};
    QStringList polls;
    c.rig.port.pending = [&] {
        polls << (c.rig.port.isOpen() ? QStringLiteral("open") : QStringLiteral("closed"));
        return queue.isEmpty() ? qint64(0) : queue.takeFirst();
    };
    QTest::mouseClick(c.button("Command1"), Qt::LeftButton);

    QCOMPARE(c.rig.port.chunks, QList<QByteArray>{bytes});
    QCOMPARE(polls, QStringList(4, QStringLiteral("open")));
    QCOMPARE(c.rig.port.log, (QStringList{"setPortNumber 1", "clear", "open", "writeText", "close"}));
    QVERIFY(c.rig.boxes.shown.isEmpty());
    QCOMPARE(c.console->text1()->text(), text);
    QCOMPARE(c.console->windowTitle(), QStringLiteral("コマンド送信"));
}

void TstConsole::typedLineFailures_data()
{
    QTest::addColumn<bool>("portMissing");
    QTest::addColumn<int>("op");
    QTest::addColumn<bool>("stuck");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("portOpen");

    using Op = FakePort::Op;
    QTest::newRow("no such port") << true << -1 << false << 0 << false;
    QTest::newRow("open fails") << false << int(Op::Open) << false << 0 << false;
    QTest::newRow("write fails") << false << int(Op::WriteText) << false << 0 << true;
    QTest::newRow("transmit count fails") << false << int(Op::TransmitCount) << false << 1 << true;
    QTest::newRow("bytes never leave") << false << -1 << true << 1 << true;
}

void TstConsole::typedLineFailures()
{
    QFETCH(bool, portMissing);
    QFETCH(int, op);
    QFETCH(bool, stuck);
    QFETCH(int, chunks);
    QFETCH(bool, portOpen);

    ConsoleRig c;
    c.console->text1()->setText(QStringLiteral("DP"));
    if (portMissing)
        c.rig.port.missingPorts = {1};
    if (op >= 0)
        c.rig.port.failAt(FakePort::Op(op), 1);
    if (stuck)
        c.rig.port.pending = [] { return qint64(3); };
    QElapsedTimer clock;
    clock.start();
    c.console->Command1_Click();

    QCOMPARE(c.rig.boxes.shown.size(), 1);
    QCOMPARE(c.rig.boxes.shown[0].title, QStringLiteral("注意"));
    QCOMPARE(c.rig.boxes.shown[0].text, QStringLiteral("ポートの指定が誤りです。"));
    QCOMPARE(c.rig.port.chunks.size(), chunks);
    QCOMPARE(c.rig.port.isOpen(), portOpen);
    if (stuck)   // four bytes take about 4 ms on the line; the wait gives up after its margin
        QVERIFY(clock.elapsed() >= 1000 && clock.elapsed() < 3000);
    // The next send starts by closing what the failure left open.
    c.rig.port.log.clear();
    c.rig.port.failAt(FakePort::Op::Open, 0);
    c.rig.port.failAt(FakePort::Op::WriteText, 0);
    c.rig.port.failAt(FakePort::Op::TransmitCount, 0);
    c.rig.port.missingPorts.clear();
    c.rig.port.pending = [] { return qint64(0); };
    c.console->Command1_Click();
    QCOMPARE(c.rig.port.log.first(), portOpen ? QStringLiteral("close") : QStringLiteral("setPortNumber 1"));
    QCOMPARE(c.rig.port.chunks.last(), QByteArray("DP\r\n"));
    QVERIFY(!c.rig.port.isOpen());
}

void TstConsole::secondPressIgnoredWhileWaiting()
{
    ConsoleRig c;
    c.console->text1()->setText(QStringLiteral("DP"));
    int polls = 0;
    c.rig.port.pending = [&] {
        if (++polls == 1) {
            postClick(c.button("Command1"));
            postClick(c.button("Command2"));
        }
        return polls < 30 ? qint64(2) : qint64(0);
    };
    c.rig.dialogs.answers << std::optional<QString>(c.rig.path(QStringLiteral("never.txt")));
    c.console->Command1_Click();
    QCoreApplication::processEvents();

    QVERIFY(polls >= 30);
    QCOMPARE(c.rig.port.chunks, QList<QByteArray>{"DP\r\n"});
    QCOMPARE(c.rig.port.log.count(QStringLiteral("open")), 1);
    QVERIFY(c.rig.dialogs.requests.isEmpty());
    QVERIFY(c.rig.boxes.shown.isEmpty());
    QVERIFY(!c.rig.port.isOpen());

    // Once the send is over the button works again.
    QTest::mouseClick(c.button("Command1"), Qt::LeftButton);
    QCOMPARE(c.rig.port.chunks.size(), 2);
}

void TstConsole::closeDuringWait()
{
    ConsoleRig c;
    c.console->text1()->setText(QStringLiteral("TF 1"));
    int polls = 0;
    QStringList states;
    c.rig.port.pending = [&] {
        ++polls;
        if (polls == 2)
            c.console->close();
        states << QStringLiteral("%1 %2").arg(c.rig.port.isOpen()).arg(c.rig.form->isVisible());
        return polls < 10 ? qint64(5) : qint64(0);
    };
    c.console->Command1_Click();

    QVERIFY(!c.console->isVisible());
    QVERIFY(c.rig.form->isVisible());
    QVERIFY(c.rig.boxes.shown.isEmpty());
    QVERIFY(!c.rig.port.isOpen());
    // The line went out completely before the port was closed.
    QCOMPARE(polls, 10);
    QCOMPARE(states.mid(2), QStringList(8, QStringLiteral("1 1")));
    QCOMPARE(c.rig.port.log.last(), QStringLiteral("close"));
    QCOMPARE(c.rig.port.chunks, QList<QByteArray>{"TF 1\r\n"});
}

void TstConsole::commandFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ten bytes with CR LF inside") << QByteArray("DT3\r\nDP\r\nX");
    QTest::newRow("no terminator at the end") << QByteArray("DP");
    QTest::newRow("64 KiB") << patternBytes(64 * 1024, 5);
}

void TstConsole::commandFile()
{
    QFETCH(QByteArray, bytes);

    ConsoleRig c;
    const QString path = c.rig.path(QStringLiteral("init.txt"));
    QVERIFY(writeFile(path, bytes));
    c.rig.dialogs.answers << std::optional<QString>(path);
    // What an earlier use of the shared dialog left stays: flags, file name, current folder.
    CommonDialog &dialog = c.rig.form->commonDialog();
    dialog.setFlags(CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly);
    dialog.setFileName(c.rig.path(QStringLiteral("earlier.bin")));
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    const QString current = QDir::currentPath();

    QString duringBox;
    c.rig.boxes.onShow = [&](const ScriptedBoxes::Shown &) {
        const bool hourglass = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        duringBox = QStringLiteral("%1 %2 %3").arg(c.rig.port.isOpen()).arg(hourglass).arg(c.console->windowTitle());
    };
    QTest::mouseClick(c.button("Command2"), Qt::LeftButton);

    QCOMPARE(c.rig.port.written(), bytes);
    QCOMPARE(c.rig.port.chunks.size(), bytes.size());   // one write per byte
    QCOMPARE(c.rig.boxes.shown.size(), 1);
    QCOMPARE(c.rig.boxes.shown[0].title, QString());
    QCOMPARE(c.rig.boxes.shown[0].text, QStringLiteral("コマンドファイルを送信しました。"));
    QCOMPARE(duringBox, QStringLiteral("1 1 ") + fileCaption(path));
    QCOMPARE(c.console->windowTitle(), fileCaption(path));
    QVERIFY(!c.rig.port.isOpen());
    QCOMPARE(c.rig.port.log.last(), QStringLiteral("close"));
    QVERIFY(!QApplication::overrideCursor());

    QCOMPARE(c.rig.dialogs.requests.size(), 1);
    QCOMPARE(c.rig.dialogs.requests[0].mode, FileDialogRequest::Mode::Open);
    QCOMPARE(c.rig.dialogs.requests[0].labels, QStringList{"*.*"});
    QCOMPARE(c.rig.dialogs.requests[0].initialPath, c.rig.path(QStringLiteral("earlier.bin")));
    QCOMPARE(dialog.filter(), QStringLiteral("*.*|*.*"));
    QCOMPARE(dialog.flags(), CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly);
    QCOMPARE(QDir::currentPath(), current);
}

void TstConsole::commandFileSilentFailures_data()
{
    QTest::addColumn<QString>("file");      // "" cancels the dialog
    QTest::addColumn<QByteArray>("bytes");  // written to the file unless the file is "missing"
    QTest::addColumn<bool>("portMissing");
    QTest::addColumn<int>("failingWrite");
    QTest::addColumn<bool>("stuck");
    QTest::addColumn<int>("chunks");
    QTest::addColumn<bool>("captionChanged");
    QTest::addColumn<bool>("portOpen");

    const QByteArray ten("0123456789");
    QTest::newRow("dialog cancelled") << "" << ten << false << 0 << false << 0 << false << false;
    QTest::newRow("empty file") << "empty.txt" << QByteArray() << false << 0 << false << 0 << false << false;
    QTest::newRow("file gone") << "missing" << ten << false << 0 << false << 0 << false << false;
    QTest::newRow("no such port") << "cmd.txt" << ten << true << 0 << false << 0 << true << false;
    QTest::newRow("fifth write fails") << "cmd.txt" << ten << false << 5 << false << 4 << true << true;
    QTest::newRow("bytes never leave") << "cmd.txt" << ten << false << 0 << true << 10 << true << true;
}

void TstConsole::commandFileSilentFailures()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, portMissing);
    QFETCH(int, failingWrite);
    QFETCH(bool, stuck);
    QFETCH(int, chunks);
    QFETCH(bool, captionChanged);
    QFETCH(bool, portOpen);

    ConsoleRig c;
    if (file.isEmpty()) {
        c.rig.dialogs.answers << std::nullopt;
    } else {
        const QString path = c.rig.path(file);
        if (file != QLatin1String("missing"))
            QVERIFY(writeFile(path, bytes));
        c.rig.dialogs.answers << std::optional<QString>(path);
    }
    if (portMissing)
        c.rig.port.missingPorts = {1};
    if (failingWrite)
        c.rig.port.failAt(FakePort::Op::WriteBytes, failingWrite);
    if (stuck)
        c.rig.port.pending = [] { return qint64(1); };
    c.console->Command2_Click();

    QVERIFY(c.rig.boxes.shown.isEmpty());
    QCOMPARE(c.rig.port.chunks.size(), chunks);
    QCOMPARE(c.console->windowTitle() != QStringLiteral("コマンド送信"), captionChanged);
    QCOMPARE(c.rig.port.isOpen(), portOpen);
    QVERIFY(!QApplication::overrideCursor());
    QVERIFY(!c.console->sending());
}

void TstConsole::closeClosesPort()
{
    ConsoleRig c;
    c.rig.port.failAt(FakePort::Op::WriteText, 1);
    c.console->Command1_Click();
    QVERIFY(c.rig.port.isOpen());   // left as the failure left it

    QVERIFY(c.console->close());
    QVERIFY(!c.rig.port.isOpen());
    QVERIFY(c.rig.form->isVisible());
    QVERIFY(!c.console->isVisible());
}
