// The main window as the user meets it: start-up with its settings file, the controls, the
// menus and toolbar, conversion and BIN files through the menus.
#include "common/testsupport.h"
#include "workspace/picturearea.h"

#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolBar>
#include <QtTest>

using pw::test::Rig;

namespace {

const QString kBase = QStringLiteral("Pixelwright for 128×64(Mono)");

// Records Label1's text each time it is actually painted.
class PaintRecorder : public QObject {
public:
    explicit PaintRecorder(QLabel *label) : label_(label) { label->installEventFilter(this); }
    QStringList painted;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == label_ && event->type() == QEvent::Paint)
            painted << label_->text();
        return false;
    }

private:
    QLabel *label_;
};

QAction *findAction(QWidget *root, const QString &name)
{
    for (QAction *a : root->findChildren<QAction *>(name))
        return a;
    return nullptr;
}

QAction *toolbarAction(pw::Form1 &form, const QString &key)
{
    for (QAction *a : form.toolbar()->actions())
        if (a->data().toString() == key)
            return a;
    return nullptr;
}

}  // namespace

class TstForm1 : public QObject {
    Q_OBJECT
private slots:
    void startupSettings_data()
    {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("time");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("messages");
        const QStringList none;
        const QStringList loadError{QStringLiteral("ポートの指定が誤りです。(Form_load)")};
        QTest::newRow("record") << true << QByteArray::fromHex("2233222C2231220D0A")
                                << QByteArray::fromHex("2233222C2231220D0A") << "3" << "1" << "0" << none;
        QTest::newRow("hand-written") << true << QByteArray("4,12") << QByteArray("\"4\",\"12\"\r\n") << "4" << "12"
                                      << "0" << none;
        QTest::newRow("port 17") << true << QByteArray("\"5\",\"17\"\r\n") << QByteArray("\"5\",\"17\"\r\n") << "5"
                                 << "" << "" << loadError;
        QTest::newRow("port 0") << true << QByteArray("2,0") << QByteArray("\"2\",\"0\"\r\n") << "2" << "" << ""
                                << loadError;
        QTest::newRow("port COM1") << true << QByteArray("\"1\",\"COM1\"") << QByteArray("\"1\",\"COM1\"\r\n") << "1"
                                   << "" << "" << loadError;
        QTest::newRow("missing file") << false << QByteArray() << QByteArray("\"3\",\"1\"\r\n") << "3" << "1" << "0"
                                      << none;
        QTest::newRow("empty file") << true << QByteArray() << QByteArray("\"3\",\"1\"\r\n") << "3" << "1" << "0"
                                    << none;
        QTest::newRow("one value") << true << QByteArray("\"2\"\r\n") << QByteArray("\"2\",\"1\"\r\n") << "2" << "1"
                                   << "0" << none;
        QTest::newRow("bad rewrite time") << true << QByteArray("\"9\",\"4\"") << QByteArray("\"3\",\"4\"\r\n") << "3"
                                          << "4" << "0" << none;
        QTest::newRow("binary junk") << true << QByteArray("\x01\xff\x00\x80", 4) << QByteArray("\"3\",\"1\"\r\n")
                                     << "3" << "1" << "0" << none;
    }
    void startupSettings()
    {
        QFETCH(bool, present);
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, time);
        QFETCH(QString, port);
        QFETCH(QString, page);
        QFETCH(QStringList, messages);
        Rig rig(present ? &before : nullptr);
        QCOMPARE(rig.settingsBytes(), after);
        QCOMPARE(rig.form->combo(1)->currentText(), time);
        QCOMPARE(rig.form->combo(2)->currentText(), port);
        QCOMPARE(rig.form->combo(3)->currentText(), page);
        QCOMPARE(rig.boxes.texts(), messages);
        for (const auto &shown : rig.boxes.shown)
            QCOMPARE(shown.title, QStringLiteral("注意"));
        QCOMPARE(pw::Module1::rewriteTime, time);
        QCOMPARE(rig.form->windowTitle(), kBase);
        QVERIFY(!rig.port.isOpen());
        if (!port.isEmpty())
            QCOMPARE(rig.port.portNumber, port.toInt());
    }

    void listChoicesRewriteTheFile()
    {
        const QByteArray start("\"3\",\"2\"\r\n");
        Rig rig(&start);
        rig.port.open();  // as a failed transfer may leave it
        rig.form->combo(1)->setCurrentIndex(4);
        emit rig.form->combo(1)->activated(4);
        QCOMPARE(rig.settingsBytes(), QByteArray("\"5\",\"2\"\r\n"));
        QVERIFY(rig.port.isOpen());  // the rewrite time leaves the port alone
        rig.form->combo(2)->setCurrentIndex(15);
        emit rig.form->combo(2)->activated(15);
        QCOMPARE(rig.settingsBytes(), QByteArray("\"5\",\"16\"\r\n"));
        QCOMPARE(pw::Module1::portNumber, QStringLiteral("16"));
        QCOMPARE(rig.port.portNumber, 16);
        QVERIFY(!rig.port.isOpen());
        QVERIFY(rig.boxes.shown.isEmpty());
    }

    // A settings file that cannot be written: the start goes on, the port choice reports it,
    // and the values hold in memory.
    void unwritableSettings()
    {
        Rig rig(nullptr, false);
        QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("parameterv12864.ini")));
        rig.create();
        QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("ポートの指定が誤りです。(Combo2_Click)")});
        QCOMPARE(rig.form->combo(2)->currentText(), QStringLiteral("1"));
        QCOMPARE(rig.form->combo(3)->currentText(), QStringLiteral("0"));
        rig.form->combo(1)->setCurrentIndex(1);
        emit rig.form->combo(1)->activated(1);
        QCOMPARE(pw::Module1::rewriteTime, QStringLiteral("2"));
        QCOMPARE(rig.boxes.shown.size(), 1);
        QVERIFY(QFileInfo(rig.path(QStringLiteral("parameterv12864.ini"))).isDir());
    }

    void controlsAndLayout()
    {
        Rig rig;
        pw::Form1 &f = *rig.form;
        struct Place {
            const char *name;
            QRect rect;
        };
        const Place places[] = {
            {"Picture1", {16, 40, 132, 68}}, {"Label5", {160, 32, 41, 17}},  {"Combo2", {168, 48, 41, 20}},
            {"Label2", {160, 72, 73, 25}},   {"Combo3", {168, 88, 41, 20}},  {"Label3", {160, 112, 65, 25}},
            {"Combo1", {168, 128, 41, 20}},  {"Label4", {211, 136, 25, 25}}, {"ProgressBar1", {11, 119, 141, 17}},
            {"Label1", {32, 144, 81, 25}},   {"Toolbar1", {0, 0, 231, 28}},
        };
        for (const Place &p : places) {
            auto *w = f.findChild<QWidget *>(QLatin1String(p.name));
            QVERIFY2(w, p.name);
            QCOMPARE(w->geometry(), p.rect);
        }
        QCOMPARE(f.centralWidget()->size(), QSize(231, 160));
        QCOMPARE(f.minimumSize(), f.maximumSize());
        QVERIFY(!(f.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(f.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(f.picture()->contentsRect().size(), QSize(128, 64));
        QCOMPARE(f.picture()->surface().pixelColor(64, 32), f.picture()->backgroundColor());
        QCOMPARE(f.statusLabel()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(f.statusLabel()->text().isEmpty());
        QVERIFY(f.progressBar()->isHidden());
        const QStringList texts[] = {{"1", "2", "3", "4", "5"}, {}, {}};
        QStringList ports, pages;
        for (int i = 1; i <= 16; ++i)
            ports << QString::number(i);
        for (int i = 0; i <= 12; ++i)
            pages << QString::number(i);
        const QStringList expected[] = {texts[0], ports, pages};
        for (int c = 1; c <= 3; ++c) {
            QStringList items;
            for (int i = 0; i < f.combo(c)->count(); ++i)
                items << f.combo(c)->itemText(i);
            QCOMPARE(items, expected[c - 1]);
            QVERIFY(!f.combo(c)->isEditable());
        }
        QCOMPARE(f.findChild<QLabel *>(QStringLiteral("Label5"))->text(), QStringLiteral("COM"));
        QCOMPARE(f.findChild<QLabel *>(QStringLiteral("Label2"))->text(), QStringLiteral("書換ページ"));
        QCOMPARE(f.findChild<QLabel *>(QStringLiteral("Label3"))->text(), QStringLiteral("書換時間"));
        QCOMPARE(f.findChild<QLabel *>(QStringLiteral("Label4"))->text(), QStringLiteral("秒"));

        // Focus order: picture area, rewrite time, port, page.
        QWidget *w = f.picture();
        QStringList order{w->objectName()};
        for (int i = 0; i < 3; ++i) {
            w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !w->isEnabled())
                w = w->nextInFocusChain();
            order << w->objectName();
        }
        QCOMPARE(order, (QStringList{"Picture1", "Combo1", "Combo2", "Combo3"}));
    }

    void menusAndToolbar()
    {
        Rig rig;
        pw::Form1 &f = *rig.form;
        QStringList bar;
        for (QAction *a : f.menuBar()->actions())
            bar << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(bar, (QStringList{"mnufile=ﾌｧｲﾙ(&F)", "mnugo=実行(&R)", "mnuhlp=ﾍﾙﾌﾟ(&H)"}));
        QStringList items;
        for (QAction *top : f.menuBar()->actions())
            for (QAction *a : top->menu()->actions())
                items << a->objectName() + QLatin1Char('=') + (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(items, (QStringList{"mnuopn=画像を開く(&O)", "mnubo=ＢＩＮファイルを開く(&B)",
                                     "mnusav=名前を付けて画像を保存(&A)", "mnuasav=名前を付けてＢＩＮファイルを保存(&S)",
                                     "mnuhf=-", "mnuend=終了(&X)", "mnucnv=画像変換(&C)", "mnutx=画像送信（VRAM）(&T)",
                                     "mnuts=画像送信（FLASH）(&S)", "mmucom=コマンド送信(&A)", "mnuver=バージョン情報(&A)"}));
        for (QAction *top : f.menuBar()->actions())
            for (QAction *a : top->menu()->actions())
                QVERIFY(a->shortcut().isEmpty() && !a->isCheckable() && a->isEnabled());
        QStringList popup;
        for (QAction *a : f.popupMenu()->actions())
            popup << a->objectName() + QLatin1Char('=') + a->text();
        QCOMPARE(f.popupMenu()->title(), QStringLiteral("クリップボード"));
        QCOMPARE(popup, (QStringList{"popcopy=コピー", "poppaste=ペースト", "popcansel=キャンセル"}));

        QStringList tools;
        for (QAction *a : f.toolbar()->actions()) {
            if (a->isSeparator()) {
                tools << QStringLiteral("|");
                continue;
            }
            QVERIFY(a->text().isEmpty() || f.toolbar()->toolButtonStyle() == Qt::ToolButtonIconOnly);
            tools << a->data().toString() + QLatin1Char('/') + a->toolTip() + QLatin1Char('/')
                         + a->property("imageKey").toString();
        }
        QCOMPARE(tools, (QStringList{"toolopnbmp/画像を開く/imgopnbmp", "toolopnbin/ＢＩＮファイルを開く/imgopnbin",
                                     "toolsavbmp/名前を付けて画像を保存する/imgsavbmp",
                                     "toolsavbin/名前を付けてＢＩＮファイルを保存する/imgsavbin", "toolconv/変換/imgconv",
                                     "|", "tooltx/画像送信（VRAM）/imgti", "toolts/画像送信（FLASH）/imgtv", "|",
                                     "toolcom/コマンド送信/imgcom"}));
    }

    // Convert through the menu and the toolbar: the status texts that were on screen, the
    // progress bar, the bytes, and the area left showing the black-and-white result.
    void convertFromMenuAndToolbar()
    {
        for (const bool fromToolbar : {false, true}) {
            Rig rig;
            pw::Form1 &f = *rig.form;
            f.show();
            QVERIFY(QTest::qWaitForWindowExposed(&f));
            QImage picture = pw::test::solidImage(128, 64, QColor(200, 10, 10));  // red: black
            for (int x = 0; x < 128; ++x)
                picture.setPixel(x, 0, qRgb(255, 255, 255));
            f.picture()->setPicture(picture);
            PaintRecorder recorder(f.statusLabel());
            QList<bool> barVisible;
            connect(f.progressBar(), &QProgressBar::valueChanged, this,
                    [&] { barVisible << f.progressBar()->isVisible(); });
            if (fromToolbar)
                toolbarAction(f, QStringLiteral("toolconv"))->trigger();
            else
                findAction(&f, QStringLiteral("mnucnv"))->trigger();
            QVERIFY(!recorder.painted.isEmpty());
            QCOMPARE(recorder.painted.first(), QStringLiteral("変換中．．．"));
            QCOMPARE(f.statusLabel()->text(), QStringLiteral("完了!!"));
            QVERIFY(f.progressBar()->isHidden());
            QVERIFY(!barVisible.isEmpty() && !barVisible.contains(false));
            QVERIFY(!QGuiApplication::overrideCursor());
            for (int i = 0; i < 1024; ++i)
                QCOMPARE(int(f.monoImage()[std::size_t(i)]), i < 128 ? 0x01 : 0x00);
            QCOMPARE(f.picture()->surface().pixel(3, 0) & 0xFFFFFFu, 0xFFFFFFu);
            QCOMPARE(f.picture()->surface().pixel(3, 1) & 0xFFFFFFu, 0u);
        }
    }

    void convertWithoutPictureReadsBackground()
    {
        Rig rig;
        rig.form->CONV();
        const QColor bg = rig.form->picture()->backgroundColor();
        const bool white = (30 * bg.red() + 59 * bg.green() + 11 * bg.blue()) / 100 > 128;
        for (std::uint8_t b : rig.form->monoImage())
            QCOMPARE(int(b), white ? 0xFF : 0x00);
    }

    // BIN files through the shared dialog, as a sequence of uses.
    void binSaveAndOpen()
    {
        Rig rig;
        pw::Form1 &f = *rig.form;
        const QString saved = rig.path(QStringLiteral("first.BIN"));

        // Saving before any conversion writes the all-black image.
        rig.dialogs.answers = {saved};
        findAction(&f, QStringLiteral("mnuasav"))->trigger();
        QCOMPARE(pw::test::readFile(saved), QByteArray(1024, '\0'));
        QCOMPARE(f.statusLabel()->text(), QStringLiteral("保存終了!!"));
        QCOMPARE(f.windowTitle(), kBase);
        const pw::FileDialogRequest save = rig.dialogs.requests.last();
        QCOMPARE(save.mode, pw::FileDialogRequest::Mode::Save);
        QCOMPARE(save.labels, QStringList{QStringLiteral("Binary(*.BIN)")});
        QVERIFY(save.confirmOverwrite);
        QCOMPARE(save.initialPath, QDir(rig.dir.path()).absolutePath());

        // Opening another file: the dialog starts from the name the save left.
        QByteArray content(1500, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char(i % 251);
        const QString other = rig.path(QStringLiteral("other.bin"));
        pw::test::writeFile(other, content);
        rig.dialogs.answers = {other};
        pw::test::ScriptedBoxes &boxes = rig.boxes;
        toolbarAction(f, QStringLiteral("toolopnbin"))->trigger();
        const pw::FileDialogRequest open = rig.dialogs.requests.last();
        QCOMPARE(open.mode, pw::FileDialogRequest::Mode::Open);
        QCOMPARE(open.labels, QStringList{QStringLiteral("Bin(*.bin)")});
        QCOMPARE(open.initialPath, saved);
        QVERIFY(open.confirmOverwrite);  // flags stay from the save
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(f.monoImage().data()), 1024), content.left(1024));
        QCOMPARE(f.windowTitle(), kBase + QLatin1Char('(') + QDir::toNativeSeparators(other) + QLatin1Char(')'));
        QCOMPARE(f.statusLabel()->text(), QStringLiteral("保存終了!!"));

        // Cancel and a failed open change nothing.
        const QString title = f.windowTitle();
        const pw::MonoImage image = f.monoImage();
        rig.dialogs.answers = {std::nullopt, rig.path(QStringLiteral("gone.bin"))};
        f.open_bin();
        f.open_bin();
        rig.dialogs.answers = {std::nullopt};
        f.save_bin();
        QCOMPARE(f.windowTitle(), title);
        QCOMPARE(f.monoImage(), image);
        QVERIFY(!QFile::exists(rig.path(QStringLiteral("gone.bin"))));
        QVERIFY(boxes.shown.isEmpty());

        // A short file leaves no stale bytes of the previous image.
        pw::test::writeFile(other, QByteArray(10, '\x7f'));
        QVERIFY(f.load_bin(other));
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(int(f.monoImage()[std::size_t(i)]), i < 10 ? 0x7f : 0);
    }

    void exitAndClose()
    {
        Rig rig;
        rig.port.open();
        findAction(rig.form.get(), QStringLiteral("mnuend"))->trigger();
        QCOMPARE(rig.exits, 1);
        QVERIFY(rig.port.isOpen());  // Exit skips the closing steps
        rig.form->show();
        QVERIFY(rig.form->close());
        QVERIFY(!rig.port.isOpen());
    }

    // Each toolbar button and its menu item do the same thing: same boxes, same dialog
    // requests, same status, caption and bytes on the port.
    void menuAndToolbarTwins_data()
    {
        QTest::addColumn<QString>("menu");
        QTest::addColumn<QString>("key");
        QTest::newRow("open picture") << "mnuopn" << "toolopnbmp";
        QTest::newRow("open BIN") << "mnubo" << "toolopnbin";
        QTest::newRow("save BMP") << "mnusav" << "toolsavbmp";
        QTest::newRow("save BIN") << "mnuasav" << "toolsavbin";
        QTest::newRow("convert") << "mnucnv" << "toolconv";
        QTest::newRow("VRAM") << "mnutx" << "tooltx";
        QTest::newRow("FLASH") << "mnuts" << "toolts";
    }
    void menuAndToolbarTwins()
    {
        QFETCH(QString, menu);
        QFETCH(QString, key);
        QStringList traces[2];
        for (int side = 0; side < 2; ++side) {
            for (auto answer : {pw::MessageBoxes::Answer::Yes, pw::MessageBoxes::Answer::No}) {
                Rig rig;
                pw::Form1 &f = *rig.form;
                QImage picture = pw::test::solidImage(128, 64, Qt::white);
                picture.setPixel(5, 10, qRgb(0, 0, 0));
                f.picture()->setPicture(picture);
                pw::test::writeFile(rig.path(QStringLiteral("in.bin")), QByteArray(1024, '\x11'));
                const QString target = rig.path(side == 0 ? QStringLiteral("a") : QStringLiteral("b"));
                rig.dialogs.answers = {menu == QLatin1String("mnubo") ? rig.path(QStringLiteral("in.bin")) : target};
                rig.boxes.answers = {answer};
                // A device that drops CTS on the display command and raises it on the next poll.
                rig.port.cts = [](const QByteArray &written, int polls) {
                    return !written.endsWith("DP\r\n") || polls >= 1;
                };
                if (side == 0)
                    findAction(&f, menu)->trigger();
                else
                    toolbarAction(f, key)->trigger();
                QString trace;
                for (const auto &s : rig.boxes.shown)
                    trace += s.title + QLatin1Char('|') + s.text + QLatin1Char('|') + QString::number(int(s.buttons)) + QLatin1Char(';');
                for (const auto &r : rig.dialogs.requests)
                    trace += r.labels.join(QLatin1Char(',')) + QString::number(r.confirmOverwrite) + QLatin1Char(';');
                trace += f.statusLabel()->text() + QLatin1Char(';');
                trace += f.windowTitle().replace(rig.dir.path(), QStringLiteral("<dir>")) + QLatin1Char(';');
                trace += QString::fromLatin1(rig.port.written().toHex()) + QLatin1Char(';');
                trace += QString::fromLatin1(pw::test::readFile(target).toHex()) + QLatin1Char(';');
                trace += QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(f.monoImage().data()), 1024).toHex());
                traces[side] << trace;
            }
        }
        QCOMPARE(traces[1], traces[0]);
    }

    void confirmationTexts()
    {
        Rig rig;
        rig.boxes.answers = {pw::MessageBoxes::Answer::No, pw::MessageBoxes::Answer::No, pw::MessageBoxes::Answer::No};
        rig.form->setStatus(QStringLiteral("before"));
        rig.form->mnutx_Click();
        rig.form->combo(3)->setCurrentIndex(3);
        rig.form->mnuts_Click();
        rig.form->combo(3)->setCurrentIndex(-1);
        rig.form->mnuts_Click();
        const QString title = QStringLiteral("注意：表示書換中は、＜はい＞にしないで下さい！！");
        QCOMPARE(rig.boxes.texts(), (QStringList{QStringLiteral("画像を書換しますか？"),
                                                 QStringLiteral("フラッシュページ 3 の画像を書換しますか？"),
                                                 QStringLiteral("フラッシュページ  の画像を書換しますか？")}));
        for (const auto &s : rig.boxes.shown) {
            QCOMPARE(s.title, title);
            QCOMPARE(s.buttons, pw::MessageBoxes::Buttons::YesNo);
        }
        QCOMPARE(rig.form->statusLabel()->text(), QStringLiteral("before"));
        QVERIFY(rig.port.log.isEmpty() || !rig.port.log.contains(QStringLiteral("open")));
        QVERIFY(rig.port.chunks.isEmpty());
    }
};

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
