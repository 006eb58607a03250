// The start of the program (splash window, colour check, opening the main window) and the
// About window.
#include "app/frmabout.h"
#include "app/frmsplash.h"
#include "app/module1.h"
#include "common/testsupport.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

using pw::Form1;
using pw::FrmAbout;
using pw::FrmSplash;
using pw::test::ScriptedBoxes;

namespace {

const QString kVersion = QStringLiteral("ﾊﾞｰｼﾞｮﾝ 1.3.0");
const QString kMainTitle = QStringLiteral("Pixelwright for 128×64(Mono)");
const QString kColourMessage = QStringLiteral("カラーパレットをフルカラー（２４ビット）に設定して下さい。");

// Scripted platform pieces in a temporary program folder, with no main window yet.
struct Start {
    pw::test::Rig rig{nullptr, false};
    pw::Platform platform()
    {
        pw::Platform p;
        p.boxes = &rig.boxes;
        p.dialogs = &rig.dialogs;
        p.port = &rig.port;
        p.programDir = rig.dir.path();
        p.exitProgram = [this] { ++rig.exits; };
        return p;
    }
};

QList<Form1 *> mainWindows()
{
    QList<Form1 *> list;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *form = qobject_cast<Form1 *>(w))
            list << form;
    return list;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

// Horizontal bands of rows that hold dark pixels: the text lines a label shows.
struct Band {
    int top, bottom, left, right;
};
QList<Band> inkBands(const QImage &image)
{
    QList<Band> bands;
    bool inBand = false;
    for (int y = 0; y < image.height(); ++y) {
        int left = -1, right = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) < 128) {
                if (left < 0)
                    left = x;
                right = x;
            }
        }
        if (left >= 0) {
            if (!inBand)
                bands.append({y, y, left, right});
            Band &b = bands.last();
            b.bottom = y;
            b.left = qMin(b.left, left);
            b.right = qMax(b.right, right);
        }
        inBand = left >= 0;
    }
    return bands;
}

int wrappedLines(const QLabel *label, const QString &paragraph)
{
    const QFontMetrics fm(label->font());
    const QRect box = fm.boundingRect(QRect(0, 0, label->width(), 10000), Qt::TextWordWrap, paragraph);
    return qRound(double(box.height()) / fm.lineSpacing());
}

}  // namespace

class TstShell : public QObject {
    Q_OBJECT
private slots:
    void cleanup()
    {
        flushDeletes();
        qDeleteAll(mainWindows());
        flushDeletes();
    }

