// The main window's conversion settings: the picture as it came in, prepared again into the
// picture area whenever a setting changes; the studio that sets them and shows the result;
// and conversion.ini, which keeps them between runs.
#include "gui/mainwindow/mainwindow.h"

#include "core/text/textlayer.h"
#include "core/image/threshold.h"
#include "gui/studio/conversionstudio.h"
#include "gui/mainwindow/picturearea.h"
#include "gui/studio/sourcepicture.h"

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
        studio_->show();
        showResult();
        // The pictures it now shows may have grown it: placed again at its real size.
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
    binShown_ = false;
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
    const bool wasBinShown = binShown_;
    binShown_ = false;  // the studio shows what the area now holds
    if (source_ && !showPrepared()) {
        source_.swap(source);  // the area and the picture stay as they were
        binShown_ = wasBinShown;
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
    FlatPixels flat;
    QImage surface = prepareSurface(part.image, options.prepare, &flat);
    if (surface.isNull())
        return false;
    prepared_ = surface;
    preparedFlat_ = flat;
    if (!conversion_.text.isEmpty())
        drawText(surface, layoutText(conversion_.text), conversion_.text.white);
    pictureArea()->setSurface(surface);
    return true;
}

QImage MainWindow::conversionSurface(FlatPixels &flat) const
{
    if (source_ && !prepared_.isNull()) {
        flat = preparedFlat_;
        return prepared_;
    }
    // Nothing came in through the options: the area's own picture, or its empty background
    // (under the text, when the text stands alone).
    if (pictureArea()->hasPicture() && !textAloneShown_) {
        flat.reset();
        return areaPicture_;
    }
    flat.set();
    return backgroundSurface(conversionOptions().prepare.background);
}

void MainWindow::showResult()
{
    if (!studio_ || !studio_->isVisible())
        return;
    if (binShown_) {
        studio_->showResult(renderMonoImage(monoImage_), monoImage_);
        return;
    }
    FlatPixels flat;
    QImage surface = conversionSurface(flat);
    std::optional<MonoImage> result = threshold(surface, conversion_.threshold, &flat);
    if (!conversion_.text.isEmpty()) {
        const TextLayer layer = layoutText(conversion_.text);
        drawText(surface, layer, conversion_.text.white);
        if (result)
            stampText(*result, layer, conversion_.text.white);
    }
    studio_->showResult(surface, result);
}

void MainWindow::showTextAlone(bool hadText)
{
    if (!conversion_.text.isEmpty()) {
        QImage surface = backgroundSurface(conversionOptions().prepare.background);
        drawText(surface, layoutText(conversion_.text), conversion_.text.white);
        pictureArea()->setSurface(surface);
        textAloneShown_ = true;  // after setSurface, which counts any other surface as a picture
    } else if (hadText) {
        pictureArea()->clearPicture();
    }
}

}  // namespace pw
