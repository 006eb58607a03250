// The main window's commands on the picture area: opening and dropping pictures, the picture
// menu's clipboard commands, and saving the area as a BMP file.
#include "gui/mainwindow.h"
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

void MainWindow::openPicture()
{
    QDir::setCurrent(platform_.programDir);
    fileDialog_.setFilter(QStringLiteral("PIcture(*.BMP)|*.BMP|PIcture(*.JPG)|*.JPG"));
    if (!fileDialog_.showOpen(this))
        return;
    setStatus(QString(), false);
    const QString path = fileDialog_.fileName();
    const QImage image = readPictureCorner(path, areaSize());
    if (image.isNull())
        return;
    pictureArea()->setPicture(image);
    setCaptionPath(path);
}

void MainWindow::openDroppedFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    // Several files at once: the first is loaded and the rest ignored.
    const QString path = paths.constFirst();
    const QString tail = path.right(3);
    bool ok = false;
    if (tail == QLatin1String("BIN") || tail == QLatin1String("bin")) {
        // The area keeps its picture although the working image now holds the file.
        ok = loadBinFile(path);
    } else {
        const QImage image = readPictureCorner(path, areaSize());
        ok = !image.isNull();
        if (ok) {
            pictureArea()->setPicture(image);
            setCaptionPath(path);
            pictureArea()->repaint();
            repaint();
        }
    }
    if (ok)
        return;
    boxes().inform(this, kCaution, QStringLiteral("画像ファイル又はBINファイルではありません。"));
    pictureArea()->clearPicture();
    pictureArea()->repaint();
}

void MainWindow::showPictureMenu(Qt::MouseButton button, const QPoint &globalPos)
{
    if (button != Qt::RightButton)
        return;
    // The chosen command runs inside exec(); its failure is reported here, after the menu closed.
    clipboardFailed_ = false;
    pictureMenu_->exec(globalPos);
    if (clipboardFailed_) {
        clipboardFailed_ = false;
        boxes().inform(this, kCaution, QStringLiteral("画像ファイルではありません。"));
    }
}

void MainWindow::copyPicture()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QImage &surface = pictureArea()->surface();
    if (!clipboard || surface.isNull()) {
        clipboardFailed_ = true;
        return;
    }
    clipboard->clear();
    clipboard->setImage(surface.copy());
}

void MainWindow::pastePicture()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        clipboardFailed_ = true;
        return;
    }
    const QMimeData *data = clipboard->mimeData();
    if (!data || !data->hasImage()) {
        // Nothing to paste: the area is left empty.
        pictureArea()->clearPicture();
    } else {
        const QImage image = clipboard->image();
        if (image.isNull()) {
            // Offered as a picture but not decodable: the area stays as it was.
            clipboardFailed_ = true;
            return;
        }
        pictureArea()->setPicture(image);
    }
    pictureArea()->repaint();
    repaint();
}

void MainWindow::savePictureAsBmp()
{
    QDir::setCurrent(platform_.programDir);
    fileDialog_.setFlags(SharedFileDialog::OverwritePrompt | SharedFileDialog::HideReadOnly);
    fileDialog_.setFilter(QStringLiteral("*.BMP|*.BMP"));
    if (!fileDialog_.showSave(this))
        return;
    const QByteArray bytes = encodeBmp(pictureArea()->surface());
    // Silent on failure, but the label must not go on reading as an earlier success.
    const bool saved = !bytes.isEmpty() && writeFileAtomically(fileDialog_.fileName(), bytes);
    setStatus(saved ? QStringLiteral("BMPﾌｧｲﾙ保存終了!!") : QString(), false);
}

}  // namespace pw
