// The main window's commands on the picture area: opening and dropping pictures, the picture
// menu's clipboard commands, and saving the area as a BMP file.
#include "gui/mainwindow/mainwindow.h"
#include "core/storage/files.h"
#include "core/image/bmpencoder.h"
#include "gui/mainwindow/picturearea.h"
#include "gui/studio/sourcepicture.h"
#include "core/picture/pictureloader.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>

namespace pw {

namespace {

const QString kCaution = QStringLiteral("注意");

std::unique_ptr<SourcePicture> pictureFile(const QString &path)
{
    return std::make_unique<SourcePicture>(PictureSource::file(path));
}

}  // namespace

void MainWindow::openPicture()
{
    QDir::setCurrent(platform_.programDir);
    fileDialog_.setFilter(QStringLiteral("PIcture(*.BMP)|*.BMP|PIcture(*.JPG)|*.JPG"));
    if (!fileDialog_.showOpen(this))
        return;
    setStatus(QString(), false);
    const QString path = fileDialog_.fileName();
    // Prepared by the conversion settings; with their defaults the corner, drawn unscaled.
    if (!takePicture(pictureFile(path)))
        return;
    setCaptionPath(path);
}

void MainWindow::openDroppedFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    // Several files at once: the first is loaded and the rest ignored.
    const QString path = paths.constFirst();
    bool ok = false;
    if (isBinFileName(path, BinNameRule::Window)) {
        // The area keeps its picture although the working image now holds the file, which
        // stays as it is until an option changes.
        ok = loadBinFile(path);
    } else {
        ok = takePicture(pictureFile(path));
        if (ok) {
            setCaptionPath(path);
            pictureArea()->repaint();
            repaint();
        }
    }
    if (ok)
        return;
    boxes().inform(this, kCaution, QStringLiteral("画像ファイル又はBINファイルではありません。"));
    takePicture(nullptr);
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
    if (clipboardFailed_)
        boxes().inform(this, kCaution, QStringLiteral("画像ファイルではありません。"));
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
        takePicture(nullptr);
        pictureArea()->clearPicture();
    } else {
        const QImage image = clipboard->image();
        // Offered as a picture but not decodable: the area stays as it was.
        if (image.isNull() || !takePicture(std::make_unique<SourcePicture>(PictureSource::decoded(image)))) {
            clipboardFailed_ = true;
            return;
        }
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
