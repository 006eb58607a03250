#include "common/testsupport.h"
#include "workspace/bmpencoder.h"
#include "workspace/picturearea.h"
#include "workspace/picturedecoder.h"
#include "workspace/picturemakers.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPainter>
#include <QTimer>
#include <QtEndian>
#include <QtTest>

#include <png.h>
#include <sys/resource.h>
#include <zlib.h>

using namespace pw;
using namespace pw::test;

namespace {

const QSize kArea(128, 64);
const QString kBase = QStringLiteral("Pixelwright for 128×64(Mono)");
const QString kCaution = QStringLiteral("注意");
const QString kDropFailure = QStringLiteral("画像ファイル又はBINファイルではありません。");
const QString kPasteFailure = QStringLiteral("画像ファイルではありません。");
const QString kBmpSaved = QStringLiteral("BMPﾌｧｲﾙ保存終了!!");
const QString kPictureFilter = QStringLiteral("PIcture(*.BMP)|*.BMP|PIcture(*.JPG)|*.JPG");

// Every pixel differs from its neighbours, so a shifted or scaled picture cannot pass.
QImage pattern(int width, int height, int seed = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 5 + seed) % 256, (y * 9 + 3 * seed) % 256, (x + 2 * y) * 3 % 256));
    return image;
}

// Flat 16 x 16 tiles on JPEG's block grid: they survive lossy compression almost exactly.
QImage tiles(int width, int height, int seed = 0)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int t = (x / 16) * 5 + (y / 16) * 3 + seed;
            image.setPixel(x, y, qRgb(t * 40 % 256, t * 70 % 256, t * 110 % 256));
        }
    return image;
}

bool save(const QImage &image, const QString &path, const char *format, int quality = -1)
{
    QImageWriter writer(path, format);
    if (quality >= 0)
        writer.setQuality(quality);
    return writer.write(image);
}

int channelDistance(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
}

// What the area must show for `picture`: the picture from the top-left, background elsewhere.
// Returns a description of the first difference, empty when the surface matches.
QString surfaceMismatch(const QImage &surface, const QImage &picture, QColor background, int tolerance = 0)
{
    if (surface.size() != kArea)
        return QStringLiteral("surface size %1x%2").arg(surface.width()).arg(surface.height());
    for (int y = 0; y < kArea.height(); ++y)
        for (int x = 0; x < kArea.width(); ++x) {
            const bool inside = x < picture.width() && y < picture.height();
            const QRgb want = inside ? picture.pixel(x, y) : background.rgb();
            if (channelDistance(surface.pixel(x, y), want) > tolerance)
                return QStringLiteral("pixel %1,%2: %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(surface.pixel(x, y), 8, 16)
                    .arg(want, 8, 16);
        }
    return {};
}

// The picture drawn over a plain background, as the area shows it.
QImage over(const QImage &picture, QColor background)
{
    QImage out(picture.size(), QImage::Format_RGB32);
    out.fill(background);
    QPainter painter(&out);
    painter.drawImage(0, 0, picture);
    return out;
}

qint64 peakRssMB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

QByteArray pngChunk(const char *type, const QByteArray &body)
{
    QByteArray chunk;
    chunk.resize(4);
    qToBigEndian<quint32>(static_cast<quint32>(body.size()), chunk.data());
    const QByteArray typed = QByteArray(type) + body;
    chunk += typed;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()),
                                                     static_cast<uInt>(typed.size()))),
                          crc.data());
    return chunk + crc;
}

// Runs `choose` once the picture area's menu is on screen; records whether it opened at all.
struct MenuDriver {
    QMenu *menu = nullptr;
    bool opened = false;
    QPoint openedAt;
    void arm(QMenu *m, std::function<void(QMenu *)> choose)
    {
        menu = m;
        QTimer::singleShot(0, m, [this, choose] {
            opened = menu->isVisible();
            openedAt = menu->pos();
            if (opened)
                choose(menu);
        });
    }
};

void clickItem(QMenu *menu, const char *name)
{
    auto *action = menu->findChild<QAction *>(QLatin1String(name));
    if (!action) {
        menu->close();
        return;
    }
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
}

QByteArray binBytes()
{
    QByteArray bytes(1024, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + 1);
    return bytes;
}

QByteArray monoBytes(const Form1 &form)
{
    return QByteArray(reinterpret_cast<const char *>(form.monoImage().data()),
                      static_cast<qsizetype>(form.monoImage().size()));
}

// Runs `act` as soon as a modal widget of type T is on screen; after five seconds it rejects
// whatever is modal instead, so that a failing test cannot hang. Delete the timer to disarm.
template <typename T>
T *visibleTopLevel()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *t = qobject_cast<T *>(widget); t && t->isVisible())
            return t;
    return nullptr;
}

template <typename T>
QPointer<QTimer> whenModal(std::function<void(T *)> act)
{
    auto *timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, act] {
        auto *widget = visibleTopLevel<T>();
        if (!widget && clock->elapsed() < 5000)
            return;
        timer->stop();
        timer->deleteLater();
        if (widget)
            act(widget);
        else if (auto *dialog = visibleTopLevel<QDialog>())
            dialog->reject();
    });
    timer->start();
    return timer;
}

QStringList visibleFiles(QFileDialog *dialog)
{
    QStringList names;
    auto *view = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
    if (!view || !view->model())
        return names;
    const QAbstractItemModel *model = view->model();
    const QModelIndex root = view->rootIndex();
    for (int r = 0; r < model->rowCount(root); ++r) {
        const QModelIndex index = model->index(r, 0, root);
        if (model->flags(index) & Qt::ItemIsEnabled)
            names << index.data().toString();
    }
    names.sort();
    return names;
}

}  // namespace

