#include "gui/studio/conversionstudio.h"

#include "gui/studio/optioncontrols.h"

#include "core/convert/conversionoptions.h"
#include "core/image/encoders.h"
#include "gui/studio/textsection.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>
#include <utility>

namespace pw {

namespace {

constexpr int kPreparedScale = 2;
constexpr int kPreviewScale = 4;

QLabel *pictureView(int scale)
{
    auto *view = new QLabel;
    view->setFixedSize(kImageWidth * scale, kImageHeight * scale);
    view->setFrameStyle(QFrame::Box | QFrame::Plain);
    view->setLineWidth(0);
    return view;
}

}  // namespace

ConversionStudio::ConversionStudio(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("変換設定"));
    setModal(false);
    chooseColor = [this](const QColor &current) {
        return QColorDialog::getColor(current, this, QStringLiteral("背景色"), QColorDialog::DontUseNativeDialog);
    };

    form_ = new QFormLayout;
    QList<QWidget *> order = addOptionRows();
    auto *reset = new QPushButton(QStringLiteral("既定に戻す"));
    auto *close = new QPushButton(QStringLiteral("閉じる"));
    for (QPushButton *button : {reset, close}) {
        button->setAutoDefault(false);
        button->setAccessibleName(button->text());
    }
    connect(reset, &QPushButton::clicked, this, &ConversionStudio::resetToDefaults);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(reset);
    buttons->addWidget(close);

    auto *options = new QVBoxLayout;
    options->addLayout(form_);
    text_ = new TextSection;
    connect(text_, &TextSection::changed, this, &ConversionStudio::changed);
    options->addWidget(text_);
    options->addStretch();
    options->addLayout(buttons);
    auto *main = new QHBoxLayout(this);
    main->addLayout(options);
    main->addLayout(addPictureViews());

