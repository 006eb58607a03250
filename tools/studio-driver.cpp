// Drives the window program's conversion studio offscreen, for the benchmark and the README's
// screenshot (tools/bench-studio.sh, tools/make-studio-screenshot.sh). Not a test: it prints
// figures and writes pictures.
//
//   studio-driver photo OUT.jpg W H      a photo-like JPEG (gradients, shapes, noise)
//   studio-driver changes PICTURE         median and max time of each option change
//   studio-driver text PICTURE            the same for each change of the text and its options
//   studio-driver open PICTURE            time and peak memory of opening it in the window
//   studio-driver corner PICTURE          the same for readPictureCorner alone
//   studio-driver screenshot PICTURE OUT.png
#include "common/fakeport.h"
#include "core/picture/pictureloader.h"
#include "gui/studio/conversionstudio.h"
#include "gui/mainwindow/mainwindow.h"
#include "gui/mainwindow/picturearea.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QPainter>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace pw;

namespace {

struct QuietBoxes final : MessageBoxes {
    Answer ask(QWidget *, const QString &, const QString &, Buttons buttons, Answer) override
    {
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Yes;
    }
};

struct NoDialogs final : FileDialogBackend {
    std::optional<QString> run(QWidget *, const FileDialogRequest &, int *) override { return std::nullopt; }
};

struct Window {
    Window()
    {
        platform.boxes = &boxes;
        platform.dialogs = &dialogs;
        platform.port = &port;
        platform.programDir = dir.path();
        window = std::make_unique<MainWindow>(platform);
    }
    QTemporaryDir dir;
    QuietBoxes boxes;
    NoDialogs dialogs;
    test::FakePort port;
    Platform platform;
    std::unique_ptr<MainWindow> window;
};

long peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

template <typename T>
T *control(ConversionStudio *studio, const QString &name)
{
    for (T *widget : studio->findChildren<T *>())
        if (widget->accessibleName() == name)
            return widget;
    std::fprintf(stderr, "no control %s\n", qPrintable(name));
    std::exit(1);
}

int photo(const QString &out, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(1);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = int(random.bounded(24));
            line[x] = qRgb((x * 255 / width + n) % 256, (y * 255 / height + n) % 256, ((x + y) * 128 / (width + height) + 60 + n) % 256);
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 160, int(random.bounded(80, 255))));
        painter.setPen(Qt::NoPen);
        const int r = int(random.bounded(width / 40, width / 6));
        painter.drawEllipse(QPoint(int(random.bounded(width)), int(random.bounded(height))), r, r);
    }
    painter.end();
    return image.save(out, "jpg", 90) ? 0 : 1;
}

