#pragma once

#include "gui/platform/platform.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace Ui {
class SplashScreen;
}

namespace pw {

// The splash window, the first thing the program shows: every half second it checks that the
// display runs in full colour (if not, a message and the end), and it opens the main window
// on the fourth tick, about two seconds after it appeared, or at once on a click.
class SplashScreen : public QWidget {
    Q_OBJECT
public:
    explicit SplashScreen(const Platform &platform, QWidget *parent = nullptr);
    ~SplashScreen() override;

    // Bits per pixel of the display; by default the depth of the screen the splash is on.
    void setDepthProbe(std::function<int()> probe) { depthProbe_ = std::move(probe); }

    // One tick of the half-second timer.
    void checkDepthAndCountDown();
    // Closes the splash and opens the main window over the same platform pieces.
    void openMainWindow();

    QTimer *timer() { return &timer_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<Ui::SplashScreen> ui;
    Platform platform_;
    QTimer timer_;
    std::function<int()> depthProbe_;
    int ticks_ = 1;
    bool closing_ = false;
};

}  // namespace pw
