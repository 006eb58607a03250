// The splash window (colour check, countdown, clicks) and the About window.
#include "gui/frmabout.h"
#include "gui/frmsplash.h"
#include "common/testsupport.h"

#include <QLabel>
#include <QtTest>

using namespace pw;

static const QString kVersion = QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.3.0");

static QList<Form1 *> mainWindows()
{
    QList<Form1 *> list;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *form = qobject_cast<Form1 *>(w))
            list << form;
    return list;
}

static void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class TstShell : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { flushDeletes(); qDeleteAll(mainWindows()); flushDeletes(); }

    void splash_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("opensAt");  // tick that opens the main window; 0: the click, -1: never
        for (int depth : {16, 23})
            QTest::addRow("%d bits", depth) << depth << QString() << -1;
        for (int depth : {24, 32})
            QTest::addRow("%d bits", depth) << depth << QString() << 4;
        // A closing click comes before any colour check: a 16-bit display shows no message then.
        for (const char *name : {"Frame1", "lblProductName", "lblPlatform", "lblVersion"})
            QTest::newRow(name) << 16 << QString::fromLatin1(name) << 0;
        for (const char *name : {"imgLogo", "lblCompanyProduct", "Label1"})
            QTest::newRow(name) << 24 << QString::fromLatin1(name) << 4;
    }
    void splash()
    {
        QFETCH(int, depth);
        QFETCH(QString, click);
        QFETCH(int, opensAt);
        test::Rig rig{nullptr, false};
        QPointer<FrmSplash> splash =
            new FrmSplash({&rig.boxes, &rig.dialogs, &rig.port, rig.dir.path(), [&rig] { ++rig.exits; }});
        splash->setDepthProbe([depth] { return depth; });
        int exitsWhileShown = -1;  // the end must wait for the message to be acknowledged
        rig.boxes.onShow = [&](const test::ScriptedBoxes::Shown &) { exitsWhileShown = rig.exits; };
        splash->show();
        QCOMPARE(splash->findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), kVersion);
        if (!click.isEmpty())
            QTest::mouseClick(splash->findChild<QWidget *>(click), Qt::LeftButton);
        QTest::keyClick(splash, Qt::Key_Return);  // keys do nothing
        for (int tick = 1; tick <= opensAt; ++tick) {
            QVERIFY2(mainWindows().isEmpty(), qPrintable(QStringLiteral("open before tick %1").arg(tick)));
            splash->Timer1_Timer();
        }
        if (opensAt < 0) {
            splash->Timer1_Timer();
            QCOMPARE(rig.boxes.texts(), QStringList{QStringLiteral("カラーパレットをフルカラー（２４ビット）に設定して下さい。")});
            QCOMPARE(rig.boxes.shown[0].title, QString());
            QVERIFY(exitsWhileShown == 0 && rig.exits == 1);
            QVERIFY(mainWindows().isEmpty() && !splash->timer()->isActive());
            delete splash;
            return;
        }
        QCOMPARE(mainWindows().size(), 1);
        QVERIFY(mainWindows()[0]->isVisible() && rig.boxes.shown.isEmpty() && rig.exits == 0);
        flushDeletes();
        QVERIFY(splash.isNull());
    }

    // Coarse timers fire up to 5 % early: four ticks must still add up to two full seconds.
    void splashLastsTwoSeconds()
    {
        test::Rig rig{nullptr, false};
        QPointer<FrmSplash> splash =
            new FrmSplash({&rig.boxes, &rig.dialogs, &rig.port, rig.dir.path(), [&rig] { ++rig.exits; }});
        splash->setDepthProbe([] { return 32; });
        QElapsedTimer clock;
        splash->show();
        clock.start();
        while (mainWindows().isEmpty() && clock.elapsed() < 5000)
            QTest::qWait(1);
        const qint64 elapsed = clock.elapsed();
        qInfo("main window after %lld ms", static_cast<long long>(elapsed));
        QVERIFY2(elapsed >= 1995 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    }

    void aboutWindow_data()
    {
        QTest::addColumn<int>("key");  // 0: Exit from the main window's menu instead
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
        QTest::newRow("Exit") << 0;
    }
    void aboutWindow()
    {
        QFETCH(int, key);
        test::Rig rig;
        rig.form->show();
        rig.form->mnuver_Click();
        QPointer<FrmAbout> about = rig.form->about();
        QVERIFY(about && about->isVisible() && rig.form->isEnabled());
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), kVersion);
        QCOMPARE(about->windowTitle(), QStringLiteral("Pixelwright for 128×64(Mono)のﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("lblDescription"))->text(),
                 QStringLiteral("アプリケーションの説明") + QString(104, u' ')
                     + QStringLiteral("ＢＭＰ、ＪＰＥＧ画像を弊社製品用画像データに変換します。\u3000\u3000\u3000\u3000")
                     + QString(47, u' ')
                     + QStringLiteral("Ｗｉｎｄｏｗｓのカラーパレットはフルカラー（２４ｂｉｔ）に設定してご使用ください。"));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("Label1"))->text(),
                 QStringLiteral("警告") + QString(114, u' ')
                     + QStringLiteral("著作権で保護された画像ファイルを無断で商用等に使用したり、配布することは法律で禁止されています。"));
        rig.form->mnuver_Click();  // again while open: the same window comes forward
        QCOMPARE(rig.form->about(), about.data());
        if (!key) {
            rig.form->findChild<QAction *>(QStringLiteral("mnuend"))->trigger();
            QVERIFY(rig.exits == 1 && rig.boxes.shown.isEmpty());
            return;
        }
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QTest::keyClick(about, Qt::Key(key));
        flushDeletes();
        QVERIFY(about.isNull() && rig.form->isVisible());
    }
};

QTEST_MAIN(TstShell)
#include "tst_shell.moc"
