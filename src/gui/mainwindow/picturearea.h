#pragma once

#include <QFrame>
#include <QImage>

namespace pw {

// The picture area: a sunken 2-pixel frame around a 128 x 64 surface. The surface
// is the area's image: the button-face background, the picture drawn on it unscaled from the
// top-left, and whatever the conversion painted since.
class PictureArea : public QFrame {
    Q_OBJECT
public:
    explicit PictureArea(QWidget *parent = nullptr);

    // The background colour: the system's button-face colour.
    QColor backgroundColor() const;

    // Replaces the picture: background, then the picture (alpha blended over it), cut at 128 x 64.
    void setPicture(const QImage &picture);
    // Replaces the picture with a surface already prepared (128 x 64): shown as it is.
    void setSurface(const QImage &surface);
    // Removes the picture; the area shows its background.
    void clearPicture();
    bool hasPicture() const { return hasPicture_; }

    // The 128 x 64 surface, for reading and painting single pixels. Painting does not repaint.
    QImage &surface() { return surface_; }
    const QImage &surface() const { return surface_; }

    QSize sizeHint() const override;

signals:
    // The surface was replaced or cleared (not when painted through surface()).
    void surfaceReplaced();
    // A mouse button went down over the area (any button: the handler decides).
    void mousePressed(Qt::MouseButton button, const QPoint &globalPos);
    // Files were dropped on the area: their full paths in the order of the drop. Drops that
    // carry no local file are not reported.
    void filesDropped(const QStringList &paths);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    QImage surface_;
    bool hasPicture_ = false;
};

}  // namespace pw
