// Picture decoding: only the corner the area shows is read, and the shrunk whole picture for the
// command line, in bounded time and memory however large or hostile the file.
// The clipping image plugin below lives in this program, not in a plugin folder.
#define QT_STATICPLUGIN
#include "common/headerfields.h"
#include "common/pictures.h"
#include "common/testfiles.h"
#include "core/picture/decoding.h"
#include "core/picture/jpegheader.h"
#include "core/picture/pictureloader.h"

#include <QImageIOPlugin>
#include <QtEndian>
#include <QPainter>
#include <QImageWriter>
#include <QtTest>

#include <dlfcn.h>
#include <png.h>
#include <zlib.h>
#include <malloc.h>
#include <sys/resource.h>
#include <atomic>
#include <optional>
#include <thread>

using namespace pw;
using namespace pw::test;

// No two neighbours alike and alpha that varies, so a shifted, scaled or unweighted picture cannot pass.
static QImage pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGBA8888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 5 % 256, y * 9 % 256, (x + 2 * y) * 3 % 256, 255 - (x * 7 + y * 13) % 256));
    return image;
}

// What a plugin that decodes only the part asked of it would do, for a made-up format:
// "PWCLIP", then the width and the height as four bytes each; the pixels are pattern()'s.
// No installed plugin clips, so without this the clipped road would go untried.
class ClippingHandler : public QImageIOHandler {
public:
    static inline QList<QRect> asked;  // the clip each read was given (null: none)
    static QSize sizeIn(QIODevice *device)
    {
        const QByteArray head = device ? device->peek(14) : QByteArray();
        if (head.size() < 14 || !head.startsWith("PWCLIP"))
            return {};
        const auto number = [&head](int at) { return qFromBigEndian<qint32>(head.constData() + at); };
        return QSize(number(6), number(10));
    }
    bool canRead() const override { return sizeIn(device()).isValid(); }
    bool read(QImage *image) override
    {
        const QSize full = sizeIn(device());
        if (!full.isValid())
            return false;
        device()->read(14);
        asked << clip_;
        *image = pattern(full.width(), full.height()).copy(clip_.isNull() ? QRect(QPoint(0, 0), full) : clip_);
        return true;
    }
    bool supportsOption(ImageOption option) const override { return option == ClipRect || option == Size; }
    void setOption(ImageOption option, const QVariant &value) override
    {
        if (option == ClipRect)
            clip_ = value.toRect();
    }
    QVariant option(ImageOption option) const override { return option == Size ? QVariant(sizeIn(device())) : QVariant(); }

private:
    QRect clip_;
};

class ClippingPlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "pwclip.json")
public:
    Capabilities capabilities(QIODevice *device, const QByteArray &format) const override
    {
        return format == "pwclip" || ClippingHandler::sizeIn(device).isValid() ? CanRead : Capabilities();
    }
    QImageIOHandler *create(QIODevice *device, const QByteArray &format) const override
    {
        auto *handler = new ClippingHandler;
        handler->setDevice(device);
        handler->setFormat(format);
        return handler;
    }
};
Q_IMPORT_PLUGIN(ClippingPlugin)

static QByteArray clippedFile(const QSize &size)
{
    QByteArray bytes("PWCLIP");
    bytes.resize(14);
    qToBigEndian<qint32>(size.width(), bytes.data() + 6);
    qToBigEndian<qint32>(size.height(), bytes.data() + 10);
    return bytes;
}

// libpng's two allocations of a reader's state, made to fail once on request: these stand in
// front of the library's for the whole test program. (Memory cannot run out on demand.)
static QByteArray failingPngCall;
static int liveReadStructs = 0;  // made and not yet destroyed
template <typename Fn>
static Fn realPngCall(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}
extern "C" {
png_structp png_create_read_struct(png_const_charp version, png_voidp errorData, png_error_ptr onError, png_error_ptr onWarning)
{
    if (failingPngCall == "png_create_read_struct")
        return failingPngCall.clear(), nullptr;
    static const auto real = realPngCall<decltype(&png_create_read_struct)>("png_create_read_struct");
    png_structp made = real(version, errorData, onError, onWarning);
    liveReadStructs += made != nullptr;
    return made;
}
void png_destroy_read_struct(png_structpp png, png_infopp info, png_infopp endInfo)
{
    liveReadStructs -= png && *png;
    static const auto real = realPngCall<decltype(&png_destroy_read_struct)>("png_destroy_read_struct");
    real(png, info, endInfo);
}
png_infop png_create_info_struct(png_const_structrp png)
{
    if (failingPngCall == "png_create_info_struct")
        return failingPngCall.clear(), nullptr;
    static const auto real = realPngCall<decltype(&png_create_info_struct)>("png_create_info_struct");
    return real(png);
}
}

[[noreturn]] static void pngFail(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}

