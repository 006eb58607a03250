// The main window's commands: one QAction each, shared by the menu item and the toolbar
// button, and the menus and toolbar that show them. Each action runs one MainWindow function.
#include "gui/mainwindow/mainwindow.h"

#include "gui/icons.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>
#include <QToolBar>
#include <QToolButton>

namespace pw {

namespace {

// The menus show no pictures. Qt hides an action's picture in a menu when asked, but still
// widens the menu by a picture column whenever an action has one, as the commands shared with
// the toolbar do: the menus would grow wider than they have always been. Measured and drawn
// through this style, menu items leave the pictures out altogether.
class MenuWithoutPicturesStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget) const override
    {
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        if (type != CT_MenuItem || !item)
            return QProxyStyle::sizeFromContents(type, option, size, widget);
        const QStyleOptionMenuItem plain = withoutPicture(*item);
        return QProxyStyle::sizeFromContents(type, &plain, size, widget);
    }

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
        if (element != CE_MenuItem || !item) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        const QStyleOptionMenuItem plain = withoutPicture(*item);
        QProxyStyle::drawControl(element, &plain, painter, widget);
    }

private:
    static QStyleOptionMenuItem withoutPicture(const QStyleOptionMenuItem &item)
    {
        QStyleOptionMenuItem plain = item;
        plain.icon = QIcon();
        plain.maxIconWidth = 0;
        return plain;
    }
};

}  // namespace

QAction *MainWindow::createAction(const char *name, const QString &caption, void (MainWindow::*command)())
{
    auto *action = new QAction(caption, this);
    action->setObjectName(QLatin1String(name));
    if (command)
        connect(action, &QAction::triggered, this, command);
    return action;
}

void MainWindow::createActions()
{
    // A toolbar button's tooltip is its own text; the menu shows the caption, without the picture.
    const auto onToolbar = [](QAction *action, const char *picture, const QString &toolTip) {
        action->setIcon(toolbarIcon(QLatin1String(picture)));
        action->setIconVisibleInMenu(false);
        action->setToolTip(toolTip);
    };

    openPictureAction_ = createAction("openPictureAction", QStringLiteral("画像を開く(&O)"), &MainWindow::openPicture);
    onToolbar(openPictureAction_, "imgopnbmp", QStringLiteral("画像を開く"));
    openBinFileAction_ =
        createAction("openBinFileAction", QStringLiteral("ＢＩＮファイルを開く(&B)"), &MainWindow::openBinFile);
    onToolbar(openBinFileAction_, "imgopnbin", QStringLiteral("ＢＩＮファイルを開く"));
    savePictureAsBmpAction_ = createAction("savePictureAsBmpAction", QStringLiteral("名前を付けて画像を保存(&A)"),
                                           &MainWindow::savePictureAsBmp);
    onToolbar(savePictureAsBmpAction_, "imgsavbmp", QStringLiteral("名前を付けて画像を保存する"));
    saveBinFileAction_ = createAction("saveBinFileAction", QStringLiteral("名前を付けてＢＩＮファイルを保存(&S)"),
                                      &MainWindow::saveBinFile);
    onToolbar(saveBinFileAction_, "imgsavbin", QStringLiteral("名前を付けてＢＩＮファイルを保存する"));
    exportImageAction_ = createAction("exportImageAction", QStringLiteral("エクスポート(&E)..."), &MainWindow::exportImage);
    exitAction_ = createAction("exitAction", QStringLiteral("終了(&X)"), &MainWindow::exitAtOnce);

    convertPictureAction_ =
        createAction("convertPictureAction", QStringLiteral("画像変換(&C)"), &MainWindow::convertPicture);
    onToolbar(convertPictureAction_, "imgconv", QStringLiteral("変換"));
    sendToDisplayMemoryAction_ = createAction("sendToDisplayMemoryAction", QStringLiteral("画像送信（VRAM）(&T)"),
                                              &MainWindow::sendToDisplayMemory);
    onToolbar(sendToDisplayMemoryAction_, "imgti", QStringLiteral("画像送信（VRAM）"));
    sendToFlashPageAction_ = createAction("sendToFlashPageAction", QStringLiteral("画像送信（FLASH）(&S)"),
                                          &MainWindow::sendToFlashPage);
    onToolbar(sendToFlashPageAction_, "imgtv", QStringLiteral("画像送信（FLASH）"));
    openConsoleAction_ = createAction("openConsoleAction", QStringLiteral("コマンド送信(&A)"), &MainWindow::openConsole);
    onToolbar(openConsoleAction_, "imgcom", QStringLiteral("コマンド送信"));
    openStudioAction_ = createAction("openStudioAction", QStringLiteral("変換設定(&O)..."), &MainWindow::openStudio);
    sendFramesToFlashAction_ = createAction("sendFramesToFlashAction", QStringLiteral("全フレームをFLASHへ送信(&F)..."),
                                            &MainWindow::sendFramesToFlash);

    showAboutAction_ = createAction("showAboutAction", QStringLiteral("バージョン情報(&A)"), &MainWindow::showAbout);

    copyPictureAction_ = createAction("copyPictureAction", QStringLiteral("コピー"), &MainWindow::copyPicture);
    pastePictureAction_ = createAction("pastePictureAction", QStringLiteral("ペースト"), &MainWindow::pastePicture);
    // Choosing it only closes the menu.
    closePictureMenuAction_ = createAction("closePictureMenuAction", QStringLiteral("キャンセル"), nullptr);
}