class TstWorkspace : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QApplication::clipboard()->clear(); }

    // --- the decoder ---
    void decodesCorner_data();
    void decodesCorner();
    void decodesPngVariants_data();
    void decodesPngVariants();
    void rejectsBrokenFiles_data();
    void rejectsBrokenFiles();
    void readsOnlyTheRowsShown();
    void largePictures_data();
    void largePictures();

    // --- opening and dropping ---
    void openPicture_data();
    void openPicture();
    void dropRoutes_data();
    void dropRoutes();
    void dropEvents();
    void transparencyShowsBackground();

    // --- the clipboard menu ---
    void menuOpensOnRightButtonOnly_data();
    void menuOpensOnRightButtonOnly();
    void clipboardCommands_data();
    void clipboardCommands();
    void copyThenPasteRestoresSurface();

    // --- BMP export and the shared dialog ---
    void saveBmp_data();
    void saveBmp();
    void dialogStateCarriesOver();
    void qtDialogMatchesAnyCase();
    void qtDialogConfirmsOverwrite_data();
    void qtDialogConfirmsOverwrite();
};

// ---------------------------------------------------------------------------------------------

void TstWorkspace::decodesCorner_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("bmp larger") << QByteArray("bmp") << "a.bmp" << QSize(300, 200) << 0;
    QTest::newRow("bmp smaller") << QByteArray("bmp") << "a.BMP" << QSize(50, 30) << 0;
    QTest::newRow("bmp wide, short") << QByteArray("bmp") << "a.bmp" << QSize(400, 10) << 0;
    QTest::newRow("jpeg larger") << QByteArray("jpg") << "a.jpg" << QSize(300, 200) << 12;
    QTest::newRow("jpeg smaller") << QByteArray("jpg") << "a.JPG" << QSize(60, 20) << 12;
    QTest::newRow("png larger") << QByteArray("png") << "a.png" << QSize(300, 200) << 0;
    QTest::newRow("png narrow, tall") << QByteArray("png") << "a.png" << QSize(7, 500) << 0;
    QTest::newRow("tiff") << QByteArray("tiff") << "a.tif" << QSize(200, 100) << 0;
    QTest::newRow("webp lossless") << QByteArray("webp") << "a.webp" << QSize(200, 100) << 0;
    // The name does not decide: the contents do.
    QTest::newRow("png named .JPG") << QByteArray("png") << "a.JPG" << QSize(200, 100) << 0;
    QTest::newRow("jpeg named .bmp") << QByteArray("jpg") << "a.bmp" << QSize(200, 100) << 12;
}

void TstWorkspace::decodesCorner()
{
    QFETCH(QByteArray, format);
    QFETCH(QString, name);
    QFETCH(QSize, size);
    QFETCH(int, tolerance);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const QImage source = tolerance ? tiles(size.width(), size.height()) : pattern(size.width(), size.height());
    QVERIFY(save(source, path, format.constData(), format == "webp" ? 100 : 95));

    const QImage corner = readPictureCorner(path, kArea);
    QCOMPARE(corner.size(), size.boundedTo(kArea));
    // JPEG smooths colour across tile edges: there only the tiles' inner parts are compared.
    const auto inner = [tolerance](int v) { return tolerance == 0 || (v % 16 >= 4 && v % 16 < 12); };
    for (int y = 0; y < corner.height(); ++y)
        for (int x = 0; x < corner.width(); ++x)
            if (inner(x) && inner(y) && channelDistance(corner.pixel(x, y), source.pixel(x, y)) > tolerance)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2 differs").arg(x).arg(y)));
}

void TstWorkspace::decodesPngVariants_data()
{
    QTest::addColumn<int>("colorType");
    QTest::addColumn<int>("bitDepth");
    QTest::addColumn<bool>("interlaced");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("extra");  // palette: transparent entries; grey/RGB: 1 = transparent key
    const QSize big(300, 150);
    QTest::newRow("rgb 8") << PNG_COLOR_TYPE_RGB << 8 << false << big << 0;
    QTest::newRow("rgb 16") << PNG_COLOR_TYPE_RGB << 16 << false << big << 0;
    QTest::newRow("rgba 8") << PNG_COLOR_TYPE_RGB_ALPHA << 8 << false << big << 0;
    QTest::newRow("rgba 16") << PNG_COLOR_TYPE_RGB_ALPHA << 16 << false << big << 0;
    QTest::newRow("grey 1") << PNG_COLOR_TYPE_GRAY << 1 << false << big << 0;
    QTest::newRow("grey 2") << PNG_COLOR_TYPE_GRAY << 2 << false << big << 0;
    QTest::newRow("grey 4") << PNG_COLOR_TYPE_GRAY << 4 << false << big << 0;
    QTest::newRow("grey 8") << PNG_COLOR_TYPE_GRAY << 8 << false << big << 0;
    QTest::newRow("grey 16") << PNG_COLOR_TYPE_GRAY << 16 << false << big << 0;
    QTest::newRow("grey+alpha 8") << PNG_COLOR_TYPE_GRAY_ALPHA << 8 << false << big << 0;
    QTest::newRow("grey 8 key") << PNG_COLOR_TYPE_GRAY << 8 << false << big << 1;
    QTest::newRow("rgb 8 key") << PNG_COLOR_TYPE_RGB << 8 << false << big << 1;
    QTest::newRow("palette 4") << PNG_COLOR_TYPE_PALETTE << 4 << false << big << 0;
    QTest::newRow("palette 8 tRNS") << PNG_COLOR_TYPE_PALETTE << 8 << false << big << 3;
    QTest::newRow("palette 1 small") << PNG_COLOR_TYPE_PALETTE << 1 << false << QSize(20, 9) << 1;
    QTest::newRow("interlaced rgb") << PNG_COLOR_TYPE_RGB << 8 << true << big << 0;
    QTest::newRow("interlaced rgba 16") << PNG_COLOR_TYPE_RGB_ALPHA << 16 << true << big << 0;
    QTest::newRow("interlaced palette tRNS") << PNG_COLOR_TYPE_PALETTE << 8 << true << QSize(130, 70) << 2;
    // Passes without a single pixel: libpng skips them and so must the reader.
    QTest::newRow("interlaced 3x2") << PNG_COLOR_TYPE_RGB << 8 << true << QSize(3, 2) << 0;
    QTest::newRow("interlaced 1x70") << PNG_COLOR_TYPE_GRAY << 8 << true << QSize(1, 70) << 0;
    QTest::newRow("interlaced 200x1") << PNG_COLOR_TYPE_GRAY << 4 << true << QSize(200, 1) << 0;
}

