// The main window's transfers of the working image to the device: into its display memory
// (VRAM) or into a FLASH page, each after a confirmation.
#include "gui/mainwindow.h"

#include "gui/transfertexts.h"
#include "gui/waitgate.h"

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
    transferImage(*this, displayMemoryStream(monoImage_, settings_.rewriteTime.toLocal8Bit()));
}

void MainWindow::sendToFlashPage()
{
    // The page is not checked: with none chosen (after a bad stored port) the question and
    // the command simply carry no number.
    const QString page = pageList()->currentText();
    if (!boxes().confirm(this, TransferText::confirmTitle, TransferText::flashPageQuestion(page)))
        return;
    transferImage(*this, flashPageStream(monoImage_, page.toLocal8Bit()));
}

}  // namespace pw
