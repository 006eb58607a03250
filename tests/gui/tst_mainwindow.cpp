// The main window as the user meets it: start-up with its settings file, the lists, the
// conversion, BIN files and the confirmations before a transfer.
#include "common/testsupport.h"
#include "gui/aboutdialog.h"
#include "gui/commandconsole.h"
#include "gui/icons.h"
#include "gui/splashscreen.h"
#include "gui/studio/conversionstudio.h"
#include "gui/waitgate.h"
#include "gui/mainwindow/picturearea.h"

#include <QClipboard>
#include <QAbstractButton>
#include <QLineEdit>
#include <QAbstractSpinBox>
#include <QGroupBox>
#include <QComboBox>
#include <QMenuBar>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolBar>
#include <QtTest>
#include <tuple>

using pw::ConversionStudio;
using pw::test::Rig;
using Answer = pw::MessageBoxes::Answer;

namespace {

const QString kBase = QStringLiteral("Pixelwright for 128×64(Mono)");

QAction *action(pw::MainWindow &window, const char *name)
{
    QAction *found = window.findChild<QAction *>(QLatin1String(name));
    if (!found)
        qFatal("no action %s", name);
    return found;
}

// As the user does it: a click on the action's button in the toolbar.
void clickToolbarButton(pw::MainWindow &window, const char *name)
{
    QWidget *button = window.toolBar()->widgetForAction(action(window, name));
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

// What a command left that the user could notice: the file dialogs asked for, the boxes, the
// status, the windows shown, the clipboard, the picture taken in, the exits.
QString aftermath(Rig &rig, const QImage &clipboardBefore)
{
    pw::MainWindow &w = *rig.window;
    QStringList seen;
    for (const pw::FileDialogRequest &r : rig.dialogs.requests)
        seen << (r.mode == pw::FileDialogRequest::Mode::Save ? "save " : "open ") + r.labels.join(',');
    for (const QString &text : rig.boxes.texts())
        seen << "box " + text;
    if (!w.statusLabel()->text().isEmpty())
        seen << "status " + w.statusLabel()->text();
    if (w.console() && w.console()->isVisible())
        seen << "console";
    if (w.studio() && w.studio()->isVisible())
        seen << "studio";
    if (w.about() && w.about()->isVisible())
        seen << "about";
    if (QGuiApplication::clipboard()->image() != clipboardBefore)
        seen << "copied";
    if (w.sourcePicture())
        seen << "pasted";
    if (rig.exits)
        seen << "exit";
    if (!rig.port.written().isEmpty())
        seen << "sent";
    return seen.join(" | ");
}

}  // namespace

// Every widget of a window, depth first: its class, name, place, state and words, and every
// action of its menus; one line each.
void describe(const QWidget *widget, int depth, QStringList &out)
{
    QString words;
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        words = label->text() + (label->wordWrap() ? QStringLiteral("\" wrapped \"") : QString());
    else if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        words = button->text();
    else if (const auto *box = qobject_cast<const QGroupBox *>(widget))
        words = box->title();
    else if (const auto *combo = qobject_cast<const QComboBox *>(widget))  // the fonts are the machine's
        words = combo->accessibleName() == QStringLiteral("フォント") ? combo->currentText() : QStringLiteral("%1 of %2").arg(combo->currentText()).arg(combo->count());
    else if (const auto *spin = qobject_cast<const QAbstractSpinBox *>(widget))
        words = spin->text();
    else if (const auto *edit = qobject_cast<const QLineEdit *>(widget))
        words = edit->text() + QLatin1Char('|') + edit->placeholderText();
    // Windows go wherever the screen puts them; the studio's layout follows the machine's fonts.
    const QRect g = widget->isWindow() ? QRect(QPoint(), widget->size()) : widget->geometry();
    const bool laidOut = qobject_cast<const ConversionStudio *>(widget->window());
    out << QStringLiteral("%1%2 %3 %4%5%6 \"%7\" tip \"%8\" name \"%9\"")
               .arg(QString(depth * 2, QLatin1Char(' ')), QLatin1String(widget->metaObject()->className()), widget->objectName(),
                    laidOut ? QStringLiteral("-") : QStringLiteral("%1,%2 %3x%4").arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height()))
               .arg(widget->isWindow() || widget->isVisibleTo(widget->window()) ? QString() : QStringLiteral(" hidden"),
                    widget->isEnabled() ? QString() : QStringLiteral(" disabled"), words, widget->toolTip(), widget->accessibleName());
    for (const QAction *action : widget->actions())
        if (qobject_cast<const QMenu *>(widget) || qobject_cast<const QToolBar *>(widget))
            out << QStringLiteral("%1  action \"%2\" %3%4%5").arg(QString(depth * 2, QLatin1Char(' ')), action->text(), action->shortcut().toString(),
                                                                 action->isEnabled() ? QString() : QStringLiteral(" disabled"),
                                                                 action->isSeparator() ? QStringLiteral(" separator") : QString());
    for (const QObject *child : widget->children())
        if (const auto *w = qobject_cast<const QWidget *>(child); w && !w->isWindow())
            describe(w, depth + 1, out);
}

