// The main window as the user meets it: start-up with its settings file, the lists, the
// conversion, BIN files and the confirmations before a transfer.
#include "common/testsupport.h"
#include "gui/picturearea.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolBar>
#include <QtTest>

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

}  // namespace

class TstMainWindow : public QObject {
    Q_OBJECT
private slots:
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
        QVERIFY(!rig.port.isOpen());
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
        choose(rig.window->portList(), 15);
        QCOMPARE(rig.settingsBytes(), QByteArray("\"5\",\"16\"\r\n"));
        QVERIFY(rig.port.portNumber == 16 && !rig.port.isOpen() && rig.boxes.shown.isEmpty());
        QFile::remove(rig.path(QStringLiteral("parameterv12864.ini")));
        QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("parameterv12864.ini")));
        choose(rig.window->rewriteTimeList(), 1);
        choose(rig.window->portList(), 2);
        QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("ポートの指定が誤りです。(Combo2_Click)")});
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
        connect(w.progressBar(), &QProgressBar::valueChanged, this, [&] {
            during << w.statusLabel()->text() + (w.progressBar()->isHidden() ? "-" : "+");
        });
        w.show();
        clickToolbarButton(w, "convertPictureAction");
        QCOMPARE(during.value(0), QStringLiteral("変換中．．．+"));
        QCOMPARE(during.filter(QStringLiteral("-")).size(), 0);
        QCOMPARE(w.statusLabel()->text(), QStringLiteral("完了!!"));
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
