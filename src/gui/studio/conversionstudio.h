#pragma once

#include "core/convert/conversionoptions.h"
#include "core/convert/conversionsettings.h"
#include "core/image/monoimage.h"

#include <QDialog>
#include <functional>
#include <optional>

class QAbstractSlider;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLayout;
class QPushButton;
class QSlider;
class QSpinBox;

namespace pw {
class TextSection;
}

namespace pw {

// The conversion settings window (変換設定): every option of the conversion as a control, the
// prepared picture and the one-bit result it gives at four times its size. Not modal; the main
// window owns the one instance and does the work: the window shows the settings, says when the
// user changed one, and shows what the main window hands back.
//
// Every control's accessible name is its label; the tab order runs down the window.
class ConversionStudio final : public QDialog {
    Q_OBJECT
public:
    explicit ConversionStudio(QWidget *parent = nullptr);

    // The settings as the controls show them.
    ConversionSettings settings() const;
    // Shows `settings`; emits nothing.
    void setSettings(const ConversionSettings &settings);
    // The frames of the picture now open: the frame box is enabled for an animation only.
    void setFrameCount(int count);
    // The picture area's own colour, which the background shows until one is chosen.
    void setAreaBackground(const QColor &color);
    // The prepared picture and what converting it gives (nothing when it cannot be converted).
    void showResult(const QImage &surface, const std::optional<MonoImage> &result);

    // Asks for the background colour; the colour dialog unless replaced (tests). Invalid: cancelled.
    std::function<QColor(const QColor &current)> chooseColor;

    // Beside `window`, on the side where the screen has more room. When the studio does not fit
    // there but the screen holds both side by side, `window` moves over just enough; otherwise
    // the studio stays within the screen.
    void placeBeside(QWidget *window);

signals:
    // The user changed a setting (or went back to the defaults).
    void settingsChanged(const ConversionSettings &settings);

private:
    // The option rows of the form; returns their controls in tab order.
    QList<QWidget *> addOptionRows();
    QSlider *addSliderRow(const NumberOption &option, QWidget *box);
    QLayout *addPictureViews();
    void changed();
    void chooseBackground();
    void resetToDefaults();
    void showBackground();

    QComboBox *fit_ = nullptr;
    QComboBox *rotate_ = nullptr;
    QCheckBox *flipHorizontal_ = nullptr;
    QCheckBox *flipVertical_ = nullptr;
    QSpinBox *brightness_ = nullptr;
    QSpinBox *contrast_ = nullptr;
    QDoubleSpinBox *gamma_ = nullptr;
    QSpinBox *threshold_ = nullptr;
    QComboBox *dither_ = nullptr;
    QCheckBox *invert_ = nullptr;
    QPushButton *background_ = nullptr;
    QComboBox *layout_ = nullptr;
    QSpinBox *frame_ = nullptr;
    QLabel *prepared_ = nullptr;
    QLabel *preview_ = nullptr;
    QFormLayout *form_ = nullptr;
    TextSection *text_ = nullptr;

    std::optional<QColor> chosenBackground_;
    QColor areaBackground_;
    int frameSetting_ = 0;  // kept while a picture with fewer frames is open
    bool showing_ = false;  // controls set by the program, not the user
};

}  // namespace pw
