// The picture area: pictures opened and dropped (and what fails), the clipboard, the BMP
// export, and the shared file dialog between uses.
#include "common/headerfields.h"
#include "common/testsupport.h"
#include "gui/mainwindow/picturearea.h"
#include "core/picture/pictureloader.h"

#include <QtTest>
#include <QtWidgets>

using namespace pw;
using namespace pw::test;

// No two neighbours alike, so a shifted or scaled picture cannot pass; the palette has alpha.
static QImage pattern(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    if (format == QImage::Format_Indexed8)
        image.setColorTable({qRgba(0, 0, 0, 0), qRgba(200, 30, 40, 128), qRgb(10, 120, 250), qRgb(250, 200, 0)});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, image.colorCount() ? uint(x / 3 + y) % 4 : qRgb(x * 5 % 256, y * 9 % 256, (x + 2 * y) * 3 % 256));
    return image;
}

// Each kind's file: a picture encoded, maybe cut short or damaged within the first rows.
static QByteArray fileOf(const QString &kind)
{
    if (kind == "png-i")  // 5 x 3 RGB in seven passes, as Qt writes no interlaced PNG
        return QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000005000000030802000001a3536239000000394944415478da636070ef63b8229d"
                                   "c490b5f107c321ce009de25dd3eeaa3098d61c9eff4c97e1bb5d6be28af70c400c143c2d1409540c94010020e5162b78e190ed0000000049454e44ae426082");
    QByteArray b;
    QBuffer buffer(&b);  // opened by the writer
    const QImage picture = kind.startsWith("jpg") ? solidImage(150, 90, QColor(30, 160, 90))
                           : kind == "palette" ? pattern(100, 100, QImage::Format_Indexed8) : pattern(300, 40);
    picture.save(&buffer, kind.startsWith("jpg") ? "jpg" : kind == "bmp" ? "bmp" : "png");
    if (kind.endsWith("-cut"))  // JPEG: before the scan
        b.truncate(kind == "png-cut" ? b.indexOf("IDAT") + 30 : b.indexOf("\xFF\xDA"));
    if (kind.endsWith("-bad"))  // the zlib header of the pixel data; a frame without components
        b[kind == "png-bad" ? b.indexOf("IDAT") + 4 : b.indexOf("\xFF\xC0") + 9] = 0;
    return kind == "bin" ? QByteArray("\x01\x80\x55\xAA").repeated(256) : b;
}

// The area as it must look: background, the picture unscaled from the top-left, cut at 128 x 64.
static void checkShows(PictureArea *area, const QImage &picture)
{
    QImage want = solidImage(128, 64, area->backgroundColor()).convertToFormat(QImage::Format_RGB32);
    QPainter(&want).drawImage(0, 0, picture);
    QCOMPARE(area->surface().convertToFormat(QImage::Format_RGB32), want);
    // and on the screen, inside the frame
    const QImage painted = area->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(painted.copy(QRect(area->contentsRect().topLeft(), want.size())), want);
}

class TstWorkspace : public QObject {
    Q_OBJECT
private slots:
    void openedAndDroppedFilesReachAreaOrWorkingImage_data()
    {
        QTest::addColumn<QString>("files");  // dropped, or chosen when the tag says "open"; "web" is a URL
        QTest::addColumn<QString>("kind");   // what the first file holds; the others hold a BIN image
        QTest::addColumn<QString>("route");  // picture, bin, fail or none
        QTest::newRow("drop .bin, then a picture: the first") << "a.bin;b.bmp" << "bin" << "bin";
        QTest::newRow("drop .BIN") << "a.BIN" << "bin" << "bin";
        QTest::newRow("drop cabin") << "cabin" << "bin" << "bin";
        QTest::newRow("drop .Bin: a picture name") << "a.Bin" << "bin" << "fail";
        QTest::newRow("drop bmp, then a BIN: the first, cut, background below") << "s.bmp;t.BIN" << "bmp" << "picture";
        QTest::newRow("drop palette png: transparency over background") << "p.png" << "palette" << "picture";
        QTest::newRow("drop interlaced png") << "i.png" << "png-i" << "picture";
        QTest::newRow("drop png truncated") << "c.png" << "png-cut" << "fail";
        QTest::newRow("drop png corrupt") << "k.png" << "png-bad" << "fail";
        QTest::newRow("drop jpeg truncated") << "c.jpg" << "jpg-cut" << "fail";
        QTest::newRow("drop jpeg corrupt") << "k.jpg" << "jpg-bad" << "fail";
        QTest::newRow("drop no local file") << "web" << "bmp" << "none";
        QTest::newRow("open cancelled") << "" << "bmp" << "none";
        QTest::newRow("open jpeg, cut both ways") << "big.jpg" << "jpg" << "picture";
        QTest::newRow("open not a picture: silent") << "image.bin" << "bin" << "none";
    }

