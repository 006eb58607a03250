#include "gui/splashscreen.h"

#include "gui/icons.h"
#include "gui/mainwindow/mainwindow.h"
#include "gui/programinfo.h"
#include "ui_splashscreen.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

namespace pw {

SplashScreen::SplashScreen(const Platform &platform, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::SplashScreen>()), platform_(platform)
{
    ui->setupUi(this);
    // No caption, no title-bar buttons, no taskbar entry.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the splash on the way to the main window must not count as the last window going.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(375, 222);

    ui->logoImage->setPixmap(programIcon().pixmap(32, 32));
    // Designer files hold whole point sizes only.
    QFont name = ui->productNameLabel->font();
    name.setPointSizeF(32.25);
    ui->productNameLabel->setFont(name);
    QFont platformFont = ui->platformLabel->font();
    platformFont.setPointSizeF(15.75);
    ui->platformLabel->setFont(platformFont);

    for (QWidget *w : std::initializer_list<QWidget *>{ui->borderFrame, ui->logoImage, ui->companyProductLabel,
                                                       ui->productNameLabel, ui->platformLabel, ui->versionLabel,
                                                       ui->copyrightLabel})
        w->installEventFilter(this);

    depthProbe_ = [this] {
        const QScreen *s = screen();
        return s ? s->depth() : 0;
    };
    connect(&timer_, &QTimer::timeout, this, &SplashScreen::checkDepthAndCountDown);

    if (const QScreen *s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());

    ui->versionLabel->setText(versionText());
    for (QLabel *label : {ui->companyProductLabel, ui->productNameLabel, ui->platformLabel, ui->copyrightLabel})
        label->adjustSize();
    // The version is right-aligned: it grows to the left and keeps its right edge.
    const int right = ui->versionLabel->geometry().right();
    ui->versionLabel->adjustSize();
    ui->versionLabel->move(right + 1 - ui->versionLabel->width(), ui->versionLabel->y());

    // The fourth tick opens the main window at two seconds: a coarse timer would come early.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(500);
    timer_.start();
}

SplashScreen::~SplashScreen() = default;

void SplashScreen::checkDepthAndCountDown()
{
    if (depthProbe_() < 24) {
        // One message only: no tick may arrive while it is on screen.
        timer_.stop();
        platform_.boxes->inform(this, QString(),
                                QStringLiteral("カラーパレットをフルカラー（２４ビット）に設定して下さい。"));
        if (platform_.exitProgram)
            platform_.exitProgram();
        return;
    }
    // The count starts at 1, so the fourth tick is the first to open the main window.
    if (ticks_ % 4 == 0)
        openMainWindow();
    ++ticks_;
}

void SplashScreen::openMainWindow()
{
    if (closing_)
        return;
    closing_ = true;
    timer_.stop();
    close();
    auto *window = new MainWindow(platform_);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->repaint();
}

bool SplashScreen::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // Eaten here, so that a click on an inner label never reaches the frame around it.
        return true;
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        auto *widget = static_cast<QWidget *>(watched);
        const bool closes = watched == ui->borderFrame || watched == ui->productNameLabel || watched == ui->platformLabel
                            || watched == ui->versionLabel;
        if (closes && mouse->button() == Qt::LeftButton && widget->rect().contains(mouse->position().toPoint()))
            openMainWindow();
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

}  // namespace pw