// An RGBA PNG through libpng's writer, Adam7 if asked (Qt writes none): `top` at the top-left,
// grey 128 over the rest of `size`, compressed as runs so that a huge one stays small.
static bool writePng(const QString &path, const QImage &top, const QSize &size, bool interlaced)
{
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFail, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_byte> grey(4 * static_cast<size_t>(size.width()), 128), row;
    for (size_t i = 3; i < grey.size(); i += 4)
        grey[i] = 255;
    const bool ok = !setjmp(png_jmpbuf(png));
    if (ok) {
        png_init_io(png, file);
        png_set_compression_strategy(png, 3);  // Z_RLE
        png_set_IHDR(png, info, size.width(), size.height(), 8, PNG_COLOR_TYPE_RGBA,
                     interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        const int passes = png_set_interlace_handling(png);
        for (int pass = 0; pass < passes; ++pass)
            for (int y = 0; y < size.height(); ++y) {
                row = grey;
                if (y < top.height())
                    std::memcpy(row.data(), top.constScanLine(y), 4 * static_cast<size_t>(top.width()));
                png_write_row(png, row.data());
            }
        png_write_end(png, nullptr);
    }
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return ok;
}

// An 8-bit grey PNG whose pixel data is cut off at once: all a reader has is its header.
static QByteArray cutPng(quint32 width, quint32 height)
{
    const auto chunk = [](const QByteArray &type, const QByteArray &body) {
        QByteArray out(4, '\0');
        qToBigEndian(quint32(body.size()), out.data());
        QByteArray crc(4, '\0');
        qToBigEndian(headerfields::crc32(type + body), crc.data());
        return out + type + body + crc;
    };
    QByteArray header(13, '\0');
    qToBigEndian(width, header.data()), qToBigEndian(height, header.data() + 4), header[8] = 8;
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", QByteArray("\x78\x01", 2)) + chunk("IEND", {});
}

// A grey baseline JPEG, one component, whose DC never changes past its header: `zeros` bytes
// of coded data (none: the decoder runs out at once and fills in).
static QByteArray greyJpeg(int width, int height, int zeros)
{
    const QByteArray size = QByteArray::number(height, 16).rightJustified(4, '0') + QByteArray::number(width, 16).rightJustified(4, '0');
    const QByteArray header = "ffd8ffdb00430008" + QByteArray("01").repeated(63) + "ffc0000b08" + size + "01011100ffc40015000101"
                              + QByteArray("00").repeated(14) + "0007ffc400141001" + QByteArray("00").repeated(16) + "ffda0008010100003f00a027e0";
    return QByteArray::fromHex(header) + QByteArray(zeros, '\0') + "\xFF\xD9";
}

// The whole picture shrunk while decoded, and its declared size.
static QImage readPictureReduced(const QString &path, const QSize &atLeast, QSize *full, QString *refusal = nullptr)
{
    PictureRequest request;
    request.part = PictureRequest::Part::Reduced;
    request.atLeast = atLeast;
    const LoadedPicture loaded = loadPicture(PictureSource::file(path), request);
    *full = loaded.fullSize;
    if (refusal)
        *refusal = loaded.ok() ? QString() : loadErrorText(loaded);
    return loaded.image;
}

static long peakKb()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss;
}

// Largest difference of any channel, alpha-weighted colours compared.
static int distance(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGBA8888_Premultiplied), y = b.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    int worst = x.size() == y.size() ? 0 : 256;
    for (int row = 0; worst < 256 && row < x.height(); ++row)
        for (int i = 0; i < 4 * x.width(); ++i)
            worst = std::max(worst, std::abs(x.constScanLine(row)[i] - y.constScanLine(row)[i]));
    return worst;
}

// Each block of `factor` x `factor` pixels averaged, the colours weighted by their alpha,
// the blocks at the edges over what is there: the reduction's own measure.
static QImage boxAverage(const QImage &picture, int factor)
{
    const QImage in = picture.convertToFormat(QImage::Format_ARGB32);
    QImage out((in.width() + factor - 1) / factor, (in.height() + factor - 1) / factor, QImage::Format_ARGB32);
    for (int by = 0; by < out.height(); ++by)
        for (int bx = 0; bx < out.width(); ++bx) {
            qint64 r = 0, g = 0, b = 0, a = 0, n = 0;
            for (int y = by * factor; y < std::min(in.height(), (by + 1) * factor); ++y)
                for (int x = bx * factor; x < std::min(in.width(), (bx + 1) * factor); ++x, ++n) {
                    const QRgb p = in.pixel(x, y);
                    r += qRed(p) * qAlpha(p), g += qGreen(p) * qAlpha(p), b += qBlue(p) * qAlpha(p), a += qAlpha(p);
                }
            out.setPixel(bx, by, a ? qRgba(int((r + a / 2) / a), int((g + a / 2) / a), int((b + a / 2) / a), int((a + n / 2) / n)) : 0);
        }
    return out;
}

