// The main window's transfers of the working image to the device: into its display memory
// (VRAM) or into a FLASH page, each after a confirmation.
#include "gui/mainwindow/mainwindow.h"

#include "core/convert/conversion.h"
#include "gui/studio/sourcepicture.h"
#include "gui/mainwindow/transfertexts.h"
#include "gui/waitgate.h"
#include "core/link/protocol.h"

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>

namespace pw {

namespace {

// The main window's view of an image transfer: the status label, the hourglass, the
// progress bar and, for a FLASH page, the notice while the port is still open.
class TransferView final : public TransferListener {
public:
    TransferView(MainWindow &window, WaitGate &gate, bool flash) : window_(window), gate_(gate), flash_(flash) {}

    void phase(TransferPhase phase) override
    {
        window_.setStatus(TransferText::forPhase(phase), phase != TransferPhase::Sent);
        if (phase == TransferPhase::Sending) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            hourglass_ = true;
            QProgressBar *bar = window_.progressBar();
            bar->setMinimum(0);
            bar->setMaximum(7);
            bar->setVisible(true);
            bar->setValue(0);
            bar->repaint();
        }
        if (phase == TransferPhase::Done && flash_)
            inform(QString(), TransferText::flashNotice);
    }

    void bandSent(int band) override
    {
        QProgressBar *bar = window_.progressBar();
        bar->setValue(band);
        bar->repaint();
    }

    void ended(TransferEnd end)
    {
        if (end == TransferEnd::Failed)
            inform(TransferText::caution, TransferText::portError);
        window_.progressBar()->setVisible(false);
        if (hourglass_)
            QApplication::restoreOverrideCursor();
        hourglass_ = false;
        if (end == TransferEnd::Cancelled)
            window_.setStatus(TransferText::cancelled, true);
    }

private:
    void inform(const QString &title, const QString &text)
    {
        WaitGate::Opening open(gate_);
        window_.boxes().inform(&window_, title, text);
    }

    MainWindow &window_;
    WaitGate &gate_;
    bool flash_;
    bool hourglass_ = false;
};

// The frames going into FLASH pages one after another: which page is being written, the
// progress over all of them, and the notice once, at the end.
class FramesView final : public TransferListener {
public:
    FramesView(MainWindow &window, WaitGate &gate, int pages) : window_(window), gate_(gate), pages_(pages) {}
    ~FramesView() override
    {
        window_.progressBar()->setVisible(false);
        if (hourglass_)
            QApplication::restoreOverrideCursor();
    }

    void startPage(int index, int page)
    {
        index_ = index;
        page_ = page;
    }

    void phase(TransferPhase phase) override
    {
        if (phase == TransferPhase::Done)
            return;  // the next page follows
        if (phase != TransferPhase::Sending) {
            window_.setStatus(TransferText::forPhase(phase), true);
            return;
        }
        window_.setStatus(TransferText::writingPage(page_), true);
        QProgressBar *bar = window_.progressBar();
        if (!hourglass_) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            hourglass_ = true;
            bar->setRange(0, kBands * pages_ - 1);
            bar->setValue(0);
            bar->setVisible(true);
        }
        bar->repaint();
    }

    void bandSent(int band) override
    {
        window_.progressBar()->setValue(index_ * kBands + band);
        window_.progressBar()->repaint();
    }

    void ended(TransferEnd end)
    {
        if (end == TransferEnd::Cancelled) {
            window_.setStatus(TransferText::cancelled, true);
            return;
        }
        WaitGate::Opening open(gate_);
        if (end == TransferEnd::Failed) {
            window_.boxes().inform(&window_, TransferText::caution, TransferText::portError);
            return;
        }
        window_.setStatus(TransferText::rewritten, true);
        window_.boxes().inform(&window_, QString(), TransferText::flashNotice);
    }

private:
    MainWindow &window_;
    WaitGate &gate_;
    int pages_;
    int index_ = 0;
    int page_ = 0;
    bool hourglass_ = false;
};

void transferImage(MainWindow &window, const ImageStream &stream)
{
    // From the first step to the last the user can do nothing but press Esc in a wait.
    WaitGate gate(WaitGate::Input::Blocked);
    TransferView view(window, gate, stream.display.isEmpty());
    view.ended(sendImage(window.port(), gate, window.settings().portNumber, stream, view));
}

}  // namespace

void MainWindow::sendToDisplayMemory()
{
    // No: nothing is sent, and nothing changes.
    if (!boxes().confirm(this, TransferText::confirmTitle, TransferText::displayMemoryQuestion()))
        return;
    transferImage(*this, displayMemoryStream(monoImage_, settings_.rewriteTime.toInt()));
}

void MainWindow::sendToFlashPage()
{
    // The page is not checked: with none chosen (after a bad stored port) the question and
    // the command simply carry no number.
    const QString page = pageList()->currentText();
    if (!boxes().confirm(this, TransferText::confirmTitle, TransferText::flashPageQuestion(page)))
        return;
    bool chosen = false;
    const int number = page.toInt(&chosen);
    transferImage(*this, flashPageStream(monoImage_, chosen ? std::optional<int>(number) : std::nullopt));
}

}  // namespace pw

namespace pw {

void MainWindow::sendFramesToFlash()
{
    if (!source_) {
        boxes().inform(this, TransferText::caution, TransferText::noPicture);
        return;
    }
    // From the page chosen (0 with none chosen) up to the last.
    const int first = qBound(protocol::kPages.low, pageList()->currentText().toInt(), protocol::kPages.high);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // Only the frames that have a page are decoded; the others are only counted.
    const int pages = protocol::kPages.high + 1 - first;
    QList<MonoImage> images;
    const LoadedPicture failure = convertFrames(source_->source(), conversionOptions(), [&](const MonoImage &image) {
        images << image;
        return images.size() < pages;
    });
    QApplication::restoreOverrideCursor();
    if (!failure.ok() || images.isEmpty()) {
        boxes().inform(this, TransferText::caution, TransferText::notConverted);
        return;
    }
    const QList<ImageStream> streams = flashFrameStreams(images, first);
    const int fitting = int(streams.size()), count = images.size() < pages ? fitting : std::max(pages, source_->frameCount());
    const QString question = count == fitting ? TransferText::framesQuestion(count, first)
                                              : TransferText::framesBeyondQuestion(count, first, fitting);
    if (!boxes().confirm(this, TransferText::confirmTitle, question))
        return;

    // Each page as 画像送信（FLASH） sends it; Esc stops in a wait or between two pages.
    WaitGate gate(WaitGate::Input::Blocked);
    FramesView view(*this, gate, fitting);
    TransferEnd end = TransferEnd::Done;
    for (int k = 0; k < fitting && end == TransferEnd::Done; ++k) {
        if (!gate.keepUp()) {
            end = TransferEnd::Cancelled;
            break;
        }
        view.startPage(k, first + k);
        end = sendImage(port(), gate, settings_.portNumber, streams[k], view);
    }
    view.ended(end);
}

}  // namespace pw
