// The working image, the conversion and the BIN file.
#include "common/testfiles.h"
#include "core/convert/conversion.h"
#include "core/storage/files.h"
#include "core/image/bmpencoder.h"
#include "core/image/monoimage.h"
#include "core/storage/outputfile.h"
#include "core/storage/settingsfile.h"
#include "core/link/transfer.h"
#include "common/fakeport.h"

#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <QBuffer>

#ifdef Q_OS_LINUX
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using pw::MonoImage;

namespace {

MonoImage filled(std::uint8_t value)
{
    MonoImage image;
    image.fill(value);
    return image;
}

}  // namespace

class TstMonoImage : public QObject {
    Q_OBJECT
private slots:
    // The bars that a fit leaves and the picture's fully transparent parts are the background
    // alone: plain black or white by the threshold, whatever the dither. No error crosses into
    // or out of them, so the picture's own dots do not depend on the background's colour.
    void barsAndTransparencyTakeTheThresholdAlone()
    {
        using namespace pw;
        // 400 x 100 contained: the picture in rows 16-47; a copy with a transparent hole that
        // lands in columns 48-79 (its edges blend, so only 50-78 are the background alone).
        QImage opaque(400, 100, QImage::Format_ARGB32);
        QRandomGenerator random(5);
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 400; ++x)
                opaque.setPixel(x, y, qRgb(int(random.bounded(40, 220)), 128, (x + y) % 256));
        QImage holed = opaque;
        holed.fill(Qt::transparent);
        QPainter(&holed).drawImage(QRect(0, 0, 150, 100), opaque, QRect(0, 0, 150, 100));
        QPainter(&holed).drawImage(QRect(250, 0, 150, 100), opaque, QRect(250, 0, 150, 100));
        const auto flat = [](int x, int y) { return y < 16 || y >= 48 || (x >= 50 && x <= 78); };
        for (Dither dither : {Dither::None, Dither::FloydSteinberg, Dither::Atkinson, Dither::Bayer4, Dither::Bayer8}) {
            MonoImage first{};
            for (const QColor background : {PrepareOptions::defaultBackground(), QColor(Qt::black), QColor(128, 128, 128), QColor(129, 129, 129)}) {
                ConversionOptions options;
                options.prepare.fit = Fit::Contain;
                options.prepare.background = background;
                options.threshold.dither = dither;
                const MonoImage withHole = *convertLoaded(holed, options), mono = *convertLoaded(opaque, options);
                const bool plain = luminance(background.red(), background.green(), background.blue()) > 128;
                int wrong = 0, moved = 0, differs = 0;
                const MonoImage whole = *pw::threshold(prepareSurface(opaque, options.prepare), options.threshold);
                for (int y = 0; y < kImageHeight; ++y)
                    for (int x = 0; x < kImageWidth; ++x) {
                        wrong += flat(x, y) && (pixelAt(withHole, x, y) != plain || ((y < 16 || y >= 48) && pixelAt(mono, x, y) != plain));
                        moved += first != MonoImage{} && pixelAt(mono, x, y) != pixelAt(first, x, y) && y >= 16 && y < 48;
                        differs += y >= 16 && y < 48 && pixelAt(mono, x, y) != pixelAt(whole, x, y);
                    }
                QVERIFY2(wrong == 0 && moved == 0, qPrintable(QStringLiteral("%1 %2: %3 in the background, %4 moved").arg(ditherName(dither), background.name()).arg(wrong).arg(moved)));
                if (dither == Dither::None || dither == Dither::Bayer4 || dither == Dither::Bayer8)
                    QCOMPARE(differs, 0);  // the picture's pattern as ever
                if (first == MonoImage{})
                    first = mono;
            }
        }
    }

    void threshold_data()
    {
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("expected");
        QTest::newRow("grey 128 is black") << QColor(128, 128, 128) << 0x00;
        QTest::newRow("grey 129 is white") << QColor(129, 129, 129) << 0xFF;
        QTest::newRow("sum 12899 truncates to 128") << QColor(0, 175, 234) << 0x00;
        QTest::newRow("sum 12900 is 129") << QColor(0, 178, 218) << 0xFF;
        QTest::newRow("red 76") << QColor(255, 0, 0) << 0x00;
        QTest::newRow("magenta 104") << QColor(255, 0, 255) << 0x00;
        QTest::newRow("green 150") << QColor(0, 255, 0) << 0xFF;
        QTest::newRow("cyan 178") << QColor(0, 255, 255) << 0xFF;
    }
    void threshold()
    {
        QFETCH(QColor, colour);
        QFETCH(int, expected);
        QImage surface = pw::test::solidImage(128, 64, colour);
        MonoImage out = filled(0xAA);
        pw::convertSurface(surface, out);
        QCOMPARE(out, filled(static_cast<std::uint8_t>(expected)));
    }

    // Every bit follows its pixel by the device's layout (written out here independently of
    // the conversion's loops), and the surface is painted to match.
    void layoutAndPaint()
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
                QCOMPARE(bool((out[std::size_t((y / 8) * 128 + x)] >> (y % 8)) & 1), white);
                QCOMPARE(surface.pixel(x, y), white ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
            }
        MonoImage again{};
        pw::convertSurface(surface, again);
        QCOMPARE(again, out);

        QImage one = pw::test::solidImage(128, 64, Qt::black);
        one.setPixel(5, 10, qRgb(255, 255, 255));
        MonoImage expected{};
        expected[133] = 0x04;
        pw::convertSurface(one, out);
        QCOMPARE(out, expected);
    }

    void binFiles_data()
    {
        QTest::addColumn<int>("fileLength");
        QTest::newRow("exact") << 1024;
        QTest::newRow("empty") << 0;
        QTest::newRow("short") << 300;
        QTest::newRow("long") << 5000;
    }
    void binFiles()
    {
        QFETCH(int, fileLength);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.bin"));
        QByteArray bytes(fileLength, '\0');
        for (int i = 0; i < fileLength; ++i)
            bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
        QVERIFY(pw::test::writeFile(path, bytes));
        MonoImage image = filled(0x5A);  // a previous image: nothing of it may survive
        QVERIFY(pw::readBinFile(path, image));
        for (int i = 0; i < 1024; ++i)
            QCOMPARE(int(image[std::size_t(i)]), i < fileLength ? int(quint8(bytes[i])) : 0);
        QVERIFY(pw::writeBinFile(path, image));
        QCOMPARE(pw::test::readFile(path), QByteArray(reinterpret_cast<const char *>(image.data()), 1024));

        MonoImage untouched = filled(0x33);
        QVERIFY(!pw::readBinFile(dir.filePath(QStringLiteral("missing.bin")), untouched));
        QVERIFY(!pw::readBinFile(dir.path(), untouched));
        QCOMPARE(untouched, filled(0x33));
        QVERIFY(!pw::writeBinFile(dir.filePath(QStringLiteral("no/such/folder.bin")), untouched));
    }

    // A full disk: every atomic writer fails, keeps the old file and leaves no temporary file.
    void fullDiskKeepsOldFiles()
    {
#ifdef Q_OS_LINUX
        QTemporaryDir dir;
        const QByteArray root = QFile::encodeName(dir.path());
        // A 64 KiB filesystem of our own, seen by this process only.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", root.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no private mount namespace (needs root)");
        const auto path = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
        const struct { const char *name; std::function<bool(const QString &)> write; } writers[] = {
            {"x.bin", [](const QString &p) { return pw::writeBinFile(p, filled(0x77)); }},
            {"parameterv12864.ini", [](const QString &p) { return pw::writeSettingsFile({p, "2", "5"}); }},
            // Larger than the writer's buffer: this one failed correctly before.
            {"x.bmp", [](const QString &p) { return pw::writeFileAtomically(p, QByteArray(30000, 'B')); }},
        };
        for (const auto &w : writers)
            QVERIFY(pw::test::writeFile(path(w.name), QByteArray("old ") + w.name));
        QVERIFY(pw::test::writeFile(path("other.bin"), "old"));
        {
            QFile fill(path("fill"));
            QVERIFY(fill.open(QIODevice::WriteOnly));
            while (fill.write(QByteArray(4096, 'f')) > 0 && fill.flush()) {
            }
        }
        for (const auto &w : writers) {
            QVERIFY2(!w.write(path(w.name)), w.name);
            QCOMPARE(pw::test::readFile(path(w.name)), QByteArray("old ") + w.name);
        }
        QCOMPARE(pw::writeErrorText(pw::writeOutputFile(path("other.bin"), QByteArray(30000, 'x'))), QStringLiteral("no space left on the disk"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 5);
        ::umount2(root.constData(), MNT_DETACH);
#else
        QSKIP("Linux only");
#endif
    }

    // A replaced file keeps its permissions and its links; what a killed run left behind is
    // removed by the next write into the folder, what a running one writes is not.
    void writerKeepsModesLinksAndCleansUp()
    {
#ifdef Q_OS_LINUX
        QTemporaryDir dir;
        const QString file = dir.filePath("x.bin"), link = dir.filePath("link.bin");
        const pid_t dead = ::fork();
        if (dead == 0)
            ::_exit(0);
        QCOMPARE(::waitpid(dead, nullptr, 0), dead);
        // Among other names, before and after them (folders list their names in any order).
        const QString stale = dir.filePath(QStringLiteral(".pixelwright-%1-1.tmp").arg(dead));
        const QString staleToo = dir.filePath(QStringLiteral(".pixelwright-%1-2.tmp").arg(dead));
        const QString running = dir.filePath(QStringLiteral(".pixelwright-%1-1.tmp").arg(::getppid()));
        QVERIFY(pw::test::writeFile(stale, "half"));
        QVERIFY(pw::test::writeFile(file, "old") && QFile::link(file, link));
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0640), 0);
        QVERIFY(pw::test::writeFile(running, "half") && pw::test::writeFile(staleToo, "half"));
        QVERIFY(pw::test::writeFile(dir.filePath("notes.txt"), "kept"));
        QStringList moreStale, moreRunning;  // enough of both that no listing order puts all of one first
        for (int k = 3; k < 19; ++k) {
            moreStale << dir.filePath(QStringLiteral(".pixelwright-%1-%2.tmp").arg(dead).arg(k));
            moreRunning << dir.filePath(QStringLiteral(".pixelwright-%1-%2.tmp").arg(::getppid()).arg(k));
            QVERIFY(pw::test::writeFile(moreStale.last(), "half") && pw::test::writeFile(moreRunning.last(), "half"));
        }
        QVERIFY(pw::writeOutputFile(link, "new").ok());
        QCOMPARE(pw::test::readFile(file), QByteArray("new"));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(QFile::permissions(file), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
        QVERIFY(!QFile::exists(stale) && !QFile::exists(staleToo) && QFile::exists(running));
        QVERIFY(std::none_of(moreStale.cbegin(), moreStale.cend(), [](const QString &f) { return QFile::exists(f); }));
        QVERIFY(std::all_of(moreRunning.cbegin(), moreRunning.cend(), [](const QString &f) { return QFile::exists(f); }));
        // The same bytes again: nothing replaced (no name made for it), only its time renewed.
        const pw::FileIdentity written = pw::fileIdentity(file);
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::ReadOnly) && old.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        }
        QVERIFY(pw::writeOutputFile(file, "new").ok());
        QVERIFY(pw::fileIdentity(file) == written);
        QVERIFY(QFileInfo(file).lastModified().secsTo(QDateTime::currentDateTime()) < 60);
        QVERIFY(pw::writeOutputFile(file, "newer").ok() && !(pw::fileIdentity(file) == written));
