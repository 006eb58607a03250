// Text over the picture: the two pixel fonts' glyphs exactly (goldens drawn as art, so a
// failure shows the difference), text pixels untouched by the dither, the bounds of a huge text,
// the refusal of a missing font, the text file reader and conversion.ini's text lines.
#include "core/text/textfonts.h"
#include "core/text/textfile.h"
#include "core/convert/conversion.h"
#include "core/convert/conversionsettings.h"
#include "core/convert/textsettings.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QtTest>

using namespace pw;

Q_DECLARE_METATYPE(pw::TextOptions)

namespace {

TextOptions textOf(const QString &text, const QString &family, int size)
{
    TextOptions t;
    t.text = text;
    t.family = family;
    t.size = size;
    return t;
}

// The image as rows of '#' (the text's colour) and '.', cut to the box of what differs from
// the background, with the box's top-left corner.
QString art(const MonoImage &image, bool textWhite, QPoint &corner)
{
    QRect box;
    for (int y = 0; y < kImageHeight; ++y)
        for (int x = 0; x < kImageWidth; ++x)
            if (pixelAt(image, x, y) == textWhite)
                box |= QRect(x, y, 1, 1);
    corner = box.topLeft();
    QStringList rows;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        QString row;
        for (int x = box.left(); x <= box.right(); ++x)
            row += pixelAt(image, x, y) == textWhite ? QLatin1Char('#') : QLatin1Char('.');
        rows << row;
    }
    return rows.join(QLatin1Char('\n'));
}

QImage photo(quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(128, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x)
            image.setPixel(x, y, qRgb((x * 2 + y) % 256, int(random.bounded(40, 220)), (y * 4) % 256));
    return image;
}

}  // namespace

class TstTextLayer : public QObject {
    Q_OBJECT
private slots:
    // The fonts the goldens need; tools/setup.sh installs them.
    void initTestCase()
    {
        for (const QString family : {"MisakiGothic", "Unifont"})
            QVERIFY2(!installedFamily(family).isEmpty(), qPrintable(family + " is not installed: run tools/setup.sh"));
    }