void TstWorkspace::decodesPngVariants()
{
    QFETCH(int, colorType);
    QFETCH(int, bitDepth);
    QFETCH(bool, interlaced);
    QFETCH(QSize, size);
    QFETCH(int, extra);
    PngSpec spec;
    spec.width = size.width();
    spec.height = size.height();
    spec.colorType = colorType;
    spec.bitDepth = bitDepth;
    spec.interlaced = interlaced;
    const unsigned maxSample = (1u << bitDepth) - 1;
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        spec.paletteSize = 1 << bitDepth;
        spec.transparentCount = extra;
    } else {
        spec.greyKey = extra != 0;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("v.png"));
    QVERIFY(writePng(path, spec, [=](int x, int y, int c) {
        // Some samples are zero (the transparent key), alpha sweeps through every level.
        const unsigned v = static_cast<unsigned>(x * 37 + y * 101 + c * 59 + (x * y) % 13) % (maxSample + 1);
        return (x + y) % 7 == 0 ? 0u : v;
    }));

    // Qt reads these small files whole: its picture is the reference for the corner.
    QImage reference(path);
    QVERIFY(!reference.isNull());
    reference = reference.convertToFormat(QImage::Format_ARGB32).copy(QRect(QPoint(0, 0), kArea));
    const QImage corner = readPictureCorner(path, kArea);
    QCOMPARE(corner.size(), size.boundedTo(kArea));
    // Compared as shown, over a background, so hidden colour under full transparency is free.
    const QImage got = over(corner, QColor(240, 240, 240));
    const QImage want = over(reference, QColor(240, 240, 240));
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x)
            if (channelDistance(got.pixel(x, y), want.pixel(x, y)) > 1)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2: %3 instead of %4")
                                     .arg(x)
                                     .arg(y)
                                     .arg(got.pixel(x, y), 8, 16)
                                     .arg(want.pixel(x, y), 8, 16)));
}

void TstWorkspace::rejectsBrokenFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");

    QTemporaryDir dir;
    const QString pngPath = dir.filePath(QStringLiteral("p.png"));
    PngSpec spec;
    spec.width = 100;
    spec.height = 100;
    writePng(pngPath, spec, [](int x, int y, int c) { return static_cast<unsigned>(x * 31 + y * 17 + c * 5) % 256; });
    const QByteArray png = readFile(pngPath);
    const qsizetype idat = png.indexOf("IDAT");
    QByteArray badCrc = png;
    badCrc[idat + 40] = static_cast<char>(badCrc[idat + 40] ^ 0x55);
    QByteArray ihdr(13, '\0');
    qToBigEndian<quint32>(2000000000u, ihdr.data());
    qToBigEndian<quint32>(1u, ihdr.data() + 4);
    ihdr[8] = 8;
    ihdr[9] = 2;
    const QByteArray hugeHeader = png.left(8) + pngChunk("IHDR", ihdr) + pngChunk("IEND", {});
    const QString jpgPath = dir.filePath(QStringLiteral("j.jpg"));
    save(pattern(100, 100), jpgPath, "jpg");
    const QByteArray jpg = readFile(jpgPath);

    QTest::newRow("empty file") << "e.bmp" << QByteArray();
    QTest::newRow("text") << "t.jpg" << QByteArray("this is not a picture\n");
    QTest::newRow("png signature only") << "s.png" << png.left(8);
    QTest::newRow("png cut in the first rows") << "c.png" << png.left(idat + 200);
    QTest::newRow("png bad checksum") << "k.png" << badCrc;
    QTest::newRow("png absurd width") << "w.png" << hugeHeader;
    QTest::newRow("jpeg header only") << "h.jpg" << jpg.left(30);
    QTest::newRow("bmp header only") << "b.bmp" << QByteArray("BM\x36\x60\0\0\0\0\0\0\x36\0\0\0", 14);
    QTest::newRow("no such file") << "gone.png" << QByteArray("-");
}

void TstWorkspace::rejectsBrokenFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (bytes != "-")
        QVERIFY(writeFile(path, bytes));
    QVERIFY(readPictureCorner(path, kArea).isNull());
}

void TstWorkspace::readsOnlyTheRowsShown()
{
    // Damage far below the corner is never reached: the rows shown decode and the picture loads.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tall.png"));
    PngSpec spec;
    spec.width = 200;
    spec.height = 2000;
    const auto sample = [](int x, int y, int c) { return static_cast<unsigned>(x * 3 + y * 11 + c * 80) % 256; };
    QVERIFY(writePng(path, spec, sample));
    const QImage whole(path);
    QByteArray bytes = readFile(path);
    bytes.chop(bytes.size() / 3);
    QVERIFY(writeFile(path, bytes));
    const QImage corner = readPictureCorner(path, kArea);
    QCOMPARE(corner.size(), kArea);
    QCOMPARE(corner.convertToFormat(QImage::Format_RGB32), whole.copy(QRect(QPoint(0, 0), kArea)).convertToFormat(QImage::Format_RGB32));
}

void TstWorkspace::largePictures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("png 20000x20000") << "png";
    QTest::newRow("jpeg 20000x20000") << "jpeg";
}

