#include "gui/frmsplash.h"

#include "gui/module1.h"
#include "ui_frmsplash.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>

namespace pw {

FrmSplash::FrmSplash(const Platform &platform, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmSplash>()), platform_(platform)
{
    ui->setupUi(this);
    // No caption, no title-bar buttons, no taskbar entry.
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the splash on the way to the main window must not count as the last window going.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(375, 222);

    ui->imgLogo->setPixmap(Form1::listImage(QStringLiteral("program")).pixmap(32, 32));
    // Designer files hold whole point sizes only.
    QFont name = ui->lblProductName->font();
    name.setPointSizeF(32.25);
    ui->lblProductName->setFont(name);
    QFont platformFont = ui->lblPlatform->font();
    platformFont.setPointSizeF(15.75);
    ui->lblPlatform->setFont(platformFont);

    for (QWidget *w : std::initializer_list<QWidget *>{ui->Frame1, ui->imgLogo, ui->lblCompanyProduct, ui->lblProductName,
                                                       ui->lblPlatform, ui->lblVersion, ui->Label1})
        w->installEventFilter(this);

    depthProbe_ = [this] {
        const QScreen *s = screen();
        return s ? s->depth() : 0;
    };
    connect(&Timer1_, &QTimer::timeout, this, &FrmSplash::Timer1_Timer);

    if (const QScreen *s = QGuiApplication::primaryScreen())
        move(s->geometry().center() - rect().center());

    Form_Load();
}

FrmSplash::~FrmSplash() = default;

void FrmSplash::Form_Load()
{
    ui->lblVersion->setText(Module1::versionText());
    for (QLabel *label : {ui->lblCompanyProduct, ui->lblProductName, ui->lblPlatform, ui->Label1})
        label->adjustSize();
    // The version is right-aligned: it grows to the left and keeps its right edge.
    const int right = ui->lblVersion->geometry().right();
    ui->lblVersion->adjustSize();
    ui->lblVersion->move(right + 1 - ui->lblVersion->width(), ui->lblVersion->y());

    counter_ = 1;
    // The fourth tick opens the main window at two seconds: a coarse timer would come early.
    Timer1_.setTimerType(Qt::PreciseTimer);
    Timer1_.setInterval(500);
    Timer1_.start();
}

void FrmSplash::Timer1_Timer()
{
    colourDepth_ = static_cast<qint16>(depthProbe_());
    if (colourDepth_ < 24) {
        // One message only: no tick may arrive while it is on screen.
        Timer1_.stop();
        platform_.boxes->inform(this, QString(),
                                QStringLiteral("カラーパレットをフルカラー（２４ビット）に設定して下さい。"));
        if (platform_.exitProgram)
            platform_.exitProgram();
        return;
    }
    if (counter_ % 4 == 0)
        close_splash();
    ++counter_;
}

void FrmSplash::close_splash()
{
    if (closing_)
        return;
    closing_ = true;
    Timer1_.stop();
    close();
    auto *form = new Form1(platform_);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->repaint();
    emit mainWindowOpened(form);
}

bool FrmSplash::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // Eaten here, so that a click on an inner label never reaches the frame around it.
        return true;
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        auto *widget = static_cast<QWidget *>(watched);
        const bool closes = watched == ui->Frame1 || watched == ui->lblProductName || watched == ui->lblPlatform
                            || watched == ui->lblVersion;
        if (closes && mouse->button() == Qt::LeftButton && widget->rect().contains(mouse->position().toPoint()))
            close_splash();
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

}  // namespace pw