// Every option changed in turn through its control, as the user would: each change prepares the
// area again and redraws the preview.
int changes(const QString &picture)
{
    Window w;
    QElapsedTimer clock;
    clock.start();
    w.window->openDroppedFiles({picture});
    const qint64 opened = clock.elapsed();
    w.window->openStudio();
    ConversionStudio *studio = w.window->studio();
    QApplication::processEvents();
    QList<double> times;
    QStringList slowest;
    const auto timed = [&](const QString &what, const std::function<void()> &change) {
        QElapsedTimer t;
        t.start();
        change();
        QApplication::processEvents();
        times << double(t.nsecsElapsed()) / 1e6;
        slowest << QStringLiteral("%1 %2").arg(times.last(), 0, 'f', 1).arg(what);
    };
    for (int v : {120, 110, 100, 140, 160, 128})
        timed(QStringLiteral("しきい値"), [&] { control<QSpinBox>(studio, QStringLiteral("しきい値"))->setValue(v); });
    for (int i : {1, 2, 3, 4, 0})
        timed(QStringLiteral("ディザ"), [&] { control<QComboBox>(studio, QStringLiteral("ディザ"))->setCurrentIndex(i); });
    for (int k = 0; k < 2; ++k)
        timed(QStringLiteral("白黒反転"), [&] { control<QAbstractButton>(studio, QStringLiteral("白黒反転"))->toggle(); });
    for (int v : {20, 40, -30, 0})
        timed(QStringLiteral("明るさ"), [&] { control<QSpinBox>(studio, QStringLiteral("明るさ"))->setValue(v); });
    for (int v : {30, 60, -40, 0})
        timed(QStringLiteral("コントラスト"), [&] { control<QSpinBox>(studio, QStringLiteral("コントラスト"))->setValue(v); });
    for (double v : {1.5, 2.2, 0.6, 1.0})
        timed(QStringLiteral("ガンマ"), [&] { control<QDoubleSpinBox>(studio, QStringLiteral("ガンマ"))->setValue(v); });
    for (int fit : {1, 2, 3}) {
        timed(QStringLiteral("配置"), [&] { control<QComboBox>(studio, QStringLiteral("配置"))->setCurrentIndex(fit); });
        for (int v : {100, 150, 128})
            timed(QStringLiteral("しきい値"), [&] { control<QSpinBox>(studio, QStringLiteral("しきい値"))->setValue(v); });
        for (int turn : {1, 2, 3, 0})
            timed(QStringLiteral("回転"), [&] { control<QComboBox>(studio, QStringLiteral("回転"))->setCurrentIndex(turn); });
        timed(QStringLiteral("明るさ"), [&] { control<QSpinBox>(studio, QStringLiteral("明るさ"))->setValue(25); });
        timed(QStringLiteral("明るさ"), [&] { control<QSpinBox>(studio, QStringLiteral("明るさ"))->setValue(0); });
    }
    timed(QStringLiteral("配置"), [&] { control<QComboBox>(studio, QStringLiteral("配置"))->setCurrentIndex(0); });
    for (int turn : {1, 2, 3, 0})
        timed(QStringLiteral("回転"), [&] { control<QComboBox>(studio, QStringLiteral("回転"))->setCurrentIndex(turn); });
    for (const char *flip : {"左右反転", "上下反転", "左右反転", "上下反転"})
        timed(QString::fromUtf8(flip), [&] { control<QAbstractButton>(studio, QString::fromUtf8(flip))->toggle(); });
    studio->chooseColor = [](const QColor &) { return QColor(Qt::black); };
    timed(QStringLiteral("背景色"), [&] { control<QAbstractButton>(studio, QStringLiteral("背景色"))->click(); });
    timed(QStringLiteral("既定に戻す"), [&] { control<QAbstractButton>(studio, QStringLiteral("既定に戻す"))->click(); });

    QList<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::sort(slowest.begin(), slowest.end(), [](const QString &a, const QString &b) { return a.section(' ', 0, 0).toDouble() > b.section(' ', 0, 0).toDouble(); });
    std::printf("picture opened in %lld ms; %lld option changes: median %.1f ms, max %.1f ms\n", opened, qint64(times.size()),
                sorted[sorted.size() / 2], sorted.last());
    std::printf("slowest: %s\n", qPrintable(slowest.mid(0, 5).join(QStringLiteral(", "))));
    return 0;
}

