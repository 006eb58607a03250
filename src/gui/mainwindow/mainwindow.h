#pragma once

#include "core/convert/conversionsettings.h"
#include "core/image/monoimage.h"
#include "core/storage/settingsfile.h"
#include "gui/platform/filedialog.h"
#include "gui/platform/platform.h"

#include <QMainWindow>
#include <QPointer>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;

namespace Ui {
class MainWindow;
}

namespace pw {

class AboutDialog;
class CommandConsole;
class ConversionStudio;
class PictureArea;
class SourcePicture;

// The main window: the picture area, the lists of port, FLASH page and rewrite time, the
// status label and the progress bar, the menus and the toolbar. It owns the working image,
// the settings and the shared file dialog for the whole run, and reaches the platform only
// through the Platform it is given.
//
// Every command is one QAction, shared by its menu item and its toolbar button, and runs one
// of the functions below (actions.cpp builds them).
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(const Platform &platform, QWidget *parent = nullptr);
    ~MainWindow() override;

    // --- the commands; each runs to its end and reports through the status label and boxes
    // picturecommands.cpp
    void openPicture();
    void savePictureAsBmp();
    void copyPicture();
    void pastePicture();
    // workingimage.cpp
    void convertPicture();
    void openBinFile();
    void saveBinFile();
    void exportImage();
    // devicecommands.cpp: the transfers ask first
    void sendToDisplayMemory();
    void sendToFlashPage();
    void sendFramesToFlash();
    // studiocommands.cpp
    void openStudio();
    // mainwindow.cpp
    void openConsole();
    void showAbout();
    void exitAtOnce();

    // Files dropped on the picture area: the first is opened as a BIN file or a picture.
    void openDroppedFiles(const QStringList &paths);
    // Reads a BIN file into the working image and names it in the caption; false, with
    // nothing shown, when the file cannot be read.
    bool loadBinFile(const QString &path);

    // --- what the console, the transfers and the tests work with
    MonoImage &monoImage() { return monoImage_; }
    const MonoImage &monoImage() const { return monoImage_; }
    PictureArea *pictureArea() const;
    QLabel *statusLabel() const;
    QProgressBar *progressBar() const;
    QComboBox *rewriteTimeList() const;
    QComboBox *portList() const;
    QComboBox *pageList() const;
    QToolBar *toolBar() const { return toolBar_; }
    QMenu *pictureMenu() const { return pictureMenu_; }
    SharedFileDialog &fileDialog() { return fileDialog_; }
    SerialPort &port() { return *platform_.port; }
    MessageBoxes &boxes() { return *platform_.boxes; }
    // The two settings as restored at start and changed by the lists since.
    const Settings &settings() const { return settings_; }
    CommandConsole *console() const;
    AboutDialog *about() const;
    ConversionStudio *studio() const;

    // --- the conversion settings (studiocommands.cpp), kept in conversion.ini beside the
    // settings file
    const ConversionSettings &conversionSettings() const { return conversion_; }
    // As the studio does on a change: prepares the picture area again from the picture as it
    // came in, shows the result, and writes the settings file a moment later.
    void setConversionSettings(const ConversionSettings &settings);
    // The core's options for the settings now, over the picture area's background.
    ConversionOptions conversionOptions() const;
    // Writes conversion.ini now if a change is still waiting for it.
    void saveConversionSettings();
    // The picture as it came in; null when none was opened, dropped or pasted. A BIN file
    // loaded since leaves it in place: the next change of an option prepares it again.
    SourcePicture *sourcePicture() const { return source_.get(); }

    // Sets the status label and, when asked, draws it at once.
    void setStatus(const QString &text, bool redraw = true);
    // The caption after a file is loaded: the program's caption followed by "(" path ")".
    void setCaptionPath(const QString &path);
    // Selects a list entry by its text as the program does: the list's change handler runs
    // as if the user had chosen it. False, and nothing runs, for a text that is no entry.
    bool selectListEntry(QComboBox *list, const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // actions.cpp
    void createActions();
    void createMenus();
    void createToolBar();
    QAction *createAction(const char *name, const QString &caption, void (MainWindow::*command)());

    void restoreSettings();
    // studiocommands.cpp: a picture came in (null: the area was emptied or a BIN file loaded);
    // false, with nothing changed, when the part the settings need cannot be loaded.
    bool takePicture(std::unique_ptr<SourcePicture> source);
    bool showPrepared();
    void showResult();
    // What 画像変換 converts now: the picture as it came in, prepared with the options (the
    // background alone when none came in), never what a conversion painted, and without the
    // text; and its flat pixels.
    QImage conversionSurface(FlatPixels &flat) const;
    // With no picture: the text over the background, or the empty area once the text is gone.
    void showTextAlone(bool hadText);
    void rewriteTimeChosen();
    void portChosen();
    void showPictureMenu(Qt::MouseButton button, const QPoint &globalPos);

    std::unique_ptr<Ui::MainWindow> ui;
    Platform platform_;
    Settings settings_;
    SharedFileDialog fileDialog_;
    MonoImage monoImage_{};
    QToolBar *toolBar_ = nullptr;
    QMenu *pictureMenu_ = nullptr;
    QPointer<CommandConsole> console_;
    QPointer<AboutDialog> about_;
    QPointer<ConversionStudio> studio_;
    ConversionSettings conversion_;
    QString conversionPath_;
    QTimer *conversionSaveTimer_ = nullptr;
    bool conversionUnsaved_ = false;
    std::unique_ptr<SourcePicture> source_;
    QImage prepared_;     // source_ as the options last prepared it
    QImage areaPicture_;  // the area as last replaced, before any conversion painted it
    FlatPixels preparedFlat_;
    bool binShown_ = false;  // a BIN file loaded and no option changed since
    bool textAloneShown_ = false;  // the area shows the text over the background, no picture
    int exportFilter_ = 0;
    // Set by a clipboard command that failed inside the picture menu.
    bool clipboardFailed_ = false;

    QAction *openPictureAction_ = nullptr;
    QAction *openBinFileAction_ = nullptr;
    QAction *savePictureAsBmpAction_ = nullptr;
    QAction *saveBinFileAction_ = nullptr;
    QAction *exitAction_ = nullptr;
    QAction *convertPictureAction_ = nullptr;
    QAction *sendToDisplayMemoryAction_ = nullptr;
    QAction *sendToFlashPageAction_ = nullptr;
    QAction *openConsoleAction_ = nullptr;
    QAction *openStudioAction_ = nullptr;
    QAction *sendFramesToFlashAction_ = nullptr;
    QAction *exportImageAction_ = nullptr;
    QAction *showAboutAction_ = nullptr;
    QAction *copyPictureAction_ = nullptr;
    QAction *pastePictureAction_ = nullptr;
    QAction *closePictureMenuAction_ = nullptr;
};

}  // namespace pw