class TstPictureLoader : public QObject {
    Q_OBJECT
private slots:
    void hostilePictures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("side");
        QTest::addColumn<QImage>("corner");  // null: refused
        QTest::addColumn<QSize>("reduced");  // the shrunk picture's size, at least 128 x 64; empty: refused
        QTest::addColumn<QString>("refusal");  // why the shrunk picture was refused
        // The peak only grows, so the refused rows go from the least to the most that a decoder
        // holding every coefficient would take (1.2 GB, 1.2 GB, 2.6 GB).
        const QImage grey = solidImage(128, 64, QColor(128, 128, 128));
        QImage marked = grey;  // the PNG's first 8 x 8 is lighter, and so is the JPEG's first block
        QPainter(&marked).fillRect(0, 0, 8, 8, QColor(192, 192, 192));
        QTest::newRow("PNG") << "png" << 20000 << marked << QSize(129, 129) << "";
        QTest::newRow("interlaced PNG, corner from its passes") << "png-i" << 12000 << pattern(128, 64) << QSize(130, 130) << "";
        QTest::newRow("baseline JPEG, shrunk by its decoder") << "jpg" << 20000 << marked << QSize(2500, 2500) << "";
        QTest::newRow("progressive JPEG within the limit") << "jpg-p" << 3000 << grey << QSize(375, 375) << "";
        // 4:2:0, so 6 blocks of 128 bytes for every 16 x 16 pixels: 8192 x 8192 holds 192 MB
        // of coefficients exactly, and a pixel more on each side is past it.
        QTest::newRow("progressive JPEG at the limit") << "jpg-p" << 8192 << grey << QSize(1024, 1024) << "";
        QTest::newRow("progressive JPEG a pixel past the limit") << "jpg-p" << 8193 << QImage() << QSize(0, 0) << "8193 × 8193 progressive JPEG";
        QTest::newRow("sequential JPEG, a scan per component") << "jpg-s" << 20000 << QImage() << QSize(0, 0) << "20000 × 20000 multi-scan JPEG";
        QTest::newRow("progressive JPEG, arithmetic coding") << "jpg-a" << 20000 << QImage() << QSize(0, 0) << "20000 × 20000 progressive JPEG";
        QTest::newRow("progressive JPEG 30000 x 30000") << "jpg-p" << 30000 << QImage() << QSize(0, 0) << "30000 × 30000 progressive JPEG";
        QTest::newRow("interlaced PNG whose corner comes after 3 GB") << "regress-interlaced-1bit-40000.png" << 40000 << QImage() << QSize(0, 0)
                                                                      << "40000 × 40000 interlaced PNG";
        // Refused by its header: the rows the whole picture inflates to are too many to go through.
        QTest::newRow("PNG header too large to read whole") << "png-header" << 25000 << QImage() << QSize(0, 0) << "25000 × 25000 PNG";
        QTest::newRow("BMP decoded whole beyond the limit") << "bmp" << 16000 << QImage() << QSize(0, 0) << "16000 × 16000 BMP";
        QTest::newRow("BMP beyond what Qt's reader will even size") << "bmp" << 30000 << QImage() << QSize(0, 0) << "30000 × 30000 BMP";
        QTest::newRow("GIF whose logical screen is 65535 x 65535") << "gif" << 65535 << QImage() << QSize(0, 0) << "65535 × 65535 GIF";
        QTest::newRow("PNG with a 360 MB text chunk") << "png-text" << 16 << solidImage(16, 16, QColor(128, 128, 128)) << QSize(16, 16) << "";
    }

    void hostilePictures()
    {
        QFETCH(QString, kind);
        QFETCH(int, side);
        QFETCH(QImage, corner);
        QFETCH(QSize, reduced);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        QString path = dir.filePath("picture");
        if (kind.startsWith("regress-")) {  // kept small in the fuzz corpus
            path = QFINDTESTDATA("../../fuzz/corpus/picture/" + kind);
            QVERIFY(!path.isEmpty());
        } else if (kind == "png") {
            QImage png(side, side, QImage::Format_Mono);
            png.setColorTable({qRgb(128, 128, 128), qRgb(192, 192, 192)});
            png.fill(0);
            for (int y = 0; y < 8; ++y)
                png.scanLine(y)[0] = 0xFF;
            QVERIFY(png.save(path, "png"));
        } else if (kind == "png-i") {
            QVERIFY(writePng(path, corner, QSize(side, side), true));
        } else if (kind == "jpg") {  // grey, one component; past its header the DC never changes
            QVERIFY(writeFile(path, greyJpeg(side, side, 2500 * 2500 / 4 - 3)));
        } else if (kind == "png-text") {  // libpng would hold the chunk whole; its bytes stay sparse on disk
            QByteArray png;
            QBuffer buffer(&png);
            QVERIFY(corner.save(&buffer, "png"));
            QFile file(path);
            const qint64 length = 360 << 20;
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(png.left(33)) == 33);
            QByteArray header(4, '\0');
            qToBigEndian(quint32(length), header.data());
            QVERIFY(file.write(header + "tEXt") == 8 && file.seek(file.pos() + length));
            uLong crc = crc32(0, reinterpret_cast<const Bytef *>("tEXt"), 4);
            const QByteArray zeros(1 << 20, '\0');
            for (qint64 done = 0; done < length; done += zeros.size())
                crc = crc32(crc, reinterpret_cast<const Bytef *>(zeros.constData()), uInt(zeros.size()));
            QByteArray tail(4, '\0');
            qToBigEndian(quint32(crc), tail.data());
            QVERIFY(file.write(tail + png.mid(33)) == png.size() - 29);
        } else if (kind == "png-header") {  // 8-bit grey, its pixel data cut off at once
            QVERIFY(writeFile(path, cutPng(quint32(side), quint32(side))));
        } else if (kind == "bmp") {  // a header alone: nothing past it is needed to be refused
            QVERIFY(writeFile(path, hostileBmp(side)));
        } else if (kind == "gif") {
            QVERIFY(writeFile(path, animatedGif({solidImage(16, 16, Qt::white)}, QSize(side, side))));
        } else {
            const QList<QByteArray> scans = kind == "jpg-s" ? QList<QByteArray>{"010100003f00", "010200003f00", "010300003f00"}
                                                            : QList<QByteArray>{"03010002000300000000", "010100013f00"};
            QVERIFY(writeFile(path, hostileJpeg(kind == "jpg-s" ? 0xC0 : kind == "jpg-a" ? 0xCA : 0xC2, side, scans)));
        }

        long before = peakKb();
        QElapsedTimer timer;
        timer.start();
        const QImage got = readPictureCorner(path, QSize(128, 64));
        // A bound against hanging, well above the second or so these take (the benchmark measures them).
        QVERIFY2(timer.elapsed() < 5000 && peakKb() - before < 300 * 1024,
                 qPrintable(QString("%1 ms, +%2 MB").arg(timer.elapsed()).arg((peakKb() - before) / 1024)));
        if (corner.isNull())
            QVERIFY(got.isNull());
        else
            QCOMPARE(got.convertToFormat(QImage::Format_ARGB32), corner.convertToFormat(QImage::Format_ARGB32));

        before = peakKb();
        QSize full;
        QString why;
        const QImage shrunk = readPictureReduced(path, QSize(128, 64), &full, &why);
        QVERIFY2(peakKb() - before < 100 * 1024, qPrintable(QString("+%1 MB").arg((peakKb() - before) / 1024)));
        QCOMPARE(full, QSize(side, side));
        QCOMPARE(shrunk.size(), reduced);
        QCOMPARE(why, refusal.isEmpty() ? QString() : "too large to decode safely (" + refusal + ")");
        if (!reduced.isEmpty())  // below the marked top-left every block averages to the grey
            QCOMPARE(shrunk.pixel(reduced.width() - 1, reduced.height() - 1), qRgb(128, 128, 128));
    }

    // The bounds on what a corner costs hold to the unit: a file exactly at one is read (these
    // are cut off, so they end as damaged), and one row more is refused by its header.
    void cornerBoundsAreExact_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QSize>("corner");
        QTest::addColumn<QString>("refusal");
        // Each row inflates 1 + 819 bytes and turns 819 pixels into RGBA: 4096 units, and
        // 156250 rows of them are the bound of 640 million.
        const QByteArray png = cutPng(819, 200000);
        QTest::newRow("PNG rows at the bound") << png << QSize(1, 156250) << "";
        QTest::newRow("PNG a row past it") << png << QSize(1, 156251) << "819 × 200000 PNG";
        // Every row above the corner is decoded: a billion pixels at most.
        const QByteArray jpeg = greyJpeg(50000, 20001, 0);
        QTest::newRow("JPEG rows at the bound") << jpeg << QSize(1, 20000) << "";
        QTest::newRow("JPEG a row past it") << jpeg << QSize(1, 20001) << "50000 × 20001 JPEG";
    }
    void cornerBoundsAreExact()
    {
        QFETCH(QByteArray, file);
        QFETCH(QSize, corner);
        QFETCH(QString, refusal);
        const LoadedPicture loaded = loadPicture(PictureSource::memory(file), PictureRequest::corner(corner));
        const QString why = loaded.ok() ? QString() : loadErrorText(loaded);
        if (refusal.isEmpty())
            QVERIFY2(!why.startsWith("too large"), qPrintable(why));
        else
            QCOMPARE(why, "too large to decode safely (" + refusal + ")");
    }

    // A PNG whose reader's state cannot be allocated is refused, never given as an empty
    // picture, and what was allocated is given back; the next read, with memory back, succeeds.
    void pngReaderWithoutMemory()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("small.png");
        QVERIFY(pattern(16, 8).save(path, "png"));
        for (const QByteArray call : {"png_create_read_struct", "png_create_info_struct"}) {
            failingPngCall = call;
            const LoadedPicture refused = loadPicture(PictureSource::file(path), PictureRequest{});
            QVERIFY2(failingPngCall.isEmpty(), call.constData());
            QCOMPARE(loadErrorText(refused), QStringLiteral("too large to decode safely"));
            QCOMPARE(liveReadStructs, 0);
            const LoadedPicture read = loadPicture(PictureSource::file(path), PictureRequest{});
            QVERIFY2(read.ok() && read.image.size() == QSize(16, 8), call.constData());
            QCOMPARE(liveReadStructs, 0);
        }
    }

    // Whatever a header declares, every request ends quickly in a picture no larger than it
    // asked for, or in a reason; a picture declaring a side of 0 is damaged, never too large.
    void declaredHeaderFields()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath("picture");
        PictureRequest reduced, turned;
        reduced.part = PictureRequest::Part::Reduced;
        reduced.atLeast = QSize(128, 64);
        turned.part = PictureRequest::Part::TurnedCorner;
        turned.rotate = 90;
        QElapsedTimer timer;
        for (const HeaderCase &c : headerCases()) {
            QVERIFY(writeFile(path, c.bytes));
            timer.start();
            for (const PictureSource &source : {PictureSource::file(path), PictureSource::memory(c.bytes)})
                for (const PictureRequest &request : {PictureRequest::corner(), reduced, turned}) {
                    const LoadedPicture loaded = loadPicture(source, request);
                    const QString got = c.name + ": " + (loaded.ok() ? QStringLiteral("a picture") : loadErrorText(loaded));
                    QVERIFY2(loaded.ok() != loaded.image.isNull(), qPrintable(got));
                    QVERIFY2(request.part == PictureRequest::Part::Reduced || loaded.image.width() <= 128, qPrintable(got));
                    QVERIFY2(!c.noPixels || loaded.error == LoadError::NotAPicture, qPrintable(got));
                }
            int frames = 0;
            const LoadedPicture all = loadFrames(PictureSource::file(path), PictureRequest::corner(), [&](const QImage &) { return ++frames < 3; });
            QVERIFY2(!c.noPixels || (all.error == LoadError::NotAPicture && frames == 0), qPrintable(c.name + ": " + loadErrorText(all)));
            QVERIFY2(timer.elapsed() < 5000, qPrintable(c.name));
        }
    }

    // Small pictures whose whole is known: the corner is Qt's own decode cut at 128 x 64, the
    // shrunk picture Qt's smooth scaling of it to the size each factor gives.
    // A GIF is decoded whole onto its logical screen, bounded at 32 million pixels: a screen
    // just within loads, one just past is refused by its size.
    void gifScreenAtItsPixelLimit_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("5600 x 5600, within") << 5600 << "";
        QTest::newRow("5700 x 5700, past") << 5700 << "too large to decode safely (5700 × 5700 GIF)";
    }
    void gifScreenAtItsPixelLimit()
    {
        QFETCH(int, side);
        QFETCH(QString, refusal);
        QTemporaryDir dir;
        const QString path = dir.filePath("screen.gif");
        QVERIFY(writeFile(path, animatedGif({solidImage(16, 16, Qt::white)}, QSize(side, side))));
        QSize full;
        QString why;
        const QImage shrunk = readPictureReduced(path, QSize(128, 64), &full, &why);
        QCOMPARE(full, QSize(side, side));
        QCOMPARE(why, refusal);
        QCOMPARE(shrunk.isNull(), !refusal.isEmpty());
        // Its one frame, taken as frames (the studio, FLASH pages), is held to the same bound.
        int frames = 0;
        const LoadedPicture all = loadFrames(PictureSource::file(path), PictureRequest::corner(), [&](const QImage &) { return ++frames > 0; });
        QCOMPARE(all.ok(), refusal.isEmpty());
        QCOMPARE(frames, refusal.isEmpty() ? 1 : 0);
    }

    // Plain-text PNM decodes a number at a time: it gets 8 million numbers at most, from a
    // file or from bytes; its raw forms only the memory bound (64 Mi pixels). Each header
    // alone is enough to be refused.
    void plainTextPnmWithinItsNumbers()
    {
        const struct {
            QByteArray magic;
            QSize size;
            QString refusal;  // empty: decoded
        } cases[] = {
            {"P2", {3000, 2700}, QStringLiteral("3000 × 2700 PGM")},
            {"P1", {3000, 2700}, QStringLiteral("3000 × 2700 PBM")},
            {"P3", {1700, 1700}, QStringLiteral("1700 × 1700 PPM")},
            {"P2", {2000, 1000}, {}},
            {"P3", {1000, 800}, {}},
            {"P5", {3000, 2700}, {}},
            // Raw grey takes a byte a pixel, but the picture is held at four bytes a pixel after.
            {"P5", {8200, 8200}, QStringLiteral("8200 × 8200 PGM")},
        };
        QTemporaryDir dir;
        for (const auto &c : cases) {
            const qsizetype pixels = qsizetype(c.size.width()) * c.size.height();
            QByteArray bytes = c.magic + '\n' + QByteArray::number(c.size.width()) + ' ' + QByteArray::number(c.size.height()) + '\n';
            if (c.magic != "P1")
                bytes += "255\n";
            if (c.refusal.isEmpty())
                bytes += c.magic == "P5" ? QByteArray(pixels, '\x80') : QByteArray("128 ").repeated(c.magic == "P3" ? 3 * pixels : pixels);
            const QString path = dir.filePath("picture.pnm");
            QVERIFY(writeFile(path, bytes));
            for (const PictureSource &source : {PictureSource::file(path), PictureSource::memory(bytes)}) {
                PictureRequest request;
                request.part = PictureRequest::Part::Reduced;
                request.atLeast = QSize(128, 64);
                const LoadedPicture loaded = loadPicture(source, request);
                QVERIFY2(loaded.ok() == c.refusal.isEmpty(), c.magic.constData());
                if (!loaded.ok())
                    QVERIFY2(loadErrorText(loaded).contains(c.refusal), qPrintable(loadErrorText(loaded)));
            }
        }
    }

    // A BMP whose uncompressed rows end before the file does is damaged: the decoder would
    // leave the missing pixels as whatever memory held. Plain, bit-field and core headers.
    void cutShortBmpsAreDamaged()
    {
        const auto bmp = [](int headerSize, int bits, int compression) {
            const int masks = compression == 3 ? 12 : 0, rowBytes = (4 * bits + 31) / 32 * 4;
            QByteArray b(14 + headerSize + masks + 2 * rowBytes, '\x77');
            const auto put = [&b](int at, quint32 value, int size) {
                for (int k = 0; k < size; ++k)
                    b[at + k] = char(value >> (8 * k));
            };
            b[0] = 'B', b[1] = 'M';
            put(2, quint32(b.size()), 4), put(6, 0, 4), put(10, quint32(14 + headerSize + masks), 4), put(14, quint32(headerSize), 4);
            if (headerSize == 12) {
                put(18, 4, 2), put(20, 2, 2), put(22, 1, 2), put(24, quint32(bits), 2);
            } else {
                b.replace(18, headerSize - 4, QByteArray(headerSize - 4, '\0'));
                put(18, 4, 4), put(22, 2, 4), put(26, 1, 2), put(28, quint32(bits), 2), put(30, quint32(compression), 4);
                if (masks)
                    put(54, 0xff0000, 4), put(58, 0xff00, 4), put(62, 0xff, 4);
            }
            return b;
        };
        const struct {
            const char *name;
            QByteArray whole;
        } cases[] = {
            {"info, 24 bits", bmp(40, 24, 0)},
            {"info, 32 bits in bit fields", bmp(40, 32, 3)},
            {"core, 24 bits", bmp(12, 24, 0)},
        };
        QTemporaryDir dir;
        for (const auto &c : cases) {
            const QString path = dir.filePath("picture.bmp");
            QVERIFY(writeFile(path, c.whole));
            QVERIFY2(!QImage::fromData(c.whole).isNull() && !readPictureCorner(path, QSize(128, 64)).isNull(), c.name);
            QVERIFY(writeFile(path, c.whole.chopped(4)));
            QVERIFY2(readPictureCorner(path, QSize(128, 64)).isNull(), c.name);
        }
    }

    void smallPictures_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("atLeast");
        QTest::addColumn<QSize>("reduced");
        QTest::newRow("interlaced PNG 5 x 3") << "png-i" << QSize(5, 3) << QSize(128, 64) << QSize(5, 3);
        // Narrower than 5: the passes starting at column 4 have rows but no columns.
        QTest::newRow("interlaced PNG 3 x 9") << "png-i" << QSize(3, 9) << QSize(128, 64) << QSize(3, 9);
        QTest::newRow("interlaced PNG 14 x 6, by 2") << "png-i" << QSize(14, 6) << QSize(5, 3) << QSize(7, 3);
        QTest::newRow("interlaced PNG 300 x 72, by 2") << "png-i" << QSize(300, 72) << QSize(100, 32) << QSize(150, 36);
        QTest::newRow("PNG 300 x 72, by 3") << "png" << QSize(300, 72) << QSize(100, 24) << QSize(100, 24);
        // A last block that the picture's edge cuts short: averaged over what is there.
        QTest::newRow("PNG 301 x 73, by 3") << "png" << QSize(301, 73) << QSize(100, 24) << QSize(101, 25);
        QTest::newRow("interlaced PNG 301 x 73, by 3") << "png-i" << QSize(301, 73) << QSize(100, 24) << QSize(101, 25);
        QTest::newRow("PNG 300 x 72, atLeast beyond it") << "png" << QSize(300, 72) << QSize(400, 100) << QSize(300, 72);
        QTest::newRow("BMP 300 x 72, by 3") << "bmp" << QSize(300, 72) << QSize(64, 24) << QSize(100, 24);
        // Asking for nothing shrinks as far as a side of one pixel.
        QTest::newRow("PNG 300 x 72, at least nothing") << "png" << QSize(300, 72) << QSize(0, 0) << QSize(5, 1);
        QTest::newRow("BMP 300 x 72, at least nothing") << "bmp" << QSize(300, 72) << QSize(0, 0) << QSize(5, 1);
        QTest::newRow("JPEG 320 x 160, by 4") << "jpg" << QSize(320, 160) << QSize(80, 40) << QSize(80, 40);
        QTest::newRow("JPEG 320 x 160, by 8 at most") << "jpg" << QSize(320, 160) << QSize(2, 2) << QSize(40, 20);
    }

    void smallPictures()
    {
        QFETCH(QString, format);
        QFETCH(QSize, size);
        QFETCH(QSize, atLeast);
        QFETCH(QSize, reduced);
        QTemporaryDir dir;
        const QString path = dir.filePath("picture." + format.left(3));
        QImage picture = pattern(size.width(), size.height());
        if (format == "jpg") {  // smooth, as a JPEG's shrinking is only close on smooth pictures
            for (int y = 0; y < size.height(); ++y)
                for (int x = 0; x < size.width(); ++x)
                    picture.setPixel(x, y, qRgb(x * 255 / size.width(), y * 255 / size.height(), 100));
        }
        QVERIFY(format.startsWith("png") ? writePng(path, picture, size, format == "png-i") : picture.save(path, nullptr, 100));
        const QImage qt(path);
        QVERIFY(!qt.isNull());

        QCOMPARE(distance(readPictureCorner(path, QSize(128, 64)), qt.copy(qt.rect() & QRect(0, 0, 128, 64))), 0);
        QSize full;
        const QImage shrunk = readPictureReduced(path, atLeast, &full);
        QCOMPARE(full, size);
        QCOMPARE(shrunk.size(), reduced);
        if (atLeast.isEmpty())
            return;  // one row of blocks: a smooth scaling of Qt's is no measure of it
        // Each block the mean of its pixels, rounded to the nearest (blocks cut short at the
        // edges averaged over what is there): exactly so where the file holds the pixels.
        const int factor = (size.width() + reduced.width() - 1) / reduced.width();
        const int exact = format.startsWith("png") ? 0 : 1;
        if (exact == 0 || size.width() % reduced.width() || size.height() % reduced.height()) {
            QVERIFY2(distance(shrunk, boxAverage(qt, factor)) <= exact, qPrintable(QString::number(distance(shrunk, boxAverage(qt, factor)))));
            return;
        }
        QVERIFY2(distance(shrunk, qt.scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)) <= 3,
                 qPrintable(QString::number(distance(shrunk, qt.scaled(reduced, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)))));
    }

    // A plugin that decodes only a part is asked for no more than the area needs, and gives the
    // picture a whole decode cut down gives: the corner, and what turning brings into it. A
    // picture with a side of 0 is damaged, whatever the plugin makes of it.
    void clippingPluginDecodesOnlyThePart()
    {
        for (const QSize full : {QSize(300, 200), QSize(100, 40), QSize(50, 300)}) {
            QList<PictureRequest> requests{PictureRequest::corner(), PictureRequest::corner(QSize(40, 30))};
            for (const int rotate : {0, 90, 180, 270})
                for (const Flip flip : {Flip::None, Flip::Horizontal, Flip::Vertical}) {
                    PictureRequest turned;
                    turned.part = PictureRequest::Part::TurnedCorner;
                    turned.rotate = rotate;
                    turned.flip = flip;
                    requests << turned;
                }
            for (const PictureRequest &request : requests) {
                const QString name = QStringLiteral("%1 x %2, part %3, turned %4, flip %5")
                                         .arg(full.width()).arg(full.height()).arg(int(request.part)).arg(request.rotate).arg(int(request.flip));
                ClippingHandler::asked.clear();
                const LoadedPicture clipped = loadPicture(PictureSource::memory(clippedFile(full)), request);
                const LoadedPicture whole = loadPicture(PictureSource::decoded(pattern(full.width(), full.height())), request);
                QVERIFY2(clipped.ok() && whole.ok() && clipped.fullSize == full, qPrintable(name));
                QVERIFY2(ClippingHandler::asked.size() == 1 && ClippingHandler::asked[0].size() == whole.image.size(), qPrintable(name));
                QVERIFY2(clipped.image.convertToFormat(QImage::Format_ARGB32) == whole.image.convertToFormat(QImage::Format_ARGB32), qPrintable(name));
            }
        }
        for (const QSize empty : {QSize(0, 5), QSize(5, 0)}) {
            ClippingHandler::asked.clear();
            QCOMPARE(loadPicture(PictureSource::memory(clippedFile(empty)), PictureRequest::corner()).error, LoadError::NotAPicture);
            QVERIFY(ClippingHandler::asked.isEmpty());
        }
    }

    // How many frames a picture has, as the studio's frame box and the frames sent to FLASH
    // count them: a still picture or a one-frame GIF has one, what is not a picture none.
    void frameCounts()
    {
        const QImage white = solidImage(20, 10, Qt::white), black = solidImage(20, 10, Qt::black);
        QByteArray png;
        QBuffer pngBuffer(&png);
        QVERIFY(pngBuffer.open(QIODevice::WriteOnly) && white.save(&pngBuffer, "PNG"));
        QByteArray bmp;
        QBuffer bmpBuffer(&bmp);
        QVERIFY(bmpBuffer.open(QIODevice::WriteOnly) && black.save(&bmpBuffer, "BMP"));
        const struct {
            QByteArray bytes;
            int frames;
        } pictures[] = {
            {animatedGif({white, black, white}), 3},
            {animatedGif({white}), 1},
            {png, 1},
            {bmp, 1},  // a format that never animates
            {QByteArray("GIF89a, and nothing more"), 1},  // read as a GIF: at least one
            {QByteArray("not a picture"), 0},
        };
        for (const auto &p : pictures)
            QCOMPARE(frameCount(PictureSource::memory(p.bytes)), p.frames);
        QCOMPARE(frameCount(PictureSource::decoded(white)), 1);
    }

    // A picture is taken as stored: an orientation tag does not turn it.
    void orientationTagIsNotApplied()
    {
        QImage stored(20, 10, QImage::Format_RGB32);
        stored.fill(Qt::white);
        stored.setPixel(0, 0, qRgb(0, 0, 0));
        QByteArray tiff;
        QBuffer buffer(&tiff);
        QImageWriter writer(&buffer, "tiff");
        QVERIFY(writer.supportsOption(QImageIOHandler::ImageTransformation));
        writer.setTransformation(QImageIOHandler::TransformationRotate90);
        QVERIFY(writer.write(stored));
        for (const PictureRequest &request : {PictureRequest::corner(), PictureRequest::corner(QSize(8, 8))}) {
            const LoadedPicture got = loadPicture(PictureSource::memory(tiff), request);
            QVERIFY(got.ok());
            QCOMPARE(got.fullSize, QSize(20, 10));
            QCOMPARE(got.image.pixel(0, 0), qRgb(0, 0, 0));
            QCOMPARE(got.image.pixel(1, 0), qRgb(255, 255, 255));
        }
    }

    // A picture decoded whole and then shrunk goes through in bands of about a megabyte; one
    // whose single row is more than that still goes, a row at a time.
    void widerThanABandShrinks()
    {
        QImage wide(600000, 4, QImage::Format_RGB32);  // past the 2 M pixels a shrunk picture may hold
        wide.fill(Qt::white);
        wide.setPixel(0, 0, qRgb(0, 0, 0));
        QByteArray bmp;
        QBuffer buffer(&bmp);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && wide.save(&buffer, "BMP"));
        PictureRequest request;
        request.part = PictureRequest::Part::Reduced;
        request.atLeast = QSize(128, 64);
        const LoadedPicture got = loadPicture(PictureSource::memory(bmp), request);
        QVERIFY2(got.ok(), qPrintable(loadErrorText(got)));
        QCOMPARE(got.fullSize, wide.size());
        QVERIFY2(got.image.width() < wide.width() && got.image.width() >= 128, qPrintable(QString::number(got.image.width())));
        QVERIFY(qGray(got.image.pixel(0, 0)) < 255 && qGray(got.image.pixel(got.image.width() - 1, 0)) == 255);
    }

    // An animation whose blocks go wrong, or that ends, after a frame shows the frames before
    // it, as players show it; wrong from its first frame, it is no picture.
    void damagedFrameEndsTheAnimation()
    {
        const QImage white = solidImage(20, 10, Qt::white), black = solidImage(20, 10, Qt::black);
        const QByteArray whole = animatedGif({white, black, white});
        const qsizetype third = whole.lastIndexOf(QByteArray("\x21\xF9\x04", 3));
        const qsizetype second = whole.lastIndexOf(QByteArray("\x21\xF9\x04", 3), third - 1);
        const qsizetype first = whole.indexOf(QByteArray("\x21\xF9\x04", 3));
        const struct {
            QByteArray bytes;
            QList<bool> frames;  // each frame: white?
            bool ok;
        } cases[] = {
            {whole, {true, false, true}, true},
            {whole.left(third) + "\x01junk" + whole.mid(third + 5), {true, false}, true},
            {whole.left(second) + "\x01junk" + whole.mid(second + 5), {true}, true},
            {whole.left(first) + "\x01junk" + whole.mid(first + 5), {}, false},  // as the decoder says: no picture
            // Cut after the third frame's header, or in its colours: counted, but not decoded.
            {whole.left(third + 8 + 10), {true, false}, true},
            {whole.left(third + 8 + 10 + 100), {true, false}, true},
            // A frame whose coded pixels are damaged: counted with the rest, but not decoded.
            {animatedWebp({white, black, white}, {1}), {true}, true},
            {animatedWebp({white, black, white}, {0}), {}, false},
        };
        QVERIFY(!animatedWebp({white}).isEmpty());
        for (const auto &c : cases) {
            QList<bool> seen;
            const LoadedPicture got = loadFrames(PictureSource::memory(c.bytes), PictureRequest::corner(), [&](const QImage &frame) {
                seen << (frame.pixelColor(0, 0) == Qt::white);
                return true;
            });
            QCOMPARE(got.ok(), c.ok);
            QCOMPARE(seen, c.frames);
            if (c.ok)
                QCOMPARE(got.fullSize, white.size());
        }
    }

    // Reading a picture, whole, damaged or cut short, gives back all the memory its decoder
    // took: a thousand readings leave the heap as it was (glibc's count of the heap in use).
    void readingGivesBackItsMemory()
    {
        QByteArray png, jpeg;
        QBuffer pngBuffer(&png), jpegBuffer(&jpeg);
        const QImage picture = pattern(40, 30);
        QVERIFY(pngBuffer.open(QIODevice::WriteOnly) && picture.save(&pngBuffer, "PNG"));
        QVERIFY(jpegBuffer.open(QIODevice::WriteOnly) && picture.save(&jpegBuffer, "JPG"));
        QByteArray damagedPng = png;
        damagedPng[damagedPng.indexOf("IDAT") + 6] ^= 0x55;
        const QList<QByteArray> files{png, png.left(png.size() / 2), damagedPng, jpeg, jpeg.left(jpeg.size() / 2), animatedGif({picture, picture})};
        const auto readAll = [&] {
            for (const QByteArray &file : files)
                loadPicture(PictureSource::memory(file), PictureRequest::corner());
        };
        QVERIFY(!loadPicture(PictureSource::memory(png), PictureRequest::corner()).image.isNull());
        QVERIFY(!loadPicture(PictureSource::memory(jpeg), PictureRequest::corner()).image.isNull());
        QVERIFY(loadPicture(PictureSource::memory(damagedPng), PictureRequest::corner()).image.isNull());
#ifdef __SANITIZE_ADDRESS__
        QSKIP("the sanitizer's allocator keeps a heap of its own, which glibc does not count");
#endif
        readAll();
        const size_t before = mallinfo2().uordblks;
        for (int i = 0; i < 1000; ++i)
            readAll();
        const size_t after = mallinfo2().uordblks;
        QVERIFY2(after < before + (1 << 20), qPrintable(QString("%1 KiB more").arg((qint64(after) - qint64(before)) / 1024)));
    }

    // How far a picture is shrunk while it is read: each side kept at least as asked (or the
    // picture's own), then raised until what is held fits the reduced limit, also for a
    // shape so extreme that the narrow side cannot shrink, and for one just over the limit.
    void shrinkFactors()
    {
        const struct {
            QSize full, atLeast;
            int factor, bounded;
        } cases[] = {
            {{1000, 1000}, {128, 64}, 7, 7},
            {{100, 100}, {0, 0}, 100, 100},
            {{300, 72}, {400, 100}, 1, 1},
            {{2048, 1024}, {5000, 5000}, 1, 1},  // 2 Mi pixels: just at the limit
            {{2049, 1025}, {5000, 5000}, 1, 2},
            {{20, 3000000}, {128, 64}, 1, 6},
        };
        for (const auto &c : cases) {
            QCOMPARE(decoding::shrinkFactor(c.full, c.atLeast), c.factor);
            const int bounded = decoding::boundedShrinkFactor(c.full, c.atLeast);
            QCOMPARE(bounded, c.bounded);
            const QSize shrunk = decoding::shrunkSize(c.full, bounded);
            QVERIFY(qint64(shrunk.width()) * shrunk.height() <= decoding::kReducedPixels);
        }
    }

    // Pictures decoded side by side share one memory budget: a decoder waits while others
    // hold it, and goes on as soon as they let go.
    void decodersShareOneBudget()
    {
        std::optional<decoding::BudgetHold> all(std::in_place, decoding::kBudgetBytes);
        std::atomic<bool> started{false};
        std::thread other([&] {
            const decoding::BudgetHold one(1);
            started = true;
        });
        QTest::qWait(100);
        const bool waited = !started;
        all.reset();
        other.join();
        QVERIFY(waited && started);
        const decoding::BudgetHold again(decoding::kBudgetBytes);  // all of it is free again
    }

    // The marker walk before a JPEG is decoded, over streams made by hand: whether the decoder
    // can start, the size, and what it holds at once (two bytes a coefficient, 64 a block, in
    // whole sampling units) when it cannot go row by row.
    void jpegMarkerWalk_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("progressive");
        QTest::addColumn<qint64>("wholeBytes");
        const auto segment = [](int marker, const QByteArray &payload) {
            const int length = int(payload.size()) + 2;
            return QByteArray{"\xff"} + char(marker) + char(length >> 8) + char(length & 0xff) + payload;
        };
        // A frame of `type`, w x h, one component a sampling byte (h << 4 | v).
        const auto frame = [&](int type, int w, int h, const QByteArray &sampling) {
            QByteArray p{"\x08"};
            p += char(h >> 8), p += char(h), p += char(w >> 8), p += char(w), p += char(sampling.size());
            for (int i = 0; i < sampling.size(); ++i)
                p += char(i + 1), p += sampling[i], p += char(0);
            return segment(type, p);
        };
        const auto scan = [&](int components) {
            QByteArray p(1, char(components));
            for (int i = 0; i < components; ++i)
                p += char(i + 1), p += char(0);
            return segment(0xDA, p + QByteArray("\x00\x3f\x00", 3));
        };
        const QByteArray soi("\xff\xd8", 2), yuv("\x22\x11\x11", 3), grey("\x11", 1);
        const QSize none;
        QTest::newRow("baseline, one scan") << soi + frame(0xC0, 17, 9, yuv) + scan(3) << true << QSize(17, 9) << false << qint64(0);
        QTest::newRow("baseline, a scan per component") << soi + frame(0xC0, 17, 9, yuv) + scan(1) << true << QSize(17, 9) << false << qint64((4 * 2 + 2 + 2) * 128);
        QTest::newRow("extended, one scan") << soi + frame(0xC1, 8, 8, grey) + scan(1) << true << QSize(8, 8) << false << qint64(0);
        QTest::newRow("arithmetic, one scan") << soi + frame(0xC9, 8, 8, grey) + scan(1) << true << QSize(8, 8) << false << qint64(0);
        QTest::newRow("progressive") << soi + frame(0xC2, 16, 8, grey) + scan(1) << true << QSize(16, 8) << true << qint64(2 * 128);
        QTest::newRow("progressive, differential") << soi + frame(0xC6, 9, 1, grey) + scan(1) << true << QSize(9, 1) << true << qint64(2 * 128);
        QTest::newRow("progressive, arithmetic") << soi + frame(0xCA, 8, 8, grey) + scan(1) << true << QSize(8, 8) << true << qint64(128);
        QTest::newRow("progressive, arithmetic differential") << soi + frame(0xCE, 8, 8, grey) + scan(1) << true << QSize(8, 8) << true << qint64(128);
        QTest::newRow("lossless") << soi + frame(0xC3, 8, 16, grey) + scan(1) << true << QSize(8, 16) << false << qint64(2 * 128);
        QTest::newRow("sampling 4 x 4 at most") << soi + frame(0xC2, 8, 8, "\x44") + scan(1) << true << QSize(8, 8) << true << qint64(16 * 128);
        QTest::newRow("tables, fill bytes, restart marks") << soi + segment(0xE0, "JFIF") + segment(0xC4, "\x00") + QByteArray("\x12\xff\xff\xd0\xff\x01\xff\x00", 8)
                                                                  + frame(0xC0, 8, 8, grey) + scan(1) << true << QSize(8, 8) << false << qint64(0);
        QTest::newRow("sampling 5") << soi + frame(0xC0, 8, 8, "\x51") + scan(1) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("sampling 0") << soi + frame(0xC0, 8, 8, "\x10") + scan(1) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("width 0") << soi + frame(0xC0, 0, 8, grey) + scan(1) << false << QSize(0, 8) << false << qint64(0);
        QTest::newRow("no component") << soi + frame(0xC0, 8, 8, {}) + scan(1) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("components cut short") << soi + frame(0xC0, 8, 8, yuv).chopped(1) + scan(1) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("frame cut short") << soi + segment(0xC0, "\x08\x00") + scan(1) << false << none << false << qint64(0);
        QTest::newRow("scan before the frame") << soi + scan(1) + frame(0xC0, 8, 8, grey) << false << none << false << qint64(0);
        QTest::newRow("two frames") << soi + frame(0xC0, 8, 8, grey) + frame(0xC0, 8, 8, grey) + scan(1) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("empty scan header") << soi + frame(0xC0, 8, 8, grey) + segment(0xDA, {}) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("end before the scan") << soi + frame(0xC0, 8, 8, grey) + "\xff\xd9" << false << QSize(8, 8) << false << qint64(0);
        // An end or a start has no length: bytes after it that would read as one change nothing.
        QTest::newRow("end, then what looks like a scan") << soi + frame(0xC0, 8, 8, grey) + QByteArray("\xff\xd9\x00\x02", 4) + scan(1) << false << QSize(8, 8)
                                                          << false << qint64(0);
        QTest::newRow("a second start") << soi + soi + frame(0xC0, 8, 8, grey) + scan(1) << false << none << false << qint64(0);
        QTest::newRow("a second start, then what looks like a frame") << soi + QByteArray("\xff\xd8\x00\x02", 4) + frame(0xC0, 8, 8, grey) + scan(1) << false
                                                                      << none << false << qint64(0);
        QTest::newRow("length below 2") << soi + QByteArray("\xff\xe0\x00\x01", 4) + frame(0xC0, 8, 8, grey) + scan(1) << false << none << false << qint64(0);
        QTest::newRow("segment past the end") << soi + QByteArray("\xff\xe0\x01\x00", 4) << false << none << false << qint64(0);
        QTest::newRow("scan past the end") << soi + frame(0xC0, 8, 8, grey) + scan(1).chopped(1) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("empty segments without end") << soi + frame(0xC0, 8, 8, grey) + segment(0xE0, {}).repeated(100000) << false << QSize(8, 8) << false << qint64(0);
        QTest::newRow("no start") << frame(0xC0, 8, 8, grey) + scan(1) << false << none << false << qint64(0);
    }
    void jpegMarkerWalk()
    {
        QFETCH(QByteArray, stream);
        QFETCH(bool, readable);
        QFETCH(QSize, size);
        QFETCH(bool, progressive);
        QFETCH(qint64, wholeBytes);
        QBuffer device(&stream);
        QVERIFY(device.open(QIODevice::ReadOnly));
        const decoding::JpegHeader header = decoding::readJpegHeader(device);
        QCOMPARE(header.readable, readable);
        QCOMPARE(header.size, size);
        QCOMPARE(header.progressive, progressive);
        QCOMPARE(header.wholeBytes, wholeBytes);
    }
};

QTEST_GUILESS_MAIN(TstPictureLoader)
#include "tst_pictureloader.moc"