void TstWorkspace::largePictures()
{
    // Far beyond the reader's 128 MB allocation limit and 1.6 GB when decoded whole.
    QFETCH(QString, kind);
    constexpr int side = 20000;
    QTemporaryDir dir;
    const QString path = dir.filePath(kind == QLatin1String("png") ? QStringLiteral("big.png") : QStringLiteral("big.jpg"));
    QImage expected(kArea, QImage::Format_RGB32);
    if (kind == QLatin1String("png")) {
        PngSpec spec;
        spec.width = side;
        spec.height = side;
        spec.colorType = PNG_COLOR_TYPE_PALETTE;
        spec.paletteSize = 16;
        const auto index = [](int x, int y) { return static_cast<unsigned>(x / 8 + y / 4) % 16; };
        QVERIFY(writePng(path, spec, [&](int x, int y, int) { return index(x, y); }));
        for (int y = 0; y < kArea.height(); ++y)
            for (int x = 0; x < kArea.width(); ++x)
                expected.setPixel(x, y, 0xFF000000u | paletteColor(static_cast<int>(index(x, y))));
    } else {
        QVERIFY(writeGreyJpeg(path, side, side, 200));
        expected.fill(qRgb(128, 128, 128));
        QPainter(&expected).fillRect(0, 0, 8, 8, QColor(200, 200, 200));
    }
    const qint64 rssBefore = peakRssMB();
    QElapsedTimer timer;
    timer.start();
    const QImage corner = readPictureCorner(path, kArea);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(corner.size(), kArea);
    QVERIFY2(surfaceMismatch(corner.convertToFormat(QImage::Format_RGB32), expected, Qt::black, 2).isEmpty(),
             qPrintable(surfaceMismatch(corner.convertToFormat(QImage::Format_RGB32), expected, Qt::black, 2)));
    qInfo("%s: %lld ms, peak RSS %lld MB before, %lld MB after", qPrintable(kind), elapsed, rssBefore, peakRssMB());
    QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
    QVERIFY2(peakRssMB() - rssBefore < 100, qPrintable(QString::number(peakRssMB() - rssBefore)));
}

// ---------------------------------------------------------------------------------------------

void TstWorkspace::openPicture_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<bool>("statusEmptied");
    QTest::newRow("cancelled") << "cancel" << false << false;
    QTest::newRow("bmp, lower-case name") << "logo.bmp" << true << true;
    QTest::newRow("small jpeg") << "small.JPG" << true << true;
    QTest::newRow("bin typed in") << "image.bin" << false << true;
    QTest::newRow("missing file") << "gone.BMP" << false << true;
}

void TstWorkspace::openPicture()
{
    QFETCH(QString, kind);
    QFETCH(bool, loads);
    QFETCH(bool, statusEmptied);
    Rig rig;
    Form1 &form = *rig.form;
    const QColor background = form.picture()->backgroundColor();

    // A first picture, so that "unchanged" can be seen.
    const QString first = rig.path(QStringLiteral("first.BMP"));
    const QImage firstPicture = pattern(128, 64, 7);
    QVERIFY(save(firstPicture, first, "bmp"));
    rig.dialogs.answers << first;
    form.open_picture();
    QCOMPARE(form.windowTitle(), kBase + "(" + QDir::toNativeSeparators(first) + ")");

    const QString path = rig.path(kind);
    QImage picture;
    if (kind == QLatin1String("logo.bmp")) {
        picture = pattern(300, 200, 1);
        QVERIFY(save(picture, path, "bmp"));
    } else if (kind == QLatin1String("small.JPG")) {
        picture = QImage(40, 20, QImage::Format_RGB32);
        picture.fill(QColor(0, 0, 255));
        QVERIFY(save(picture, path, "jpg", 100));
    } else if (kind == QLatin1String("image.bin")) {
        QVERIFY(writeFile(path, binBytes()));
    }
    if (kind == QLatin1String("cancel"))
        rig.dialogs.answers << std::nullopt;
    else
        rig.dialogs.answers << path;
    form.setStatus(QStringLiteral("完了!!"));
    QDir::setCurrent(QDir::tempPath());

    form.open_picture();

    QCOMPARE(QDir::currentPath(), QDir(rig.dir.path()).canonicalPath());
    const FileDialogRequest &request = rig.dialogs.requests.last();
    QCOMPARE(request.mode, FileDialogRequest::Mode::Open);
    QCOMPARE(request.labels, QStringList({"PIcture(*.BMP)", "PIcture(*.JPG)"}));
    QCOMPARE(request.nameFilters, QStringList({"PIcture(*.BMP) (*.[Bb][Mm][Pp])", "PIcture(*.JPG) (*.[Jj][Pp][Gg])"}));
    QCOMPARE(form.commonDialog().filter(), kPictureFilter);
    QCOMPARE(form.statusLabel()->text(), statusEmptied ? QString() : QStringLiteral("完了!!"));
    QVERIFY(rig.boxes.shown.isEmpty());
    if (loads) {
        QCOMPARE(form.windowTitle(), kBase + "(" + QDir::toNativeSeparators(path) + ")");
        const QString mismatch = surfaceMismatch(form.picture()->surface(), picture, background, 8);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    } else {
        QCOMPARE(form.windowTitle(), kBase + "(" + QDir::toNativeSeparators(first) + ")");
        QVERIFY(surfaceMismatch(form.picture()->surface(), firstPicture, background).isEmpty());
    }
}

void TstWorkspace::dropRoutes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("format");  // a picture format, "bin", "text", or "" for no file
    QTest::addColumn<QString>("route");      // "picture", "bin" or "fail"
    QTest::newRow("jpeg") << "photo.jpg" << QByteArray("jpg") << "picture";
    QTest::newRow("png") << "shot.png" << QByteArray("png") << "picture";
    QTest::newRow("tiff") << "scan.tiff" << QByteArray("tiff") << "picture";
    QTest::newRow("webp") << "web.webp" << QByteArray("webp") << "picture";
    QTest::newRow("picture without extension") << "picture" << QByteArray("png") << "picture";
    QTest::newRow(".BIN") << "data.BIN" << QByteArray("bin") << "bin";
    QTest::newRow(".bin") << "data.bin" << QByteArray("bin") << "bin";
    QTest::newRow("cabin, no extension") << "cabin" << QByteArray("bin") << "bin";
    QTest::newRow(".Bin is a picture name") << "data.Bin" << QByteArray("bin") << "fail";
    QTest::newRow("bmp holding bin bytes") << "data.bmp" << QByteArray("bin") << "fail";
    QTest::newRow("text") << "notes.txt" << QByteArray("text") << "fail";
    QTest::newRow("missing picture") << "gone.png" << QByteArray() << "fail";
    QTest::newRow("missing BIN") << "gone.BIN" << QByteArray() << "fail";
}