// The text typed a character at a time, then each of its options changed, over the open picture.
int textChanges(const QString &picture)
{
    Window w;
    w.window->openDroppedFiles({picture});
    w.window->openStudio();
    ConversionStudio *studio = w.window->studio();
    control<QComboBox>(studio, QStringLiteral("ディザ"))->setCurrentIndex(1);
    QApplication::processEvents();
    QList<double> times;
    const auto timed = [&](const std::function<void()> &change) {
        QElapsedTimer t;
        t.start();
        change();
        QApplication::processEvents();
        times << double(t.nsecsElapsed()) / 1e6;
    };
    auto *text = control<QPlainTextEdit>(studio, QStringLiteral("テキスト"));
    for (const QChar c : QStringLiteral("本日のおすすめ\nｺｰﾋｰ ¥380\nCake 450"))
        timed([&] { text->insertPlainText(QString(c)); });
    const QStringList families{QStringLiteral("Unifont"), QStringLiteral("DejaVu Sans"), QStringLiteral("MisakiGothic")};
    for (const QString &family : families)
        timed([&] { control<QComboBox>(studio, QStringLiteral("フォント"))->setCurrentText(family); });
    for (int v : {16, 12, 24, 8})
        timed([&] { control<QSpinBox>(studio, QStringLiteral("サイズ"))->setValue(v); });
    for (int k = 0; k < 2; ++k)
        timed([&] { control<QAbstractButton>(studio, QStringLiteral("太字"))->toggle(); });
    for (const char *name : {"横位置", "縦位置", "文字色"})
        for (int i : {1, 2, 0})
            timed([&] { control<QComboBox>(studio, QString::fromUtf8(name))->setCurrentIndex(qMin(i, control<QComboBox>(studio, QString::fromUtf8(name))->count() - 1)); });
    for (int v : {5, -12, 40, 0})
        timed([&] { control<QSpinBox>(studio, QStringLiteral("Xオフセット"))->setValue(v); });
    for (int v : {3, -6, 0})
        timed([&] { control<QSpinBox>(studio, QStringLiteral("Yオフセット"))->setValue(v); });
    QList<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("%lld text changes over a dithered 6000 x 4000 JPEG: median %.1f ms, max %.1f ms\n", qint64(times.size()),
                sorted[sorted.size() / 2], sorted.last());
    return 0;
}

int open(const QString &picture, bool cornerOnly)
{
    Window w;
    QApplication::processEvents();
    const long before = peakKb();
    QElapsedTimer clock;
    clock.start();
    bool ok = false;
    if (cornerOnly) {
        ok = !readPictureCorner(picture, QSize(kImageWidth, kImageHeight)).isNull();
    } else {
        w.window->openDroppedFiles({picture});
        ok = w.window->pictureArea()->hasPicture();
    }
    const qint64 ms = clock.elapsed();
    std::printf("%s %s: %lld ms, peak memory +%ld MB%s\n", cornerOnly ? "readPictureCorner" : "window open", qPrintable(picture), ms,
                (peakKb() - before) / 1024, ok ? "" : " (FAILED)");
    return ok ? 0 : 1;
}

int screenshot(const QString &picture, const QString &out)
{
    Window w;
    w.window->show();
    w.window->openDroppedFiles({picture});
    w.window->openStudio();
    ConversionStudio *studio = w.window->studio();
    control<QComboBox>(studio, QStringLiteral("配置"))->setCurrentIndex(1);
    control<QComboBox>(studio, QStringLiteral("ディザ"))->setCurrentIndex(1);
    control<QSpinBox>(studio, QStringLiteral("コントラスト"))->setValue(20);
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    return studio->grab().save(out) ? 0 : 1;
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The window makes its own folder the current one: every path is taken whole first.
    QStringList args = QCoreApplication::arguments().mid(1);
    for (qsizetype i = 1; i < args.size(); ++i)
        if (args[i].contains(QLatin1Char('.')))
            args[i] = QFileInfo(args[i]).absoluteFilePath();
    const QString mode = args.value(0);
    if (mode == QLatin1String("photo") && args.size() == 4)
        return photo(args[1], args[2].toInt(), args[3].toInt());
    if (mode == QLatin1String("changes") && args.size() == 2)
        return changes(args[1]);
    if (mode == QLatin1String("text") && args.size() == 2)
        return textChanges(args[1]);
    if ((mode == QLatin1String("open") || mode == QLatin1String("corner")) && args.size() == 2)
        return open(args[1], mode == QLatin1String("corner"));
    if (mode == QLatin1String("screenshot") && args.size() == 3)
        return screenshot(args[1], args[2]);
    std::fprintf(stderr, "usage: studio-driver photo OUT W H | changes PICTURE | text PICTURE | open PICTURE | corner PICTURE | screenshot PICTURE OUT\n");
    return 1;
}
