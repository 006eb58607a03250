// The main window's commands on the working image (the 1024 bytes the device shows): the
// conversion that fills it from the picture area, and the BIN files that keep it.
#include "gui/mainwindow.h"

#include "core/files.h"
#include "gui/picturearea.h"

#include <QApplication>
#include <QDir>
#include <QProgressBar>

namespace pw {

void MainWindow::convertPicture()
{
    // Drawn at once: the conversion keeps the event loop away until it ends.
    setStatus(QStringLiteral("変換中．．．"), true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QProgressBar *bar = progressBar();
    bar->setMinimum(0);
    bar->setMaximum(7);
    bar->setVisible(true);
    bar->setValue(0);
    convertSurface(pictureArea()->surface(), monoImage_, [bar](int band) { bar->setValue(band); });
    // The painted black and white stay in the area: it shows what the device will show.
    pictureArea()->repaint();
    bar->setVisible(false);
    setStatus(QStringLiteral("完了!!"), false);
    QApplication::restoreOverrideCursor();
}

void MainWindow::saveBinFile()
{
    QDir::setCurrent(platform_.programDir);
    fileDialog_.setFlags(SharedFileDialog::OverwritePrompt | SharedFileDialog::HideReadOnly);
    fileDialog_.setFilter(QStringLiteral("Binary(*.BIN)|*.BIN"));
    fileDialog_.setFileName(QString());
    if (!fileDialog_.showSave(this))
        return;
    // Silent on failure, but the label must not go on reading as an earlier success.
    setStatus(writeBinFile(fileDialog_.fileName(), monoImage_) ? QStringLiteral("保存終了!!") : QString(), false);
}

void MainWindow::openBinFile()
{
    QDir::setCurrent(platform_.programDir);
    fileDialog_.setFilter(QStringLiteral("Bin(*.bin)|*.bin"));
    if (!fileDialog_.showOpen(this))
        return;
    loadBinFile(fileDialog_.fileName());
}

bool MainWindow::loadBinFile(const QString &path)
{
    if (!readBinFile(path, monoImage_))
        return false;
    setCaptionPath(path);
    return true;
}

}  // namespace pw