void TstWorkspace::dropRoutes()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, format);
    QFETCH(QString, route);
    Rig rig;
    Form1 &form = *rig.form;
    const QColor background = form.picture()->backgroundColor();
    const QString first = rig.path(QStringLiteral("first.png"));
    const QImage firstPicture = pattern(200, 100, 3);
    QVERIFY(save(firstPicture, first, "png"));
    form.Picture1_OLEDragDrop({first});
    const QString firstCaption = kBase + "(" + QDir::toNativeSeparators(first) + ")";
    QCOMPARE(form.windowTitle(), firstCaption);
    form.setStatus(QStringLiteral("完了!!"));
    const QByteArray monoBefore = monoBytes(form);

    const QString path = rig.path(name);
    const QImage picture = format == "jpg" ? solidImage(150, 90, QColor(30, 160, 90)) : pattern(150, 90, 5);
    if (format == "bin")
        QVERIFY(writeFile(path, binBytes()));
    else if (format == "text")
        QVERIFY(writeFile(path, "hello"));
    else if (!format.isEmpty())
        QVERIFY(save(picture, path, format.constData(), format == "webp" ? 100 : 95));

    form.Picture1_OLEDragDrop({path});

    QCOMPARE(form.statusLabel()->text(), QStringLiteral("完了!!"));
    const QString droppedCaption = kBase + "(" + QDir::toNativeSeparators(path) + ")";
    if (route == QLatin1String("picture")) {
        QVERIFY(rig.boxes.shown.isEmpty());
        QCOMPARE(form.windowTitle(), droppedCaption);
        const QString mismatch =
            surfaceMismatch(form.picture()->surface(), picture, background, format == "jpg" ? 12 : 0);
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
        QCOMPARE(monoBytes(form), monoBefore);
    } else if (route == QLatin1String("bin")) {
        QVERIFY(rig.boxes.shown.isEmpty());
        QCOMPARE(form.windowTitle(), droppedCaption);
        QCOMPARE(monoBytes(form), binBytes());
        // The area still shows the previous picture.
        QVERIFY(surfaceMismatch(form.picture()->surface(), firstPicture, background).isEmpty());
        QVERIFY(form.picture()->hasPicture());
    } else {
        QCOMPARE(rig.boxes.shown.size(), 1);
        QCOMPARE(rig.boxes.shown[0].title, kCaution);
        QCOMPARE(rig.boxes.shown[0].text, kDropFailure);
        QCOMPARE(rig.boxes.shown[0].buttons, MessageBoxes::Buttons::Ok);
        QCOMPARE(form.windowTitle(), firstCaption);
        QVERIFY(!form.picture()->hasPicture());
        QVERIFY(surfaceMismatch(form.picture()->surface(), QImage(), background).isEmpty());
        QCOMPARE(monoBytes(form), monoBefore);
    }
}

void TstWorkspace::dropEvents()
{
    Rig rig;
    Form1 &form = *rig.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PictureArea *area = form.picture();
    const QString a = rig.path(QStringLiteral("a.bmp"));
    const QString b = rig.path(QStringLiteral("b.jpg"));
    QVERIFY(save(pattern(128, 64, 11), a, "bmp"));
    QVERIFY(save(pattern(128, 64, 12), b, "jpg"));
    // As the window system delivers it: the drop reaches the widget that accepted the enter.
    const auto drop = [area](QMimeData *mime) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &enter);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &event);
        QDragLeaveEvent leave;
        QApplication::sendEvent(area, &leave);
        delete mime;
    };

    auto *text = new QMimeData;
    text->setText(a);
    drop(text);
    auto *web = new QMimeData;
    web->setUrls({QUrl(QStringLiteral("https://example.org/a.bmp"))});
    drop(web);
    QCOMPARE(form.windowTitle(), kBase);
    QVERIFY(rig.boxes.shown.isEmpty());
    QVERIFY(!area->hasPicture());

    // Several files: the first one is loaded.
    auto *files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
    drop(files);
    QCOMPARE(form.windowTitle(), kBase + "(" + QDir::toNativeSeparators(a) + ")");
    QVERIFY(rig.boxes.shown.isEmpty());
    QVERIFY(surfaceMismatch(area->surface(), pattern(128, 64, 11), area->backgroundColor()).isEmpty());
}

void TstWorkspace::transparencyShowsBackground()
{
    Rig rig;
    Form1 &form = *rig.form;
    const QColor background = form.picture()->backgroundColor();
    // Palette entry 0 is fully transparent, entry 2 half, entry 5 opaque.
    PngSpec spec;
    spec.width = 30;
    spec.height = 10;
    spec.colorType = PNG_COLOR_TYPE_PALETTE;
    spec.paletteSize = 16;
    spec.transparentCount = 3;
    const QString path = rig.path(QStringLiteral("t.png"));
    QVERIFY(writePng(path, spec, [](int x, int, int) { return x < 10 ? 0u : x < 20 ? 2u : 5u; }));
    form.Picture1_OLEDragDrop({path});
    const QImage &surface = form.picture()->surface();
    QCOMPARE(surface.pixel(5, 5), background.rgb());
    const QRgb c2 = paletteColor(2);
    const int a2 = paletteAlpha(2);
    const QRgb blended = qRgb((qRed(c2) * a2 + background.red() * (255 - a2)) / 255,
                              (qGreen(c2) * a2 + background.green() * (255 - a2)) / 255,
                              (qBlue(c2) * a2 + background.blue() * (255 - a2)) / 255);
    QVERIFY2(channelDistance(surface.pixel(15, 5), blended) <= 2, qPrintable(QString::number(surface.pixel(15, 5), 16)));
    QCOMPARE(surface.pixel(25, 5) & 0xFFFFFFu, paletteColor(5));
    QCOMPARE(surface.pixel(25, 20), background.rgb());
}