    void pixelFontsExactly_data()
    {
        QTest::addColumn<TextOptions>("text");
        QTest::addColumn<QPoint>("corner");
        QTest::addColumn<QString>("golden");
        TextOptions t = textOf(QStringLiteral("あ漢ｱg"), "MisakiGothic", 8);
        QTest::newRow("misaki: kana, kanji, half-width kana, descender; top left") << t << QPoint(0, 0)
            << QStringLiteral(
               "..#.....#..#.#..###....\n"
               ".#####...######...#....\n"
               "..#.....#.#.#.#..##..##\n"
               "..####....#####..#..#.#\n"
               ".##.#.#.#######..#...##\n"
               "#.##..#.#...#...#.....#\n"
               ".##..#..#.##.##.....##.");
        t = textOf(QStringLiteral("カナ\n東京"), "MisakiGothic", 8);
        t.align = TextAlign::Center;
        t.valign = TextVAlign::Middle;
        QTest::newRow("misaki: two lines, centred") << t << QPoint(56, 24)
            << QStringLiteral(
               "...#.......#...\n"
               ".######....#...\n"
               "...#..#.#######\n"
               "...#..#....#...\n"
               "...#..#....#...\n"
               "..#...#...#....\n"
               ".#...##..#.....\n"
               "...............\n"
               "...#.......#...\n"
               "#######.#######\n"
               ".#.#.#...#...#.\n"
               ".#####...#####.\n"
               ".#.#.#.....#...\n"
               "..###....#.#.#.\n"
               "##.#.##.#.##..#");
        t = textOf(QStringLiteral("駅ｴｷy"), QStringLiteral("美咲ゴシック"), 8);
        t.align = TextAlign::Right;
        t.valign = TextVAlign::Bottom;
        t.offsetX = -3;
        t.offsetY = -2;
        QTest::newRow("misaki by its Japanese name: bottom right, moved") << t << QPoint(105, 54)
            << QStringLiteral(
               "###.###......#.....\n"
               "##..#.#.###.###....\n"
               "###.#.#..#...#..#.#\n"
               "##..##...#..###.#.#\n"
               "###.##...#...#...##\n"
               "..#.#.#.###..#....#\n"
               "#.##..#.........##.");
        t = textOf(QStringLiteral("Ág漢ｶ"), "Unifont", 16);
        t.offsetX = 5;
        t.offsetY = 3;
        QTest::newRow("unifont: top left, moved") << t << QPoint(6, 3)
            << QStringLiteral(
               "...##.................#...#............\n"
               ".##..............#....#...#........#...\n"
               "..................#.##########.....#...\n"
               "..................#...#...#........#...\n"
               "..##...........#......#####.....#######\n"
               ".#..#........#..#.......#..........#..#\n"
               ".#..#....###.#..#..#.#######.......#..#\n"
               "#....#..#...#......#.#..#..#.......#..#\n"
               "#....#..#...#.....#..#######.......#..#\n"
               "######..#...#.....#.....#.........#...#\n"
               "#....#...###...###..#########.....#...#\n"
               "#....#...#.......#......#.........#..#.\n"
               "#....#...####....#.###########...#...#.\n"
               "#....#..#....#...#.....#.#.......#...#.\n"
               "........#....#...#....#...#.....#...#..\n"
               ".........####.......##.....##..........");
        // At a size its bitmaps were not made for, the outlines are hinted: whole-pixel
        // advances keep the spacing even.
        t = textOf(QStringLiteral("Wyg字"), "MisakiGothic", 9);
        QTest::newRow("misaki: 9 px, hinted") << t << QPoint(0, 0)
            << QStringLiteral(
               "#.#...............##...\n"
               "#.#............########\n"
               "#.#..#.#...##..########\n"
               "#.#..#.#...##..#.####.#\n"
               "###..#.#..#.#......##..\n"
               "###...##...##..########\n"
               "#.#....#....#.....##...\n"
               ".....##...##.....###...");
        t = textOf(QStringLiteral("ﾃｷｽﾄ"), "Unifont", 16);
        t.align = TextAlign::Center;
        t.valign = TextVAlign::Bottom;
        t.white = true;
        QTest::newRow("unifont: white, bottom centre") << t << QPoint(49, 49)
            << QStringLiteral(
               "..........#..............#....\n"
               ".#####....#..............#....\n"
               "..........#.....######...#....\n"
               "..........####.......#...#....\n"
               "........###.........#....#....\n"
               "#######....#........#....###..\n"
               "...#.......#........#....#..#.\n"
               "...#.......####....#.....#...#\n"
               "...#....####.......#.....#....\n"
               "...#.......#......#.#....#....\n"
               "...#.......#......#..#...#....\n"
               "..#.........#....#...#...#....\n"
               "..#.........#....#....#..#....\n"
               ".#..........#...#.....#..#....");
    }
    void pixelFontsExactly()
    {
        QFETCH(TextOptions, text);
        QFETCH(QPoint, corner);
        QFETCH(QString, golden);
        ConversionOptions options;
        options.text = text;
        options.prepare.background = text.white ? Qt::black : Qt::white;
        const std::optional<MonoImage> image = convertBackground(options);
        QVERIFY(image);
        QPoint at;
        const QString drawn = art(*image, text.white, at);
        QVERIFY2(drawn == golden && at == corner,
                 qPrintable(QStringLiteral("drawn at (%1, %2):\n%3\nexpected at (%4, %5):\n%6")
                                .arg(at.x()).arg(at.y()).arg(drawn).arg(corner.x()).arg(corner.y()).arg(golden)));
    }
    // Bold draws the same glyph with every stroke one pixel wider to the right. (Unifont's
    // glyphs are bitmaps, which FreeType does not embolden: bold leaves them as they are.)
    void boldWidensEachStroke()
    {
        for (const QString family : {"MisakiGothic", "Unifont"}) {
            for (const char *glyph : {"漢", "g"}) {
                TextOptions t = textOf(QString::fromUtf8(glyph), family, family == "Unifont" ? 16 : 8);
                const QImage regular = layoutText(t).ink;
                t.bold = true;
                const QImage bold = layoutText(t).ink;
                QVERIFY(regular.format() == QImage::Format_Grayscale8 && bold.format() == regular.format() && bold.size() == regular.size());
                int inked = 0;
                for (int y = 0; y < regular.height(); ++y) {
                    const uchar *was = regular.constScanLine(y), *is = bold.constScanLine(y);
                    for (int x = 0; x < regular.width(); ++x) {
                        inked += was[x] != 0;
                        const bool expected = was[x] != 0 || (family != "Unifont" && x > 0 && was[x - 1] != 0);
                        QVERIFY2((is[x] != 0) == expected, qPrintable(QStringLiteral("%1 %2 at %3,%4").arg(family, QString::fromUtf8(glyph)).arg(x).arg(y)));
                    }
                }
                QVERIFY(inked > 8);
            }
        }
    }

