// The splash window (colour check, countdown, clicks), the About window and the version both
// show, which the build sets.
#include "common/testsupport.h"
#include "gui/aboutdialog.h"
#include "gui/splashscreen.h"
#include "pixelwright/version.h"

#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using namespace pw;

namespace {

const QString kVersionText = QStringLiteral("ﾊﾞｰｼﾞｮﾝ ") + QLatin1String(PW_VERSION);

QList<MainWindow *> mainWindows()
{
    QList<MainWindow *> list;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<MainWindow *>(w))
            list << window;
    return list;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

QString labelText(QWidget *window, const char *name)
{
    const auto *label = window->findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("(no label %1)").arg(QLatin1String(name));
}

}  // namespace

class TstShell : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { flushDeletes(); qDeleteAll(mainWindows()); flushDeletes(); }

    void splashChecksColourDepthThenOpensMainWindow_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("opensAt");  // tick that opens the main window; 0: the click, -1: never
        for (int depth : {16, 23})
            QTest::addRow("%d bits", depth) << depth << QString() << -1;
        for (int depth : {24, 32})
            QTest::addRow("%d bits", depth) << depth << QString() << 4;
        // A closing click comes before any colour check: a 16-bit display shows no message then.
        for (const char *name : {"borderFrame", "productNameLabel", "platformLabel", "versionLabel"})
            QTest::newRow(name) << 16 << QString::fromLatin1(name) << 0;
        for (const char *name : {"logoImage", "companyProductLabel", "copyrightLabel"})
            QTest::newRow(name) << 24 << QString::fromLatin1(name) << 4;
    }
    void splashChecksColourDepthThenOpensMainWindow()
    {
        QFETCH(int, depth);
        QFETCH(QString, click);
        QFETCH(int, opensAt);
        test::Rig rig{nullptr, false};
        QPointer<SplashScreen> splash = new SplashScreen(rig.platform());
        splash->setDepthProbe([depth] { return depth; });
        int exitsWhileShown = -1;  // the end must wait for the message to be acknowledged
        rig.boxes.onShow = [&](const test::ScriptedBoxes::Shown &) { exitsWhileShown = rig.exits; };
        splash->show();
        if (!click.isEmpty())
            QTest::mouseClick(splash->findChild<QWidget *>(click), Qt::LeftButton);
        QTest::keyClick(splash, Qt::Key_Return);  // keys do nothing
        for (int tick = 1; tick <= opensAt; ++tick) {
            QVERIFY2(mainWindows().isEmpty(), qPrintable(QStringLiteral("open before tick %1").arg(tick)));
            splash->checkDepthAndCountDown();
        }
        if (opensAt < 0) {
            splash->checkDepthAndCountDown();
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
        // Closed, the main window ends, and with it what it keeps to the end (conversion.ini).
        QVERIFY(mainWindows()[0]->close());
        flushDeletes();
        QVERIFY(mainWindows().isEmpty());
    }

    // The splash's words as they are read on it: text, size and weight of each label.
    void splashLabelsAsDesigned()
    {
        test::Rig rig{nullptr, false};
        SplashScreen splash(rig.platform());
        const struct {
            const char *name;
            QString text;
            qreal points;
            bool bold;
        } labels[] = {
            {.name = "companyProductLabel", .text = QStringLiteral("Pixelwright Project"), .points = 18, .bold = true},
            {.name = "productNameLabel", .text = QStringLiteral("Pixelwright"), .points = 32.25, .bold = true},
            {.name = "platformLabel", .text = QStringLiteral("for QPX-4710"), .points = 15.75, .bold = true},
            {.name = "versionLabel", .text = kVersionText, .points = 12, .bold = true},
        };
        for (const auto &l : labels) {
            const auto *label = splash.findChild<QLabel *>(QLatin1String(l.name));
            QVERIFY2(label, l.name);
            QCOMPARE(label->text(), l.text);
            QCOMPARE(label->font().pointSizeF(), l.points);
            QCOMPARE(label->font().bold(), l.bold);
        }
        QCOMPARE(splash.findChild<QLabel *>(QStringLiteral("logoImage"))->pixmap().size(), QSize(32, 32));
        // The version, however long, ends where the design ends it (x 280 + width 59).
        const QLabel *version = splash.findChild<QLabel *>(QStringLiteral("versionLabel"));
        QCOMPARE(version->geometry().right(), 280 + 59 - 1);
        QVERIFY(version->width() >= version->sizeHint().width());
    }

    // Coarse timers fire up to 5 % early: four ticks must still add up to two full seconds.
    void splashLastsTwoSeconds()
    {
        test::Rig rig{nullptr, false};
        QPointer<SplashScreen> splash = new SplashScreen(rig.platform());
        splash->setDepthProbe([] { return 32; });
        QCOMPARE(splash->timer()->interval(), 500);  // the depth is looked at every half second
        QElapsedTimer clock;
        splash->show();
        clock.start();
        while (mainWindows().isEmpty() && clock.elapsed() < 5000)
            QTest::qWait(1);
        const qint64 elapsed = clock.elapsed();
        qInfo("main window after %lld ms", static_cast<long long>(elapsed));
        QVERIFY2(elapsed >= 1995 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    }

    void aboutWindowOpensOnceAndClosesOnEnterEscOrExit_data()
    {
        QTest::addColumn<int>("key");  // 0: Exit from the main window's menu instead
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
        QTest::newRow("Exit") << 0;
    }
    void aboutWindowOpensOnceAndClosesOnEnterEscOrExit()
    {
        QFETCH(int, key);
        test::Rig rig;
        rig.window->show();
        rig.window->findChild<QAction *>(QStringLiteral("showAboutAction"))->trigger();
        QPointer<AboutDialog> about = rig.window->about();
        QVERIFY(about && about->isVisible() && !about->isModal() && rig.window->isEnabled());
        rig.window->showAbout();  // again while open: the same window comes forward
        QCOMPARE(rig.window->about(), about.data());
        QCOMPARE(rig.window->findChildren<AboutDialog *>().size(), 1);
        if (!key) {
            rig.window->findChild<QAction *>(QStringLiteral("exitAction"))->trigger();
            QVERIFY(rig.exits == 1 && rig.boxes.shown.isEmpty());
            return;
        }
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QTest::keyClick(about, Qt::Key(key));
        flushDeletes();
        QVERIFY(about.isNull() && rig.window->isVisible());
    }

    // With a font whose lines are taller than the design's, the labels grow into the room
    // below them and no further: the description stops above the separator, the warning at
    // the window's edge.
    void aboutLabelsGrowWithinTheirRoom()
    {
        const QFont before = QApplication::font();
        QFont tall = before;
        tall.setPointSize(24);
        QApplication::setFont(tall);
        AboutDialog about;
        QApplication::setFont(before);
        const auto *description = about.findChild<QLabel *>(QStringLiteral("descriptionLabel"));
        const auto *warning = about.findChild<QLabel *>(QStringLiteral("warningLabel"));
        QVERIFY(description && warning);
        // Runs of spaces set the heading and the paragraphs apart: each run is part of the text.
        QCOMPARE(description->text(), QStringLiteral("アプリケーションの説明") + QString(104, ' ') + QStringLiteral("ＢＭＰ、ＪＰＥＧ画像を弊社製品用画像データに変換します。")
                                          + QString(4, QChar(0x3000)) + QString(47, ' ')
                                          + QStringLiteral("Ｗｉｎｄｏｗｓのカラーパレットはフルカラー（２４ｂｉｔ）に設定してご使用ください。"));
        QCOMPARE(warning->text(), QStringLiteral("警告") + QString(114, ' ')
                                      + QStringLiteral("著作権で保護された画像ファイルを無断で商用等に使用したり、配布することは法律で禁止されています。"));
        QVERIFY2(description->height() > 40 && description->y() + description->height() == 162,
                 qPrintable(QStringLiteral("%1 + %2").arg(description->y()).arg(description->height())));
        QCOMPARE(warning->y() + warning->height(), about.height());
    }

    // The program itself, started as a user starts it (offscreen, from a folder of its own):
    // the splash gives way to the main window, and the program stays until it is ended.
    void programStartsAndStays()
    {
        QTemporaryDir dir;
        const QString program = dir.filePath(QStringLiteral("pixelwright"));
        QVERIFY(QFile::copy(QStringLiteral(PW_GUI_PROGRAM), program));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("PIXELWRIGHT_NO_SERIAL_HARDWARE"), QStringLiteral("1"));
        QProcess gui;
        gui.setProcessEnvironment(environment);
        gui.start(program, {});
        QVERIFY(gui.waitForStarted(10000));
        QVERIFY2(!gui.waitForFinished(3000), qPrintable(gui.readAllStandardError()));  // past the splash's two seconds
        // The main window has started: it writes its settings back beside the program.
        const QString settings = dir.filePath(QStringLiteral("parameterv12864.ini"));
        for (int waited = 0; waited < 10000 && !QFileInfo::exists(settings) && !gui.waitForFinished(100); waited += 100) {
        }
        QVERIFY(QFileInfo::exists(settings) && gui.state() == QProcess::Running);
        gui.terminate();
        QVERIFY(gui.waitForFinished(10000));
    }

    // The version is set in one place, the build: the splash, the About window and
    // pixelwright-cli --version all show that value.
    void versionComesFromTheBuildEverywhere()
    {
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+$")).match(QLatin1String(PW_VERSION)).hasMatch());
        test::Rig rig{nullptr, false};
        auto *splash = new SplashScreen(rig.platform());
        splash->setDepthProbe([] { return 32; });
        QCOMPARE(labelText(splash, "versionLabel"), kVersionText);
        splash->openMainWindow();
        MainWindow *window = mainWindows().value(0);
        QVERIFY(window);
        window->showAbout();
        QCOMPARE(labelText(window->about(), "versionLabel"), kVersionText);

        QProcess cli;
        cli.start(QStringLiteral(PW_CLI_PROGRAM), {QStringLiteral("--version")});
        QVERIFY(cli.waitForFinished(10000));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(cli.readAllStandardOutput(), QByteArray("pixelwright-cli " PW_VERSION "\n"));
    }
};

QTEST_MAIN(TstShell)
#include "tst_shell.moc"