// ---------------------------------------------------------------------------------------------

void TstWorkspace::menuOpensOnRightButtonOnly_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("opens");
    QTest::newRow("left") << Qt::LeftButton << false;
    QTest::newRow("middle") << Qt::MiddleButton << false;
    QTest::newRow("right") << Qt::RightButton << true;
}

void TstWorkspace::menuOpensOnRightButtonOnly()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, opens);
    Rig rig;
    Form1 &form = *rig.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QMenu *menu = form.popupMenu();
    QStringList items;
    for (QAction *action : menu->actions())
        items << action->objectName() + "=" + action->text();
    QCOMPARE(items, QStringList({"popcopy=コピー", "poppaste=ペースト", "popcansel=キャンセル"}));

    MenuDriver driver;
    driver.arm(menu, [](QMenu *m) { m->close(); });
    const QPoint local(20, 15);
    QTest::mousePress(form.picture(), button, {}, local);
    QTest::mouseRelease(form.picture(), button, {}, local);
    QTest::qWait(20);
    QCOMPARE(driver.opened, opens);
    if (opens)
        QCOMPARE(driver.openedAt, form.picture()->mapToGlobal(local));
    QVERIFY(!menu->isVisible());
    QVERIFY(rig.boxes.shown.isEmpty());
}

void TstWorkspace::clipboardCommands_data()
{
    QTest::addColumn<QString>("clipboard");  // "text", "image", "broken"
    QTest::addColumn<QString>("item");       // object name of the chosen item
    QTest::addColumn<QString>("area");       // "before", "pasted", "empty"
    QTest::addColumn<bool>("failureBox");
    QTest::newRow("copy over text") << "text" << "popcopy" << "before" << false;
    QTest::newRow("paste image") << "image" << "poppaste" << "pasted" << false;
    QTest::newRow("paste with only text") << "text" << "poppaste" << "empty" << false;
    QTest::newRow("paste undecodable image") << "broken" << "poppaste" << "before" << true;
    QTest::newRow("cancel") << "image" << "popcansel" << "before" << false;
}

void TstWorkspace::clipboardCommands()
{
    QFETCH(QString, clipboard);
    QFETCH(QString, item);
    QFETCH(QString, area);
    QFETCH(bool, failureBox);
    Rig rig;
    Form1 &form = *rig.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QColor background = form.picture()->backgroundColor();
    const QString file = rig.path(QStringLiteral("before.bmp"));
    const QImage before = pattern(100, 50, 9);
    QVERIFY(save(before, file, "bmp"));
    form.Picture1_OLEDragDrop({file});
    const QString caption = form.windowTitle();
    form.setStatus(QStringLiteral("完了!!"));

    const QImage clipImage = pattern(300, 100, 4);
    QClipboard *board = QApplication::clipboard();
    if (clipboard == QLatin1String("text")) {
        board->setText(QStringLiteral("some text"));
    } else if (clipboard == QLatin1String("image")) {
        board->setImage(clipImage);
    } else {
        auto *mime = new QMimeData;
        mime->setData(QStringLiteral("application/x-qt-image"), QByteArray("not a picture at all"));
        board->setMimeData(mime);
    }

    MenuDriver driver;
    driver.arm(form.popupMenu(), [item](QMenu *m) { clickItem(m, item.toLatin1().constData()); });
    form.Picture1_MouseDown(Qt::RightButton, form.picture()->mapToGlobal(QPoint(5, 5)));
    QVERIFY(driver.opened);
    QVERIFY(!form.popupMenu()->isVisible());

    QCOMPARE(form.windowTitle(), caption);
    QCOMPARE(form.statusLabel()->text(), QStringLiteral("完了!!"));
    if (failureBox) {
        QCOMPARE(rig.boxes.shown.size(), 1);
        QCOMPARE(rig.boxes.shown[0].title, kCaution);
        QCOMPARE(rig.boxes.shown[0].text, kPasteFailure);
    } else {
        QVERIFY(rig.boxes.shown.isEmpty());
    }
    const QImage shown = area == QLatin1String("before")   ? before
                         : area == QLatin1String("pasted") ? clipImage
                                                           : QImage();
    const QString mismatch = surfaceMismatch(form.picture()->surface(), shown, background);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QCOMPARE(form.picture()->hasPicture(), area != QLatin1String("empty"));

    if (item == QLatin1String("popcopy")) {
        // The previous contents are gone; the surface is there as an image.
        QVERIFY(board->text().isEmpty());
        QCOMPARE(board->image().convertToFormat(QImage::Format_RGB32), form.picture()->surface());
    } else if (clipboard == QLatin1String("image")) {
        QCOMPARE(board->image().convertToFormat(QImage::Format_RGB32), clipImage);
    }
}

void TstWorkspace::copyThenPasteRestoresSurface()
{
    Rig rig;
    Form1 &form = *rig.form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString file = rig.path(QStringLiteral("p.bmp"));
    QVERIFY(save(pattern(60, 40, 2), file, "bmp"));
    form.Picture1_OLEDragDrop({file});
    // What the conversion paints into the surface is part of the copy.
    QPainter(&form.picture()->surface()).fillRect(70, 30, 20, 20, Qt::black);
    const QImage painted = form.picture()->surface().copy();

    for (const char *item : {"popcopy", "poppaste"}) {
        if (QLatin1String(item) == QLatin1String("poppaste"))
            form.picture()->clearPicture();
        MenuDriver driver;
        driver.arm(form.popupMenu(), [item](QMenu *m) { clickItem(m, item); });
        form.Picture1_MouseDown(Qt::RightButton, form.picture()->mapToGlobal(QPoint(1, 1)));
        QVERIFY(driver.opened);
    }
    QCOMPARE(form.picture()->surface(), painted);
    QVERIFY(rig.boxes.shown.isEmpty());
}