    void startShowsSplashAndOpensMainWindowAfterTwoSeconds()
    {
        Start start;
        QElapsedTimer clock;
        clock.start();
        QPointer<FrmSplash> splash = pw::Module1::Main(start.platform());
        QVERIFY(splash);
        QVERIFY(splash->isVisible());
        QVERIFY(mainWindows().isEmpty());
        QVERIFY(splash->timer()->isActive());
        QCOMPARE(splash->timer()->interval(), 500);
        QCOMPARE(splash->counter(), qint16(1));

        QTRY_VERIFY_WITH_TIMEOUT(!mainWindows().isEmpty(), 5000);
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 1700 && elapsed < 3500, qPrintable(QString::number(elapsed)));
        Form1 *form = mainWindows().first();
        QVERIFY(form->isVisible());
        QCOMPARE(form->windowTitle(), kMainTitle);
        // The offscreen display has 32 bits per pixel: no message, no end.
        QCOMPARE(start.rig.exits, 0);
        QVERIFY(start.rig.boxes.shown.isEmpty());
        QTRY_VERIFY(splash.isNull());
        QCOMPARE(mainWindows().size(), 1);
    }

    void timerTicks_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("refused");
        QTest::newRow("8 bits") << 8 << true;
        QTest::newRow("16 bits") << 16 << true;
        QTest::newRow("23 bits") << 23 << true;
        QTest::newRow("24 bits") << 24 << false;
        QTest::newRow("32 bits") << 32 << false;
    }
    void timerTicks()
    {
        QFETCH(int, depth);
        QFETCH(bool, refused);
        Start start;
        auto splash = std::make_unique<FrmSplash>(start.platform());
        splash->setDepthProbe([depth] { return depth; });
        QPointer<Form1> opened;
        connect(splash.get(), &FrmSplash::mainWindowOpened, this, [&opened](Form1 *f) { opened = f; });
        // The end must come after the message has been acknowledged.
        int exitsWhileShown = -1;
        start.rig.boxes.onShow = [&](const ScriptedBoxes::Shown &) { exitsWhileShown = start.rig.exits; };
        splash->show();

        for (int tick = 1; tick <= 4; ++tick) {
            splash->Timer1_Timer();
            QCOMPARE(splash->colourDepth(), qint16(depth));
            if (refused) {
                QCOMPARE(start.rig.boxes.shown.size(), 1);
                QCOMPARE(start.rig.boxes.shown[0].text, kColourMessage);
                // No title of its own: the box shows the program's.
                QCOMPARE(start.rig.boxes.shown[0].title, QString());
                QCOMPARE(start.rig.boxes.shown[0].buttons, pw::MessageBoxes::Buttons::Ok);
                QCOMPARE(exitsWhileShown, 0);
                QCOMPARE(start.rig.exits, 1);
                QVERIFY(!splash->timer()->isActive());
                QVERIFY(mainWindows().isEmpty());
                return;
            }
            QVERIFY(start.rig.boxes.shown.isEmpty());
            QCOMPARE(start.rig.exits, 0);
            QCOMPARE(splash->counter(), qint16(tick + 1));
            if (tick < 4) {
                QVERIFY2(!opened && mainWindows().isEmpty(), qPrintable(QStringLiteral("open at tick %1").arg(tick)));
                QVERIFY(splash->timer()->isActive());
            }
        }
        QVERIFY(opened);
        QCOMPARE(mainWindows(), QList<Form1 *>{opened.data()});
        QVERIFY(opened->isVisible());
        QVERIFY(!splash->isVisible());
        QVERIFY(!splash->timer()->isActive());
        // The main window's start-up ran over the same platform pieces.
        QCOMPARE(pw::Module1::settingsPath, start.rig.path(QStringLiteral("parameterv12864.ini")));
        splash.release()->deleteLater();  // closed with delete-on-close; the event loop frees it
    }

    void clicks_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Frame1") << QStringLiteral("Frame1") << true;
        QTest::newRow("lblProductName") << QStringLiteral("lblProductName") << true;
        QTest::newRow("lblPlatform") << QStringLiteral("lblPlatform") << true;
        QTest::newRow("lblVersion") << QStringLiteral("lblVersion") << true;
        QTest::newRow("imgLogo") << QStringLiteral("imgLogo") << false;
        QTest::newRow("lblCompanyProduct") << QStringLiteral("lblCompanyProduct") << false;
        QTest::newRow("Label1") << QStringLiteral("Label1") << false;
    }
    void clicks()
    {
        QFETCH(QString, element);
        QFETCH(bool, closes);
        Start start;
        QPointer<FrmSplash> splash = new FrmSplash(start.platform());
        // A depth below 24 would end the program at the first tick: a click must not wait for it.
        splash->setDepthProbe([] { return 16; });
        splash->show();
        QVERIFY(QTest::qWaitForWindowExposed(splash));
        auto *target = splash->findChild<QWidget *>(element);
        QVERIFY(target);
        QTest::mouseClick(target, Qt::LeftButton);
        QTest::keyClick(splash, Qt::Key_Return);
        QTest::keyClick(splash, Qt::Key_Space);

        QCOMPARE(mainWindows().size(), closes ? 1 : 0);
        QCOMPARE(splash->isVisible(), !closes);
        QCOMPARE(splash->timer()->isActive(), !closes);
        QVERIFY(start.rig.boxes.shown.isEmpty());
        if (!closes) {
            // The countdown goes on as before.
            splash->setDepthProbe([] { return 24; });
            for (int tick = 1; tick <= 4; ++tick)
                splash->Timer1_Timer();
            QCOMPARE(mainWindows().size(), 1);
        }
        QVERIFY(splash);
        flushDeletes();
        QVERIFY(splash.isNull());
    }

    void splashLayout_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QPoint>("place");
        QTest::addColumn<qreal>("points");
        QTest::newRow("imgLogo") << QStringLiteral("imgLogo") << QPoint(16, 24) << 0.0;
        QTest::newRow("lblCompanyProduct") << QStringLiteral("lblCompanyProduct") << QPoint(64, 32) << 18.0;
        QTest::newRow("lblProductName") << QStringLiteral("lblProductName") << QPoint(32, 64) << 32.25;
        QTest::newRow("lblPlatform") << QStringLiteral("lblPlatform") << QPoint(168, 112) << 15.75;
        QTest::newRow("Label1") << QStringLiteral("Label1") << QPoint(88, 192) << 0.0;
    }
    void splashLayout()
    {
        QFETCH(QString, element);
        QFETCH(QPoint, place);
        QFETCH(qreal, points);
        Start start;
        FrmSplash splash(start.platform());
        QCOMPARE(splash.size(), QSize(375, 222));
        QVERIFY(splash.windowFlags().testFlag(Qt::SplashScreen));
        auto *frame = splash.findChild<QWidget *>(QStringLiteral("Frame1"));
        QCOMPARE(frame->geometry(), QRect(8, 0, 360, 214));
        auto *label = splash.findChild<QLabel *>(element);
        QVERIFY(label);
        QCOMPARE(label->parentWidget(), frame);
        QCOMPARE(label->pos(), place);
        // Sized to its text, and still inside the frame.
        QVERIFY2(frame->rect().adjusted(1, 1, -1, -1).contains(label->geometry()),
                 qPrintable(QStringLiteral("%1 %2x%3").arg(element).arg(label->width()).arg(label->height())));
        if (points > 0) {
            QCOMPARE(label->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
            QVERIFY(label->font().bold());
            QCOMPARE(label->font().pointSizeF(), points);
            QCOMPARE(label->size(), label->sizeHint());
        }
        if (element == QLatin1String("imgLogo")) {
            QCOMPARE(label->size(), QSize(32, 32));
            QVERIFY(label->hasScaledContents());
            QVERIFY(!label->pixmap().isNull());
        }
    }

    void versionTexts()
    {
        QCOMPARE(pw::Module1::versionText(), kVersion);
        Start start;
        FrmSplash splash(start.platform());
        auto *splashVersion = splash.findChild<QLabel *>(QStringLiteral("lblVersion"));
        QCOMPARE(splashVersion->text(), kVersion);
        QVERIFY(splashVersion->alignment().testFlag(Qt::AlignRight));
        // Grown to its text to the left: the right edge stays where the window puts it.
        QCOMPARE(splashVersion->geometry().right(), 280 + 59 - 1);
        QCOMPARE(splashVersion->size(), splashVersion->sizeHint());

        FrmAbout about;
        QCOMPARE(about.findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), kVersion);
    }

    void aboutTexts()
    {
        FrmAbout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("Pixelwright for 128×64(Mono)のﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(about.size(), QSize(382, 237));
        QVERIFY(!about.isModal());
        QVERIFY(!about.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!about.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        auto *title = about.findChild<QLabel *>(QStringLiteral("lblTitle"));
        QCOMPARE(title->text(), kMainTitle);
        QCOMPARE(title->font().family(), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(title->font().pointSizeF(), 12.0);
        QVERIFY(!title->font().bold());

        const QString description = about.findChild<QLabel *>(QStringLiteral("lblDescription"))->text();
        const QRegularExpression descriptionForm(QStringLiteral(
            "^アプリケーションの説明 {104}ＢＭＰ、ＪＰＥＧ画像を弊社製品用画像データに変換します。\u3000{4} {47}"
            "Ｗｉｎｄｏｗｓのカラーパレットはフルカラー（２４ｂｉｔ）に設定してご使用ください。$"));
        QVERIFY2(descriptionForm.match(description).hasMatch(), qPrintable(description));
        const QString warning = about.findChild<QLabel *>(QStringLiteral("Label1"))->text();
        const QRegularExpression warningForm(QStringLiteral(
            "^警告 {114}著作権で保護された画像ファイルを無断で商用等に使用したり、配布することは法律で禁止されています。$"));
        QVERIFY2(warningForm.match(warning).hasMatch(), qPrintable(warning));

        auto *ok = about.findChild<QPushButton *>(QStringLiteral("cmdOK"));
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QVERIFY(ok->isDefault());
        QCOMPARE(ok->geometry(), QRect(284, 175, 87, 23));
    }

    // The runs of spaces push what follows onto a new line: the heading stands alone, and the
    // label shows as many lines as its paragraphs take when wrapped each on its own.
    void aboutParagraphs_data()
    {
        QTest::addColumn<QString>("element");
        QTest::addColumn<QStringList>("paragraphs");
        QTest::newRow("description")
            << QStringLiteral("lblDescription")
            << QStringList{QStringLiteral("アプリケーションの説明"),
                           QStringLiteral("ＢＭＰ、ＪＰＥＧ画像を弊社製品用画像データに変換します。"),
                           QStringLiteral("Ｗｉｎｄｏｗｓのカラーパレットはフルカラー（２４ｂｉｔ）に設定してご使用ください。")};
        QTest::newRow("warning")
            << QStringLiteral("Label1")
            << QStringList{QStringLiteral("警告"),
                           QStringLiteral("著作権で保護された画像ファイルを無断で商用等に使用したり、配布することは法律で禁止されています。")};
    }
    void aboutParagraphs()
    {
        QFETCH(QString, element);
        QFETCH(QStringList, paragraphs);
        FrmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto *label = about.findChild<QLabel *>(element);
        const QList<Band> bands = inkBands(label->grab().toImage());
        int expected = 0;
        for (const QString &p : paragraphs)
            expected += wrappedLines(label, p);
        QCOMPARE(bands.size(), expected);
        const int headingWidth = QFontMetrics(label->font()).horizontalAdvance(paragraphs.first());
        QVERIFY2(bands.first().right <= headingWidth + 1,
                 qPrintable(QStringLiteral("%1 > %2").arg(bands.first().right).arg(headingWidth)));
        // Every line shows inside the label.
        QVERIFY(bands.last().bottom < label->height() - 1);
    }

    void aboutSeparator()
    {
        FrmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QImage image = about.grab().toImage();
        const QRgb grey = qRgb(128, 128, 128);
        const QRgb white = qRgb(255, 255, 255);
        for (int x : {6, 100, 376})
            QCOMPARE(image.pixel(x, 163) & 0xFFFFFF, grey & 0xFFFFFF);
        for (int x : {7, 200, 376}) {
            QCOMPARE(image.pixel(x, 164) & 0xFFFFFF, white & 0xFFFFFF);
            QCOMPARE(image.pixel(x, 165) & 0xFFFFFF, white & 0xFFFFFF);
        }
        QVERIFY((image.pixel(100, 162) & 0xFFFFFF) != (grey & 0xFFFFFF));
        QVERIFY((image.pixel(100, 166) & 0xFFFFFF) != (white & 0xFFFFFF));
        QVERIFY((image.pixel(3, 163) & 0xFFFFFF) != (grey & 0xFFFFFF));
    }

    void aboutCloses_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
        QTest::newRow("OK button") << 0;
    }
    void aboutCloses()
    {
        QFETCH(int, how);
        pw::test::Rig rig;
        rig.form->show();
        rig.form->mnuver_Click();
        QPointer<FrmAbout> about = rig.form->about();
        QVERIFY(about);
        QVERIFY(about->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(about));
        if (how)
            QTest::keyClick(about, Qt::Key(how));
        else
            QTest::mouseClick(about->findChild<QPushButton *>(QStringLiteral("cmdOK")), Qt::LeftButton);
        QVERIFY(!about || !about->isVisible());
        flushDeletes();
        QVERIFY(about.isNull());
        QVERIFY(rig.form->about() == nullptr);
        QVERIFY(rig.form->isVisible());
    }

    void aboutReopens()
    {
        pw::test::Rig rig;
        rig.form->show();
        rig.form->mnuver_Click();
        QPointer<FrmAbout> first = rig.form->about();
        QVERIFY(first && first->isVisible());
        // The main window stays usable while it is open.
        QVERIFY(rig.form->isEnabled());
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        rig.form->mnuver_Click();
        QCOMPARE(rig.form->about(), first.data());
        QCOMPARE(rig.form->findChildren<FrmAbout *>().size(), 1);

        first->close();
        flushDeletes();
        QVERIFY(first.isNull());
        rig.form->mnuver_Click();
        QVERIFY(rig.form->about());
        QVERIFY(rig.form->about()->isVisible());
        QCOMPARE(rig.form->about()->windowTitle(), QStringLiteral("Pixelwright for 128×64(Mono)のﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(rig.form->findChildren<FrmAbout *>().size(), 1);
    }

    void exitWithAboutOpen()
    {
        pw::test::Rig rig;
        rig.form->show();
        rig.form->mnuver_Click();
        QVERIFY(rig.form->about()->isVisible());
        auto *exitItem = rig.form->findChild<QAction *>(QStringLiteral("mnuend"));
        QVERIFY(exitItem);
        exitItem->trigger();
        QCOMPARE(rig.exits, 1);
        QVERIFY(rig.boxes.shown.isEmpty());
    }

    void imagesAreBuiltIn()
    {
        QCOMPARE(Form1::listImage(QStringLiteral("program")).pixmap(32, 32).size(), QSize(32, 32));
        for (const QString &key : Form1::imageKeys()) {
            const QImage image(QStringLiteral(":/images/%1.xpm").arg(key));
            QCOMPARE(image.size(), QSize(16, 16));
            // Drawn on light grey, which the toolbar shows as transparent; the drawing itself opaque.
            const QImage shown = Form1::listImage(key).pixmap(16, 16).toImage();
            int background = 0, drawn = 0;
            for (int y = 0; y < 16; ++y) {
                for (int x = 0; x < 16; ++x) {
                    const bool grey = (image.pixel(x, y) & 0xFFFFFF) == 0xC0C0C0u;
                    background += grey;
                    drawn += !grey;
                    QCOMPARE(qAlpha(shown.pixel(x, y)), grey ? 0 : 255);
                }
            }
            QVERIFY2(background > 0 && drawn >= 30, qPrintable(key));
        }
    }
};

QTEST_MAIN(TstShell)
#include "tst_shell.moc"