    // Over a photo, whatever the dither and the inversion: each glyph pixel exactly the text's
    // colour, every other pixel as the conversion without text gives it.
    void textPixelsAreNeverDithered_data()
    {
        QTest::addColumn<int>("dither");
        QTest::addColumn<bool>("invert");
        QTest::addColumn<bool>("white");
        const struct {
            const char *name;
            Dither dither;
            bool invert, white;
        } rows[] = {
            {.name = "Floyd-Steinberg, black", .dither = Dither::FloydSteinberg, .invert = false, .white = false},
            {.name = "Atkinson, white, inverted", .dither = Dither::Atkinson, .invert = true, .white = true},
            {.name = "Bayer 8, black, inverted", .dither = Dither::Bayer8, .invert = true, .white = false},
            {.name = "no dither, white", .dither = Dither::None, .invert = false, .white = true},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << int(r.dither) << r.invert << r.white;
    }
    void textPixelsAreNeverDithered()
    {
        QFETCH(int, dither);
        QFETCH(bool, invert);
        QFETCH(bool, white);
        ConversionOptions plain;
        plain.threshold.dither = Dither(dither);
        plain.threshold.invert = invert;
        plain.prepare.tone.contrast = 20;
        ConversionOptions withText = plain;
        withText.text = textOf(QStringLiteral("漢字テスト\nAbgy"), "Unifont", 16);
        withText.text.white = white;
        withText.text.align = TextAlign::Center;
        withText.text.valign = TextVAlign::Middle;
        const QImage picture = photo(7);
        const std::optional<MonoImage> without = convertLoaded(picture, plain), with = convertLoaded(picture, withText);
        QVERIFY(without && with);
        const TextLayer layer = layoutText(withText.text);
        int ink = 0, wrong = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                const bool glyph = layer.ink.pixelColor(x, y).red() > 127;
                ink += glyph;
                wrong += pixelAt(*with, x, y) != (glyph ? white : pixelAt(*without, x, y));
            }
        QVERIFY(ink > 100);
        QCOMPARE(wrong, 0);
    }