// ---------------------------------------------------------------------------------------------

void TstWorkspace::saveBmp_data()
{
    QTest::addColumn<QString>("answer");  // name in the program folder; "" cancels
    QTest::addColumn<bool>("written");
    QTest::newRow("with extension") << "out.BMP" << true;
    QTest::newRow("no extension") << "noextension" << true;
    QTest::newRow("over an existing file") << "first.BMP" << true;
    QTest::newRow("folder missing") << "nofolder/out.bmp" << false;
    QTest::newRow("name of a folder") << "afolder" << false;
    QTest::newRow("cancelled") << "" << false;
}

void TstWorkspace::saveBmp()
{
    QFETCH(QString, answer);
    QFETCH(bool, written);
    Rig rig;
    Form1 &form = *rig.form;
    QVERIFY(QDir(rig.dir.path()).mkdir(QStringLiteral("afolder")));
    const QString first = rig.path(QStringLiteral("first.BMP"));
    QVERIFY(save(pattern(90, 70, 6), first, "bmp"));
    rig.dialogs.answers << first;
    form.open_picture();
    QPainter(&form.picture()->surface()).fillRect(100, 0, 28, 64, Qt::white);
    const QImage surface = form.picture()->surface().copy();
    form.setStatus(QStringLiteral("完了!!"));
    const QByteArray firstBytes = readFile(first);

    const QString path = answer.isEmpty() ? QString() : rig.path(answer);
    rig.dialogs.answers << (answer.isEmpty() ? std::optional<QString>() : std::optional<QString>(path));
    form.save_bmp();

    const FileDialogRequest &request = rig.dialogs.requests.last();
    QCOMPARE(request.mode, FileDialogRequest::Mode::Save);
    QCOMPARE(request.labels, QStringList({"*.BMP"}));
    QVERIFY(request.confirmOverwrite);
    // The name is not reset: the dialog proposes the picture just opened.
    QCOMPARE(request.initialPath, first);
    QCOMPARE(form.commonDialog().flags(), 6);
    QCOMPARE(form.commonDialog().filter(), QStringLiteral("*.BMP|*.BMP"));
    QVERIFY(rig.boxes.shown.isEmpty());
    QCOMPARE(form.statusLabel()->text(), written ? kBmpSaved : QStringLiteral("完了!!"));
    if (answer == QLatin1String("noextension"))
        QVERIFY(!QFileInfo::exists(path + ".BMP"));
    if (!written) {
        if (!path.isEmpty() && answer != QLatin1String("afolder"))
            QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(readFile(first), firstBytes);
        return;
    }
    const QByteArray bmp = readFile(path);
    const auto *b = reinterpret_cast<const uchar *>(bmp.constData());
    QCOMPARE(bmp.size(), 54 + 128 * 3 * 64);
    QCOMPARE(bmp.left(2), QByteArray("BM"));
    QCOMPARE(qFromLittleEndian<quint32>(b + 2), quint32(bmp.size()));
    QCOMPARE(qFromLittleEndian<quint32>(b + 10), 54u);
    QCOMPARE(qFromLittleEndian<quint32>(b + 14), 40u);         // BITMAPINFOHEADER
    QCOMPARE(qFromLittleEndian<qint32>(b + 18), 128);
    QCOMPARE(qFromLittleEndian<qint32>(b + 22), 64);           // bottom-up
    QCOMPARE(qFromLittleEndian<quint16>(b + 26), quint16(1));
    QCOMPARE(qFromLittleEndian<quint16>(b + 28), quint16(24));
    QCOMPARE(qFromLittleEndian<quint32>(b + 30), 0u);          // BI_RGB
    QCOMPARE(qFromLittleEndian<qint32>(b + 38), 3780);         // 96 dpi
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 128; ++x) {
            const uchar *p = b + 54 + (63 - y) * 384 + 3 * x;
            if (qRgb(p[2], p[1], p[0]) != surface.pixel(x, y))
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
}

