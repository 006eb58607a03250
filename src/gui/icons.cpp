#include "gui/icons.h"

#include <QImage>
#include <QPixmap>

// The pictures are compiled into the static window library, and nothing would pull their
// object file into a program unless something names it: this does, before the first use.
static void registerPictures()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace pw {

namespace {

QImage picture(const QString &key)
{
    registerPictures();
    return QImage(QStringLiteral(":/images/%1.xpm").arg(key));
}

}  // namespace

QIcon programIcon()
{
    const QImage image = picture(QStringLiteral("program"));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

QIcon toolbarIcon(const QString &key)
{
    QImage image = picture(key);
    if (image.isNull())
        return {};
    // The toolbar pictures' transparent colour is light grey.
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0xFFFFFFu) == 0xC0C0C0u)
                line[x] = qRgba(0, 0, 0, 0);
    }
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace pw