    // Over the window's area the text is pure white or pure black where its ink is, and the
    // picture is untouched everywhere else.
    void drawnOverTheArea()
    {
        const TextLayer layer = layoutText(textOf(QStringLiteral("Abgy 漢"), "Unifont", 16));
        for (const bool white : {true, false}) {
            const QImage picture = photo(3);
            QImage surface = picture;
            drawText(surface, layer, white);
            int ink = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 128; ++x) {
                    const bool glyph = layer.ink.pixelColor(x, y).red() > 127;
                    ink += glyph;
                    QCOMPARE(surface.pixel(x, y), glyph ? (white ? qRgb(255, 255, 255) : qRgb(0, 0, 0)) : picture.pixel(x, y));
                }
            QVERIFY(ink > 50);
        }
        // Drawn and stamped from the same ink, at every level of it: what the studio shows
        // before conversion has its text on the pixels the device gets it on.
        TextLayer levels;
        levels.ink = QImage(128, 64, QImage::Format_Grayscale8);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                levels.ink.scanLine(y)[x] = uchar((y * 128 + x) % 256);
        QImage surface(128, 64, QImage::Format_RGB32);
        surface.fill(Qt::black);
        MonoImage inWhite{}, inBlack{};
        drawText(surface, levels, true);
        stampText(inWhite, levels, true);
        stampText(inBlack, levels, false);
        for (int level = 0; level < 256; ++level) {
            const int x = level % 128, y = level / 128;
            QVERIFY2((surface.pixel(x, y) == qRgb(255, 255, 255)) == (pixelAt(inWhite, x, y) != pixelAt(inBlack, x, y)), qPrintable(QString::number(level)));
        }
    }

    // Drawn without smoothing in an outline font too: every pixel of the ink is all text or
    // all background, so the device shows the edges the preview shows.
    void outlineFontsAreDrawnHard()
    {
        const QStringList families = QFontDatabase::families();
        const auto outline = std::find_if(families.cbegin(), families.cend(), [](const QString &f) { return QFontDatabase::isSmoothlyScalable(f); });
        if (outline == families.cend())
            QSKIP("no outline font installed");
        const TextLayer layer = layoutText(textOf(QStringLiteral("Agx Wy"), *outline, 23));
        int ink = 0, grey = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                const int v = layer.ink.pixelColor(x, y).red();
                ink += v == 255, grey += v > 0 && v < 255;
            }
        QVERIFY2(ink > 50 && grey == 0, qPrintable(QStringLiteral("%1: %2 ink, %3 grey").arg(*outline).arg(ink).arg(grey)));
    }

    // An empty text changes nothing, whatever its other settings say (even a font that is missing).
    void emptyTextChangesNothing()
    {
        ConversionOptions plain;
        plain.threshold.dither = Dither::FloydSteinberg;
        ConversionOptions empty = plain;
        empty.text.family = QStringLiteral("No Such Font");
        empty.text.white = true;
        empty.text.size = 30;
        const QImage picture = photo(3);
        QCOMPARE(*convertLoaded(picture, empty), *convertLoaded(picture, plain));
        QCOMPARE(*convertBackground(empty), *convertBackground(plain));
        ConversionSettings settings;
        settings.text.family = QStringLiteral("No Such Font");
        QVERIFY(!formatConversionSettings({}).contains("text") && formatConversionSettings(settings).contains("font=No Such Font"));
    }

    // What is cut at the edge is reported; a huge text lays out only the lines and characters
    // that can show, and they come out as the same text cut by hand would.
    void overflowAndHugeTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("align");
        QTest::addColumn<int>("valign");
        QTest::addColumn<QString>("sameAs");  // empty: not compared
        QTest::addColumn<bool>("overflow");
        const QString full16 = QString(16, QChar(0x3042)), line = QString(100, QChar(0x6f22));
        QStringList lines;
        for (int i = 0; i < 100000; ++i)
            lines << QString::number(i).rightJustified(6, '0') + line;
        const QString many = lines.join('\n');
        const QString one = QString(5000000, QChar(0x3042)) + QString(5000000, QChar(0x6f22));
        const QString face = QStringLiteral("\U0001F600"), faces = face.repeated(600);
        const struct {
            const char *name;
            QString text;
            TextAlign align = TextAlign::Left;
            TextVAlign valign = TextVAlign::Top;
            QString sameAs{};
            bool overflow;
        } rows[] = {
            {.name = "16 x 8 fit", .text = QStringList(8, full16).join('\n'), .overflow = false},
            {.name = "17 wide", .text = QString(17, QChar(0x3042)), .overflow = true},
            {.name = "9 lines", .text = QStringList(9, "a").join('\n'), .overflow = true},
            {.name = "10 MB of lines, top", .text = many, .sameAs = lines.mid(0, 8).join('\n'), .overflow = true},
            {.name = "10 MB of lines, bottom right", .text = many, .align = TextAlign::Right, .valign = TextVAlign::Bottom,
             .sameAs = lines.mid(99992).join('\n'), .overflow = true},
            {.name = "10 MB of lines, middle", .text = many, .align = TextAlign::Center, .valign = TextVAlign::Middle,
             .sameAs = lines.mid(49996, 8).join('\n'), .overflow = true},
            {.name = "one 10 MB line, left", .text = one, .sameAs = QString(40, QChar(0x3042)), .overflow = true},
            {.name = "one 10 MB line, right", .text = one, .align = TextAlign::Right, .sameAs = QString(40, QChar(0x6f22)),
             .overflow = true},
            // 64 KiB of text is laid out as any text; one character more is said to be in part.
            {.name = "64 KiB of lines", .text = QStringList(32768, "a").join('\n') + '\n', .overflow = true},
            {.name = "64 KiB and one", .text = QStringList(32768, "a").join('\n') + "\nb", .overflow = true},
            // A line cut to the characters that can show is never cut inside a surrogate pair.
            {.name = "long line of pairs, right", .text = faces + "x", .align = TextAlign::Right, .sameAs = face.repeated(255) + "x",
             .overflow = true},
            {.name = "long line of pairs, left", .text = "x" + faces, .sameAs = "x" + face.repeated(255), .overflow = true},
            // Cut one character in: the pair at the front goes whole, not its second half alone.
            {.name = "pair before a cut at 1, right", .text = face + QString(511, 'a'), .align = TextAlign::Right,
             .sameAs = QString(511, 'a'), .overflow = true},
            // An empty line, first or between, takes its place as a line of spaces does.
            {.name = "empty first line", .text = QStringLiteral("\n\u3042"), .sameAs = QStringLiteral(" \n\u3042"), .overflow = false},
            {.name = "empty lines first and between", .text = QStringLiteral("\n\na\n\nb"), .align = TextAlign::Right,
             .valign = TextVAlign::Bottom, .sameAs = QStringLiteral(" \n \na\n \nb"), .overflow = false},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.text << int(r.align) << int(r.valign) << r.sameAs << r.overflow;
    }
    void overflowAndHugeTexts()
    {
        QFETCH(QString, text);
        QFETCH(int, align);
        QFETCH(int, valign);
        QFETCH(QString, sameAs);
        QFETCH(bool, overflow);
        TextOptions t = textOf(text, "MisakiGothic", 8);
        t.align = TextAlign(align);
        t.valign = TextVAlign(valign);
        QElapsedTimer timer;
        timer.start();
        const TextLayer layer = layoutText(t);
        const qint64 ms = timer.elapsed();
        QCOMPARE(layer.overflow, overflow);
        QCOMPARE(layer.bounded, text.size() > 64 * 1024 || (!text.contains('\n') && text.size() > 512));  // or a line longer than shows
        QVERIFY2(ms < 250, qPrintable(QString::number(ms) + " ms"));  // 50 ms on a quiet machine
        if (!sameAs.isEmpty()) {
            t.text = sameAs;
            QCOMPARE(layer.ink, layoutText(t).ink);
            QCOMPARE(layer.missing, layoutText(t).missing);
        }
    }

    // A family that is not installed draws nothing (Qt would substitute one) and similar names
    // are offered; characters the font lacks are reported unless another font may draw them.
    void missingFontsAndGlyphs()
    {
        QVERIFY(layoutText(textOf("x", "No Such Font", 8)).fontMissing() && layoutText(textOf("x", "No Such Font", 8)).ink.isNull());
        QVERIFY(layoutText(textOf("", "MisakiGothic", 8)).ink.isNull());  // no text: nothing drawn, nothing stamped
        MonoImage untouched = MonoImage{}, stamped = untouched;
        stampText(stamped, layoutText(textOf("", "MisakiGothic", 8)), true);
        QCOMPARE(stamped, untouched);
        QCOMPARE(installedFamily("misakigothic"), QStringLiteral("MisakiGothic"));
        QVERIFY(similarFamilies("Misaki Gotic").contains("MisakiGothic"));
        QVERIFY(similarFamilies("- -").isEmpty());  // no letters: nothing is like it
        QVERIFY2(similarFamilies("Qz").isEmpty(), qPrintable(similarFamilies("Qz").join(',')));  // two letters no family shares
        QCOMPARE(similarFamilies("i").size(), 4);  // at most four are offered, however many are alike
        TextOptions t = textOf(QStringLiteral("a\U0001F600\u3042\u0301\U0001F600"), "MisakiGothic", 8);
        QCOMPARE(layoutText(t).missing, (QList<char32_t>{0x1F600, 0x301}));
        QCOMPARE(codePointList(layoutText(t).missing), QStringLiteral("U+1F600 U+0301"));
        // A character seen before, or a control character, does not end the search.
        QCOMPARE(layoutText(textOf(QStringLiteral("aa\t\U0001F600"), "MisakiGothic", 8)).missing, QList<char32_t>{0x1F600});
        // The first 32 of them are named, however many more there are.
        QString forty;
        QList<char32_t> first32;
        for (char32_t point = 0x1F600; point < 0x1F600 + 40; ++point)
            forty += QString::fromUcs4(&point, 1), first32 << point;
        QCOMPARE(layoutText(textOf(forty, "MisakiGothic", 8)).missing, first32.mid(0, 32));
        // Only the lines that show are searched: one whose top is the bottom edge is not.
        TextOptions low = textOf(QStringLiteral("a\n\U0001F600"), "MisakiGothic", 8);
        QFont eightPixels("MisakiGothic");
        eightPixels.setPixelSize(8);
        const int spacing = QFontMetrics(eightPixels).lineSpacing();
        for (const int above : {0, 1}) {
            low.offsetY = kImageHeight - spacing - above;
            QCOMPARE(layoutText(low).missing, above ? QList<char32_t>{0x1F600} : QList<char32_t>{});
        }
        t.fallback = true;
        QVERIFY(layoutText(t).missing.isEmpty());
        bool misaki = false, unifont = false;
        for (const PixelFont &font : pixelFonts()) {
            misaki |= font.family == "MisakiGothic" && font.size == 8;
            unifont |= font.family == "Unifont" && font.size == 16;
            QVERIFY2(font.family != "DejaVu Sans", "an outline font is no pixel font");
        }
        QVERIFY(misaki && unifont);
    }

    void textFiles_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");  // "!L:C" for a refusal at line L, column C
        QTest::newRow("lines, BOM, CR LF, final end") << QByteArray("\xef\xbb\xbf\xe3\x81\x82\r\nb\n") << QStringLiteral("\u3042\nb");
        QTest::newRow("four bytes") << QByteArray("\xf0\x9f\x98\x80") << QStringLiteral("\U0001F600");
        QTest::newRow("a BOM alone") << QByteArray("\xef\xbb\xbf") << QString();
        QTest::newRow("stray continuation") << QByteArray("ab\ncd\x80") << QStringLiteral("!2:3");
        QTest::newRow("lead byte, then ASCII") << QByteArray("a\xe3\x81" "b") << QStringLiteral("!1:2");
        QTest::newRow("overlong") << QByteArray("\xe3\x81\x82\xc0\xaf") << QStringLiteral("!1:2");
        QTest::newRow("surrogate") << QByteArray("x\n\n\xed\xa0\x80") << QStringLiteral("!3:1");
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << QStringLiteral("!1:1");
        QTest::newRow("cut short") << QByteArray("abc\xe3\x81") << QStringLiteral("!1:4");
        QTest::newRow("NUL, U+0080, U+0800, U+10000 are text") << QByteArray("a\0\xc2\x80\xe0\xa0\x80\xf0\x90\x80\x80\n\xff", 14) << QStringLiteral("!2:1");
        QTest::newRow("overlong, three bytes") << QByteArray("\xe0\x9f\xbf") << QStringLiteral("!1:1");
        QTest::newRow("overlong, four bytes") << QByteArray("\xef\xbf\xbf\xf0\x8f\xbf\xbf") << QStringLiteral("!1:2");
        QTest::newRow("a five-byte lead") << QByteArray("\xf8\x88\x80\x80\x80") << QStringLiteral("!1:1");
    }
    void textFiles()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        int line = 0, column = 0;
        const std::optional<QString> decoded = decodeTextFile(bytes, line, column);
        QCOMPARE(decoded ? *decoded : QStringLiteral("!%1:%2").arg(line).arg(column), text);
    }

    // The text's lines of conversion.ini read back as written; a damaged value is its default.
    void settingsLines()
    {
        ConversionSettings s;
        s.text = textOf(QStringLiteral(" \"quoted\" \\ back\nslash\tend\r "), "Unifont", 64);
        s.text.bold = s.text.white = s.text.fallback = true;
        s.text.align = TextAlign::Right;
        s.text.valign = TextVAlign::Middle;
        s.text.offsetX = -128;
        s.text.offsetY = 128;
        QVERIFY(parseConversionSettings(formatConversionSettings(s)) == s);
        const QByteArray damaged = "text=\"open\ntext=\"bad \\q\"\ntext=\"end\\\"\ntext-size=65\nbold=2\nalign=middle\nvalign=left\n"
                                   "text-offset=1\ntext-offset=129,0\ntext-color=red\ntext-fallback=x\nfont=\n";
        QVERIFY(parseConversionSettings(damaged) == ConversionSettings{});
        QCOMPARE(parseConversionSettings("text = \"a=b\" \nfont=Unifont\ntext-size=6").text, textOf("a=b", "Unifont", 6));
    }
};

QTEST_MAIN(TstTextLayer)
#include "tst_textlayer.moc"
