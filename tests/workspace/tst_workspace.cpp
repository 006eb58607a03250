#include "common/testsupport.h"
#include "workspace/picturearea.h"
#include "workspace/picturedecoder.h"

#include <QtTest>
#include <QtWidgets>

#include <sys/resource.h>

using namespace pw;
using namespace pw::test;

namespace {

const QSize kArea(128, 64);
const QByteArray kBin = QByteArray("\x01\x80\x55\xAA").repeated(256);

// No two neighbours alike, so a shifted or scaled picture cannot pass; the palette has alpha.
QImage pattern(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    const bool indexed = format == QImage::Format_Indexed8;
    if (indexed)
        image.setColorTable({qRgba(0, 0, 0, 0), qRgba(200, 30, 40, 128), qRgb(10, 120, 250), qRgb(250, 200, 0)});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, indexed ? uint(x / 3 + y) % 4 : qRgb(x * 5 % 256, y * 9 % 256, (x + 2 * y) * 3 % 256));
    return image;
}

// The picture behind each kind of test file; the file is that picture encoded, maybe damaged.
QImage pictureOf(const QString &kind)
{
    if (kind.startsWith("jpg"))
        return solidImage(150, 90, QColor(30, 160, 90));
    return kind == "palette" ? pattern(100, 100, QImage::Format_Indexed8)
           : kind == "grey"  ? pattern(90, 130, QImage::Format_Grayscale8)
                             : pattern(300, 40);
}

QByteArray fileOf(const QString &kind)
{
    if (kind == "bin")
        return kBin;
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    pictureOf(kind).save(&buffer, kind.startsWith("jpg") ? "jpg" : kind == "bmp" ? "bmp" : "png");
    QByteArray b = buffer.data();
    if (kind.endsWith("-cut"))  // within the first rows; before the scan
        b.truncate(kind == "png-cut" ? b.indexOf("IDAT") + 30 : b.indexOf("\xFF\xDA"));
    if (kind.endsWith("-bad"))  // the zlib header of the pixel data; a frame without components
        b[kind == "png-bad" ? b.indexOf("IDAT") + 4 : b.indexOf("\xFF\xC0") + 9] = 0;
    return b;
}

// The area as it must look: background, the picture unscaled from the top-left, cut at 128 x 64.
bool showsPicture(const QImage &surface, const QImage &picture, QColor background, int tolerance = 0)
{
    QImage want = solidImage(kArea.width(), kArea.height(), background);
    QPainter(&want).drawImage(0, 0, picture);
    const QImage a = surface.convertToFormat(QImage::Format_RGB888), b = want.convertToFormat(QImage::Format_RGB888);
    return a.size() == kArea && std::equal(a.constBits(), a.constBits() + a.sizeInBytes(), b.constBits(),
                                           [tolerance](uchar p, uchar q) { return std::abs(p - q) <= tolerance; });
}

}  // namespace

class TstWorkspace : public QObject {
    Q_OBJECT
private slots:
    void largePictures()
    {
        // 20000 x 20000: far beyond the reader's 128 MB allocation limit, 1.6 GB decoded whole.
        QTemporaryDir dir;
        QImage png(20000, 20000, QImage::Format_Mono), expectedJpeg(kArea, QImage::Format_RGB32);
        png.setColorTable({qRgb(200, 30, 40), qRgb(10, 120, 250)});
        png.fill(0);
        for (int y = 0; y < kArea.height(); ++y)
            std::memset(png.scanLine(y), y % 3 ? 0x0F : 0x3C, kArea.width() / 8);
        const QImage expectedPng = png.copy(QRect(QPoint(0, 0), kArea)).convertToFormat(QImage::Format_RGB32);
        QVERIFY(png.save(dir.filePath("big.png")));
        // Grey, DC-only blocks, the first 8 x 8 at 192, the rest 128: past the header all zero bits.
        const QByteArray header = "ffd8ffdb00430008" + QByteArray("01").repeated(63) + "ffc0000b084e204e2001011100"
                                  + "ffc40015000101" + QByteArray("00").repeated(14) + "0007" + "ffc4001410" + "01"
                                  + QByteArray("00").repeated(16) + "ffda000801010000" + "3f00a027e0";
        QVERIFY(writeFile(dir.filePath("big.jpg"), QByteArray::fromHex(header) + QByteArray(2500 * 2500 / 4 - 3, '\0') + "\xFF\xD9"));
        expectedJpeg.fill(qRgb(128, 128, 128));
        QPainter(&expectedJpeg).fillRect(0, 0, 8, 8, QColor(192, 192, 192));
        for (const auto &[name, expected] : {std::pair{"big.png", expectedPng}, std::pair{"big.jpg", expectedJpeg}}) {
            rusage before{}, after{};
            getrusage(RUSAGE_SELF, &before);
            QElapsedTimer timer;
            timer.start();
            const QImage corner = readPictureCorner(dir.filePath(name), kArea);
            getrusage(RUSAGE_SELF, &after);
            QVERIFY2(timer.elapsed() < 500, name);  // reading every row takes about 1 s
            QVERIFY2(after.ru_maxrss - before.ru_maxrss < 100 * 1024, name);  // kB
            QCOMPARE(corner.convertToFormat(QImage::Format_RGB32), expected);
        }
    }

