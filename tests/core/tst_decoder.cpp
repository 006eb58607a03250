// Picture decoding: only the corner the area shows is read, in bounded time and memory.
#include "common/testfiles.h"
#include "core/picturedecoder.h"

#include <QtTest>

#include <sys/resource.h>

using namespace pw;
using namespace pw::test;

class TstDecoder : public QObject {
    Q_OBJECT
private slots:
    void largePictures()
    {
        // 20000 x 20000 (1.6 GB decoded whole): grey 128, the first 8 x 8 at 192; past its header the JPEG's DC never changes.
        QTemporaryDir dir;
        QImage png(20000, 20000, QImage::Format_Mono);
        png.setColorTable({qRgb(128, 128, 128), qRgb(192, 192, 192)});
        png.fill(0);
        for (int y = 0; y < 8; ++y)
            png.scanLine(y)[0] = 0xFF;
        const QByteArray header = "ffd8ffdb00430008" + QByteArray("01").repeated(63) + "ffc0000b084e204e2001011100ffc40015000101"
                                  + QByteArray("00").repeated(14) + "0007ffc400141001" + QByteArray("00").repeated(16) + "ffda0008010100003f00a027e0";
        QVERIFY(png.save(dir.filePath("big.png")) && writeFile(dir.filePath("big.jpg"), QByteArray::fromHex(header) + QByteArray(2500 * 2500 / 4 - 3, '\0') + "\xFF\xD9"));
        const auto peakKb = [] { rusage r{}; getrusage(RUSAGE_SELF, &r); return r.ru_maxrss; };
        for (const char *name : {"big.png", "big.jpg"}) {
            const long before = peakKb();
            const QDeadlineTimer deadline(500);  // reading every row takes about 1 s
            const QImage corner = readPictureCorner(dir.filePath(name), QSize(128, 64));
            QVERIFY2(!deadline.hasExpired() && peakKb() - before < 100 * 1024, name);
            QCOMPARE(corner.convertToFormat(QImage::Format_RGB32), png.copy(0, 0, 128, 64).convertToFormat(QImage::Format_RGB32));
        }
    }
};

QTEST_GUILESS_MAIN(TstDecoder)
#include "tst_decoder.moc"
