#pragma once

#include "gui/form1.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class frmSplash;
}

namespace pw {

// The splash window: checks the display's colour depth every half second and opens the
// main window after about two seconds, or at once on a click.
class FrmSplash : public QWidget {
    Q_OBJECT
public:
    explicit FrmSplash(const Platform &platform, QWidget *parent = nullptr);
    ~FrmSplash() override;

    // Bits per pixel of the display; by default the depth of the screen the splash is on.
    void setDepthProbe(std::function<int()> probe) { depthProbe_ = std::move(probe); }

    void Timer1_Timer();
    void close_splash();

    QTimer *timer() { return &Timer1_; }
    qint16 counter() const { return counter_; }
    qint16 colourDepth() const { return colourDepth_; }

signals:
    // The main window close_splash opened; it deletes itself when closed.
    void mainWindowOpened(pw::Form1 *form);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_Load();

    std::unique_ptr<Ui::frmSplash> ui;
    Platform platform_;
    QTimer Timer1_;
    std::function<int()> depthProbe_;
    qint16 counter_ = 0;
    qint16 colourDepth_ = 0;
    bool closing_ = false;
};

}  // namespace pw
