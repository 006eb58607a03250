// The device operations of the main window: the two transfers and the console.
#include "gui/form1.h"
#include "gui/form2.h"
#include "gui/waitgate.h"
#include "core/transfer.h"

#include <QApplication>
#include <QComboBox>
#include <QProgressBar>

namespace pw {

namespace {

// The transfer's view of the main window.
class MainWindowUi final : public TransferUi {
public:
    MainWindowUi(Form1 &form, WaitGate &gate) : form_(form), gate_(gate) {}

    void setStatus(const QString &text, bool redraw) override { form_.setStatus(text, redraw); }

    void setHourglass(bool on) override
    {
        if (on)
            QApplication::setOverrideCursor(Qt::WaitCursor);
        else
            QApplication::restoreOverrideCursor();
    }

    void showProgress() override
    {
        QProgressBar *bar = form_.progressBar();
        bar->setMinimum(0);
        bar->setMaximum(7);
        bar->setVisible(true);
        bar->setValue(0);
        bar->repaint();
    }

    void setProgress(int band) override
    {
        QProgressBar *bar = form_.progressBar();
        bar->setValue(band);
        bar->repaint();
    }

    void hideProgress() override { form_.progressBar()->setVisible(false); }

    void message(const QString &title, const QString &text) override
    {
        WaitGate::Opening open(gate_);
        form_.boxes().inform(&form_, title, text);
    }

private:
    Form1 &form_;
    WaitGate &gate_;
};

void runImageTransfer(Form1 &form, const ImageTransfer &job, std::array<std::uint8_t, 128> &txBuf)
{
    // From the first step to the last the user can do nothing but press Esc in a wait.
    WaitGate gate(WaitGate::Input::Blocked);
    MainWindowUi ui(form, gate);
    sendImage(job, form.monoImage(), txBuf, form.port(), gate, ui);
}

}  // namespace

void Form1::tx_data()
{
    runImageTransfer(*this, {ImageTarget::Vram, settings().portNumber, settings().rewriteTime}, tx_buf_);
}

void Form1::ts_data()
{
    runImageTransfer(*this, {ImageTarget::Flash, settings().portNumber, combo(3)->currentText()}, tx_buf_);
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
