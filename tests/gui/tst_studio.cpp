// The conversion studio (変換設定) driven through its labelled controls: the window's BIN against
// the command line's over pictures and option sets, the defaults against today's path, the
// keyboard, conversion.ini, the export, and all frames into FLASH pages over the fake port.
#include "common/pictures.h"
#include "common/testsupport.h"
#include "core/convert/conversion.h"
#include "core/convert/conversionoptions.h"
#include "core/image/encoders.h"
#include "gui/studio/conversionstudio.h"
#include "gui/studio/sourcepicture.h"
#include "gui/mainwindow/picturearea.h"
#include "gui/mainwindow/transfertexts.h"

#include <QtTest>
#include <QtWidgets>
#include <functional>

using namespace pw;
using namespace pw::test;

namespace {

QByteArray cli(const QStringList &args, QString *err = nullptr)
{
    QProcess process;
    process.start(QStringLiteral(PW_CLI_PROGRAM), args);
    process.waitForFinished(60000);
    return (err ? *err = process.readAllStandardError() : QString()), process.readAllStandardOutput();
}

template <typename T>
T *named(QWidget *root, const QString &name)
{
    for (T *w : root->findChildren<T *>())
        if (w->accessibleName() == name)
            return w;
    return nullptr;
}

// "label=value;…" into the studio's controls, found by their accessible names.
bool set(ConversionStudio *studio, const QString &settings)
{
    for (const QString &pair : settings.split(';', Qt::SkipEmptyParts)) {
        const QString label = pair.section('=', 0, 0), value = pair.section('=', 1);
        if (auto *edit = named<QPlainTextEdit>(studio, label))
            edit->setPlainText(value);
        else if (auto *combo = named<QComboBox>(studio, label))
            combo->setCurrentIndex(combo->findText(value));
        else if (auto *check = named<QCheckBox>(studio, label))
            check->setChecked(value == "1");
        else if (auto *spin = named<QSpinBox>(studio, label))
            spin->setValue(value.toInt());
        else if (auto *number = named<QDoubleSpinBox>(studio, label))
            number->setValue(value.toDouble());
        else if (auto *button = named<QPushButton>(studio, label))
            studio->chooseColor = [value](const QColor &) { return QColor(value); }, button->click();
        if (studio->settings() == ConversionSettings{} && label != "フレーム")  // nothing took it
            return qWarning("no control took %s", qPrintable(pair)), false;
    }
    return true;
}

QImage noise(int width, int height, QImage::Format format, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x, y, QColor::fromHsv((x * 3 + y) % 360, 120, int(random.bounded(60, 230)), int(random.bounded(120, 256))));
    return image;
}

}  // namespace

class TstStudio : public QObject {
    Q_OBJECT
private slots:
    // The studio's number boxes end exactly where the table's rows end, and step by the
    // table's smallest step (the frame box follows the picture's frames instead). The command
    // line's ends: tst_cliunits; conversion.ini's: tst_conversionsettings.
    void numberBoxesEndAtTheTablesEnds()
    {
        ConversionStudio studio;
        for (const NumberOption *option : numberOptions()) {
            if (option == &options::frame)
                continue;
            const QStringList captions = option == &options::textOffset ? QStringList{"Xオフセット", "Yオフセット"} : QStringList{option->caption};
            for (const QString &caption : captions) {
                QAbstractSpinBox *box = named<QAbstractSpinBox>(&studio, caption);
                QVERIFY2(box, qPrintable(caption));
                box->setFocus();
                for (const auto &[key, end] : {std::pair{Qt::Key_PageUp, option->highValue()}, std::pair{Qt::Key_PageDown, option->lowValue()}}) {
                    for (int i = 0; i < 100; ++i)
                        QTest::keyClick(box, key);
                    const double shown = box->property("value").toDouble();
                    QVERIFY2(qFuzzyCompare(shown + 1, end + 1), qPrintable(caption));
                }
                QTest::keyClick(box, Qt::Key_Up);  // one step: the table's smallest
                QVERIFY2(qFuzzyCompare(box->property("value").toDouble() + 1, option->lowValue() + 1.0 / option->scale + 1), qPrintable(caption));
            }
        }
    }

