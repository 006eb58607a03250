// The main window as the user meets it: start-up with its settings file, the controls, the
// menus and toolbar, conversion and BIN files through the menus.
#include "common/testsupport.h"
#include "gui/picturearea.h"

#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QToolBar>
#include <QtTest>

using pw::test::Rig;
using Answer = pw::MessageBoxes::Answer;

namespace {

const QString kBase = QStringLiteral("Pixelwright for 128×64(Mono)");

QAction *menuAction(pw::Form1 &form, const QString &name) { return form.findChild<QAction *>(name); }

QAction *toolAction(pw::Form1 &form, const QString &key)
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
    void startupSettings()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QString, lists);
        QFETCH(QStringList, messages);
        Rig rig(before == "-" ? nullptr : &before);
        QCOMPARE(rig.settingsBytes(), after);
        pw::Form1 &f = *rig.form;
        QCOMPARE(QStringList({f.combo(1)->currentText(), f.combo(2)->currentText(), f.combo(3)->currentText()})
                     .join(QLatin1Char('/')),
                 lists);
        QCOMPARE(rig.boxes.texts(), messages);
        for (const auto &shown : rig.boxes.shown)
            QCOMPARE(shown.title, QStringLiteral("注意"));
        QCOMPARE(f.windowTitle(), kBase);
        QVERIFY(!rig.port.isOpen());
    }

    // Each choice rewrites the file at once; the port choice closes a port left open. A file
    // that cannot be written: the port choice says so, the values hold in memory.
    void listChoices()
    {
        const QByteArray start("\"3\",\"2\"\r\n");
        Rig rig(&start);
        auto choose = [&](int list, int index) {
            rig.form->combo(list)->setCurrentIndex(index);
            emit rig.form->combo(list)->activated(index);
        };
        rig.port.open();
        choose(1, 4);
        QCOMPARE(rig.settingsBytes(), QByteArray("\"5\",\"2\"\r\n"));
        QVERIFY(rig.port.isOpen());
        choose(2, 15);
        QCOMPARE(rig.settingsBytes(), QByteArray("\"5\",\"16\"\r\n"));
        QVERIFY(rig.port.portNumber == 16 && !rig.port.isOpen() && rig.boxes.shown.isEmpty());
        QFile::remove(rig.path(QStringLiteral("parameterv12864.ini")));
        QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("parameterv12864.ini")));
        choose(1, 1);
        choose(2, 2);
        QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("ポートの指定が誤りです。(Combo2_Click)")});
        QVERIFY(rig.form->settings().rewriteTime == "2" && rig.form->settings().portNumber == "3");
        rig.port.open();
        rig.form->show();
        QVERIFY(rig.form->close() && !rig.port.isOpen());  // closing the window closes the port
    }

    void windowAndControls()
    {
        Rig rig;
        pw::Form1 &f = *rig.form;
        QCOMPARE(f.minimumSize(), f.maximumSize());
        QVERIFY(!(f.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(f.picture()->contentsRect().size(), QSize(128, 64));
        QCOMPARE(f.statusLabel()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(f.progressBar()->isHidden());
        QCOMPARE(f.combo(1)->itemText(4) + f.combo(2)->itemText(15) + f.combo(3)->itemText(12), QStringLiteral("51612"));

        QStringList order;
        QWidget *w = f.picture();
        while (order.size() < 4) {
            if (w->focusPolicy() & Qt::TabFocus)
                order << w->objectName();
            w = w->nextInFocusChain();
        }
        QCOMPARE(order, (QStringList{"Picture1", "Combo1", "Combo2", "Combo3"}));
    }

    // The status while converting, the bar, the bytes, and the area left black and white.
    void convert()
    {
        Rig rig;
        pw::Form1 &f = *rig.form;
        QImage picture = pw::test::solidImage(200, 100, QColor(200, 10, 10));  // red: black
        for (int x = 0; x < 200; ++x)
            picture.setPixel(x, 0, qRgb(255, 255, 255));
        f.picture()->setPicture(picture);
        QStringList during;
        connect(f.progressBar(), &QProgressBar::valueChanged, this, [&] {
            during << f.statusLabel()->text() + (f.progressBar()->isHidden() ? "-" : "+");
        });
        menuAction(f, QStringLiteral("mnucnv"))->trigger();
        QCOMPARE(during.value(0), QStringLiteral("変換中．．．+"));
        QCOMPARE(during.filter(QStringLiteral("-")).size(), 0);
        QCOMPARE(f.statusLabel()->text(), QStringLiteral("完了!!"));
        QVERIFY(f.progressBar()->isHidden() && !QGuiApplication::overrideCursor());
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(int(f.monoImage()[std::size_t(i)]), i < 128 ? 0x01 : 0x00);
        QCOMPARE(f.picture()->surface().pixel(3, 0), qRgb(255, 255, 255));
        QCOMPARE(f.picture()->surface().pixel(3, 1), qRgb(0, 0, 0));

        f.picture()->clearPicture();  // no picture: only the light background is read
        f.CONV();
        QCOMPARE(f.monoImage(), [] { pw::MonoImage m; m.fill(0xFF); return m; }());
    }

    // BIN files through the shared dialog, as a sequence of uses.
    void binSaveAndOpen()
    {
        Rig rig;
        pw::Form1 &f = *rig.form;
        const QString saved = rig.path(QStringLiteral("first.BIN"));
        rig.dialogs.answers = {saved};
        menuAction(f, QStringLiteral("mnuasav"))->trigger();
        QCOMPARE(pw::test::readFile(saved), QByteArray(1024, '\0'));  // nothing converted yet
        QCOMPARE(f.statusLabel()->text(), QStringLiteral("保存終了!!"));
        const pw::FileDialogRequest save = rig.dialogs.requests.last();
        QCOMPARE(save.labels, QStringList{QStringLiteral("Binary(*.BIN)")});
        QVERIFY(save.mode == pw::FileDialogRequest::Mode::Save && save.confirmOverwrite);

        QByteArray content(1500, '\0');
        for (int i = 0; i < content.size(); ++i)
            content[i] = char(i % 251);
        const QString other = rig.path(QStringLiteral("other.bin"));
        pw::test::writeFile(other, content);
        rig.dialogs.answers = {other};
        menuAction(f, QStringLiteral("mnubo"))->trigger();
        const pw::FileDialogRequest open = rig.dialogs.requests.last();
        QCOMPARE(open.labels, QStringList{QStringLiteral("Bin(*.bin)")});
        QCOMPARE(open.initialPath, saved);  // the name the save left
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(f.monoImage().data()), 1024), content.left(1024));
        QCOMPARE(f.windowTitle(), kBase + QLatin1Char('(') + QDir::toNativeSeparators(other) + QLatin1Char(')'));

        // Cancel, a missing file and a cancelled save change nothing.
        const QString title = f.windowTitle();
        const pw::MonoImage image = f.monoImage();
        rig.dialogs.answers = {std::nullopt, rig.path(QStringLiteral("gone.bin")), std::nullopt};
        f.open_bin();
        f.open_bin();
        f.save_bin();
        QCOMPARE(f.windowTitle(), title);
        QCOMPARE(f.monoImage(), image);
        QVERIFY(rig.boxes.shown.isEmpty() && !QFile::exists(rig.path(QStringLiteral("gone.bin"))));

        QCOMPARE(f.statusLabel()->text(), QStringLiteral("保存終了!!"));
        rig.dialogs.answers = {rig.path(QStringLiteral("no/such/folder.BIN"))};
        f.save_bin();  // a failed save says nothing, and no longer reads as the earlier success
        QVERIFY(f.statusLabel()->text().isEmpty() && rig.boxes.shown.isEmpty());
    }

    // Each toolbar button and its menu item: same boxes, dialog requests, status, caption,
    // bytes on the port and file written, for Yes and for No.
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
            for (Answer answer : {Answer::Yes, Answer::No}) {
                Rig rig;
                pw::Form1 &f = *rig.form;
                QImage picture = pw::test::solidImage(128, 64, Qt::white);
                picture.setPixel(5, 10, qRgb(0, 0, 0));
                pw::test::writeFile(rig.path(QStringLiteral("in.bin")), QByteArray(1024, '\x11'));
                picture.save(rig.path(QStringLiteral("in.BMP")));
                rig.dialogs.answers = {rig.path(menu == QLatin1String("mnubo") ? QStringLiteral("in.bin")
                                                : menu == QLatin1String("mnuopn") ? QStringLiteral("in.BMP")
                                                                                  : QStringLiteral("out"))};
                rig.boxes.answers = {answer};
                (side == 0 ? menuAction(f, menu) : toolAction(f, key))->trigger();
                QString trace;
                for (const auto &s : rig.boxes.shown)
                    trace += s.title + QLatin1Char('|') + s.text + QString::number(int(s.buttons)) + QLatin1Char(';');
                for (const auto &r : rig.dialogs.requests)
                    trace += r.labels.join(QLatin1Char(',')) + QString::number(r.confirmOverwrite) + QLatin1Char(';');
                trace += f.statusLabel()->text() + QLatin1Char(';') + f.windowTitle().remove(rig.dir.path());
                const QImage &area = f.picture()->surface();
                trace += QString::fromLatin1(rig.port.written().toHex()) + QString::number(qHashBits(area.constBits(), area.sizeInBytes()));
                trace += QString::fromLatin1(pw::test::readFile(rig.path(QStringLiteral("out"))).toHex());
                trace += QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(f.monoImage().data()), 1024).toHex());
                traces[side] << trace;
            }
        }
        QCOMPARE(traces[1], traces[0]);
    }

    void confirmations()
    {
        Rig rig;
        rig.boxes.answers = {Answer::No, Answer::No, Answer::No};
        rig.form->mnutx_Click();
        rig.form->combo(3)->setCurrentIndex(3);
        rig.form->mnuts_Click();
        rig.form->combo(3)->setCurrentIndex(-1);  // after the load error no page is chosen
        rig.form->mnuts_Click();
        QCOMPARE(rig.boxes.texts(), (QStringList{QStringLiteral("画像を書換しますか？"),
                                                 QStringLiteral("フラッシュページ 3 の画像を書換しますか？"),
                                                 QStringLiteral("フラッシュページ  の画像を書換しますか？")}));
        for (const auto &s : rig.boxes.shown)
            QVERIFY(s.title == QStringLiteral("注意：表示書換中は、＜はい＞にしないで下さい！！")
                    && s.buttons == pw::MessageBoxes::Buttons::YesNo);
        QVERIFY(rig.port.chunks.isEmpty() && rig.form->statusLabel()->text().isEmpty());
    }
};

QTEST_MAIN(TstForm1)
#include "tst_form1.moc"