    // Down the window, each slider before its number box; the text section after the frame,
    // before the buttons.
    order << reset << close;
    for (qsizetype i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    QWidget *previous = frame_;
    for (QWidget *control : text_->tabOrder())
        setTabOrder(std::exchange(previous, control), control);
    setAreaBackground(palette().color(QPalette::Button));
    setSettings({});
}

QList<QWidget *> ConversionStudio::addOptionRows()
{
    const auto row = [this](const QString &label, QWidget *control) {
        control->setAccessibleName(label);
        auto *caption = new QLabel(label);
        caption->setBuddy(control);
        form_->addRow(caption, control);
    };
    const auto check = [this](const QString &label) {
        auto *box = new QCheckBox(label);
        box->setAccessibleName(label);
        form_->addRow(QString(), box);
        connect(box, &QCheckBox::toggled, this, &ConversionStudio::changed);
        return box;
    };
    fit_ = comboOf(options::fit);
    row(options::fit.caption, fit_);
    rotate_ = comboOf(options::rotate);
    row(options::rotate.caption, rotate_);
    flipHorizontal_ = check(QStringLiteral("左右反転"));
    flipVertical_ = check(QStringLiteral("上下反転"));
    brightness_ = new QSpinBox;
    QSlider *brightnessSlider = addSliderRow(options::brightness, brightness_);
    contrast_ = new QSpinBox;
    QSlider *contrastSlider = addSliderRow(options::contrast, contrast_);
    gamma_ = new QDoubleSpinBox;
    gamma_->setDecimals(2);  // hundredths, as conversion.ini keeps it
    gamma_->setSingleStep(1.0 / options::gamma.scale);
    gamma_->setRange(options::gamma.lowValue(), options::gamma.highValue());
    QSlider *gammaSlider = addSliderRow(options::gamma, gamma_);
    threshold_ = new QSpinBox;
    QSlider *thresholdSlider = addSliderRow(options::threshold, threshold_);
    // The number boxes one width, so that the sliders line up.
    const int boxWidth = gamma_->sizeHint().width();
    for (QWidget *box : std::initializer_list<QWidget *>{brightness_, contrast_, gamma_, threshold_})
        box->setFixedWidth(boxWidth);
    dither_ = comboOf(options::dither);
    row(options::dither.caption, dither_);
    invert_ = check(QStringLiteral("白黒反転"));
    background_ = new QPushButton;
    background_->setAutoDefault(false);
    row(QStringLiteral("背景色"), background_);
    connect(background_, &QPushButton::clicked, this, &ConversionStudio::chooseBackground);
    layout_ = comboOf(options::layout);
    row(options::layout.caption, layout_);
    frame_ = new QSpinBox;
    row(options::frame.caption, frame_);
    setFrameCount(1);
    for (QComboBox *combo : {fit_, rotate_, dither_, layout_})
        connect(combo, &QComboBox::currentIndexChanged, this, &ConversionStudio::changed);
    connect(frame_, &QSpinBox::valueChanged, this, [this](int value) {
        if (!showing_) {
            frameSetting_ = value;
            changed();
        }
    });
    return {fit_,           rotate_,   flipHorizontal_, flipVertical_, brightnessSlider, brightness_, contrastSlider,
            contrast_,      gammaSlider, gamma_,        thresholdSlider, threshold_,     dither_,     invert_,
            background_,    layout_,   frame_};
}

QLayout *ConversionStudio::addPictureViews()
{
    prepared_ = pictureView(kPreparedScale);
    prepared_->setAccessibleName(QStringLiteral("変換前"));
    preview_ = pictureView(kPreviewScale);
    preview_->setAccessibleName(QStringLiteral("プレビュー"));
    auto *pictures = new QVBoxLayout;
    pictures->addWidget(new QLabel(QStringLiteral("変換前")));
    pictures->addWidget(prepared_);
    pictures->addWidget(new QLabel(QStringLiteral("プレビュー")));
    pictures->addWidget(preview_);
    pictures->addStretch();
    return pictures;
}

QSlider *ConversionStudio::addSliderRow(const NumberOption &option, QWidget *box)
{
    const QString &label = option.caption;
    const int low = option.low, high = option.high;
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setRange(low, high);
    slider->setPageStep(qMax(1, (high - low) / 20));
    slider->setAccessibleName(label);
    box->setAccessibleName(label);
    // The box holds the value: the slider only moves it, so each change is reported once.
    if (auto *spin = qobject_cast<QSpinBox *>(box)) {
        spin->setRange(low, high);
        connect(slider, &QSlider::valueChanged, spin, &QSpinBox::setValue);
        connect(spin, &QSpinBox::valueChanged, slider, &QSlider::setValue);
        connect(spin, &QSpinBox::valueChanged, this, &ConversionStudio::changed);
    } else if (auto *number = qobject_cast<QDoubleSpinBox *>(box)) {
        connect(slider, &QSlider::valueChanged, number, [number](int v) {
            if (std::lround(number->value() * 100) != v)
                number->setValue(v / 100.0);
        });
        connect(number, &QDoubleSpinBox::valueChanged, slider, [slider](double v) { slider->setValue(int(std::lround(v * 100))); });
        connect(number, &QDoubleSpinBox::valueChanged, this, &ConversionStudio::changed);
    }
    auto *line = new QHBoxLayout;
    line->addWidget(slider, 1);
    line->addWidget(box);
    auto *caption = new QLabel(label);
    caption->setBuddy(slider);
    form_->addRow(caption, line);
    return slider;
}

ConversionSettings ConversionStudio::settings() const
{
    ConversionSettings s;
    s.fit = Fit(fit_->currentData().toInt());
    s.rotate = rotate_->currentData().toInt();
    s.flipHorizontal = flipHorizontal_->isChecked();
    s.flipVertical = flipVertical_->isChecked();
    s.tone.brightness = brightness_->value();
    s.tone.contrast = contrast_->value();
    s.tone.gamma = double(std::lround(gamma_->value() * 100)) / 100.0;
    s.background = chosenBackground_;
    s.threshold.threshold = threshold_->value();
    s.threshold.dither = Dither(dither_->currentData().toInt());
    s.threshold.invert = invert_->isChecked();
    s.frame = frameSetting_;
    s.layout = layoutChoices().value(layout_->currentData().toInt()).name;
    s.text = text_->options();
    return s;
}

void ConversionStudio::setSettings(const ConversionSettings &s)
{
    const bool wasShowing = showing_;
    showing_ = true;
    selectData(fit_, int(s.fit));
    selectData(rotate_, s.rotate);
    flipHorizontal_->setChecked(s.flipHorizontal);
    flipVertical_->setChecked(s.flipVertical);
    brightness_->setValue(s.tone.brightness);
    contrast_->setValue(s.tone.contrast);
    gamma_->setValue(s.tone.gamma);
    threshold_->setValue(s.threshold.threshold);
    selectData(dither_, int(s.threshold.dither));
    invert_->setChecked(s.threshold.invert);
    chosenBackground_ = s.background;
    const Choice *layout = choiceNamed(layoutChoices(), s.layout);
    selectData(layout_, layout ? layout->value : -1);
    frameSetting_ = s.frame;
    frame_->setValue(qMin(s.frame, frame_->maximum()));
    text_->setOptions(s.text);
    showBackground();
    showing_ = wasShowing;
}

void ConversionStudio::setFrameCount(int count)
{
    const bool wasShowing = showing_;
    showing_ = true;
    frame_->setRange(0, qMax(0, count - 1));
    frame_->setValue(qMin(frameSetting_, frame_->maximum()));
    frame_->setEnabled(count > 1);
    showing_ = wasShowing;
}

void ConversionStudio::setAreaBackground(const QColor &color)
{
    areaBackground_ = color;
    showBackground();
}

void ConversionStudio::showResult(const QImage &surface, const std::optional<MonoImage> &result)
{
    prepared_->setPixmap(QPixmap::fromImage(surface.scaled(surface.size() * kPreparedScale)));
    if (result)
        preview_->setPixmap(QPixmap::fromImage(previewImage(*result, kPreviewScale)));
    else
        preview_->clear();
}

void ConversionStudio::placeBeside(QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(frame.topLeft(), frame.size() * 8);
    // The size it has, not its size hint: a window is never sized beyond two thirds of the
    // screen, and the hint would leave a wider gap on the left than on the right.
    const QSize size = frameGeometry().size();
    constexpr int gap = 8;
    const int leftRoom = frame.left() - room.left(), rightRoom = room.right() - frame.right();
    const bool right = rightRoom >= leftRoom;
    const int missing = size.width() + gap - qMax(leftRoom, rightRoom);
    int shift = 0;
    if (missing > 0 && frame.width() + gap + size.width() <= room.width()) {
        shift = right ? -missing : missing;
        window->move(frame.topLeft() + QPoint(shift, 0));
    }
    int x = right ? frame.right() + 1 + gap + shift : frame.left() + shift - gap - size.width();
    x = qMax(room.left(), qMin(x, room.right() + 1 - size.width()));
    const int y = qBound(room.top(), frame.top(), qMax(room.top(), room.bottom() + 1 - size.height()));
    move(x, y);
}

void ConversionStudio::changed()
{
    if (!showing_)
        emit settingsChanged(settings());
}

void ConversionStudio::chooseBackground()
{
    const QColor color = chooseColor ? chooseColor(chosenBackground_.value_or(areaBackground_)) : QColor();
    if (!color.isValid())
        return;
    chosenBackground_ = QColor(color.rgb());
    showBackground();
    changed();
}

void ConversionStudio::resetToDefaults()
{
    setSettings({});
    emit settingsChanged(settings());
}

void ConversionStudio::showBackground()
{
    const QColor color = chosenBackground_.value_or(areaBackground_);
    QPixmap swatch(16, 16);
    swatch.fill(color);
    QPainter(&swatch).drawRect(0, 0, 15, 15);
    background_->setIcon(QIcon(swatch));
    background_->setText(color.name(QColor::HexRgb));
    // The swatch says nothing to a screen reader.
    background_->setAccessibleDescription(color.name(QColor::HexRgb));
}

}  // namespace pw
