#include "core/picture/pictureloader.h"
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>
static long peakKb() { rusage r{}; getrusage(RUSAGE_SELF, &r); return r.ru_maxrss; }
int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QString mode = argv[1], path = argv[2];
    QTemporaryDir dir;  // plugins and their libraries in, before idle is taken
    QImage probe(16, 16, QImage::Format_RGB32);
    probe.fill(0);
    probe.save(dir.filePath("probe.png"));
    pw::readPictureCorner(dir.filePath("probe.png"), QSize(128, 64));
    const long idle = peakKb();
    QElapsedTimer timer;
    timer.start();
    pw::PictureRequest request;
    if (mode != "corner") {
        request.part = pw::PictureRequest::Part::Reduced;
        request.atLeast = QSize(128, 64);
    }
    const QImage image = pw::loadPicture(pw::PictureSource::file(path), request).image;
    const qint64 ms = timer.elapsed();
    std::printf("%6lld ms %7.1f MB  %s\n", static_cast<long long>(ms), (peakKb() - idle) / 1024.0,
                image.isNull() ? "null" : qPrintable(QString("%1x%2").arg(image.width()).arg(image.height())));
    return 0;
}
