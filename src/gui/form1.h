#pragma once

#include "gui/commondialog.h"
#include "gui/messageboxes.h"
#include "core/serialport.h"
#include "core/settingsfile.h"
#include "core/monoimage.h"

#include <QAction>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QToolBar;

namespace Ui {
class Form1;
}

namespace pw {

class PictureArea;
class Form2;
class FrmAbout;
class WaitGate;

// Everything the main window needs from the platform; tests hand in scripted ones.
struct Platform {
    MessageBoxes *boxes = nullptr;
    FileDialogBackend *dialogs = nullptr;
    SerialPort *port = nullptr;
    QString programDir;
    // Ends the process at once, without any window's closing steps.
    std::function<void()> exitProgram;
};

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(const Platform &platform, QWidget *parent = nullptr);
    ~Form1() override;

    // --- operations (each runs to its end, reports through Label1 and message boxes) ---
    void CONV();
    void open_picture();
    void open_bin();
    void save_bin();
    bool load_bin(const QString &path);
    void save_bmp();
    void tx_data();
    void ts_data();

    // --- dispatch ---
    void Toolbar1_ButtonClick(const QString &key);
    void mnuopn_Click();
    void mnubo_Click();
    void mnusav_Click();
    void mnuasav_Click();
    void mnuend_Click();
    void mnucnv_Click();
    void mnutx_Click();
    void mnuts_Click();
    void mmucom_Click();
    void mnuver_Click();

    // --- picture area handlers ---
    void Picture1_OLEDragDrop(const QStringList &paths);
    void Picture1_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void popcopy_Click();
    void poppaste_Click();

    // --- the shared objects ---
    MonoImage &monoImage() { return MonoImage_; }
    const MonoImage &monoImage() const { return MonoImage_; }
    PictureArea *picture() const;
    QLabel *statusLabel() const;
    QProgressBar *progressBar() const;
    QComboBox *combo(int number) const;
    QToolBar *toolbar() const { return Toolbar1_; }
    QMenu *popupMenu() const { return popclipboard_; }
    CommonDialog &commonDialog() { return CommonDialog1_; }
    SerialPort &port() { return *platform_.port; }
    MessageBoxes &boxes() { return *platform_.boxes; }
    const Platform &platform() const { return platform_; }
    // The start module's values, as restored at load and changed by the lists.
    const Settings &settings() const { return settings_; }
    QString appPath() const { return appPath_; }
    QString baseCaption() const { return baseCaption_; }
    Form2 *console() const;
    FrmAbout *about() const;

    // Sets Label1 and, when asked, draws it at once.
    void setStatus(const QString &text, bool redraw = true);
    // The caption rule: the base caption followed by "(" path ")".
    void setCaptionPath(const QString &path);

    // Selecting a list entry by text, as the program does it: runs the list's change handler.
    // Fails (and runs nothing) for a text that is not an entry.
    bool selectComboText(QComboBox *combo, const QString &text);

    static QIcon listImage(const QString &key);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_load();
    void Combo1_Click();
    void Combo2_Click();
    bool writeSettings();
    void buildMenus();
    void buildToolbar();
    void setupWorkspace();

    std::unique_ptr<Ui::Form1> ui;
    Platform platform_;
    Settings settings_;
    CommonDialog CommonDialog1_;
    MonoImage MonoImage_{};
    QString appPath_;
    QString baseCaption_;
    QToolBar *Toolbar1_ = nullptr;
    QMenu *popclipboard_ = nullptr;
    QPointer<Form2> console_;
    QPointer<FrmAbout> about_;
    // Set by a clipboard command that failed inside the picture area's menu.
    bool clipboardFailed_ = false;
};

}  // namespace pw
