// The main window's conversion settings: the picture as it came in, prepared again into the
// picture area whenever a setting changes; the studio that sets them and shows the result;
// and conversion.ini, which keeps them between runs.
#include "gui/mainwindow.h"

#include "core/textlayer.h"
#include "core/threshold.h"
#include "gui/conversionstudio.h"
#include "gui/picturearea.h"
#include "gui/sourcepicture.h"

#include <QTimer>

namespace pw {

namespace {

// Long enough that a slider being dragged is written once it rests.
constexpr int kSaveDelayMs = 500;

}  // namespace

ConversionStudio *MainWindow::studio() const { return studio_; }

ConversionOptions MainWindow::conversionOptions() const
{
    return conversion_.conversionOptions(pictureArea()->backgroundColor());
}

void MainWindow::openStudio()
{
    if (!studio_) {
        studio_ = new ConversionStudio(this);
        studio_->setAreaBackground(pictureArea()->backgroundColor());
        studio_->setSettings(conversion_);
        studio_->setFrameCount(source_ ? source_->frameCount() : 1);
        connect(studio_, &ConversionStudio::settingsChanged, this, &MainWindow::setConversionSettings);
        studio_->adjustSize();
        studio_->placeBeside(this);
    }
    // One studio: a second request brings the same window forward.
    studio_->show();
    studio_->raise();
    studio_->activateWindow();
    showResult();
}

void MainWindow::setConversionSettings(const ConversionSettings &settings)
{
    const bool hadText = !conversion_.text.isEmpty();
    conversion_ = settings;
    conversionUnsaved_ = true;
    conversionSaveTimer_->start(kSaveDelayMs);
    if (studio_ && studio_->settings() != settings)
        studio_->setSettings(settings);
    if (!source_)
        showTextAlone(hadText);
    // From the picture as it came in, not from what the area shows now.
    if (!source_ || !showPrepared())
        showResult();
}

void MainWindow::saveConversionSettings()
{
    if (!conversionUnsaved_)
        return;
    conversionUnsaved_ = false;
    conversionSaveTimer_->stop();
    // Nothing is shown when it cannot be written: the settings hold for this run.
    writeConversionSettings(conversionPath_, conversion_);
}

bool MainWindow::takePicture(std::unique_ptr<SourcePicture> source)
{
    source_.swap(source);
    if (source_ && !showPrepared()) {
        source_.swap(source);  // the area and the picture stay as they were
        return false;
    }
    if (studio_)
        studio_->setFrameCount(source_ ? source_->frameCount() : 1);
    return true;
}

bool MainWindow::showPrepared()
{
    const ConversionOptions options = conversionOptions();
    const LoadedPicture part = source_->part(options.prepare, conversion_.frame);
    if (!part.ok())
        return false;
    QImage surface = prepareSurface(part.image, options.prepare);
    if (surface.isNull())
        return false;
    plainSurface_ = surface;
    if (!conversion_.text.isEmpty())
        drawText(surface, layoutText(conversion_.text), conversion_.text.white);
    pictureArea()->setSurface(surface);
    return true;
}

void MainWindow::showResult()
{
    if (!studio_ || !studio_->isVisible())
        return;
    studio_->showResult(pictureArea()->surface(), workingResult());
}

QImage MainWindow::plainSurface() const
{
    return source_ && !plainSurface_.isNull() ? plainSurface_ : backgroundSurface(conversionOptions().prepare.background);
}

std::optional<MonoImage> MainWindow::workingResult() const
{
    if (conversion_.text.isEmpty())
        return threshold(pictureArea()->surface(), conversion_.threshold);
    std::optional<MonoImage> image = threshold(plainSurface(), conversion_.threshold);
    if (image)
        stampText(*image, layoutText(conversion_.text), conversion_.text.white);
    return image;
}

void MainWindow::showTextAlone(bool hadText)
{
    if (!conversion_.text.isEmpty()) {
        QImage surface = plainSurface();
        drawText(surface, layoutText(conversion_.text), conversion_.text.white);
        pictureArea()->setSurface(surface);
    } else if (hadText) {
        pictureArea()->clearPicture();
    }
}

}  // namespace pw
