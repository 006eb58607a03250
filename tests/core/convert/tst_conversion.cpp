// The conversion's units: the threshold rule, dithers, layouts, fits, turning, encoders, the
// preview, and the default conversion against the window's own path.
#include "common/testfiles.h"
#include "core/convert/batch.h"
#include "core/convert/conversion.h"
#include "core/image/encoders.h"

#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <future>
#include <thread>

using namespace pw;
using Pixels = QList<QPoint>;
using Bytes = QMap<int, int>;  // byte index -> value; every other byte 0

namespace {

MonoImage imageWith(const Pixels &white)
{
    MonoImage image{};
    for (const QPoint &p : white)
        setPixelAt(image, p.x(), p.y(), true);
    return image;
}

Pixels whitePixels(const MonoImage &image)
{
    Pixels pixels;
    for (int y = 0; y < kImageHeight; ++y)
        for (int x = 0; x < kImageWidth; ++x)
            if (pixelAt(image, x, y))
                pixels << QPoint(x, y);
    return pixels;
}

// A black surface with a patch of grey of luminance `level` at the top-left corner.
QImage patch(int width, int height, int level)
{
    QImage surface = test::solidImage(kImageWidth, kImageHeight, Qt::black);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            surface.setPixel(x, y, qRgb(level, level, level));
    return surface;
}

// Colours around the threshold, so that every row of the window table has both colours.
QImage nearThreshold(int width, int height, QImage::Format format, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, format);
    for (int y = 0; y < qMin(height, 200); ++y)
        for (int x = 0; x < qMin(width, 300); ++x)
            image.setPixelColor(x, y, QColor(random.bounded(110, 150), random.bounded(110, 150), random.bounded(110, 150),
                                             format == QImage::Format_ARGB32 ? random.bounded(256) : 255));
    // Larger pictures repeat that corner, so that no pixel is left as the allocator gave it.
    const int pixelBytes = image.depth() / 8;
    for (int y = 0; y < height; ++y) {
        uchar *row = image.scanLine(y);
        if (y >= 200)
            std::memcpy(row, image.constScanLine(y % 200), std::size_t(image.bytesPerLine()));
        else
            for (int x = 300; x < width; ++x)
                std::memcpy(row + x * pixelBytes, row + (x % 300) * pixelBytes, std::size_t(pixelBytes));
    }
    return image;
}

QString saved(const QTemporaryDir &dir, const QString &name, const QImage &image)
{
    const QString path = dir.filePath(name);
    QImageWriter writer(path);
    return writer.write(image) ? path : QString();
}

}  // namespace

MonoImage convertImage(const QImage &picture, const ConversionOptions &options = {})
{
    const std::optional<MonoImage> image = convertLoaded(picture, options);
    return image ? *image : MonoImage{};
}

MonoImage thresholded(const QImage &surface, int limit, Dither dither = Dither::None, bool invert = false)
{
    return *threshold(surface, {limit, dither, invert});
}


class TstConversion : public QObject {
    Q_OBJECT
private slots:
    // A batch on N workers runs N inputs at once (each input here waits until it has company),
    // and its items come out in the order of the inputs whichever finishes first.
    void batchRunsEveryWorker()
    {
        for (const int workers : {2, 3, 8}) {
            std::mutex mutex;
            std::condition_variable changed;
            int running = 0, most = 0;
            QList<int> consumed;
            runStreamed<int>(
                12, workers, 2,
                [&](int i, const std::function<bool(int &&)> &hand) {
                    {
                        std::unique_lock<std::mutex> lock(mutex);
                        most = std::max(most, ++running);
                        changed.notify_all();
                        changed.wait_for(lock, std::chrono::seconds(2), [&] { return most >= workers; });
                        changed.wait_for(lock, std::chrono::milliseconds(20));  // room for one more, were there one
                        --running;
                    }
                    hand(int(i));
                },
                [&](int i, int &item) {
                    consumed << i * 100 + item;
                    return true;
                });
            QCOMPARE(most, workers);
            QList<int> expected;
            for (int i = 0; i < 12; ++i)
                expected << i * 101;
            QCOMPARE(consumed, expected);
        }
    }