void TstWorkspace::dialogStateCarriesOver()
{
    // One dialog serves every operation: what one leaves is what the next one starts from.
    Rig rig;
    Form1 &form = *rig.form;
    CommonDialog &dialog = form.commonDialog();
    const QString picture = rig.path(QStringLiteral("logo.bmp"));
    QVERIFY(save(pattern(128, 64), picture, "bmp"));
    const QString bmp = rig.path(QStringLiteral("export.BMP"));
    const QString bin = rig.path(QStringLiteral("image.BIN"));
    const QString commands = rig.path(QStringLiteral("commands.txt"));
    const QString appDir = QDir(rig.dir.path()).canonicalPath();

    struct Step {
        const char *what;
        std::function<void()> run;
        std::optional<QString> answer;
        FileDialogRequest::Mode mode;
        QStringList labels;
        bool confirm;
        QString initialPath;
        QString filter;
        int flags;
        QString name;
    };
    const QStringList pictureLabels{"PIcture(*.BMP)", "PIcture(*.JPG)"};
    const QList<Step> steps = {
        {"open_picture, fresh dialog", [&] { form.open_picture(); }, picture, FileDialogRequest::Mode::Open,
         pictureLabels, false, appDir, kPictureFilter, 0, picture},
        {"save_bmp proposes the picture", [&] { form.save_bmp(); }, bmp, FileDialogRequest::Mode::Save, {"*.BMP"},
         true, picture, "*.BMP|*.BMP", 6, bmp},
        {"open_picture keeps flags 6", [&] { form.open_picture(); }, std::nullopt, FileDialogRequest::Mode::Open,
         pictureLabels, true, bmp, kPictureFilter, 6, bmp},
        {"save_bin empties the name", [&] { form.save_bin(); }, bin, FileDialogRequest::Mode::Save,
         {"Binary(*.BIN)"}, true, appDir, "Binary(*.BIN)|*.BIN", 6, bin},
        {"open_bin sets only the filter", [&] { form.open_bin(); }, bin, FileDialogRequest::Mode::Open,
         {"Bin(*.bin)"}, true, bin, "Bin(*.bin)|*.bin", 6, bin},
        // The console's command file: filter "*.*" only, nothing else touched.
        {"console file", [&] { dialog.setFilter(QStringLiteral("*.*|*.*")); dialog.showOpen(&form); }, commands,
         FileDialogRequest::Mode::Open, {"*.*"}, true, bin, "*.*|*.*", 6, commands},
        {"save_bmp proposes the command file", [&] { form.save_bmp(); }, std::nullopt,
         FileDialogRequest::Mode::Save, {"*.BMP"}, true, commands, "*.BMP|*.BMP", 6, commands},
    };
    QVERIFY(writeFile(commands, "DP\r\n"));
    for (const Step &step : steps) {
        rig.dialogs.answers << step.answer;
        QDir::setCurrent(QDir::tempPath());
        const qsizetype before = rig.dialogs.requests.size();
        step.run();
        QVERIFY2(rig.dialogs.requests.size() == before + 1, step.what);
        const FileDialogRequest &r = rig.dialogs.requests.last();
        QVERIFY2(r.mode == step.mode, step.what);
        QVERIFY2(r.labels == step.labels, step.what);
        QVERIFY2(r.confirmOverwrite == step.confirm, step.what);
        QVERIFY2(QFileInfo(r.initialPath).canonicalFilePath() == QFileInfo(step.initialPath).canonicalFilePath()
                     || r.initialPath == step.initialPath,
                 qPrintable(QString::fromLatin1(step.what) + ": " + r.initialPath));
        QVERIFY2(dialog.filter() == step.filter, step.what);
        QVERIFY2(dialog.flags() == step.flags, step.what);
        QVERIFY2(dialog.fileName() == step.name, qPrintable(QString::fromLatin1(step.what) + ": " + dialog.fileName()));
    }
}

void TstWorkspace::qtDialogMatchesAnyCase()
{
    // Qt's dialog with the translated filter lists a picture whatever the case of its extension.
    QTemporaryDir dir;
    for (const char *name : {"logo.bmp", "LOGO2.BMP", "Mixed.Bmp", "photo.jpg", "PHOTO2.JPG", "notes.txt", "data.BIN"})
        QVERIFY(writeFile(dir.filePath(QLatin1String(name)), "x"));
    FileDialogRequest request;
    request.mode = FileDialogRequest::Mode::Open;
    request.nameFilters = CommonDialog::toNameFilters(kPictureFilter, &request.labels);
    request.initialPath = dir.path();
    QStringList bmpShown, jpgShown, typeTexts;
    whenModal<QFileDialog>([&](QFileDialog *dialog) {
        (void)QTest::qWaitFor([&] { return !visibleFiles(dialog).isEmpty(); }, 5000);
        QTest::qWait(100);
        bmpShown = visibleFiles(dialog);
        if (auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo")))
            for (int i = 0; i < combo->count(); ++i)
                typeTexts << combo->itemText(i);
        dialog->selectNameFilter(dialog->nameFilters().value(1));
        (void)QTest::qWaitFor([&] { return visibleFiles(dialog).contains(QStringLiteral("photo.jpg")); }, 5000);
        jpgShown = visibleFiles(dialog);
        dialog->reject();
    });
    QtFileDialogBackend backend;
    const std::optional<QString> chosen = backend.run(nullptr, request);
    QCOMPARE(typeTexts, QStringList({"PIcture(*.BMP)", "PIcture(*.JPG)"}));
    QCOMPARE(bmpShown, QStringList({"LOGO2.BMP", "Mixed.Bmp", "logo.bmp"}));
    QCOMPARE(jpgShown, QStringList({"PHOTO2.JPG", "photo.jpg"}));
    QVERIFY(!chosen.has_value());
}

void TstWorkspace::qtDialogConfirmsOverwrite_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("flag 2 asks") << true;
    QTest::newRow("without flag 2") << false;
}

void TstWorkspace::qtDialogConfirmsOverwrite()
{
    QFETCH(bool, confirm);
    QTemporaryDir dir;
    const QString existing = dir.filePath(QStringLiteral("old.BMP"));
    QVERIFY(writeFile(existing, "old"));
    FileDialogRequest request;
    request.mode = FileDialogRequest::Mode::Save;
    request.nameFilters = CommonDialog::toNameFilters(QStringLiteral("*.BMP|*.BMP"), &request.labels);
    request.initialPath = existing;
    request.confirmOverwrite = confirm;
    bool asked = false;
    bool openAfterNo = false;
    QPointer<QTimer> question;
    whenModal<QFileDialog>([&](QFileDialog *dialog) {
        // The question, if one comes, is answered No.
        question = whenModal<QMessageBox>([&](QMessageBox *box) {
            asked = true;
            box->done(QMessageBox::No);
        });
        static_cast<QDialog *>(dialog)->accept();
        openAfterNo = dialog->isVisible();
        if (openAfterNo)
            dialog->reject();
    });
    QtFileDialogBackend backend;
    const std::optional<QString> chosen = backend.run(nullptr, request);
    delete question;
    QCOMPARE(asked, confirm);
    QCOMPARE(openAfterNo, confirm);
    QCOMPARE(chosen.has_value(), !confirm);
    if (chosen)
        QCOMPARE(*chosen, existing);
    QCOMPARE(readFile(existing), QByteArray("old"));
}

QTEST_MAIN(TstWorkspace)
#include "tst_workspace.moc"
