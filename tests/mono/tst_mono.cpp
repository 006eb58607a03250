// The working image, the conversion and the files that hold it.
#include "common/testsupport.h"
#include "mono/files.h"
#include "mono/monoimage.h"
#include "mono/settingsfile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

using pw::MonoImage;

namespace {

// The device's layout, written out independently of the conversion's loops.
bool bitAt(const MonoImage &image, int x, int y)
{
    const int byteIndex = (y / 8) * 128 + x;
    return (image[static_cast<std::size_t>(byteIndex)] >> (y % 8)) & 1;
}

MonoImage convert(QImage surface)
{
    MonoImage out{};
    out.fill(0xAA);  // nothing of this may survive
    pw::convertSurface(surface, out);
    return out;
}

MonoImage filled(std::uint8_t value)
{
    MonoImage image;
    image.fill(value);
    return image;
}

}  // namespace

class TstMono : public QObject {
    Q_OBJECT
private slots:
    void uniformColours_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("expected");
        QTest::newRow("grey 128 is black") << QColor(128, 128, 128) << 0x00;
        QTest::newRow("grey 129 is white") << QColor(129, 129, 129) << 0xFF;
        QTest::newRow("sum 12899 truncates to 128") << QColor(0, 175, 234) << 0x00;
        QTest::newRow("sum 12900 is 129") << QColor(0, 178, 218) << 0xFF;
        QTest::newRow("red") << QColor(255, 0, 0) << 0x00;
        QTest::newRow("blue") << QColor(0, 0, 255) << 0x00;
        QTest::newRow("magenta") << QColor(255, 0, 255) << 0x00;
        QTest::newRow("green") << QColor(0, 255, 0) << 0xFF;
        QTest::newRow("yellow") << QColor(255, 255, 0) << 0xFF;
        QTest::newRow("cyan") << QColor(0, 255, 255) << 0xFF;
        QTest::newRow("white") << QColor(255, 255, 255) << 0xFF;
        QTest::newRow("black") << QColor(0, 0, 0) << 0x00;
    }
    void uniformColours()
    {
        QFETCH(QColor, colour);
        QFETCH(int, expected);
        QCOMPARE(convert(pw::test::solidImage(128, 64, colour)), filled(static_cast<std::uint8_t>(expected)));
    }

    // White pixels on black: (x, y) or a whole row as (-1, y); the bytes that must be set.
    void pixelPlacement_data()
    {
        QTest::addColumn<QList<QPoint>>("white");
        QTest::addColumn<QList<QPoint>>("bytes");  // (index, value), all others zero
        auto row = [](int index0, int value) {
            QList<QPoint> bytes;
            for (int i = 0; i < 128; ++i)
                bytes << QPoint(index0 + i, value);
            return bytes;
        };
        QTest::newRow("(5,10)") << QList<QPoint>{{5, 10}} << QList<QPoint>{{133, 0x04}};
        QTest::newRow("top-left") << QList<QPoint>{{0, 0}} << QList<QPoint>{{0, 0x01}};
        QTest::newRow("bottom-right") << QList<QPoint>{{127, 63}} << QList<QPoint>{{1023, 0x80}};
        QTest::newRow("band 2 ends") << QList<QPoint>{{3, 16}, {3, 23}} << QList<QPoint>{{259, 0x81}};
        QTest::newRow("row 0") << QList<QPoint>{{-1, 0}} << row(0, 0x01);
        QTest::newRow("row 63") << QList<QPoint>{{-1, 63}} << row(896, 0x80);
    }
    void pixelPlacement()
    {
        QFETCH(QList<QPoint>, white);
        QFETCH(QList<QPoint>, bytes);
        QImage surface = pw::test::solidImage(128, 64, Qt::black);
        for (const QPoint &p : white)
            for (int x = p.x() < 0 ? 0 : p.x(); x <= (p.x() < 0 ? 127 : p.x()); ++x)
                surface.setPixel(x, p.y(), qRgb(255, 255, 255));
        MonoImage expected{};
        for (const QPoint &b : bytes)
            expected[static_cast<std::size_t>(b.x())] = static_cast<std::uint8_t>(b.y());
        QCOMPARE(convert(surface), expected);
    }

    // A noisy picture: every bit follows its pixel, and the surface is painted black and white
    // to match, so what the area shows is what the device gets.
    void noiseMatchesLayoutAndPaint()
    {
        QImage surface(128, 64, QImage::Format_RGB32);
        QRandomGenerator rng(1234);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x)
                surface.setPixel(x, y, qRgb(rng.bounded(256), rng.bounded(256), rng.bounded(256)));
        const QImage original = surface;
        QList<int> bands;
        MonoImage out{};
        pw::convertSurface(surface, out, [&](int band) { bands << band; });
        QCOMPARE(bands, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 128; ++x) {
                const QRgb c = original.pixel(x, y);
                const bool white = (30 * qRed(c) + 59 * qGreen(c) + 11 * qBlue(c)) / 100 > 128;
                QCOMPARE(bitAt(out, x, y), white);
                QCOMPARE(surface.pixel(x, y) & 0xFFFFFFu, white ? 0xFFFFFFu : 0u);
            }
        // Converting the painted result again gives the same bytes.
        MonoImage again{};
        pw::convertSurface(surface, again);
        QCOMPARE(again, out);
        QCOMPARE(pw::renderMonoImage(out), surface.convertToFormat(QImage::Format_RGB32));
    }

    void binRoundTripAndLengths_data()
    {
        QTest::addColumn<int>("fileLength");
        QTest::newRow("exact") << 1024;
        QTest::newRow("empty") << 0;
        QTest::newRow("short") << 300;
        QTest::newRow("long") << 5000;
    }
    void binRoundTripAndLengths()
    {
        QFETCH(int, fileLength);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.bin"));
        QByteArray bytes(fileLength, '\0');
        for (int i = 0; i < fileLength; ++i)
            bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        QVERIFY(pw::test::writeFile(path, bytes));
        MonoImage image = filled(0x5A);  // a previous image
        QVERIFY(pw::readBinFile(path, image));
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(int(image[static_cast<std::size_t>(i)]), i < fileLength ? int(quint8(bytes[i])) : 0);

        const QString out = dir.filePath(QStringLiteral("y.BIN"));
        QVERIFY(pw::writeBinFile(out, image));
        QCOMPARE(pw::test::readFile(out), QByteArray(reinterpret_cast<const char *>(image.data()), 1024));
    }

    void binFailuresLeaveThingsAlone()
    {
        QTemporaryDir dir;
        MonoImage image = filled(0x33);
        QVERIFY(!pw::readBinFile(dir.filePath(QStringLiteral("missing.bin")), image));
        QVERIFY(!pw::readBinFile(dir.path(), image));  // a folder is not a file
        QCOMPARE(image, filled(0x33));

        QVERIFY(!pw::writeBinFile(dir.filePath(QStringLiteral("no/such/folder.bin")), image));
    }

    void settingsRecord()
    {
        QCOMPARE(pw::formatSettingsRecord(QStringLiteral("3"), QStringLiteral("1")),
                 QByteArray::fromHex("2233222C2231220D0A"));
        QCOMPARE(pw::formatSettingsRecord(QStringLiteral("5"), QStringLiteral("16")), QByteArray("\"5\",\"16\"\r\n"));
    }

    void settingsValues_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("record") << QByteArray("\"3\",\"1\"\r\n") << QStringList{"3", "1"};
        QTest::newRow("hand-written") << QByteArray("3,1") << QStringList{"3", "1"};
        QTest::newRow("blanks") << QByteArray("  4 ,  12\n") << QStringList{"4", "12"};
        QTest::newRow("line end separates") << QByteArray("2\r\n7\r\n") << QStringList{"2", "7"};
        QTest::newRow("comma inside quotes") << QByteArray("\"1,2\",\"3\"") << QStringList{"1,2", "3"};
        QTest::newRow("only two taken") << QByteArray("1,2,3") << QStringList{"1", "2"};
        QTest::newRow("one value") << QByteArray("\"5\"\r\n") << QStringList{"5"};
        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("not a port") << QByteArray("\"3\",\"COM1\"") << QStringList{"3", "COM1"};
        QTest::newRow("unterminated quote") << QByteArray("\"3") << QStringList{"3"};
    }
    void settingsValues()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, values);
        QCOMPARE(pw::parseSettingsValues(content), values);
    }
};

QTEST_MAIN(TstMono)
#include "tst_mono.moc"