void MainWindow::createMenus()
{
    // Over a fresh instance of the style the program runs with (the proxy owns its base).
    auto *menuStyle = new MenuWithoutPicturesStyle(QStyleFactory::create(QApplication::style()->name()));
    menuStyle->setParent(this);

    QMenu *fileMenu = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
    fileMenu->setObjectName(QStringLiteral("fileMenu"));
    fileMenu->setStyle(menuStyle);
    fileMenu->addAction(openPictureAction_);
    fileMenu->addAction(openBinFileAction_);
    fileMenu->addAction(savePictureAsBmpAction_);
    fileMenu->addAction(saveBinFileAction_);
    fileMenu->addAction(exportImageAction_);
    fileMenu->addSeparator();
    fileMenu->addAction(exitAction_);

    QMenu *runMenu = menuBar()->addMenu(QStringLiteral("実行(&R)"));
    runMenu->setObjectName(QStringLiteral("runMenu"));
    runMenu->setStyle(menuStyle);
    runMenu->addAction(convertPictureAction_);
    runMenu->addAction(sendToDisplayMemoryAction_);
    runMenu->addAction(sendToFlashPageAction_);
    runMenu->addAction(openConsoleAction_);
    runMenu->addSeparator();
    runMenu->addAction(openStudioAction_);
    runMenu->addAction(sendFramesToFlashAction_);

    QMenu *helpMenu = menuBar()->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    helpMenu->setObjectName(QStringLiteral("helpMenu"));
    helpMenu->setStyle(menuStyle);
    helpMenu->addAction(showAboutAction_);

    // Not on the menu bar: a right-click on the picture area opens it.
    pictureMenu_ = new QMenu(QStringLiteral("クリップボード"), this);
    pictureMenu_->setObjectName(QStringLiteral("pictureMenu"));
    pictureMenu_->setStyle(menuStyle);
    pictureMenu_->addAction(copyPictureAction_);
    pictureMenu_->addAction(pastePictureAction_);
    pictureMenu_->addAction(closePictureMenuAction_);
}

void MainWindow::createToolBar()
{
    // Inside the client area along its top edge, as the window's layout has it (not in a dock area).
    toolBar_ = new QToolBar(centralWidget());
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setGeometry(0, 0, 231, 28);
    toolBar_->setIconSize(QSize(16, 16));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // Left to right; nullptr is a separator.
    const QList<QAction *> buttons{openPictureAction_,
                                   openBinFileAction_,
                                   savePictureAsBmpAction_,
                                   saveBinFileAction_,
                                   convertPictureAction_,
                                   nullptr,
                                   sendToDisplayMemoryAction_,
                                   sendToFlashPageAction_,
                                   nullptr,
                                   openConsoleAction_};
    for (QAction *action : buttons) {
        if (!action) {
            toolBar_->addSeparator();
            continue;
        }
        toolBar_->addAction(action);
        // A button shows only its picture and has no text of its own (its tooltip names it, for
        // screen readers too); Qt would give it the menu caption, again after every change.
        const auto keepTextless = [this, action] {
            if (auto *button = qobject_cast<QToolButton *>(toolBar_->widgetForAction(action)))
                button->setText(QString());
        };
        keepTextless();
        connect(action, &QAction::changed, toolBar_, keepTextless);
    }
}

}  // namespace pw