    void windowBinEqualsCommandLine_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QStringList>("args");
        QTest::newRow("defaults") << "" << QStringList{};
        QTest::newRow("contain, Floyd-Steinberg") << "配置=全体を収める;ディザ=Floyd–Steinberg" << QStringList{"--fit", "contain", "--dither", "floyd-steinberg"};
        QTest::newRow("cover, 90, threshold") << "配置=全体を覆う;回転=90°;しきい値=100" << QStringList{"--fit", "cover", "--rotate", "90", "--threshold", "100"};
        QTest::newRow("stretch, flip v, brightness, Bayer 8")
            << "配置=引き伸ばす;上下反転=1;明るさ=30;ディザ=Bayer 8×8" << QStringList{"--fit", "stretch", "--flip", "v", "--brightness", "30", "--dither", "bayer8"};
        QTest::newRow("crop 270, flip h, contrast, gamma, invert")
            << "回転=270°;左右反転=1;コントラスト=-40;ガンマ=1.7;白黒反転=1"
            << QStringList{"--rotate", "270", "--flip", "h", "--contrast", "-40", "--gamma", "1.7", "--invert"};
        QTest::newRow("both flips are half a turn") << "左右反転=1;上下反転=1;回転=90°;ディザ=Atkinson" << QStringList{"--rotate", "270", "--dither", "atkinson"};
        QTest::newRow("both flips, one by one") << "左右反転=1;上下反転=1;回転=90°;白黒反転=1" << QStringList{"--rotate", "90", "--flip", "v", "--flip", "h", "--invert"};
        QTest::newRow("both flips as hv, dark") << "左右反転=1;上下反転=1;配置=全体を収める;明るさ=-60;ディザ=Floyd–Steinberg"
                                                << QStringList{"--flip", "hv", "--fit", "contain", "--brightness", "-60", "--dither", "floyd-steinberg"};
        QTest::newRow("background chosen last, Bayer 4") << "配置=全体を収める;ディザ=Bayer 4×4;背景色=#203040"
                                             << QStringList{"--background", "#203040", "--fit", "contain", "--dither", "bayer4"};
        QTest::newRow("third frame, chosen last") << "配置=全体を収める;フレーム=2" << QStringList{"--fit", "contain", "--frames"};
        QTest::newRow("text: misaki, centred, Floyd-Steinberg")
            << "テキスト=あ漢ｱg\n東京駅;横位置=中央;縦位置=中央;ディザ=Floyd–Steinberg"
            << QStringList{"--text", "あ漢ｱg\n東京駅", "--align", "center", "--valign", "middle", "--dither", "floyd-steinberg"};
        QTest::newRow("text: unifont, white, bold, right, moved, inverted")
            << "テキスト=Ág ｶﾅ;フォント=Unifont;サイズ=16;太字=1;文字色=白;横位置=右;縦位置=下;Xオフセット=-7;Yオフセット=3;白黒反転=1"
            << QStringList{"--text", "Ág ｶﾅ", "--font", "Unifont", "--size", "16", "--bold", "--text-color", "white", "--align", "right",
                           "--valign", "bottom", "--offset", "-7,3", "--invert"};
        QTest::newRow("text: cut at the edge, contain, frames")
            << "テキスト=はみ出すほど長い一行のテキストです;Xオフセット=-20;フレーム=2;配置=全体を収める;ディザ=Atkinson"
            << QStringList{"--text", "はみ出すほど長い一行のテキストです", "--offset", "-20,0", "--fit", "contain", "--frames", "--dither", "atkinson"};
        QTest::newRow("ends: gamma 0.2, threshold 0") << "ガンマ=0.2;しきい値=0" << QStringList{"--gamma", "0.2", "--threshold", "0"};
        QTest::newRow("ends: gamma 5, contrast 100") << "ガンマ=5;コントラスト=100" << QStringList{"--gamma", "5", "--contrast", "100"};
    }

    // Opened over a picture, the studio shows at once the picture as prepared and what the
    // settings make of it, not only after the first change.
    void opensShowingTheResult()
    {
        Rig rig;
        QVERIFY(noise(200, 100, QImage::Format_RGB32, 6).save(rig.path("photo.png")));
        rig.window->openDroppedFiles({rig.path("photo.png")});
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        for (const QString caption : {"変換前", "プレビュー"}) {  // each picture under its caption
            const QLabel *picture = named<QLabel>(studio, caption);
            const QList<QLabel *> labels = studio->findChildren<QLabel *>();
            QVERIFY2(std::any_of(labels.cbegin(), labels.cend(), [&](const QLabel *l) {
                         return l->text() == caption && l->isVisible() && l->mapTo(studio, QPoint(0, l->height())).y() <= picture->mapTo(studio, QPoint()).y();
                     }), qPrintable(caption));
        }
        const QImage shown = named<QLabel>(studio, "プレビュー")->pixmap().toImage();
        QCOMPARE(named<QLabel>(rig.window->studio(), "変換前")->pixmap().size(), QSize(256, 128));  // twice the display's size
        rig.window->convertPicture();
        QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), previewImage(rig.window->monoImage(), 4).convertToFormat(QImage::Format_RGB32));
        for (const QString caption : {"変換前", "プレビュー"}) {  // drawn edge to edge, no line over the outer pixels
            QLabel *picture = named<QLabel>(studio, caption);
            QCOMPARE(picture->grab().toImage().convertToFormat(QImage::Format_RGB32), picture->pixmap().toImage().convertToFormat(QImage::Format_RGB32));
        }
        // Closed, then opened again over another picture: it shows that one, not the last one it showed.
        studio->close();
        QVERIFY(noise(200, 100, QImage::Format_RGB32, 9).save(rig.path("other.png")));
        rig.window->openDroppedFiles({rig.path("other.png")});
        rig.window->openStudio();
        QCOMPARE(rig.window->studio(), studio);
        const QImage reopened = named<QLabel>(studio, "プレビュー")->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
        rig.window->convertPicture();
        QCOMPARE(reopened, previewImage(rig.window->monoImage(), 4).convertToFormat(QImage::Format_RGB32));
        QVERIFY(reopened != shown.convertToFormat(QImage::Format_RGB32));
    }

    // Each number's control takes both ends of its range and goes no step past either; the
    // slider's own ends are the same values.
    void controlsKeepToTheirRanges()
    {
        Rig rig;
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        const struct {
            QString label;
            double low, high, step;
            std::function<double(const ConversionSettings &)> value;
        } numbers[] = {
            {.label = "明るさ", .low = -100, .high = 100, .step = 1,
             .value = [](const ConversionSettings &s) { return double(s.tone.brightness); }},
            {.label = "コントラスト", .low = -100, .high = 100, .step = 1,
             .value = [](const ConversionSettings &s) { return double(s.tone.contrast); }},
            {.label = "ガンマ", .low = 0.2, .high = 5, .step = 0.01, .value = [](const ConversionSettings &s) { return s.tone.gamma; }},
            {.label = "しきい値", .low = 0, .high = 255, .step = 1,
             .value = [](const ConversionSettings &s) { return double(s.threshold.threshold); }},
        };
        for (const auto &n : numbers) {
            QAbstractSpinBox *box = named<QAbstractSpinBox>(studio, n.label);
            QSlider *slider = named<QSlider>(studio, n.label);
            QVERIFY2(box && slider, qPrintable(n.label));
            const auto type = [box](double v) {
                box->clear();
                QTest::keyClicks(box, QString::number(v));
                QTest::keyClick(box, Qt::Key_Enter);
            };
            for (const double end : {n.low, n.high}) {
                const double past = end == n.low ? end - n.step : end + n.step;
                type(end);
                QVERIFY2(qFuzzyCompare(n.value(rig.window->conversionSettings()), end), qPrintable(n.label));
                type(past);  // the box takes no keystroke that would lead out of the range
                const double now = n.value(rig.window->conversionSettings());
                QVERIFY2(now >= n.low - 1e-9 && now <= n.high + 1e-9, qPrintable(n.label + ": " + QString::number(now)));
                // The slider moves the box: to the other end, back, and one step in.
                QTest::keyClick(slider, end == n.low ? Qt::Key_End : Qt::Key_Home);
                QVERIFY2(qFuzzyCompare(n.value(rig.window->conversionSettings()), end == n.low ? n.high : n.low), qPrintable(n.label + " slider"));
                QTest::keyClick(slider, end == n.low ? Qt::Key_Home : Qt::Key_End);
                QVERIFY2(qFuzzyCompare(n.value(rig.window->conversionSettings()), end), qPrintable(n.label + " slider"));
                QTest::keyClick(slider, end == n.low ? Qt::Key_Right : Qt::Key_Left);
                QVERIFY2(qFuzzyCompare(n.value(rig.window->conversionSettings()), end == n.low ? end + n.step : end - n.step),
                         qPrintable(n.label + " slider step"));
            }
        }
    }
    void windowBinEqualsCommandLine()
    {
        QFETCH(QString, settings);
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        const QStringList pictures{dir.filePath("photo.jpg"), dir.filePath("alpha.png"), dir.filePath("anim.gif")};
        QVERIFY(noise(300, 200, QImage::Format_RGB32, 1).save(pictures[0]) && noise(90, 150, QImage::Format_ARGB32, 2).save(pictures[1]));
        QVERIFY(writeFile(pictures[2], animatedGif({noise(140, 90, QImage::Format_RGB32, 3), noise(140, 90, QImage::Format_RGB32, 4),
                                                    noise(140, 90, QImage::Format_RGB32, 5)})));
        const QString color = Rig().window->pictureArea()->backgroundColor().name();
        if (!args.contains("--background"))
            args << "--background" << color;
        QVERIFY(QDir(dir.path()).mkdir("cli"));
        cli(QStringList{"convert"} << pictures << "-o" << dir.filePath("cli/") << args);
        for (const QString &picture : pictures) {
            Rig rig;
            rig.window->openStudio();
            ConversionStudio *studio = rig.window->studio();
            rig.window->openDroppedFiles({picture});
            rig.window->convertPicture();  // the options prepare from the picture, not from this
            QVERIFY(set(studio, settings));
            const QImage shown = named<QLabel>(studio, "プレビュー")->pixmap().toImage();
            QByteArray window;
            for (int n = 0; n < 3; ++n) {  // every press converts the picture, never what the last one painted
                rig.dialogs.answers << rig.path("w.bin");
                rig.window->convertPicture();
                rig.window->saveBinFile();
                QVERIFY2(n == 0 || readFile(rig.path("w.bin")) == window, qPrintable(QString::number(n)));
                window = readFile(rig.path("w.bin"));
                QCOMPARE(named<QLabel>(studio, "プレビュー")->pixmap().toImage(), shown);
            }
            QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), previewImage(rig.window->monoImage(), 4).convertToFormat(QImage::Format_RGB32));
            // The area shows what the device will show, the text included.
            QCOMPARE(rig.window->pictureArea()->surface().convertToFormat(QImage::Format_RGB32),
                     renderMonoImage(rig.window->monoImage()).convertToFormat(QImage::Format_RGB32));
            const int frames = picture.endsWith("gif") ? 3 : 1;
            const QString suffix = args.contains("--frames") ? QStringLiteral("-0%1").arg(qMin(2, frames - 1)) : QString();
            QCOMPARE(window, readFile(dir.filePath("cli/" + QFileInfo(picture).completeBaseName() + suffix + ".bin")));
            QCOMPARE(named<QSpinBox>(studio, "フレーム")->maximum(), frames - 1);  // the picture's frames, and no more
            QCOMPARE(named<QSpinBox>(studio, "フレーム")->isEnabled(), frames > 1);
            if (settings.isEmpty()) {  // today's path: the corner over the area's colour, the fixed threshold
                QImage surface = composeSurface(readPictureCorner(picture, QSize(128, 64)), QColor(color));
                MonoImage today{};
                QVERIFY(convertSurface(surface, today));
                QCOMPARE(window, QByteArray(reinterpret_cast<const char *>(today.data()), kImageBytes));
                QVERIFY(convertSurface(rig.window->pictureArea()->surface(), today));  // the painted area converts to itself
                QCOMPARE(window, QByteArray(reinterpret_cast<const char *>(today.data()), kImageBytes));
            }
        }
    }

    // With no picture the text stands over the background alone: shown at once, marked when cut,
    // converted as the command line converts it; an empty text box gives the area back.
    void textWithoutPicture()
    {
        Rig rig;
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        const QImage empty = rig.window->pictureArea()->surface();
        auto *notice = named<QLabel>(studio, "テキストの注意");
        QVERIFY(set(studio, "テキスト=価格 ¥980\nｾｰﾙ中;横位置=右;Yオフセット=3"));
        QVERIFY(rig.window->pictureArea()->surface() != empty && notice->isHidden());
        rig.dialogs.answers << rig.path("w.bin");
        rig.window->convertPicture();
        rig.window->saveBinFile();
        QCOMPARE(readFile(rig.path("w.bin")), cli({"convert", "--text", "価格 ¥980\nｾｰﾙ中", "--align", "right", "--offset", "0,3", "--background",
                                                  rig.window->pictureArea()->backgroundColor().name(), "-o", "-"}));
        QVERIFY(set(studio, "Yオフセット=-40"));
        QVERIFY(notice->isVisible() && notice->text().contains("はみ出した"));
        QVERIFY(set(studio, "フォント=Unifont;Yオフセット=0;テキスト=\U0001F600"));
        QVERIFY2(notice->text().contains("U+1F600"), qPrintable(notice->text()));
        QVERIFY(set(studio, "テキスト="));
        QCOMPARE(rig.window->pictureArea()->surface(), empty);
        // A paste of just the limit is taken whole and needs no note; a 10 MB paste: only its
        // start is taken, at once, and the note says so.
        QGuiApplication::clipboard()->setText(QString(8192, QChar(0x6f22)));
        named<QPlainTextEdit>(studio, "テキスト")->paste();
        QVERIFY(rig.window->conversionSettings().text.text.size() == 8192 && !notice->text().contains("先頭"));
        named<QPlainTextEdit>(studio, "テキスト")->clear();
        QGuiApplication::clipboard()->setText(QString(10 << 20, QChar(0x6f22)));
        QElapsedTimer clock;
        clock.start();
        named<QPlainTextEdit>(studio, "テキスト")->paste();
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed()) + " ms"));  // about 20 ms when quiet
        QCOMPARE(rig.window->conversionSettings().text.text.size(), 8192);
        QVERIFY(notice->text().contains("先頭の 8192 文字"));
        // A cut never splits a character made of two UTF-16 units.
        named<QPlainTextEdit>(studio, "テキスト")->clear();
        QGuiApplication::clipboard()->setText(QString(8191, 'x') + QStringLiteral("\U0001F600").repeated(10));
        named<QPlainTextEdit>(studio, "テキスト")->paste();
        QCOMPARE(rig.window->conversionSettings().text.text, QString(8191, 'x'));
        QVERIFY2(notice->text().contains("先頭の 8191 文字"), qPrintable(notice->text()));
    }

    // The text shows over a picture opened after it as over one opened before it.
    void textOverAPictureOpenedAfterIt()
    {
        Rig textFirst, pictureFirst, noText;
        ConversionSettings withText = textFirst.window->conversionSettings();
        withText.text.text = QStringLiteral("価格 ¥980");
        for (Rig *rig : {&textFirst, &pictureFirst, &noText})
            QVERIFY(noise(200, 100, QImage::Format_RGB32, 4).save(rig->path("p.png")));
        textFirst.window->setConversionSettings(withText);
        for (Rig *rig : {&textFirst, &pictureFirst, &noText})
            rig->window->openDroppedFiles({rig->path("p.png")});
        pictureFirst.window->setConversionSettings(withText);
        QCOMPARE(textFirst.window->pictureArea()->surface(), pictureFirst.window->pictureArea()->surface());
        QVERIFY(textFirst.window->pictureArea()->surface() != noText.window->pictureArea()->surface());
        // The studio's picture before conversion carries the text as well, not only its preview.
        for (Rig *rig : {&textFirst, &noText}) {
            rig->window->openStudio();
            const QImage prepared = named<QLabel>(rig->window->studio(), "変換前")->pixmap().toImage();
            const QImage surface = rig->window->pictureArea()->surface();
            QCOMPARE(prepared.convertToFormat(QImage::Format_RGB32), surface.scaled(surface.size() * 2).convertToFormat(QImage::Format_RGB32));
        }
    }

    // A BIN file is the working image until an option changes; from then on the picture that
    // came in before it is prepared and converted again. With nothing opened, converting again
    // gives the same bytes too, and the empty area is plain background.
    void binLoadKeepsThePictureForTheOptions()
    {
        QTemporaryDir dir;
        const QString photo = dir.filePath("photo.png");
        QVERIFY(noise(300, 200, QImage::Format_RGB32, 1).save(photo));
        const QByteArray expected = cli({"convert", photo, "-o", "-", "--fit", "contain", "--invert", "--dither", "floyd-steinberg", "--background", Rig().window->pictureArea()->backgroundColor().name()});
        Rig rig;
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        const auto preview = [&] { return named<QLabel>(studio, "プレビュー")->pixmap().toImage().convertToFormat(QImage::Format_RGB32); };
        QVERIFY(set(studio, "白黒反転=1;ディザ=Floyd–Steinberg"));
        QCOMPARE(preview(), previewImage(MonoImage{}, 4).convertToFormat(QImage::Format_RGB32));  // at once, with nothing opened
        for (int n = 0; n < 2; ++n) {
            rig.window->convertPicture();
            QCOMPARE(rig.window->monoImage(), MonoImage{});  // black: the area's white, inverted, without dots
        }
        rig.window->openDroppedFiles({photo});
        rig.window->convertPicture();
        const QImage area = rig.window->pictureArea()->surface();
        const QByteArray bin = bytePattern(kImageBytes);
        QVERIFY(writeFile(rig.path("pattern.bin"), bin));
        rig.window->openDroppedFiles({rig.path("pattern.bin")});
        QCOMPARE(rig.window->pictureArea()->surface(), area);
        QCOMPARE(preview(), previewImage(rig.window->monoImage(), 4).convertToFormat(QImage::Format_RGB32));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.window->monoImage().data()), kImageBytes), bin);
        QVERIFY(set(studio, "配置=全体を収める"));
        rig.window->convertPicture();
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(rig.window->monoImage().data()), kImageBytes), expected);
        QCOMPARE(preview(), previewImage(rig.window->monoImage(), 4).convertToFormat(QImage::Format_RGB32));
    }

    // Each part the options need is loaded once and kept: asking again (a slider moved and
    // back) reads nothing, so the picture as it was opened is prepared even when its file has
    // gone meanwhile. A part never asked for needs the file.
    void partsLoadedOnceAreKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("photo.png");
        QVERIFY(noise(300, 200, QImage::Format_RGB32, 2).save(path));
        SourcePicture source(PictureSource::file(path));
        PrepareOptions corner, whole, turned;
        whole.fit = Fit::Contain;
        turned.rotate = 90;
        const LoadedPicture first = source.part(corner, 0), reduced = source.part(whole, 0);
        QVERIFY(first.ok() && reduced.ok());
        QVERIFY(QFile::remove(path));
        whole.tone.brightness = 50;
        QCOMPARE(source.part(whole, 0).image, reduced.image);
        QCOMPARE(source.part(corner, 0).image, first.image);
        QVERIFY(!source.part(turned, 0).ok());
        // Each frame of an animation is its own part.
        const QString animation = dir.filePath("frames.gif");
        QVERIFY(writeFile(animation, animatedGif({solidImage(8, 8, Qt::black), solidImage(8, 8, Qt::white), solidImage(8, 8, Qt::black)})));
        SourcePicture frames(PictureSource::file(animation));
        QCOMPARE(frames.frameCount(), 3);
        for (const int frame : {1, 0, 2, 1})
            QCOMPARE(QColor(frames.part(corner, frame).image.pixel(0, 0)), frame == 1 ? QColor(Qt::white) : QColor(Qt::black));
    }

    // Beside the main window on the side with more room, never over it while the screen holds
    // both (tests/gui runs this on a 1280 x 1024 screen); the colour reaches screen readers.
    void studioOpensBesideTheMainWindow_data()
    {
        QTest::addColumn<int>("x");  // of the main window; -1: where it starts
        QTest::newRow("centred") << -1;
        QTest::newRow("at the left") << 0;
        QTest::newRow("at the right") << 10000;
        QTest::newRow("left of the centre") << -2;  // more room on the right, not enough: both move
        QTest::newRow("at the bottom") << -3;  // the studio, taller, ends where the screen does
    }
    void studioOpensBesideTheMainWindow()
    {
        QFETCH(int, x);
        Rig rig;
        const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
        rig.window->show();
        if (x == -2)
            x = room.left() + (room.width() - rig.window->frameGeometry().width()) / 2 - 20;
        if (x == -3)
            rig.window->move(room.left(), room.bottom() + 1 - rig.window->frameGeometry().height());
        if (x >= 0)
            rig.window->move(qMin(x, room.right() + 1 - rig.window->frameGeometry().width()), rig.window->y());
        const QRect before = rig.window->frameGeometry();
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        const QRect main = rig.window->frameGeometry(), beside = studio->frameGeometry();
        if (main.width() + beside.width() > room.width())
            QSKIP("the screen is too narrow for both windows");
        QVERIFY2(!main.intersects(beside), qPrintable(QStringLiteral("%1,%2 %3 / %4,%5").arg(main.x()).arg(main.y()).arg(main.width()).arg(beside.x()).arg(beside.width())));
        QVERIFY2(room.contains(main) && room.contains(beside), qPrintable(QStringLiteral("%1 %2 %3 %4 / %5 %6 %7 %8").arg(main.x()).arg(main.y()).arg(main.width()).arg(main.height()).arg(beside.x()).arg(beside.y()).arg(beside.width()).arg(beside.height())));
        QCOMPARE(beside.x() > main.x(), room.right() - before.right() >= before.left() - room.left());
        // 8 pixels apart on either side, also where both had to move
        QCOMPARE(beside.x() > main.x() ? beside.left() - main.right() - 1 : main.left() - beside.right() - 1, 8);
        QVERIFY(beside.top() == main.top() || (beside.top() < main.top() && beside.bottom() == room.bottom()));  // level with it, or as near as fits
        QVERIFY(set(studio, "背景色=#203040"));
        QCOMPARE(named<QPushButton>(studio, "背景色")->accessibleDescription(), QStringLiteral("#203040"));
        // Its swatch: the colour inside a black line round the edge.
        const QImage swatch = named<QPushButton>(studio, "背景色")->icon().pixmap(16, 16).toImage();
        QCOMPARE(swatch.pixelColor(8, 8), QColor("#203040"));
        for (const QPoint edge : {QPoint(8, 0), QPoint(0, 8), QPoint(15, 8), QPoint(8, 15)})
            QCOMPARE(swatch.pixelColor(edge), QColor(Qt::black));
    }

    // Where the two windows fill the screen's width to the pixel, the one beside the studio
    // still moves over to make room; one pixel wider, it stays and the studio is put over it.
    void studioBesideAWindowThatJustFits()
    {
        Rig rig;
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
        const int studioWidth = studio->frameGeometry().width();
        for (const int extra : {0, 1}) {
            QWidget other;
            other.setGeometry(room.left() + 100, room.top() + 10, 100, 100);
            other.show();
            other.resize(room.width() - 8 - studioWidth + extra - (other.frameGeometry().width() - other.width()), 100);
            const int before = other.frameGeometry().left();
            studio->placeBeside(&other);
            if (extra == 0) {
                QCOMPARE(other.frameGeometry().left(), room.left());
                QCOMPARE(studio->frameGeometry().left(), other.frameGeometry().right() + 1 + 8);
                QCOMPARE(studio->frameGeometry().right(), room.right());
            } else {
                QCOMPARE(other.frameGeometry().left(), before);
                QCOMPARE(studio->frameGeometry().right(), room.right());
            }
        }
    }

    // Made taller, the studio keeps its options and its pictures together under the top and
    // its buttons at the bottom: the room goes below them.
    void tallerStudioKeepsItsPartsTogether()
    {
        Rig rig;
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        const QList<QWidget *> parts{named<QComboBox>(studio, "フォント"), named<QPlainTextEdit>(studio, "テキスト"), named<QLabel>(studio, "変換前"),
                                     named<QLabel>(studio, "プレビュー"), named<QPushButton>(studio, "閉じる")};
        QVERIFY(!parts.contains(nullptr));
        const auto tops = [&] {
            QList<int> y;
            for (const QWidget *part : parts)
                y << part->mapTo(studio, QPoint()).y();
            return y;
        };
        QList<int> expected = tops();
        expected.last() += 200;
        studio->resize(studio->width(), studio->height() + 200);
        QCOMPARE(tops(), expected);
        // The buttons keep their own widths, at the right edge of the options.
        for (const QString caption : {"既定に戻す", "閉じる"})
            QCOMPARE(named<QPushButton>(studio, caption)->width(), named<QPushButton>(studio, caption)->sizeHint().width());
        QCOMPARE(parts.last()->geometry().right(), studio->findChild<QGroupBox *>()->geometry().right());
    }

    // One studio; down the window with Tab, every control named as its label; the slider moves
    // its box; 既定に戻す brings back every default and the area; Esc closes.
    void keyboardReachesEveryNamedControl()
    {
        Rig rig;
        rig.window->show();
        QVERIFY(writeFile(rig.path("anim.gif"), animatedGif({noise(140, 90, QImage::Format_RGB32, 3), solidImage(140, 90, Qt::white)})));
        rig.window->openDroppedFiles({rig.path("anim.gif")});
        const QImage today = rig.window->pictureArea()->surface();
        rig.window->openStudio();
        ConversionStudio *studio = rig.window->studio();
        QVERIFY(QTest::qWaitForWindowActive(studio));
        // Asked for again from the main window: the same studio comes forward and takes the keys.
        rig.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.window.get()));
        rig.window->openStudio();
        QCOMPARE(rig.window->findChildren<ConversionStudio *>().size(), 1);
        QVERIFY(QTest::qWaitForWindowActive(studio) && !studio->isModal());
        QStringList names;
        for (QWidget *w = studio->focusWidget(); names.size() < 30; QTest::keyClick(w, Qt::Key_Tab), w = studio->focusWidget()) {
            // Its caption: the label whose buddy it is (a number box shares its slider's), or its own text.
            const auto *button = qobject_cast<QAbstractButton *>(w);
            QString caption = button ? button->text() : QString("?");
            for (QLabel *l : studio->findChildren<QLabel *>())
                if (QWidget *buddy = l->buddy(); buddy == w || (qobject_cast<QSlider *>(buddy) && buddy->accessibleName() == w->accessibleName()))
                    caption = l->text();
            QCOMPARE(w->accessibleName(), caption);
            names << w->accessibleName();
        }
        QCOMPARE(names.join(' '), QStringLiteral("配置 回転 左右反転 上下反転 明るさ 明るさ コントラスト コントラスト ガンマ ガンマ しきい値 しきい値 "
                                                 "ディザ 白黒反転 背景色 バイト順 フレーム テキスト フォント サイズ 太字 横位置 縦位置 Xオフセット Yオフセット "
                                                 "文字色 ない文字は他のフォントで 既定に戻す 閉じる 配置"));
        QTest::keyClick(named<QSlider>(studio, "しきい値"), Qt::Key_PageUp);
        QTest::keyClick(named<QSlider>(studio, "しきい値"), Qt::Key_Right);
        QCOMPARE(rig.window->conversionSettings().threshold.threshold, 128 + 12 + 1);
        QVERIFY(set(studio, "配置=全体を覆う;フレーム=1;ガンマ=2.5;背景色=#000000"));
        QVERIFY(rig.window->pictureArea()->surface() != today);
        named<QPushButton>(studio, "既定に戻す")->click();
        QVERIFY(rig.window->conversionSettings() == ConversionSettings{} && studio->settings() == ConversionSettings{});
        QCOMPARE(named<QSpinBox>(studio, "フレーム")->value(), 0);  // the controls show the defaults too
        QCOMPARE(rig.window->pictureArea()->surface(), today);
        QTest::keyClick(studio, Qt::Key_Escape);
        QVERIFY(!studio->isVisible());
    }

    // conversion.ini beside the settings file: read at start, each value that cannot be read its
    // default (only the bounded prefix of a huge file is read), written a moment after a change
    // and at the end, never created without one; the settings file never changes for it.
    void settingsKeptInTheirOwnFile_data()
    {
        QTest::addColumn<QByteArray>("content");  // "-": none; "/": a folder by that name
        QTest::addColumn<QByteArray>("reads");    // as written back
        const QByteArray defaults = formatConversionSettings({});
        const auto with = [&](const char *from, const char *to) { return QByteArray(defaults).replace(from, to); };
        const QByteArray all = "fit=stretch\nrotate=270\nflip=hv\nbrightness=-7\ncontrast=55\ngamma=0.35\nthreshold=3\n"
                               "dither=bayer8\ninvert=1\nbackground=#010203\nlayout=row-lsb\nframe=12\n";
        QTest::newRow("none") << QByteArray("-") << defaults;
        QTest::newRow("every value") << all << all;
        ConversionSettings text;
        text.text = {.text = "a\"\\b\nc", .family = "Unifont", .size = 16, .bold = true, .align = TextAlign::Right,
                     .valign = TextVAlign::Bottom, .offsetX = -7, .offsetY = 3, .white = true, .fallback = true};
        QTest::newRow("every text value") << formatConversionSettings(text) << formatConversionSettings(text);
        text.text.family = "No Such Font";
        QTest::newRow("a font not installed") << formatConversionSettings(text) << formatConversionSettings(text);
        QTest::newRow("by hand") << QByteArray("[studio]\r\n # threshold=1\r\n  Threshold = 90 \r\nfit=COVER\ngamma=2.004\nrotate=45\n"
                                               "invert=maybe\nbackground=red\nlayout=page\nframe=-1\ndither=\nthreshold")
                                 << with("threshold=128", "threshold=90").replace("fit=crop", "fit=cover").replace("gamma=1.00", "gamma=2.00");
        const QByteArray ends = with("brightness=0", "brightness=-100").replace("contrast=0", "contrast=100").replace("gamma=1.00", "gamma=0.20").replace("threshold=128", "threshold=255");
        QTest::newRow("the ends of each range") << ends << ends;
        const QByteArray otherEnds = with("brightness=0", "brightness=100").replace("contrast=0", "contrast=-100").replace("gamma=1.00", "gamma=5.00").replace("threshold=128", "threshold=0").replace("frame=0", "frame=9999").replace("rotate=0", "rotate=270");
        QTest::newRow("the other ends") << otherEnds << otherEnds;
        QTest::newRow("past the other ends") << QByteArray("brightness=-101\ncontrast=101\ngamma=5.01\nthreshold=-1\nframe=-1\nrotate=360") << defaults;
        QTest::newRow("out of range") << QByteArray("brightness=101\ncontrast=-101\ngamma=0.19\nthreshold=256\nframe=10000\nflip=x") << defaults;
        QTest::newRow("damaged") << QByteArray("\xff\xfe\x00threshold=\x01\n=\n\xe3\x81", 19) << defaults;
        QTest::newRow("huge: its prefix") << QByteArray("threshold=77\n") + QByteArray(8 << 20, 'x') + "\nthreshold=9\n" << with("threshold=128", "threshold=77");
        QTest::newRow("a folder") << QByteArray("/") << defaults;
    }
    void settingsKeptInTheirOwnFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, reads);
        const QByteArray record("\"3\",\"1\"\r\n");
        Rig rig(&record, false);
        const QString ini = rig.path("conversion.ini");
        QVERIFY(content == "-" || (content == "/" ? QDir(rig.dir.path()).mkdir("conversion.ini") : writeFile(ini, content)));
        rig.create();
        rig.window->openStudio();
        QCOMPARE(formatConversionSettings(rig.window->studio()->settings()), reads);
        // The font box names the family read, installed or not, once.
        const auto *fonts = named<QComboBox>(rig.window->studio(), "フォント");
        QCOMPARE(fonts->currentText(), rig.window->studio()->settings().text.family);
        QCOMPARE(fonts->findText(fonts->currentText()), fonts->currentIndex());
        QVERIFY(rig.window->conversionSettings() == rig.window->studio()->settings());
        rig.window->show();
        rig.window->exitAtOnce();
        QCOMPARE(readFile(ini), content.size() > 1 ? content : QByteArray());  // nothing changed: nothing written
        QVERIFY(set(rig.window->studio(), "ディザ=Bayer 4×4;バイト順=行・下位ビットが左"));
        QTest::qWait(100);
        QCOMPARE(readFile(ini), content.size() > 1 ? content : QByteArray());  // not at once
        QVERIFY(set(rig.window->studio(), "白黒反転=1"));
        ConversionSettings expected = rig.window->conversionSettings();
        QVERIFY(expected.threshold.invert && expected.layout == "row-lsb");
        QTRY_COMPARE_WITH_TIMEOUT(readFile(ini), content == "/" ? QByteArray() : formatConversionSettings(expected), 2000);
        QVERIFY(set(rig.window->studio(), "ガンマ=3.3"));
        expected.tone.gamma = 3.3;
        rig.window->exitAtOnce();  // 終了 ends the process at once: what waits is written first
        QCOMPARE(readFile(ini), content == "/" ? QByteArray() : formatConversionSettings(expected));
        QVERIFY(set(rig.window->studio(), "ガンマ=2.5"));
        expected.tone.gamma = 2.5;
        rig.window->close();  // at the end, without waiting
        QCOMPARE(readFile(ini), content == "/" ? QByteArray() : formatConversionSettings(expected));
        QCOMPARE(rig.settingsBytes(), record);
        rig.create();
        QVERIFY(content == "/" || rig.window->conversionSettings() == expected);
    }

    // The working image in each file type and byte order, as pixelwright-cli convert writes it
    // from the same image saved as a BIN file; the dialog keeps the type last chosen.
    void exportWritesWhatTheCommandLineWrites()
    {
        Rig rig;
        const QByteArray image = bytePattern(kImageBytes);
        std::copy(image.begin(), image.end(), rig.window->monoImage().begin());
        QVERIFY(writeFile(rig.path("logo.bin"), image));
        rig.window->openStudio();
        QVERIFY(set(rig.window->studio(), "バイト順=行・上位ビットが左"));
        const QStringList formats{"c", "xbm", "pbm", "hex", "png"}, names{"logo.h", "logo.xbm", "logo.pbm", "logo.txt", "logo.png"};
        for (int i = 0; i < 5; ++i) {
            rig.dialogs.filters << i;
            rig.dialogs.answers << rig.path(names[i]);
            rig.window->exportImage();
            QCOMPARE(rig.window->statusLabel()->text(), QStringLiteral("エクスポート終了!!"));
            QCOMPARE(readFile(rig.path(names[i])), cli({"convert", rig.path("logo.bin"), "--format", formats[i], "--layout", "row-msb", "-o", "-"}));
            QCOMPARE(rig.dialogs.requests.last().filter, qMax(i - 1, 0));  // the first time the first type, then the one chosen last
            QCOMPARE(rig.dialogs.requests.last().initialPath, QDir::currentPath());  // in the folder, no name from before
        }
        rig.dialogs.filters << 9;  // a type the list does not have, as a platform dialog may report: the nearest
        rig.dialogs.answers << rig.path("other.png");
        rig.window->exportImage();
        QCOMPARE(readFile(rig.path("other.png")), readFile(rig.path("logo.png")));
        rig.dialogs.answers << rig.path("no/folder/x.h");
        rig.window->exportImage();
        QCOMPARE(rig.window->statusLabel()->text(), QString());  // a failure does not read as done
        const FileDialogRequest request = rig.dialogs.requests.last();
        QCOMPARE(request.labels, (QStringList{"Cヘッダー(*.h)", "XBM(*.xbm)", "PBM(*.pbm)", "16進テキスト(*.txt)", "PNGプレビュー(*.png)"}));
        QVERIFY(request.mode == FileDialogRequest::Mode::Save && request.confirmOverwrite && request.filter == 4);
        QVERIFY(rig.boxes.shown.isEmpty());
    }

    // All frames into FLASH pages from the one chosen: one question, each page as 画像送信（FLASH）
    // sends it, the page shown while it is written, the notice once; Esc between or within pages.
    void framesGoIntoConsecutivePages_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("stop");  // "no", "esc between", "esc within", or ""
        QTest::addColumn<int>("pages");     // sent
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("status");
        const QString done = "書換終了", stopped = "送信中止";
        QTest::newRow("all fit") << "3" << "" << 3 << "3 フレームをフラッシュページ 3～5 に書換しますか？" << done;
        const QString beyond = "3 フレームのうち、フラッシュページ 11～12 に入るのは 2 フレームです。2 フレームを書換しますか？";
        QTest::newRow("beyond page 12") << "11" << "" << 2 << beyond << done;
        QTest::newRow("no") << "11" << "no" << 0 << beyond << "";
        QTest::newRow("the second page fails") << "3" << "fail" << 1 << "3 フレームをフラッシュページ 3～5 に書換しますか？" << "フラッシュページ 4 書込中";
        QTest::newRow("esc between pages") << "0" << "esc between" << 1 << "3 フレームをフラッシュページ 0～2 に書換しますか？" << stopped;
        QTest::newRow("esc within a page") << "12" << "esc within" << 0 << "3 フレームのうち、フラッシュページ 12 に入るのは 1 フレームです。1 フレームを書換しますか？"
                                           << stopped;
    }
    void framesGoIntoConsecutivePages()
    {
        QFETCH(QString, page);
        QFETCH(QString, stop);
        QFETCH(int, pages);
        QFETCH(QString, question);
        QFETCH(QString, status);
        Rig rig;
        rig.window->show();
        rig.window->sendFramesToFlash();
        QCOMPARE(rig.boxes.texts(), QStringList{"画像ファイルを開いて下さい。"});
        rig.boxes.shown.clear();
        QImage half = solidImage(140, 80, Qt::black);
        QPainter(&half).fillRect(0, 0, 140, 32, Qt::white);
        QVERIFY(writeFile(rig.path("anim.gif"), animatedGif({solidImage(140, 80, Qt::white), solidImage(140, 80, Qt::black), half})));
        const QList<QByteArray> frames{QByteArray(1024, '\xff'), QByteArray(1024, '\0'), QByteArray(512, '\xff') + QByteArray(512, '\0')};
        rig.window->openDroppedFiles({rig.path("anim.gif")});
        QVERIFY(rig.window->selectListEntry(rig.window->pageList(), page));
        rig.boxes.answers = {stop == "no" ? MessageBoxes::Answer::No : MessageBoxes::Answer::Yes};
        QStringList labels;  // while each band goes out
        bool barFull = false;  // at the last band of all
        bool busyShown = true;  // the hourglass and the bar while every band goes out
        connect(rig.window->progressBar(), &QProgressBar::valueChanged, this, [&] {
            labels << rig.window->statusLabel()->text();
            busyShown &= QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor
                         && rig.window->progressBar()->isVisible();
            barFull = rig.window->progressBar()->value() == rig.window->progressBar()->maximum();
        });
        QStringList waiting;  // the label while the device, busy at first before each page, is waited for
        rig.port.cts = [&](const QByteArray &written, int polls) {
            if (stop.isEmpty()) {
                if (polls == 1)
                    waiting << rig.window->statusLabel()->text();
                return polls >= 1;
            }
            const bool first = written.isEmpty() && polls == 0;
            if ((stop == "esc between" && first) || (stop == "esc within" && polls == 1))
                QCoreApplication::postEvent(rig.window.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
            return stop != "esc within";
        };
        if (stop == "fail")
            rig.port.failAt(test::FakePort::Op::WriteText, 4);  // the second page's FS
        rig.window->sendFramesToFlash();
        QList<QByteArray> expected;
        QStringList shown;
        for (int k = 0; k < pages; ++k) {
            expected << imageChunks("FS" + QByteArray::number(page.toInt() + k), "TS", frames[k]);
            shown << QStringList(8, QStringLiteral("フラッシュページ %1 書込中").arg(page.toInt() + k));
        }
        QCOMPARE(rig.port.chunks, expected);
        QCOMPARE(labels, shown.mid(1));  // the bar stands at 0 already for the first band
        QVERIFY(busyShown);
        QCOMPARE(rig.boxes.texts(), QStringList{question} << (status == "書換終了" ? QStringList{TransferText::flashNotice}
                                                              : stop == "fail"     ? QStringList{TransferText::portError}
                                                                                   : QStringList{}));
        QCOMPARE(rig.window->statusLabel()->text(), status);
        // A failed write leaves the port as 画像送信 leaves it.
        QVERIFY(rig.port.isOpen() == (stop == "fail") && rig.window->progressBar()->isHidden() && !QApplication::overrideCursor());
        if (stop.isEmpty()) {  // the bar full at the end; the command line sends the same stream
            QVERIFY(barFull);
            QCOMPARE(waiting, QStringList(pages, QStringLiteral("画面書換中!!")));  // not the last page's text
            QString err;
            QCOMPARE(QByteArray::fromHex(cli({"send", "--dry-run", "--flash", page, "--frames", rig.path("anim.gif")}, &err)), rig.port.written());
            QCOMPARE(err.contains("take the first 2; 1 frame was not sent\n"), pages == 2);
            if (pages == 2) {
                cli({"send", "--dry-run", "--flash", "12", "--frames", rig.path("anim.gif")}, &err);
                QVERIFY2(err.contains("take the first 1; 2 frames were not sent\n"), qPrintable(err));
            }
        }
    }
};

QTEST_MAIN(TstStudio)
#include "tst_studio.moc"