    void pictureRoutes_data()
    {
        QTest::addColumn<bool>("open");      // open_picture, else a drop on the area
        QTest::addColumn<QString>("files");  // dropped or chosen, ';' between; "web" is a URL
        QTest::addColumn<QString>("kind");   // what the first file holds (fileOf)
        QTest::addColumn<QString>("route");  // picture, bin, fail or none
        QTest::newRow("drop .BIN") << false << "a.BIN" << "bin" << "bin";
        QTest::newRow("drop .bin") << false << "a.bin" << "bin" << "bin";
        QTest::newRow("drop cabin") << false << "cabin" << "bin" << "bin";
        QTest::newRow("drop .Bin: a picture name") << false << "a.Bin" << "bin" << "fail";
        QTest::newRow("drop bmp, cut, background below") << false << "a.bmp" << "bmp" << "picture";
        QTest::newRow("drop jpeg") << false << "a.jpg" << "jpg" << "picture";
        QTest::newRow("drop palette png, transparency") << false << "p.png" << "palette" << "picture";
        QTest::newRow("drop grey png") << false << "g.png" << "grey" << "picture";
        QTest::newRow("drop png truncated") << false << "c.png" << "png-cut" << "fail";
        QTest::newRow("drop png corrupt") << false << "k.png" << "png-bad" << "fail";
        QTest::newRow("drop jpeg truncated") << false << "c.jpg" << "jpg-cut" << "fail";
        QTest::newRow("drop jpeg corrupt") << false << "k.jpg" << "jpg-bad" << "fail";
        QTest::newRow("drop several: first") << false << "s.bmp;t.BIN" << "bmp" << "picture";
        QTest::newRow("drop no local file") << false << "web" << "bmp" << "none";
        QTest::newRow("open cancelled") << true << "" << "bmp" << "none";
        QTest::newRow("open bmp, cut, background below") << true << "big.bmp" << "bmp" << "picture";
        QTest::newRow("open not a picture: silent") << true << "image.bin" << "bin" << "none";
    }