#else
        QSKIP("Linux only");
#endif
    }

    // The byte streams of the transfers, written out here by hand, and a command file sent a
    // piece at a time as the line takes it.
    void transferStreams()
    {
        MonoImage image{};
        for (int i = 0; i < pw::kImageBytes; ++i)
            image[std::size_t(i)] = std::uint8_t(i * 5 + i / 128);
        const QByteArray bytes(reinterpret_cast<const char *>(image.data()), pw::kImageBytes);
        QList<QByteArray> vram{QByteArray::fromHex("4454330d0a"), QByteArray::fromHex("5449")};  // "DT3" CR LF, "TI"
        QList<QByteArray> flash{QByteArray::fromHex("465331320d0a"), QByteArray::fromHex("5453")};  // "FS12" CR LF, "TS"
        for (int band = 0; band < 8; ++band) {
            vram << bytes.mid(128 * band, 128);
            flash << bytes.mid(128 * band, 128);
        }
        vram << QByteArray::fromHex("0d0a") << QByteArray::fromHex("44500d0a");  // CR LF, "DP" CR LF
        flash << QByteArray::fromHex("0d0a");
        QCOMPARE(pw::displayMemoryStream(image, 3).pieces(), vram);
        QCOMPARE(pw::flashPageStream(image, 12).pieces(), flash);

        QByteArray file = pw::test::bytePattern(1000);
        QBuffer source(&file);
        QVERIFY(source.open(QIODevice::ReadOnly));
        pw::test::FakePort port;
        QVERIFY(port.open());
        struct : pw::Waiter {
            bool pause() override { return true; }
        } waiter;
        QList<qint64> progress;
        QCOMPARE(pw::sendCommandBytes(port, waiter, source, [&](qint64 sent) { progress << sent; }), pw::Waiter::End::Reached);
        QCOMPARE(port.written(), file);
        QCOMPARE(port.chunks.size(), 11);  // ten of 96 bytes and the last 40
        QCOMPARE(progress.last(), 1000);
    }

    // The exported BMP says 96 dots per inch, whatever resolution the surface came with.
    void bmpSaysNinetySixDpi()
    {
        for (const int dotsPerMeter : {2835, 3780, 11811}) {
            QImage surface(128, 64, QImage::Format_ARGB32);
            surface.fill(Qt::white);
            surface.setDotsPerMeterX(dotsPerMeter);
            surface.setDotsPerMeterY(dotsPerMeter / 2);
            const QByteArray bmp = pw::encodeBmp(surface);
            QCOMPARE(bmp.mid(38, 8), QByteArray::fromHex("c40e0000c40e0000"));
        }
    }
};

QTEST_MAIN(TstMonoImage)
#include "tst_monoimage.moc"
