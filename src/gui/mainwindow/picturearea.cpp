#include "gui/mainwindow/picturearea.h"

#include "core/picture/prepare.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

namespace pw {

PictureArea::PictureArea(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    surface_ = QImage(kImageWidth, kImageHeight, QImage::Format_RGB32);
    surface_.fill(backgroundColor());
}

QColor PictureArea::backgroundColor() const
{
    return QApplication::palette().color(QPalette::Active, QPalette::Button);
}

QSize PictureArea::sizeHint() const { return QSize(kImageWidth + 4, kImageHeight + 4); }

void PictureArea::setPicture(const QImage &picture)
{
    setSurface(composeSurface(picture, backgroundColor()));
}

void PictureArea::setSurface(const QImage &surface)
{
    surface_ = surface.convertToFormat(QImage::Format_RGB32);
    hasPicture_ = true;
    update();
    emit surfaceReplaced();
}

void PictureArea::clearPicture()
{
    surface_.fill(backgroundColor());
    hasPicture_ = false;
    update();
    emit surfaceReplaced();
}

void PictureArea::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), surface_);
}

void PictureArea::changeEvent(QEvent *event)
{
    // An empty area follows the theme's button face.
    if (event->type() == QEvent::PaletteChange && !hasPicture_)
        surface_.fill(backgroundColor());
    QFrame::changeEvent(event);
}

void PictureArea::mousePressEvent(QMouseEvent *event)
{
    QFrame::mousePressEvent(event);
    emit mousePressed(event->button(), event->globalPosition().toPoint());
}

void PictureArea::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void PictureArea::dragMoveEvent(QDragMoveEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void PictureArea::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    emit filesDropped(paths);
}

}  // namespace pw