    void pictureRoutes()
    {
        QFETCH(bool, open);
        QFETCH(QString, files);
        QFETCH(QString, kind);
        QFETCH(QString, route);
        Rig rig;
        Form1 &form = *rig.form;
        PictureArea *area = form.picture();
        const QImage first = pattern(200, 100);
        QVERIFY(first.save(rig.path("first.bmp")));
        form.Picture1_OLEDragDrop({rig.path("first.bmp")});
        const QString before = form.windowTitle();
        form.setStatus("完了!!");
        QList<QUrl> urls;
        for (const QString &name : files.split(';', Qt::SkipEmptyParts)) {
            QVERIFY(writeFile(rig.path(name), urls.isEmpty() ? fileOf(kind) : kBin));
            urls << (name == "web" ? QUrl("https://example.org/a.png") : QUrl::fromLocalFile(rig.path(name)));
        }
        if (open) {
            rig.dialogs.answers << (files.isEmpty() ? std::nullopt : std::optional<QString>(rig.path(files)));
            form.open_picture();
            QCOMPARE(rig.dialogs.requests.last().labels, QStringList({"PIcture(*.BMP)", "PIcture(*.JPG)"}));
            QCOMPARE(rig.dialogs.requests.last().nameFilters, QStringList({"PIcture(*.BMP) (*.[Bb][Mm][Pp])", "PIcture(*.JPG) (*.[Jj][Pp][Gg])"}));
        } else {
            // As the window system delivers it: the drop goes to the widget that accepted the enter.
            QMimeData mime;
            mime.setUrls(urls);
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(area, &enter);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(area, &drop);
        }
        const bool failed = route == "fail", loaded = route == "picture" || route == "bin";
        QCOMPARE(form.statusLabel()->text(), open && !files.isEmpty() ? QString() : QString("完了!!"));
        QCOMPARE(rig.boxes.texts(), failed ? QStringList{"画像ファイル又はBINファイルではありません。"} : QStringList{});
        if (failed)
            QCOMPARE(rig.boxes.shown[0].title, "注意");
        QCOMPARE(form.windowTitle(), loaded ? form.baseCaption() + "(" + rig.path(files.section(';', 0, 0)) + ")" : before);
        const QImage shown = route == "picture" ? pictureOf(kind) : failed ? QImage() : first;
        QVERIFY(showsPicture(area->surface(), shown, area->backgroundColor(), kind == "jpg" ? 12 : 2));
        if (route == "bin")
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(form.monoImage().data()), kImageBytes), kBin);
    }

    void clipboard()
    {
        Rig rig;
        Form1 &form = *rig.form;
        PictureArea *area = form.picture();
        QMenu *menu = form.popupMenu();
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton, Qt::RightButton}) {
            bool opened = false;
            QTimer::singleShot(0, menu, [&] { opened = menu->isVisible(); menu->close(); });
            QTest::mouseClick(area, button, {}, QPoint(20, 15));
            QTest::qWait(20);
            QCOMPARE(opened, button == Qt::RightButton);
        }

        QClipboard *board = QApplication::clipboard();
        area->setPicture(pattern(60, 40));
        QPainter(&area->surface()).fillRect(70, 30, 20, 20, Qt::black);  // as the conversion paints
        const QImage painted = area->surface().copy();
        board->setText("old");
        form.popcopy_Click();
        QVERIFY(board->text().isEmpty());
        QCOMPARE(board->image().convertToFormat(QImage::Format_RGB32), painted);
        board->setImage(pattern(300, 100));
        form.poppaste_Click();
        QVERIFY(showsPicture(area->surface(), pattern(300, 100), area->backgroundColor()));
        board->setText("only text");
        form.poppaste_Click();
        QVERIFY(showsPicture(area->surface(), QImage(), area->backgroundColor()));
        QVERIFY(rig.boxes.shown.isEmpty());
    }

    void saveBmp_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("existing");  // a file of that name is there before
        QTest::addColumn<bool>("written");
        QTest::newRow("new file") << "out.BMP" << false << true;
        QTest::newRow("no extension added") << "noextension" << false << true;
        QTest::newRow("over an existing file") << "old.BMP" << true << true;
        QTest::newRow("folder missing") << "nofolder/out.bmp" << false << false;
        QTest::newRow("no room for a temporary name") << QString(250, 'n') + ".BMP" << true << false;
    }

    void saveBmp()
    {
        QFETCH(QString, answer);
        QFETCH(bool, existing);
        QFETCH(bool, written);
        Rig rig;
        Form1 &form = *rig.form;
        form.picture()->setPicture(pattern(90, 70));
        QPainter(&form.picture()->surface()).fillRect(100, 0, 28, 64, Qt::white);
        const QImage surface = form.picture()->surface().copy();
        form.setStatus("完了!!");
        QVERIFY(QDir(rig.dir.path()).mkdir("s"));
        const QString path = rig.path("s/" + answer);
        QVERIFY(!existing || writeFile(path, "old"));
        rig.dialogs.answers << path;

        form.save_bmp();

        QCOMPARE(form.commonDialog().filter(), "*.BMP|*.BMP");
        QCOMPARE(form.statusLabel()->text(), written ? "BMPﾌｧｲﾙ保存終了!!" : QString("完了!!"));
        QCOMPARE(QDir(rig.path("s")).entryList(QDir::Files), written || existing ? QStringList{answer} : QStringList{});
        // 24-bit, uncompressed, bottom-up, 96 dpi.
        const QByteArray header = QByteArray::fromHex("424d36600000000000003600000028000000800000004000000001001800"
                                                      "00000000006000" "00c40e0000c40e00000000000000000000");
        const QByteArray bytes = readFile(path);
        QCOMPARE(bytes.left(54), written ? header : QByteArray(existing ? "old" : ""));
        QCOMPARE(bytes.size(), written ? 54 + 64 * 128 * 3 : existing ? 3 : 0);
        if (written)
            QCOMPARE(QImage(path, "BMP").convertToFormat(QImage::Format_RGB32), surface);
    }

    void dialogStateCarriesOver()
    {
        // One dialog serves every operation: what one leaves is what the next one starts from.
        Rig rig;
        Form1 &form = *rig.form;
        const QString dir = rig.dir.path(), picture = rig.path("logo.bmp"), bmp = rig.path("a.BMP"), bin = rig.path("a.BIN");
        QVERIFY(pattern(10, 10).save(picture));
        const struct { void (Form1::*op)(); QString answer, start; int flags; } steps[] = {
            {&Form1::open_picture, picture, dir, 0},
            {&Form1::save_bmp, bmp, picture, 6},  // proposes the picture just opened
            {&Form1::save_bin, bin, dir, 6},      // starts without a name
            {&Form1::open_bin, bin, bin, 6},      // keeps the flags
            {&Form1::open_picture, {}, bin, 6},   // cancelled: the name stays
        };
        for (const auto &step : steps) {
            rig.dialogs.answers << (step.answer.isEmpty() ? std::nullopt : std::optional<QString>(step.answer));
            (form.*step.op)();
            QCOMPARE(QFileInfo(rig.dialogs.requests.last().initialPath).canonicalFilePath(), QFileInfo(step.start).canonicalFilePath());
            QCOMPARE(form.commonDialog().flags(), step.flags);
            QCOMPARE(form.commonDialog().fileName(), step.answer.isEmpty() ? bin : step.answer);
        }
    }
};

QTEST_MAIN(TstWorkspace)
#include "tst_workspace.moc"