    void openedAndDroppedFilesReachAreaOrWorkingImage()
    {
        QFETCH(QString, files);
        QFETCH(QString, kind);
        QFETCH(QString, route);
        Rig rig;
        QVERIFY(pattern(200, 100).save(rig.path("first.bmp")));
        rig.window->openDroppedFiles({rig.path("first.bmp")});
        const QString before = rig.window->windowTitle();
        rig.window->setStatus("完了!!");
        QMimeData mime;
        for (const QString &name : files.split(';', Qt::SkipEmptyParts)) {
            QVERIFY(writeFile(rig.path(name), fileOf(mime.hasUrls() ? "bin" : kind)));
            mime.setUrls(mime.urls() << (name == "web" ? QUrl("https://example.org/a.png") : QUrl::fromLocalFile(rig.path(name))));
        }
        const bool open = QByteArray(QTest::currentDataTag()).startsWith("open");
        if (open) {
            rig.dialogs.answers << (files.isEmpty() ? std::nullopt : std::optional<QString>(rig.path(files)));
            rig.window->openPicture();
            QCOMPARE(rig.dialogs.requests.last().labels, QStringList({"PIcture(*.BMP)", "PIcture(*.JPG)"}));
        } else {  // as the window system delivers it: the drop goes to the widget that accepted the enter
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QDragMoveEvent move(QPoint(6, 6), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(rig.window->pictureArea(), &enter);
            QApplication::sendEvent(rig.window->pictureArea(), &move);
            QVERIFY(enter.isAccepted() && move.isAccepted());  // files are welcome: the cursor says so
            QApplication::sendEvent(rig.window->pictureArea(), &drop);
        }
        const bool failed = route == "fail", loaded = route == "picture" || route == "bin";
        QCOMPARE(rig.window->statusLabel()->text(), open && !files.isEmpty() ? "" : "完了!!");
        QCOMPARE(rig.boxes.texts(), failed ? QStringList{"画像ファイル又はBINファイルではありません。"} : QStringList{});
        QVERIFY(!failed || rig.boxes.shown[0].title == "注意");
        QCOMPARE(rig.window->windowTitle(), loaded ? QStringLiteral("Pixelwright for 128×64(Mono)") + "(" + rig.path(files.section(';', 0, 0)) + ")" : before);
        checkShows(rig.window->pictureArea(), route == "picture" ? QImage::fromData(fileOf(kind)) : failed ? QImage() : pattern(200, 100));
        QVERIFY(route != "bin" || QByteArray(reinterpret_cast<const char *>(rig.window->monoImage().data()), kImageBytes) == fileOf("bin"));
        if (route == "none") {  // the picture before is still the one an option changes
            ConversionSettings turned = rig.window->conversionSettings();
            turned.rotate = 180;
            Rig alone;
            QVERIFY(pattern(200, 100).save(alone.path("first.bmp")));
            alone.window->openDroppedFiles({alone.path("first.bmp")});
            rig.window->setConversionSettings(turned);
            alone.window->setConversionSettings(turned);
            QCOMPARE(rig.window->pictureArea()->surface(), alone.window->pictureArea()->surface());
        }
        if (failed) {  // the picture before is gone for 画像変換 too: it converts the empty area
            const auto working = [](Rig &r) {
                r.window->convertPicture();
                return QByteArray(reinterpret_cast<const char *>(r.window->monoImage().data()), kImageBytes);
            };
            Rig empty;
            QCOMPARE(working(rig), working(empty));
        }
    }

    // Every header field at its extremes, opened and dropped: the window shows the picture or
    // says it is none, and never goes down.
    void headerFieldsNeverTakeTheWindowDown()
    {
        Rig rig;
        const QString path = rig.path("picture.bmp");
        for (const HeaderCase &c : headerCases()) {
            QVERIFY(writeFile(path, c.bytes));
            rig.dialogs.answers << path;
            rig.window->openPicture();
            const qsizetype boxes = rig.boxes.shown.size();
            rig.window->openDroppedFiles({path});
            QVERIFY2(!c.noPixels || rig.boxes.shown.size() == boxes + 1, qPrintable(c.name));
        }
    }

    // A theme change repaints an empty area in the new button face; a picture shown stays.
    void emptyAreaFollowsTheThemeAndAPictureStays()
    {
        Rig empty, shown;
        shown.window->pictureArea()->setPicture(pw::test::solidImage(128, 64, Qt::blue));
        const QPalette before = QApplication::palette();
        QPalette theme = before;
        theme.setColor(QPalette::Button, QColor(10, 200, 30));
        QApplication::setPalette(theme);
        QCoreApplication::processEvents();
        const QRgb emptyPixel = empty.window->pictureArea()->surface().pixel(5, 5), shownPixel = shown.window->pictureArea()->surface().pixel(5, 5);
        QApplication::setPalette(before);
        QCOMPARE(emptyPixel, qRgb(10, 200, 30));
        QCOMPARE(shownPixel, qRgb(0, 0, 255));
    }

    void clipboardAndBmpExportTakeTheAreaSurface()
    {
        Rig rig;
        PictureArea *area = rig.window->pictureArea();
        QMenu *menu = rig.window->pictureMenu();
        for (Qt::MouseButton button : {Qt::LeftButton, Qt::MiddleButton, Qt::RightButton}) {
            bool opened = false;
            QTimer::singleShot(0, menu, [&] { opened = menu->isVisible(); menu->close(); });
            QTest::mouseClick(area, button, {}, QPoint(20, 15));
            QTest::qWait(20);
            QCOMPARE(opened, button == Qt::RightButton);
        }
        area->setPicture(pattern(90, 70));
        QPainter(&area->surface()).fillRect(100, 30, 20, 20, Qt::black);  // as the conversion paints: copied and saved too
        rig.window->copyPicture();
        QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), area->surface());
        const QString tooLong = "nofolder/x.BMP", dir = rig.path("s/");  // "nofolder" is a file: no file can go in it
        QVERIFY(QDir().mkdir(dir) && writeFile(dir + "old.BMP", "old") && writeFile(dir + "nofolder", "old"));
        // 24-bit, uncompressed, 96 dpi; then the rows bottom-up, 384 bytes each, no padding.
        QByteArray bmp = QByteArray::fromHex("424d366000000000000036000000280000008000000040000000010018000000000000600000c40e0000c40e00000000000000000000");
        const QImage bgr = area->surface().convertToFormat(QImage::Format_BGR888).mirrored();
        bmp.append(reinterpret_cast<const char *>(bgr.constBits()), bgr.sizeInBytes());
        for (const QString &name : {QString("noextension"), QString("old.BMP"), tooLong}) {
            rig.window->setStatus("完了!!");
            rig.dialogs.answers << dir + name;
            rig.window->savePictureAsBmp();
            QCOMPARE(rig.window->statusLabel()->text(), name == tooLong ? "" : "BMPﾌｧｲﾙ保存終了!!");  // a failure must not look done
            QCOMPARE(readFile(dir + name), name == tooLong ? QByteArray() : bmp);
        }
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden), QStringList({"noextension", "nofolder", "old.BMP"}));
        QApplication::clipboard()->setImage(pattern(300, 100));
        rig.window->pastePicture();
        checkShows(area, pattern(300, 100));
        QApplication::clipboard()->setText("only text");
        rig.window->pastePicture();
        checkShows(area, QImage());
        QVERIFY(rig.boxes.shown.isEmpty());
        const ConversionSettings plain = rig.window->conversionSettings();  // the picture before it is gone for the options too
        ConversionSettings brighter = plain;
        brighter.tone.brightness = 20;
        rig.window->setConversionSettings(brighter);
        checkShows(area, QImage());
        rig.window->setConversionSettings(plain);
        // Offered as a picture but unreadable, chosen from the menu: said once the menu has
        // closed, and the area keeps what it showed; the next paste from the menu says nothing.
        area->setPicture(pattern(90, 70));
        for (const QByteArray &offered : {QByteArray("not a picture"), QByteArray()}) {
            auto *data = new QMimeData;
            if (offered.isEmpty())
                data->setImageData(pattern(40, 30));
            else
                data->setData("application/x-qt-image", offered);
            QApplication::clipboard()->setMimeData(data);
            QStringList duringMenu;
            QTimer::singleShot(0, menu, [&] {
                rig.window->findChild<QAction *>(QStringLiteral("pastePictureAction"))->trigger();
                duringMenu = rig.boxes.texts();
                menu->close();
            });
            QTest::mouseClick(area, Qt::RightButton, {}, QPoint(20, 15));
            QTRY_VERIFY(!menu->isVisible());
            QVERIFY(duringMenu.isEmpty());
            QCOMPARE(rig.boxes.texts(), offered.isEmpty() ? QStringList{} : QStringList{"画像ファイルではありません。"});
            checkShows(area, pattern(offered.isEmpty() ? 40 : 90, offered.isEmpty() ? 30 : 70));
            rig.boxes.shown.clear();
        }
    }

    void sharedDialogKeepsFlagsAndNameBetweenUses()
    {
        Rig rig;
        const QString dir = rig.dir.path(), picture = rig.path("logo.bmp"), bmp = rig.path("a.BMP"), bin = rig.path("a.BIN");
        const struct { void (MainWindow::*op)(); QString answer, start; int flags; } steps[] = {
            {.op = &MainWindow::openPicture, .answer = picture, .start = dir, .flags = 0},
            {.op = &MainWindow::savePictureAsBmp, .answer = bmp, .start = picture, .flags = 6},  // proposes the picture just chosen
            {.op = &MainWindow::saveBinFile, .answer = bin, .start = dir, .flags = 6},           // starts without a name
            {.op = &MainWindow::openBinFile, .answer = bin, .start = bin, .flags = 6},           // keeps the flags
            {.op = &MainWindow::openPicture, .answer = {}, .start = bin, .flags = 6},            // cancelled: the name stays
        };
        // Used first, each dialog starts in the program's folder, wherever the program was
        // started from, on the first of its file types.
        const QString startedIn = QDir::currentPath();
        for (void (MainWindow::*first)() : {&MainWindow::openPicture, &MainWindow::openBinFile}) {
            Rig fresh;
            QVERIFY(QDir::setCurrent(QDir::rootPath()));
            fresh.dialogs.answers << std::nullopt;
            (fresh.window.get()->*first)();
            QCOMPARE(QFileInfo(fresh.dialogs.requests.value(0).initialPath).canonicalFilePath(), QFileInfo(fresh.dir.path()).canonicalFilePath());
            QCOMPARE(fresh.dialogs.requests.value(0).filter, 0);
            QVERIFY(QDir::setCurrent(startedIn));
        }
        for (const auto &step : steps) {
            rig.dialogs.answers << (step.answer.isEmpty() ? std::nullopt : std::optional<QString>(step.answer));
            (rig.window.get()->*step.op)();
            QCOMPARE(QFileInfo(rig.dialogs.requests.last().initialPath).canonicalFilePath(), QFileInfo(step.start).canonicalFilePath());
            QCOMPARE(rig.window->fileDialog().flags(), step.flags);
            QCOMPARE(rig.window->fileDialog().fileName(), step.answer.isEmpty() ? bin : step.answer);
        }
    }
};

QTEST_MAIN(TstWorkspace)
#include "tst_workspace.moc"
