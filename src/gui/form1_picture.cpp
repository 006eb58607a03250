// The picture area's operations of the main window: opening, dropping, the clipboard menu
// and the BMP export.
#include "gui/form1.h"
#include "core/files.h"
#include "core/bmpencoder.h"
#include "gui/picturearea.h"
#include "core/pictureloader.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>

namespace pw {

namespace {

const QString kCaution = QStringLiteral("注意");

QSize areaSize() { return QSize(kImageWidth, kImageHeight); }

}  // namespace

void Form1::setupWorkspace()
{
    connect(picture(), &PictureArea::filesDropped, this, &Form1::Picture1_OLEDragDrop);
    connect(picture(), &PictureArea::mousePressed, this, &Form1::Picture1_MouseDown);
}

void Form1::open_picture()
{
    QDir::setCurrent(appPath());
    CommonDialog1_.setFilter(QStringLiteral("PIcture(*.BMP)|*.BMP|PIcture(*.JPG)|*.JPG"));
    if (!CommonDialog1_.showOpen(this))
        return;
    setStatus(QString(), false);
    const QString path = CommonDialog1_.fileName();
    const QImage image = readPictureCorner(path, areaSize());
    if (image.isNull())
        return;
    picture()->setPicture(image);
    setCaptionPath(path);
}

void Form1::Picture1_OLEDragDrop(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    // Several files at once: the first is loaded and the rest ignored.
    const QString path = paths.constFirst();
    const QString tail = path.right(3);
    bool ok = false;
    if (tail == QLatin1String("BIN") || tail == QLatin1String("bin")) {
        // The area keeps its picture although the working image now holds the file.
        ok = load_bin(path);
    } else {
        const QImage image = readPictureCorner(path, areaSize());
        ok = !image.isNull();
        if (ok) {
            picture()->setPicture(image);
            setCaptionPath(path);
            picture()->repaint();
            repaint();
        }
    }
    if (ok)
        return;
    boxes().inform(this, kCaution, QStringLiteral("画像ファイル又はBINファイルではありません。"));
    picture()->clearPicture();
    picture()->repaint();
}

void Form1::Picture1_MouseDown(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button != Qt::RightButton)
        return;
    // The chosen command runs inside exec(); its failure is reported here, after the menu closed.
    clipboardFailed_ = false;
    popupMenu()->exec(globalPos);
    if (clipboardFailed_) {
        clipboardFailed_ = false;
        boxes().inform(this, kCaution, QStringLiteral("画像ファイルではありません。"));
    }
}

void Form1::popcopy_Click()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QImage &surface = picture()->surface();
    if (!clipboard || surface.isNull()) {
        clipboardFailed_ = true;
        return;
    }
    clipboard->clear();
    clipboard->setImage(surface.copy());
}

void Form1::poppaste_Click()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        clipboardFailed_ = true;
        return;
    }
    const QMimeData *data = clipboard->mimeData();
    if (!data || !data->hasImage()) {
        // Nothing to paste: the area is left empty.
        picture()->clearPicture();
    } else {
        const QImage image = clipboard->image();
        if (image.isNull()) {
            // Offered as a picture but not decodable: the area stays as it was.
            clipboardFailed_ = true;
            return;
        }
        picture()->setPicture(image);
    }
    picture()->repaint();
    repaint();
}

void Form1::save_bmp()
{
    QDir::setCurrent(appPath());
    CommonDialog1_.setFlags(CommonDialog::OverwritePrompt | CommonDialog::HideReadOnly);
    CommonDialog1_.setFilter(QStringLiteral("*.BMP|*.BMP"));
    if (!CommonDialog1_.showSave(this))
        return;
    const QByteArray bytes = encodeBmp(picture()->surface());
    // Silent on failure, but the label must not go on reading as an earlier success.
    const bool saved = !bytes.isEmpty() && writeFileAtomically(CommonDialog1_.fileName(), bytes);
    setStatus(saved ? QStringLiteral("BMPﾌｧｲﾙ保存終了!!") : QString(), false);
}

}  // namespace pw
