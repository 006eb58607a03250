// The main window's commands on the working image (the 1024 bytes the device shows): the
// conversion that fills it from the picture area, and the BIN files that keep it.
#include "gui/mainwindow/mainwindow.h"

#include "core/image/encoders.h"
#include "core/storage/files.h"
#include "core/text/textlayer.h"
#include "core/image/threshold.h"
#include "gui/mainwindow/picturearea.h"
#include "gui/studio/sourcepicture.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <iterator>
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
    // Never what an earlier conversion painted: converting again gives the same bytes. The
    // dither reads the picture without the text; the text's pixels are set afterwards.
    FlatPixels flat;
    pictureArea()->surface() = conversionSurface(flat);
    if (convertSurface(pictureArea()->surface(), monoImage_, conversion_.threshold, &flat, [bar](int band) { bar->setValue(band); })
        && !conversion_.text.isEmpty()) {
        stampText(monoImage_, layoutText(conversion_.text), conversion_.text.white);
        pictureArea()->surface() = renderMonoImage(monoImage_).convertToFormat(QImage::Format_RGB32);
    }
    binShown_ = false;
    // The painted black and white stay in the area: it shows what the device will show.
    pictureArea()->repaint();
    showResult();
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
    // The working image is the file's now and the area stays as it was; the picture that came
    // in stays too, and the next change of an option prepares it again.
    binShown_ = true;
    setCaptionPath(path);
    showResult();
    return true;
}

void MainWindow::exportImage()
{
    // The file types in the order of `formats`.
    static const Format formats[] = {Format::C, Format::Xbm, Format::Pbm, Format::Hex, Format::Png};
    QDir::setCurrent(platform_.programDir);
    fileDialog_.setFlags(SharedFileDialog::OverwritePrompt | SharedFileDialog::HideReadOnly);
    fileDialog_.setFilter(QStringLiteral("Cヘッダー(*.h)|*.h|XBM(*.xbm)|*.xbm|PBM(*.pbm)|*.pbm|16進テキスト(*.txt)|*.txt|"
                                         "PNGプレビュー(*.png)|*.png"));
    fileDialog_.setFilterIndex(exportFilter_);
    fileDialog_.setFileName(QString());
    if (!fileDialog_.showSave(this))
        return;
    exportFilter_ = qBound(0, fileDialog_.filterIndex(), int(std::size(formats)) - 1);
    const QString path = fileDialog_.fileName();
    const Layout *layout = findLayout(conversion_.layout);
    // Named as the command line names what it converts from NAME.bin: after the stem.
    const QByteArray bytes = encodeImage(monoImage_, formats[exportFilter_], layout ? *layout : deviceLayout(),
                                         identifierFrom(QFileInfo(path).completeBaseName()));
    // Silent on failure, but the label must not go on reading as an earlier success.
    setStatus(!bytes.isEmpty() && writeFileAtomically(path, bytes) ? QStringLiteral("エクスポート終了!!") : QString(), false);
}

}  // namespace pw