    // An input that makes more items than a producer may hold ahead: each one handed over
    // wakes the consumer, so the run goes on while the first input's producer waits for room.
    void batchHandsOnItemsBeyondWhatIsHeld()
    {
        std::promise<QList<int>> done;
        std::thread run([&] {
            QList<int> consumed;
            runStreamed<int>(
                3, 2, 1,
                [](int i, const std::function<bool(int &&)> &hand) {
                    if (i == 0)  // the consumer waits for it by then
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    for (int k = 0; k < 3; ++k)
                        hand(i * 10 + k);
                },
                [&](int, int &item) {
                    consumed << item;
                    return true;
                });
            done.set_value(consumed);
        });
        std::future<QList<int>> result = done.get_future();
        if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            qCritical("the batch stopped with items handed over and not taken");
            std::_Exit(1);  // its threads wait for ever
        }
        run.join();
        QCOMPARE(result.get(), (QList<int>{0, 1, 2, 10, 11, 12, 20, 21, 22}));
    }

    // Every colour, through the conversion itself, against (30R+59G+11B) div 100 > 128
    // written as 30R+59G+11B >= 12900.
    void thresholdRuleOverAllColours()
    {
        QImage surface(kImageWidth, kImageHeight, QImage::Format_RGB32);
        constexpr int perSurface = kImageWidth * kImageHeight;
        int mismatches = 0;
        for (int first = 0; first < (1 << 24); first += perSurface) {
            auto *pixels = reinterpret_cast<QRgb *>(surface.bits());
            for (int i = 0; i < perSurface; ++i)
                pixels[i] = 0xff000000u | quint32(first + i);
            const MonoImage mono = thresholded(surface, 128);
            for (int i = 0; i < perSurface; ++i) {
                const int c = first + i;
                const bool expected = 30 * (c >> 16) + 59 * ((c >> 8) & 255) + 11 * (c & 255) >= 12900;
                mismatches += pixelAt(mono, i % kImageWidth, i / kImageWidth) != expected;
            }
        }
        QCOMPARE(mismatches, 0);
    }


    void thresholdOptionAndInvert()
    {
        for (int t : {0, 99, 100, 254, 255}) {
            const MonoImage mono = thresholded(patch(kImageWidth, kImageHeight, 100), t);
            QCOMPARE(whitePixels(mono).size(), t < 100 ? kImageWidth * kImageHeight : 0);
            QCOMPARE(thresholded(patch(kImageWidth, kImageHeight, 100), t, Dither::None, true), [&] {
                MonoImage inverted = mono;
                for (auto &b : inverted)
                    b = std::uint8_t(~b);
                return inverted;
            }());
        }
    }


    // Pixels (0,0), (9,1), (127,63) white, by hand for each order.
    void layoutGoldens_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<Bytes>("bytes");
        QTest::newRow("page-lsb") << "page-lsb" << Bytes{{0, 0x01}, {9, 0x02}, {1023, 0x80}};
        QTest::newRow("page-msb") << "page-msb" << Bytes{{0, 0x80}, {9, 0x40}, {1023, 0x01}};
        QTest::newRow("row-msb") << "row-msb" << Bytes{{0, 0x80}, {17, 0x40}, {1023, 0x01}};
        QTest::newRow("row-lsb") << "row-lsb" << Bytes{{0, 0x01}, {17, 0x02}, {1023, 0x80}};
    }
    void layoutGoldens()
    {
        QFETCH(QString, layout);
        QFETCH(Bytes, bytes);
        const Layout *l = findLayout(layout);
        QVERIFY(l);
        QByteArray expected(kImageBytes, '\0');
        for (auto it = bytes.cbegin(); it != bytes.cend(); ++it)
            expected[it.key()] = char(it.value());
        const MonoImage image = imageWith({{0, 0}, {9, 1}, {127, 63}});
        QCOMPARE(l->pack(image), expected);
        QCOMPARE(l->unpack(expected), image);
        const MonoImage noise = test::randomImage(7);
        QCOMPARE(l->unpack(l->pack(noise)), noise);
    }


    // Threshold 128 over black; the white pixels worked out by hand.
    void ditherGoldens_data()
    {
        QTest::addColumn<QString>("dither");
        QTest::addColumn<QImage>("surface");
        QTest::addColumn<Pixels>("white");
        QTest::newRow("none") << "none" << patch(4, 4, 100) << Pixels{};
        // A patch of 100: 100 black (err 100: +43.75 right); 143.75 white (err -111.25: -48.67 right); 51.33, 122.46 black.
        QTest::newRow("floyd-steinberg") << "floyd-steinberg" << patch(4, 1, 100) << Pixels{{1, 0}};
        // 100 at (1,0) and (0,1), 125 at (3,1). (1,0) black sends 3/16 of 100 below-left: (0,1) = 118.75
        // stays black (with 5/16 there it would be 131.25, white). (1,1) = 31.25 + 8.20 + 7/16 of 118.75
        // = 91.41 black, (2,1) = 6.25 + 13.67 + 3.59 + 40.0 = 63.5 black, (3,1) = 125 + 2.73 + 5.98
        // + 7/16 of 63.5 = 161.5 white.
        QImage twoRows = patch(0, 0, 0);
        twoRows.setPixel(1, 0, qRgb(100, 100, 100));
        twoRows.setPixel(0, 1, qRgb(100, 100, 100));
        twoRows.setPixel(3, 1, qRgb(125, 125, 125));
        QTest::newRow("floyd-steinberg, the row below") << "floyd-steinberg" << twoRows << Pixels{{3, 1}};
        // 100 black (+12.5 on); 112.5 black (+14.06); 126.56 black (+15.82); 114.06+15.82 = 129.88 white.
        QTest::newRow("atkinson") << "atkinson" << patch(4, 1, 100) << Pixels{{3, 0}};
        // 100 at (0,0), (1,0), (0,1), (0,2). (0,1) = 100 + 12.5 + 14.06 (1/8 of (1,0)'s 112.5, below-left)
        // = 126.56 black; (0,2) = 100 + 12.5 (from (0,0), two rows down) + 15.82 + 5.71 (from (1,1) = 45.70)
        // = 134.03 white. Without the share two rows down, or at the left edge, it would stay black.
        QImage column = patch(1, 3, 100);
        column.setPixel(1, 0, qRgb(100, 100, 100));
        QTest::newRow("atkinson, the rows below") << "atkinson" << column << Pixels{{0, 2}};
        // White where 100 > 128 + (2M+1)*8 - 128, i.e. M <= 5 in [[0,8,2,10],[12,4,14,6],[3,11,1,9],[15,7,13,5]].
        QTest::newRow("bayer4") << "bayer4" << patch(4, 4, 100) << Pixels{{0, 0}, {2, 0}, {1, 1}, {0, 2}, {2, 2}, {3, 3}};
        // 24 is the level of M = 1 ((2M+1)*8 = 24): white only strictly above a level, so M = 0 alone.
        QTest::newRow("bayer4, on a level") << "bayer4" << patch(4, 4, 24) << Pixels{{0, 0}};
        // Row 0 of the 8x8 matrix is 0 32 8 40 2 34 10 42: white where (2M+1)*2 < 44, M <= 10. (The
        // matrix mirrored over its diagonal, 0 48 12 60 3 51 15 63, would light only 0 and 4.)
        QTest::newRow("bayer8") << "bayer8" << patch(8, 1, 44) << Pixels{{0, 0}, {2, 0}, {4, 0}, {6, 0}};
    }
    void ditherGoldens()
    {
        QFETCH(QString, dither);
        QFETCH(QImage, surface);
        QFETCH(Pixels, white);
        const std::optional<Dither> mode = ditherFromName(dither);
        QVERIFY(mode);
        QCOMPARE(whitePixels(thresholded(surface, 128, *mode)), white);
    }

    void ditherKeepsErrorInsideTheArea()
    {
        // White at the right edge of row 0 must not push error into row 1's left end (no wrap),
        // nor may a bright last row leak anywhere.
        for (Dither mode : {Dither::FloydSteinberg, Dither::Atkinson}) {
            QImage surface = test::solidImage(kImageWidth, kImageHeight, QColor(120, 120, 120));
            const MonoImage mono = thresholded(surface, 128, mode);
            const int whites = whitePixels(mono).size();
            QVERIFY2(whites > 0 && whites < kImageWidth * kImageHeight / 2, qPrintable(QString::number(whites)));
        }
    }


    void transformsAndFits()
    {
        // A 64 x 128 picture turned clockwise: its top-left pixel lands at the top-right.
        QImage tall = test::solidImage(64, 128, Qt::black);
        tall.setPixel(0, 0, qRgb(255, 255, 255));
        ConversionOptions turn;
        turn.prepare.rotate = 90;
        turn.prepare.background = Qt::black;
        QCOMPARE(whitePixels(convertImage(tall, turn)), (Pixels{{127, 0}}));
        ConversionOptions flip;
        flip.prepare.flip = Flip::Horizontal;
        flip.prepare.background = Qt::black;
        QCOMPARE(whitePixels(convertImage(tall, flip)), (Pixels{{63, 0}}));
        flip.prepare.flip = Flip::Vertical;
        QCOMPARE(whitePixels(convertImage(tall.copy(0, 0, 64, 64), flip)), (Pixels{{0, 63}}));

        // Contain: a white 256 x 64 band scaled into rows 16-47 over a black background.
        ConversionOptions contain;
        contain.prepare.fit = Fit::Contain;
        contain.prepare.background = Qt::black;
        const Pixels band = whitePixels(convertImage(test::solidImage(256, 64, Qt::white), contain));
        QCOMPARE(band.size(), 128 * 32);
        QCOMPARE(band.first(), QPoint(0, 16));
        QCOMPARE(band.last(), QPoint(127, 47));
        // Cover: a 64 x 64 square, white on its middle rows only, fills the width; the cut
        // rows above and below are gone evenly.
        QImage square = test::solidImage(64, 64, Qt::black);
        for (int y = 16; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                square.setPixel(x, y, qRgb(255, 255, 255));
        ConversionOptions cover;
        cover.prepare.fit = Fit::Cover;
        QCOMPARE(whitePixels(convertImage(square, cover)).size(), kImageWidth * kImageHeight);
        // Stretch: left half white of a 2 x 2 picture becomes the left half of the area.
        QImage two = test::solidImage(2, 2, Qt::black);
        two.setPixel(0, 0, qRgb(255, 255, 255));
        two.setPixel(0, 1, qRgb(255, 255, 255));
        // A strip of an extreme shape is covered by its middle alone: here the 20 columns that
        // show are white and everything else black.
        QImage strip = test::solidImage(200000, 10, Qt::black);
        for (int y = 0; y < 10; ++y)
            for (int x = 99990; x < 100010; ++x)
                strip.setPixel(x, y, qRgb(255, 255, 255));
        QVERIFY(whitePixels(convertImage(strip, cover)).size() > kImageWidth * kImageHeight * 9 / 10);
        // Up to a million pixels scaled, Cover scales the whole picture and cuts its middle,
        // whether the cut falls on whole pixels of the picture or not.
        PrepareOptions covering;
        covering.fit = Fit::Cover;
        covering.background = Qt::darkCyan;
        for (const QSize scaled : {QSize(128, 6400), QSize(213, 64)}) {
            const QImage noise = nearThreshold(scaled.width() == 128 ? 20 : 100, scaled.width() == 128 ? 1000 : 30, QImage::Format_ARGB32, 7);
            QImage whole = test::solidImage(kImageWidth, kImageHeight, Qt::darkCyan).convertToFormat(QImage::Format_RGB32);
            QPainter(&whole).drawImage(QPoint((kImageWidth - scaled.width()) / 2, (kImageHeight - scaled.height()) / 2),
                                       noise.convertToFormat(QImage::Format_ARGB32_Premultiplied).scaled(scaled, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            QCOMPARE(prepareSurface(noise, covering), whole);
        }
        ConversionOptions stretch;
        stretch.prepare.fit = Fit::Stretch;
        const Pixels half = whitePixels(convertImage(two, stretch));
        QVERIFY(half.contains(QPoint(0, 0)) && half.contains(QPoint(63, 63)) && !half.contains(QPoint(64, 0)));
        // The studio's area shows each fit as the conversion places it, an odd size and no picture alike.
        for (const QImage &picture : {nearThreshold(37, 91, QImage::Format_ARGB32, 5), QImage()})
            for (const Fit fit : {Fit::Crop, Fit::Contain, Fit::Cover, Fit::Stretch}) {
                PrepareOptions options;
                options.fit = fit;
                options.background = Qt::darkCyan;
                QCOMPARE(fitSurface(picture, fit, Qt::darkCyan), prepareSurface(picture, options));
            }
        // No picture at all: the background alone goes by the threshold, as bars do, never dithered.
        ConversionOptions dithered;
        dithered.threshold.dither = Dither::FloydSteinberg;
        dithered.prepare.background = QColor(120, 120, 120);
        QCOMPARE(convertLoaded(QImage(), dithered), std::optional<MonoImage>(MonoImage{}));
    }


    void cropWithTurnReadsOnlyTheRegionNeeded()
    {
        QCOMPARE(sourceRegion(QSize(1000, 500), 90, Flip::None), QRect(0, 372, 64, 128));
        QCOMPARE(sourceRegion(QSize(1000, 500), 180, Flip::None), QRect(872, 436, 128, 64));
        QCOMPARE(sourceRegion(QSize(1000, 500), 0, Flip::Horizontal), QRect(872, 0, 128, 64));
        QCOMPARE(sourceRegion(QSize(1000, 500), 270, Flip::Vertical), QRect(0, 0, 64, 128));  // a transpose
        // The region read and turned equals the whole picture turned, for each format's path.
        QTemporaryDir dir;
        const QImage picture = nearThreshold(300, 200, QImage::Format_RGB32, 3);
        for (const QString &name : {QStringLiteral("p.png"), QStringLiteral("p.bmp")}) {
            const QString path = saved(dir, name, picture);
            for (int rotate : {0, 90, 180, 270})
                for (Flip flip : {Flip::None, Flip::Horizontal, Flip::Vertical}) {
                    ConversionOptions options;
                    options.prepare.rotate = rotate;
                    options.prepare.flip = flip;
                    const Conversion fromFile = convertPicture(PictureSource::file(path), options);
                    QVERIFY(fromFile.ok());
                    QCOMPARE(fromFile.images, QList<MonoImage>{convertImage(picture, options)});
                }
        }
    }


    // A half turn mirrored left to right is a top-to-bottom mirror, for every fit that shrinks
    // the picture while it is read: a picture far wider than the area shrinks the same either way.
    void halfTurnMirroredIsAFlip()
    {
        QTemporaryDir dir;
        QImage wide(2048, 512, QImage::Format_RGB32);  // waves, each pixel off them at random
        QRandomGenerator random(11);
        for (int y = 0; y < wide.height(); ++y)
            for (int x = 0; x < wide.width(); ++x) {
                const int v = qBound(0, 128 + int(90 * std::sin(x / 41.0 + y / 13.0)) + int(random.bounded(-40, 41)), 255);
                wide.setPixel(x, y, qRgb(v, v, v));
            }
        const QString path = saved(dir, QStringLiteral("wide.png"), wide);
        for (const Fit fit : {Fit::Contain, Fit::Cover, Fit::Stretch}) {
            ConversionOptions turned, flipped;
            turned.prepare.fit = flipped.prepare.fit = fit;
            turned.prepare.rotate = 180;
            turned.prepare.flip = Flip::Horizontal;
            flipped.prepare.flip = Flip::Vertical;
            const Conversion a = convertPicture(PictureSource::file(path), turned), b = convertPicture(PictureSource::file(path), flipped);
            QVERIFY(a.ok() && b.ok());
            QVERIFY(a.images.constFirst() != MonoImage{});
            QCOMPARE(a.images, b.images);
        }
    }

    void encoders()
    {
        QCOMPARE(identifierFrom("art/logo.png"), QStringLiteral("logo"));
        QCOMPARE(identifierFrom("9 lives.v2.jpg"), QStringLiteral("_9_lives_v2"));
        const MonoImage image = test::randomImage(11);
        const Layout &device = *findLayout("page-lsb");
        const QByteArray c = encodeImage(image, Format::C, device, "logo");
        QVERIFY(c.contains("#define LOGO_WIDTH 128\n#define LOGO_HEIGHT 64\n"));
        QVERIFY(c.contains("const uint8_t logo[1024] = {\n    0x"));
        QCOMPARE(c.count("0x"), 1024);
        QCOMPARE(c.count(",\n"), 63);  // 64 lines of 16, the last without a comma
        // XBM's 12 to a line leave 4 on the last, which still ends its line before the brace.
        const QByteArray xbm = encodeImage(image, Format::Xbm, device, "x");
        QCOMPARE(xbm.count(",\n"), 85);
        QVERIFY(c.endsWith("\n};\n") && xbm.endsWith("\n};\n"));
        const QByteArray hex = encodeImage(image, Format::Hex, device, "x");
        QCOMPARE(QByteArray::fromHex(hex), device.pack(image));
        QCOMPARE(hex.count('\n'), 64);
        // PBM, XBM and PNG read back by Qt's own readers and converted give the image again.
        for (Format format : {Format::Pbm, Format::Xbm, Format::Png}) {
            const QImage decoded = QImage::fromData(encodeImage(image, format, device, "x"));
            QCOMPARE(decoded.size(), QSize(128, 64));
            if (format == Format::Png)  // 100 dpi both ways, screen or none, in both programs
                QVERIFY(decoded.dotsPerMeterX() == 3937 && decoded.dotsPerMeterY() == 3937);
            QCOMPARE(convertImage(decoded, {}), image);
        }
        const QString drawing = halfBlocks(imageWith({{0, 0}, {1, 1}, {2, 0}, {2, 1}}));
        QCOMPARE(drawing.count('\n'), 32);
        QCOMPARE(drawing.left(4), QString::fromUtf8("▀▄█ "));
        QCOMPARE(drawing.indexOf('\n'), 128);
    }


    void previewRoundTrips()
    {
        // preview(convert(x)) shows x's black and white; converting the preview gives the image back.
        for (quint32 seed : {1u, 2u, 3u}) {
            const MonoImage image = test::randomImage(seed);
            QCOMPARE(convertImage(QImage::fromData(encodePng(previewImage(image))), {}), image);
            const QImage big = previewImage(image, 3);
            QCOMPARE(big.size(), QSize(384, 192));
            QCOMPARE(big.pixel(3 * 9 + 2, 3 * 1 + 2), previewImage(image).pixel(9, 1));
        }
        const QImage picture = nearThreshold(128, 64, QImage::Format_RGB32, 5);
        const QImage shown = previewImage(convertImage(picture, {}));
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                const QRgb p = picture.pixel(x, y);
                QCOMPARE(shown.pixel(x, y) == qRgb(255, 255, 255), luminance(qRed(p), qGreen(p), qBlue(p)) > 128);
            }
    }


    // The conversion with no options is the window's: its corner loader, composeSurface over its
    // background and convertSurface, for every kind of picture.
    void defaultEqualsWindow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QImage>("picture");
        auto solid = [](QColor c) { return test::solidImage(40, 30, c); };
        QTest::newRow("grey 128 black") << "g128.png" << solid(QColor(128, 128, 128));
        QTest::newRow("grey 129 white") << "g129.bmp" << solid(QColor(129, 129, 129));
        QTest::newRow("sum 12899") << "s12899.png" << solid(QColor(0, 175, 234));
        QTest::newRow("sum 12900") << "s12900.png" << solid(QColor(0, 178, 218));
        QTest::newRow("noise jpeg") << "n.jpg" << nearThreshold(300, 200, QImage::Format_RGB32, 1);
        QTest::newRow("alpha png") << "a.png" << nearThreshold(100, 90, QImage::Format_ARGB32, 2);
        QImage clear(10, 10, QImage::Format_ARGB32);
        clear.fill(Qt::transparent);
        QTest::newRow("transparent") << "t.png" << clear;
        QTest::newRow("palette png") << "p.png" << nearThreshold(150, 70, QImage::Format_RGB32, 3).convertToFormat(QImage::Format_Indexed8);
        QTest::newRow("palette bmp") << "p.bmp" << nearThreshold(150, 70, QImage::Format_RGB32, 4).convertToFormat(QImage::Format_Indexed8);
        QTest::newRow("grey png") << "gr.png" << nearThreshold(130, 65, QImage::Format_RGB32, 5).convertToFormat(QImage::Format_Grayscale8);
        QTest::newRow("16-bit png") << "w.png" << nearThreshold(130, 65, QImage::Format_RGBA64, 6);
        QTest::newRow("tiny 1x1") << "one.png" << solid(Qt::black).copy(0, 0, 1, 1);
        QTest::newRow("tiny 3x2 jpeg") << "t.jpg" << solid(Qt::black).copy(0, 0, 3, 2);
        QTest::newRow("huge jpeg") << "h.jpg" << nearThreshold(4000, 3000, QImage::Format_RGB32, 7);
        QTest::newRow("huge png") << "h.png" << nearThreshold(4000, 3000, QImage::Format_ARGB32, 8);
        QTest::newRow("webp") << "x.webp" << nearThreshold(200, 100, QImage::Format_RGB32, 9);
        QTest::newRow("tiff") << "x.tif" << nearThreshold(200, 100, QImage::Format_ARGB32, 10);
    }
    void defaultEqualsWindow()
    {
        QFETCH(QString, name);
        QFETCH(QImage, picture);
        QTemporaryDir dir;
        const QString path = saved(dir, name, picture);
        if (path.isEmpty())
            QSKIP("no writer for this format here");
        QImage surface = composeSurface(readPictureCorner(path, QSize(128, 64)), QColor(0xef, 0xef, 0xef));
        MonoImage window{};
        convertSurface(surface, window);
        QCOMPARE(convertPicture(PictureSource::file(path), {}).images, QList<MonoImage>{window});
    }

    // Each tone by hand: brightness adds b% of 255, contrast scales around 127.5 by
    // (100 + c) / (100 - c) or (100 + c) / 100, gamma is 255 (v / 255)^(1 / g); rounded, clamped.
    void toneGoldens_data()
    {
        QTest::addColumn<int>("brightness");
        QTest::addColumn<int>("contrast");
        QTest::addColumn<double>("gamma");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expected");
        const struct {
            const char *name;
            int brightness = 0, contrast = 0;
            double gamma = 1.0;
            int value, expected;
        } rows[] = {
            {.name = "brightness 50 of 0", .brightness = 50, .value = 0, .expected = 128},  // 127.5
            {.name = "brightness 50 clamps", .brightness = 50, .value = 200, .expected = 255},
            {.name = "brightness -100", .brightness = -100, .value = 255, .expected = 0},
            {.name = "contrast 50 spreads", .contrast = 50, .value = 100, .expected = 45},  // (100 - 127.5) 3 + 127.5
            {.name = "contrast 50, above", .contrast = 50, .value = 140, .expected = 165},
            {.name = "contrast -50 narrows", .contrast = -50, .value = 0, .expected = 64},    // 63.75
            {.name = "contrast -50, top", .contrast = -50, .value = 255, .expected = 191},   // 191.25
            {.name = "gamma 2 lightens", .gamma = 2.0, .value = 64, .expected = 128},        // 127.75
            {.name = "gamma 0.5 darkens", .gamma = 0.5, .value = 128, .expected = 64},       // 64.25
            // 125.5 -> 126, (126 - 127.5) 1.5 + 127.5
            {.name = "brightness then contrast", .brightness = 10, .contrast = 20, .value = 100, .expected = 125},
            {.name = "defaults change nothing", .value = 77, .expected = 77},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << r.brightness << r.contrast << r.gamma << r.value << r.expected;
    }
    void toneGoldens()
    {
        QFETCH(int, brightness);
        QFETCH(int, contrast);
        QFETCH(double, gamma);
        QFETCH(int, value);
        QFETCH(int, expected);
        const Tone tone{brightness, contrast, gamma};
        QCOMPARE(tone.apply(value), expected);
        // Every colour channel of every pixel alike, once each, alpha kept.
        QImage pixels(3, 3, QImage::Format_ARGB32);
        pixels.fill(qRgba(value, value, value, 200));
        const QImage toned = applyTone(pixels, tone);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                QCOMPARE(toned.pixel(x, y), qRgba(expected, expected, expected, 200));
    }

    // The tone changes the picture, never the background around it.
    void toneLeavesTheBackground()
    {
        ConversionOptions darker;
        darker.prepare.tone.brightness = -100;
        const Pixels white = whitePixels(convertImage(test::solidImage(20, 10, Qt::white), darker));
        QCOMPARE(white.size(), kImageWidth * kImageHeight - 20 * 10);  // #efefef around it stays white
        QVERIFY(!white.contains(QPoint(0, 0)) && white.contains(QPoint(20, 0)) && white.contains(QPoint(0, 10)));
        darker.prepare.fit = Fit::Contain;
        darker.prepare.background = Qt::white;
        QCOMPARE(whitePixels(convertImage(test::solidImage(64, 64, Qt::white), darker)).size(), kImageWidth * kImageHeight - 64 * 64);
        // Scaled up first, then toned: a square of 32 grows to 64, in the middle.
        const Pixels around = whitePixels(convertImage(test::solidImage(32, 32, Qt::white), darker));
        QCOMPARE(around.size(), kImageWidth * kImageHeight - 64 * 64);
        QVERIFY(around.contains(QPoint(0, 0)) && !around.contains(QPoint(64, 32)) && !around.contains(QPoint(32, 63)));
    }

    // Every frame of an animation, each as the still path would convert a picture of it; a
    // picture that does not animate is one frame (a TIFF once gave frames without end); an
    // animation too large as a whole is refused before its first frame.
    void framesOneByOne()
    {
        QTemporaryDir dir;
        const QList<QImage> frames{nearThreshold(300, 150, QImage::Format_RGB32, 1), test::solidImage(300, 150, Qt::black),
                                   nearThreshold(300, 150, QImage::Format_RGB32, 2)};
        const QString anim = dir.filePath("anim.gif");
        QVERIFY(test::writeFile(anim, test::animatedGif(frames)));
        for (Fit fit : {Fit::Crop, Fit::Contain, Fit::Stretch}) {
            ConversionOptions options;
            options.prepare.fit = fit;
            options.prepare.rotate = fit == Fit::Stretch ? 90 : 0;
            const Conversion all = convertPicture(PictureSource::file(anim), options, true);
            QVERIFY(all.ok());
            QCOMPARE(all.images.size(), 3);
            for (int k = 0; k < 3; ++k) {
                const QString still = dir.filePath(QStringLiteral("still%1.gif").arg(k));
                QVERIFY(test::writeFile(still, test::animatedGif({frames[k]})));
                QCOMPARE(all.images[k], convertPicture(PictureSource::file(still), options).images.value(0));
            }
        }
        const QString tiff = saved(dir, "one.tif", nearThreshold(100, 50, QImage::Format_RGB32, 3));
        QVERIFY(!tiff.isEmpty());
        QCOMPARE(convertPicture(PictureSource::file(tiff), {}, true).images.size(), 1);

        const QString huge = dir.filePath("huge.gif");
        QVERIFY(test::writeFile(huge, test::animatedGif(QList<QImage>(40, test::solidImage(8, 8, Qt::white)), QSize(1000, 1000))));
        const Conversion refused = convertPicture(PictureSource::file(huge), {}, true);
        QCOMPARE(refused.failure.error, LoadError::TooLarge);
        QCOMPARE(loadErrorText(refused.failure), QStringLiteral("too large to decode safely (40 frames of 1000 × 1000 GIF)"));
        QVERIFY(convertPicture(PictureSource::file(huge), {}).ok());  // its first frame alone is fine
    }
};

QTEST_MAIN(TstConversion)
#include "tst_conversion.moc"
