// The device operations of the main window: the two transfers and the console.
#include "gui/form1.h"
#include "gui/form2.h"
#include "gui/waitgate.h"
#include "gui/linktexts.h"

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>

namespace pw {

namespace {

// The main window's view of an image transfer: the status label, the hourglass, the
// progress bar and, for a FLASH page, the notice while the port is still open.
class TransferView final : public TransferListener {
public:
    TransferView(Form1 &form, WaitGate &gate, bool flash) : form_(form), gate_(gate), flash_(flash) {}

    void phase(TransferPhase phase) override
    {
        form_.setStatus(LinkText::forPhase(phase), phase != TransferPhase::Sent);
        if (phase == TransferPhase::Sending) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            hourglass_ = true;
            QProgressBar *bar = form_.progressBar();
            bar->setMinimum(0);
            bar->setMaximum(7);
            bar->setVisible(true);
            bar->setValue(0);
            bar->repaint();
        }
        if (phase == TransferPhase::Done && flash_)
            inform(QString(), LinkText::flashNotice);
    }

    void bandSent(int band) override
    {
        QProgressBar *bar = form_.progressBar();
        bar->setValue(band);
        bar->repaint();
    }

    void ended(TransferEnd end)
    {
        if (end == TransferEnd::Failed)
            inform(LinkText::caution, LinkText::transferPortError);
        form_.progressBar()->setVisible(false);
        if (hourglass_)
            QApplication::restoreOverrideCursor();
        hourglass_ = false;
        if (end == TransferEnd::Cancelled)
            form_.setStatus(LinkText::cancelled, true);
    }

private:
    void inform(const QString &title, const QString &text)
    {
        WaitGate::Opening open(gate_);
        form_.boxes().inform(&form_, title, text);
    }

    Form1 &form_;
    WaitGate &gate_;
    bool flash_;
    bool hourglass_ = false;
};

void runImageTransfer(Form1 &form, const ImageStream &stream)
{
    // From the first step to the last the user can do nothing but press Esc in a wait.
    WaitGate gate(WaitGate::Input::Blocked);
    TransferView view(form, gate, stream.display.isEmpty());
    view.ended(sendImage(form.port(), gate, form.settings().portNumber, stream, view));
}

}  // namespace

void Form1::tx_data()
{
    runImageTransfer(*this, displayMemoryStream(monoImage(), settings().rewriteTime.toLocal8Bit()));
}

void Form1::ts_data()
{
    runImageTransfer(*this, flashPageStream(monoImage(), combo(3)->currentText().toLocal8Bit()));
}

void Form1::mmucom_Click()
{
    hide();
    // Each opening is a fresh console, as a window loaded anew: caption, text box and all.
    if (console_ && !console_->isVisible()) {
        delete console_;
        console_ = nullptr;
    }
    if (!console_)
        console_ = new Form2(*this, this);
    console_->show();
    console_->repaint();
}

Form2 *Form1::console() const { return console_; }

}  // namespace pw