class TstMainWindow : public QObject {
    Q_OBJECT
private slots:
    // While the program is busy, keys go nowhere; a box opened then takes keys, but not those
    // typed before it came; once it is gone, keys go nowhere again.
    void busyGateOpensOnlyForItsBox()
    {
        QLineEdit edit;
        edit.show();
        pw::WaitGate gate(pw::WaitGate::Input::Blocked);
        QCoreApplication::postEvent(&edit, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a")));
        {
            const pw::WaitGate::Opening open(gate);
            QCoreApplication::processEvents();
            QCOMPARE(edit.text(), QString());
            QTest::keyClick(&edit, Qt::Key_B);
            QCOMPARE(edit.text(), QStringLiteral("b"));
        }
        QTest::keyClick(&edit, Qt::Key_C);
        QCOMPARE(edit.text(), QStringLiteral("b"));
    }

    // Each menu's access keys, in the order of its items: every key once in its menu, the
    // original items' keys as they have always been. A key opens its item at once.
    void menuAccessKeysAreUnique()
    {
        Rig rig;
        QStringList keys;
        QList<QWidget *> menus{rig.window->menuBar(), rig.window->pictureMenu()};
        for (QAction *title : rig.window->menuBar()->actions())
            menus << title->menu();
        for (QWidget *menu : menus) {
            QString letters;
            for (QAction *item : menu->actions())
                if (!item->isSeparator() && !QKeySequence::mnemonic(item->text()).isEmpty())
                    letters += QKeySequence::mnemonic(item->text()).toString().right(1);
            for (const QChar letter : letters)
                QVERIFY2(letters.count(letter) == 1, qPrintable(menu->objectName() + ": " + letters));
            keys << menu->objectName() + '=' + letters;
        }
        QCOMPARE(keys, (QStringList{"=FRH", "pictureMenu=", "fileMenu=OBASEX", "runMenu=CTSAOF", "helpMenu=A"}));
        rig.window->show();
        QMenu *run = rig.window->findChild<QMenu *>("runMenu");
        run->popup(rig.window->mapToGlobal(QPoint(0, 0)));
        QVERIFY(QTest::qWaitForWindowExposed(run));
        QTest::keyClick(run, Qt::Key_F);
        QCOMPARE(rig.boxes.texts(), QStringList{"画像ファイルを開いて下さい。"});  // 全フレームをFLASHへ送信, with nothing open
    }

    // The toolbar's pictures stay on the toolbar: every menu looks, to the pixel, as the same
    // items without pictures look.
    void menusShowNoPictures()
    {
        Rig rig;
        QList<QMenu *> menus{rig.window->pictureMenu()};
        for (QAction *title : rig.window->menuBar()->actions())
            menus << title->menu();
        for (QMenu *menu : menus) {
            QMenu plain;
            for (QAction *item : menu->actions()) {
                QAction *copy = item->isSeparator() ? plain.addSeparator() : plain.addAction(item->text());
                copy->setShortcut(item->shortcut());
                copy->setEnabled(item->isEnabled());
                copy->setCheckable(item->isCheckable());
                copy->setChecked(item->isChecked());
            }
            QVERIFY2(menu->sizeHint() == plain.sizeHint(), qPrintable(menu->objectName()));
            menu->resize(menu->sizeHint());
            plain.resize(plain.sizeHint());
            QVERIFY2(menu->grab().toImage() == plain.grab().toImage(), qPrintable(menu->objectName()));
        }
        // The menus' style goes with the window.
        const QPointer<QStyle> style = menus.constFirst()->style();
        rig.window.reset();
        QVERIFY(style.isNull());
    }

    // The toolbar as the user sees it: the buttons in their order and groups, each a picture
    // with its tip.
    void toolbarButtonsAndTheirTips()
    {
        Rig rig;
        QStringList shown;
        for (QAction *button : rig.window->toolBar()->actions())
            shown << (button->isSeparator() ? QStringLiteral("-") : button->toolTip() + (button->icon().isNull() ? " (no picture)" : ""));
        QCOMPARE(shown, (QStringList{"画像を開く", "ＢＩＮファイルを開く", "名前を付けて画像を保存する", "名前を付けてＢＩＮファイルを保存する", "変換", "-",
                                     "画像送信（VRAM）", "画像送信（FLASH）", "-", "コマンド送信"}));
        // Each picture's light grey is its background, seen through; what it draws stays drawn.
        for (QAction *button : rig.window->toolBar()->actions()) {
            if (button->isSeparator())
                continue;
            const QImage drawn = button->icon().pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
            int clear = 0, opaque = 0;
            for (int y = 0; y < drawn.height(); ++y)
                for (int x = 0; x < drawn.width(); ++x) {
                    const QRgb p = drawn.pixel(x, y);
                    clear += qAlpha(p) == 0 ? 1 : 0;
                    opaque += qAlpha(p) == 255 ? 1 : 0;
                    QVERIFY2(qAlpha(p) == 0 || (p & 0xFFFFFFu) != 0xC0C0C0u, qPrintable(button->toolTip()));
                }
            QVERIFY2(clear > 0 && opaque > 0 && clear + opaque == 256, qPrintable(button->toolTip()));
        }
    }

    // Each menu item and toolbar button runs its own command and no neighbour's: every action
    // shown anywhere is in the table, and from either place leaves only its own traces.
    void everyActionRunsItsOwnCommand()
    {
        const QString noPicture = QStringLiteral("画像ファイルを開いて下さい。");
        const QMap<QString, QString> expected{
            {"openPictureAction", "open PIcture(*.BMP),PIcture(*.JPG)"},
            {"openBinFileAction", "open Bin(*.bin)"},
            {"savePictureAsBmpAction", "save *.BMP"},
            {"saveBinFileAction", "save Binary(*.BIN)"},
            {"exportImageAction", "save Cヘッダー(*.h),XBM(*.xbm),PBM(*.pbm),16進テキスト(*.txt),PNGプレビュー(*.png)"},
            {"exitAction", "exit"},
            {"convertPictureAction", "status 完了!!"},
            {"sendToDisplayMemoryAction", "box 画像を書換しますか？"},
            {"sendToFlashPageAction", "box フラッシュページ 7 の画像を書換しますか？"},
            {"openConsoleAction", "console"},
            {"openStudioAction", "studio"},
            {"sendFramesToFlashAction", "box " + noPicture},
            {"showAboutAction", "about"},
            {"copyPictureAction", "copied"},
            {"pastePictureAction", "pasted"},
            {"closePictureMenuAction", ""},
        };
        const QImage marker = pw::test::solidImage(3, 2, Qt::red);
        // How the user reaches each action: every menu's items, then every toolbar button.
        QList<QPair<QString, std::function<void(pw::MainWindow &)>>> ways;
        Rig layout;
        QList<QMenu *> menus{layout.window->pictureMenu()};
        for (QAction *entry : layout.window->menuBar()->actions())
            menus << entry->menu();
        for (QMenu *menu : menus)
            for (QAction *item : menu->actions())
                if (!item->isSeparator())
                    ways.append({item->objectName(), [name = item->objectName()](pw::MainWindow &w) { action(w, qPrintable(name))->trigger(); }});
        for (QAction *button : layout.window->toolBar()->actions())
            if (!button->isSeparator())
                ways.append({button->objectName(), [name = button->objectName()](pw::MainWindow &w) {
                                 clickToolbarButton(w, qPrintable(name));
                             }});
        QSet<QString> reached;
        for (const auto &[name, use] : ways) {
            QVERIFY2(expected.contains(name), qPrintable(name + ": not in the table"));
            reached << name;
            const QByteArray record("\"3\",\"1\"\r\n");
            Rig rig(&record);
            rig.window->pageList()->setCurrentIndex(7);
            rig.boxes.answers = {Answer::No, Answer::No};
            rig.window->show();
            QGuiApplication::clipboard()->setImage(marker);
            use(*rig.window);
            QCOMPARE(aftermath(rig, marker), expected[name]);
        }
        QCOMPARE(reached.size(), expected.size());
    }

    // In the 実行 menu two items share the access key A: the key runs the first, コマンド送信.
    void sharedAccessKeyRunsTheFirstItem()
    {
        Rig rig;
        rig.window->show();
        auto *menu = rig.window->findChild<QMenu *>(QStringLiteral("runMenu"));
        QVERIFY(menu);
        menu->popup(rig.window->mapToGlobal(QPoint(0, 0)));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QTest::keyClick(menu, Qt::Key_A);
        QVERIFY(rig.window->console() && rig.window->console()->isVisible());
        QVERIFY(!rig.window->studio() && rig.boxes.shown.isEmpty());
    }

    void startupRestoresAndRewritesSettings_data()
    {
        QTest::addColumn<QByteArray>("before");  // "-" for no file
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("lists");      // rewrite time, port, page as shown
        QTest::addColumn<QStringList>("messages");
        const QStringList loadError{QStringLiteral("ポートの指定が誤りです。(Form_load)")};
        QTest::newRow("record") << QByteArray::fromHex("2233222C2231220D0A") << QByteArray::fromHex("2233222C2231220D0A")
                                << "3/1/0" << QStringList();
        QTest::newRow("hand-written") << QByteArray("4,12") << QByteArray("\"4\",\"12\"\r\n") << "4/12/0" << QStringList();
        QTest::newRow("port 17") << QByteArray("\"5\",\"17\"\r\n") << QByteArray("\"5\",\"17\"\r\n") << "5//" << loadError;
        QTest::newRow("port COM1") << QByteArray("1,COM1") << QByteArray("\"1\",\"COM1\"\r\n") << "1//" << loadError;
        QTest::newRow("missing") << QByteArray("-") << QByteArray("\"3\",\"1\"\r\n") << "3/1/0" << QStringList();
        QTest::newRow("one value") << QByteArray("\"2\"\r\n") << QByteArray("\"2\",\"1\"\r\n") << "2/1/0" << QStringList();
        QTest::newRow("bad time") << QByteArray("\"9\",\"4\"") << QByteArray("\"3\",\"4\"\r\n") << "3/4/0" << QStringList();
        // The ends of the rewrite times (1-5) and the ports (1-16), and one step past each.
        QTest::newRow("lowest ends") << QByteArray("\"1\",\"1\"") << QByteArray("\"1\",\"1\"\r\n") << "1/1/0" << QStringList();
        QTest::newRow("highest ends") << QByteArray("\"5\",\"16\"") << QByteArray("\"5\",\"16\"\r\n") << "5/16/0" << QStringList();
        QTest::newRow("time 0") << QByteArray("\"0\",\"2\"") << QByteArray("\"3\",\"2\"\r\n") << "3/2/0" << QStringList();
        QTest::newRow("time 6") << QByteArray("\"6\",\"2\"") << QByteArray("\"3\",\"2\"\r\n") << "3/2/0" << QStringList();
        QTest::newRow("port 0") << QByteArray("\"2\",\"0\"") << QByteArray("\"2\",\"0\"\r\n") << "2//" << loadError;
        QTest::newRow("blanks, LF, more values") << QByteArray(" 4 ,  12\n9\n") << QByteArray("\"4\",\"12\"\r\n") << "4/12/0"
                                                 << QStringList();
        QTest::newRow("comma in quotes") << QByteArray("\"1,2\",\"3\"") << QByteArray("\"3\",\"3\"\r\n") << "3/3/0" << QStringList();
        // Only a bounded prefix is read, so an endless value is cut there and written back cut.
        const QByteArray endless = QByteArray("\"3\",\"") + QByteArray(1 << 20, 'x');
        QTest::newRow("unclosed quote, 1 MB") << endless << endless.left(64 * 1024) + "\"\r\n" << "3//" << loadError;
        QTest::newRow("junk") << QByteArray("\x01\xff\x00", 3) << QByteArray("\"3\",\"1\"\r\n") << "3/1/0" << QStringList();
    }
    void startupRestoresAndRewritesSettings()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, lists);
        QFETCH(QStringList, messages);
        Rig rig(before == "-" ? nullptr : &before);
        QCOMPARE(rig.settingsBytes(), after);
        pw::MainWindow &w = *rig.window;
        QCOMPARE(QStringList({w.rewriteTimeList()->currentText(), w.portList()->currentText(), w.pageList()->currentText()})
                     .join(QLatin1Char('/')),
                 lists);
        QCOMPARE(rig.boxes.texts(), messages);
        for (const auto &shown : rig.boxes.shown)
            QCOMPARE(shown.title, QStringLiteral("注意"));
        QCOMPARE(w.windowTitle(), kBase);
        // The program's icon in the title bar and the task bar.
        QCOMPARE(w.windowIcon().pixmap(32, 32).toImage(), pw::programIcon().pixmap(32, 32).toImage());
        QVERIFY(!rig.port.isOpen());
    }

    // The lists hold the device's ranges and no more; each end, chosen, is kept in the settings
    // file, opens that port and goes out in the stream.
    void listsHoldTheDeviceRangesAndTheirEndsGoOut()
    {
        Rig rig;
        pw::MainWindow &w = *rig.window;
        w.show();
        const auto entries = [](QComboBox *list) {
            QStringList texts;
            for (int i = 0; i < list->count(); ++i)
                texts << list->itemText(i);
            return texts.join(',');
        };
        QCOMPARE(entries(w.rewriteTimeList()), QStringLiteral("1,2,3,4,5"));
        QCOMPARE(entries(w.portList()), QStringLiteral("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16"));
        QCOMPARE(entries(w.pageList()), QStringLiteral("0,1,2,3,4,5,6,7,8,9,10,11,12"));
        for (const auto &[time, port, page] : {std::tuple{"1", "1", "0"}, std::tuple{"5", "16", "12"}}) {
            QVERIFY(w.selectListEntry(w.rewriteTimeList(), time) && w.selectListEntry(w.portList(), port)
                    && w.selectListEntry(w.pageList(), page));
            QCOMPARE(rig.settingsBytes(), QByteArray("\"") + time + "\",\"" + port + "\"\r\n");
            rig.port.chunks.clear();
            w.sendToDisplayMemory();
            QVERIFY2(rig.port.written().startsWith(QByteArray("DT") + time + "\r\nTI"), rig.port.written().left(8).constData());
            QCOMPARE(rig.port.portNumber, QByteArray(port).toInt());
            rig.port.chunks.clear();
            w.sendToFlashPage();
            QVERIFY2(rig.port.written().startsWith(QByteArray("FS") + page + "\r\nTS"), rig.port.written().left(8).constData());
        }
    }

    // What the user sees of the main window, the console, the studio, the About window and the
    // splash, widget by widget, as in tests/gui/layout.txt (PW_WRITE_LAYOUT=1 writes it anew
    // after an intended change).
    void windowsLookAsBefore()
    {
        Rig rig;
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        rig.window->openConsole();
        rig.window->openStudio();
        rig.window->showAbout();
        for (QAction *a : rig.window->toolBar()->actions()) {  // a change gives a button its caption back
            a->setEnabled(false);
            a->setEnabled(true);
        }
        pw::SplashScreen splash(rig.platform());
        splash.timer()->stop();
        QStringList lines;
        for (const QWidget *window : std::initializer_list<const QWidget *>{rig.window.get(), rig.window->console(), rig.window->studio(),
                                                                            rig.window->about(), &splash}) {
            // Whether the user can resize it, and which title-bar buttons it asks for.
            QStringList frame;
            if (window->minimumSize() == window->maximumSize())
                frame << QStringLiteral("fixed size");
            if (window->windowFlags() & Qt::CustomizeWindowHint)
                for (const auto &[hint, name] : {std::pair{Qt::WindowMinimizeButtonHint, "minimise"}, std::pair{Qt::WindowMaximizeButtonHint, "maximise"},
                                                 std::pair{Qt::WindowCloseButtonHint, "close"}})
                    if (window->windowFlags() & hint)
                        frame << QLatin1String(name);
            lines << QStringLiteral("window \"%1\"%2").arg(window->windowTitle(), frame.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(frame.join(QStringLiteral(", "))));
            describe(window, 1, lines);
            for (const QMenu *menu : window->findChildren<QMenu *>())
                describe(menu, 1, lines);
        }
        const QByteArray seen = lines.join(QLatin1Char('\n')).toUtf8() + '\n';
        QFile golden(QStringLiteral(PW_LAYOUT_FILE));
        if (qEnvironmentVariableIsSet("PW_WRITE_LAYOUT"))
            QVERIFY(golden.open(QIODevice::WriteOnly) && golden.write(seen) == seen.size() && golden.flush() && (golden.close(), true));
        QVERIFY(golden.open(QIODevice::ReadOnly));
        const QList<QByteArray> expected = golden.readAll().split('\n'), got = seen.split('\n');
        for (qsizetype i = 0; i < qMin(expected.size(), got.size()); ++i)
            QCOMPARE(QString::fromUtf8(got[i]), QString::fromUtf8(expected[i]));
        QCOMPARE(got.size(), expected.size());
    }

    // Each choice rewrites the file at once; the port choice closes a port left open. A file
    // that cannot be written: the port choice says so, the values hold in memory.
    void choosingListEntriesRewritesSettingsAndClosesPort()
    {
        const QByteArray start("\"3\",\"2\"\r\n");
        Rig rig(&start);
        auto choose = [&](QComboBox *list, int index) {
            list->setCurrentIndex(index);
            emit list->activated(index);
        };
        rig.port.open();
        choose(rig.window->rewriteTimeList(), 4);
        QCOMPARE(rig.settingsBytes(), QByteArray("\"5\",\"2\"\r\n"));
        QVERIFY(rig.port.isOpen());
        rig.port.log.clear();
        choose(rig.window->portList(), 15);
        QCOMPARE(rig.settingsBytes(), QByteArray("\"5\",\"16\"\r\n"));
        QVERIFY(rig.port.portNumber == 16 && !rig.port.isOpen() && rig.boxes.shown.isEmpty());
        QCOMPARE(rig.port.log, (QStringList{"close", "setPortNumber 16", "clear"}));  // the new port starts empty
        // A port number the port cannot take: said, and nothing is cleared.
        rig.port.failNext(pw::test::FakePort::Op::SetPortNumber);
        rig.port.log.clear();
        choose(rig.window->portList(), 14);
        QCOMPARE(rig.port.log, QStringList{"setPortNumber 15"});
        QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("ポートの指定が誤りです。(Combo2_Click)")});
        rig.boxes.shown.clear();
        QFile::remove(rig.path(QStringLiteral("parameterv12864.ini")));
        QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("parameterv12864.ini")));
        choose(rig.window->rewriteTimeList(), 1);
        rig.port.open();
        choose(rig.window->portList(), 2);
        QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("ポートの指定が誤りです。(Combo2_Click)")});
        QVERIFY(!rig.port.isOpen());  // closed all the same
        QVERIFY(rig.window->settings().rewriteTime == "2" && rig.window->settings().portNumber == "3");
        rig.port.open();
        rig.window->show();
        QVERIFY(rig.window->close() && !rig.port.isOpen());  // closing the window closes the port
    }

    // The status while converting, the bar, the bytes, and the area left black and white.
    void convertingPaintsAreaBlackAndWhiteWithProgress()
    {
        Rig rig;
        pw::MainWindow &w = *rig.window;
        QImage picture = pw::test::solidImage(200, 100, QColor(200, 10, 10));  // red: black
        for (int x = 0; x < 200; ++x)
            picture.setPixel(x, 0, qRgb(255, 255, 255));
        w.pictureArea()->setPicture(picture);
        QStringList during;
        QList<int> fullAt;  // how far the bar was, in hundredths, at each step
        w.progressBar()->setRange(0, 103);  // full, as the frames of 13 pages leave it
        w.progressBar()->setValue(103);
        connect(w.progressBar(), &QProgressBar::valueChanged, this, [&] {
            fullAt << 100 * (w.progressBar()->value() - w.progressBar()->minimum()) / qMax(1, w.progressBar()->maximum() - w.progressBar()->minimum());
            const QCursor *cursor = QGuiApplication::overrideCursor();
            during << w.statusLabel()->text() + (w.progressBar()->isHidden() ? "-" : "+")
                          + (cursor && cursor->shape() == Qt::WaitCursor ? "" : " (no hourglass)");
        });
        // The bar is drawn, empty, before the conversion's work, not only once it is done.
        struct PaintWatch : QObject {
            std::function<void()> painted;
            bool eventFilter(QObject *, QEvent *event) override { return event->type() == QEvent::Paint && (painted(), false); }
        } watch;
        QList<int> paintedAt;  // the bar's value at each paint, -1 once the bytes are converted
        watch.painted = [&] { paintedAt << (w.monoImage()[0] == 0 ? w.progressBar()->value() : -1); };
        w.progressBar()->installEventFilter(&watch);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(int(w.monoImage()[0]), 0);
        clickToolbarButton(w, "convertPictureAction");
        w.progressBar()->removeEventFilter(&watch);
        QCOMPARE(paintedAt.value(0, -2), 0);
        QCOMPARE(during.value(0), QStringLiteral("変換中．．．+"));
        QVERIFY2(fullAt.size() >= 2 && fullAt.first() == 0 && fullAt.last() == 100 && std::is_sorted(fullAt.cbegin(), fullAt.cend()),
                 qPrintable(QDebug::toString(fullAt)));  // from empty to full, never back
        QCOMPARE(during.filter(QStringLiteral("-")).size(), 0);
        QCOMPARE(during.filter(QStringLiteral("hourglass")).size(), 0);
        QCOMPARE(w.statusLabel()->text(), QStringLiteral("完了!!"));
        const QImage status = w.statusLabel()->grab().toImage();  // in red, and only red
        int red = 0, coloured = 0;
        for (int y = 0; y < status.height(); ++y)
            for (int x = 0; x < status.width(); ++x) {
                const QColor c = status.pixelColor(x, y);
                red += c == QColor(255, 0, 0);
                coloured += c.hsvSaturation() > 0 && c.hsvHue() != 0;
            }
        QVERIFY2(red > 10 && coloured == 0, qPrintable(QStringLiteral("%1 red, %2 of other colours").arg(red).arg(coloured)));
        QVERIFY(w.progressBar()->isHidden() && !QGuiApplication::overrideCursor());
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(int(w.monoImage()[std::size_t(i)]), i < 128 ? 0x01 : 0x00);
        QCOMPARE(w.pictureArea()->surface().pixel(3, 0), qRgb(255, 255, 255));
        QCOMPARE(w.pictureArea()->surface().pixel(3, 1), qRgb(0, 0, 0));

        w.pictureArea()->clearPicture();  // no picture: only the light background is read
        action(w, "convertPictureAction")->trigger();
        QCOMPARE(w.monoImage(), [] { pw::MonoImage m; m.fill(0xFF); return m; }());
    }

    // BIN files through the shared dialog, as a sequence of uses.
    void binFilesRoundTripThroughSharedDialog()
    {
        Rig rig;
        pw::MainWindow &w = *rig.window;
        const QString saved = rig.path(QStringLiteral("first.BIN"));
        rig.dialogs.answers = {saved};
        action(w, "saveBinFileAction")->trigger();
        QCOMPARE(pw::test::readFile(saved), QByteArray(1024, '\0'));  // nothing converted yet
        QCOMPARE(w.statusLabel()->text(), QStringLiteral("保存終了!!"));
        const pw::FileDialogRequest save = rig.dialogs.requests.last();
        QCOMPARE(save.labels, QStringList{QStringLiteral("Binary(*.BIN)")});
        QVERIFY(save.mode == pw::FileDialogRequest::Mode::Save && save.confirmOverwrite);

        QByteArray content(1500, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char(i % 251);
        const QString other = rig.path(QStringLiteral("other.bin"));
        pw::test::writeFile(other, content);
        rig.dialogs.answers = {other};
        action(w, "openBinFileAction")->trigger();
        const pw::FileDialogRequest open = rig.dialogs.requests.last();
        QCOMPARE(open.labels, QStringList{QStringLiteral("Bin(*.bin)")});
        QCOMPARE(open.initialPath, saved);  // the name the save left
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(w.monoImage().data()), 1024), content.left(1024));
        QCOMPARE(w.windowTitle(), kBase + QLatin1Char('(') + QDir::toNativeSeparators(other) + QLatin1Char(')'));

        // Cancel, a missing file and a cancelled save change nothing.
        const QString title = w.windowTitle();
        const pw::MonoImage image = w.monoImage();
        rig.dialogs.answers = {std::nullopt, rig.path(QStringLiteral("gone.bin")), std::nullopt};
        w.openBinFile();
        w.openBinFile();
        w.saveBinFile();
        QCOMPARE(w.windowTitle(), title);
        QCOMPARE(w.monoImage(), image);
        QVERIFY(rig.boxes.shown.isEmpty() && !QFile::exists(rig.path(QStringLiteral("gone.bin"))));

        QCOMPARE(w.statusLabel()->text(), QStringLiteral("保存終了!!"));
        rig.dialogs.answers = {rig.path(QStringLiteral("no/such/folder.BIN"))};
        w.saveBinFile();  // a failed save says nothing, and no longer reads as the earlier success
        QVERIFY(w.statusLabel()->text().isEmpty() && rig.boxes.shown.isEmpty());
    }

    // Both transfers ask first, from the menu and the toolbar alike, with Yes as the default
    // button (Enter answers Yes); No sends nothing and changes nothing.
    void transferConfirmationsDefaultToYesAndNoSendsNothing()
    {
        Rig rig;
        pw::MainWindow &w = *rig.window;
        w.show();
        rig.boxes.answers = {Answer::No, Answer::No, Answer::No, Answer::No};
        action(w, "sendToDisplayMemoryAction")->trigger();
        clickToolbarButton(w, "sendToDisplayMemoryAction");
        w.pageList()->setCurrentIndex(3);
        clickToolbarButton(w, "sendToFlashPageAction");
        w.pageList()->setCurrentIndex(-1);  // after the load error no page is chosen
        action(w, "sendToFlashPageAction")->trigger();
        QCOMPARE(rig.boxes.texts(), (QStringList{QStringLiteral("画像を書換しますか？"), QStringLiteral("画像を書換しますか？"),
                                                 QStringLiteral("フラッシュページ 3 の画像を書換しますか？"),
                                                 QStringLiteral("フラッシュページ  の画像を書換しますか？")}));
        for (const auto &s : rig.boxes.shown) {
            QCOMPARE(s.title, QStringLiteral("注意：表示書換中は、＜はい＞にしないで下さい！！"));
            QVERIFY(s.buttons == pw::MessageBoxes::Buttons::YesNo);
            QVERIFY2(s.defaultAnswer == Answer::Yes, qPrintable(s.text));
        }
        QVERIFY(rig.port.chunks.isEmpty() && rig.port.log.filter("open").isEmpty());
        QVERIFY(w.statusLabel()->text().isEmpty());

        rig.boxes.answers = {Answer::Yes};  // Yes from the toolbar goes out, without a page too
        clickToolbarButton(w, "sendToFlashPageAction");
        QVERIFY(rig.port.written().startsWith("FS\r\nTS"));
    }
};

QTEST_MAIN(TstMainWindow)
#include "tst_mainwindow.moc"
