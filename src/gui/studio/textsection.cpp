#include "gui/studio/textsection.h"

#include "gui/studio/optioncontrols.h"

#include "core/text/textfonts.h"
#include "core/convert/conversionoptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QSpinBox>

namespace pw {

void TextBox::insertFromMimeData(const QMimeData *source)
{
    if (!source->hasText() || source->text().size() <= kMaxPasteChars) {
        QPlainTextEdit::insertFromMimeData(source);
        return;
    }
    QString text = source->text().left(kMaxPasteChars);
    if (text.back().isHighSurrogate())
        text.chop(1);
    insertPlainText(text);
    emit pasteCut(int(text.size()));
}

TextSection::TextSection(QWidget *parent) : QGroupBox(QStringLiteral("テキスト"), parent)
{
    auto *form = new QFormLayout(this);
    const auto row = [form](const QString &label, QWidget *control) {
        control->setAccessibleName(label);
        auto *caption = new QLabel(label);
        caption->setBuddy(control);
        form->addRow(caption, control);
    };
    text_ = new TextBox;
    text_->setTabChangesFocus(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFixedHeight(text_->fontMetrics().lineSpacing() * 4 + 12);
    row(QStringLiteral("テキスト"), text_);
    font_ = new QComboBox;
    font_->addItems(QFontDatabase::families());
    row(QStringLiteral("フォント"), font_);
    size_ = new QSpinBox;
    size_->setRange(options::textSize.low, options::textSize.high);
    size_->setSuffix(QStringLiteral(" px"));
    row(options::textSize.caption, size_);
    bold_ = new QCheckBox(QStringLiteral("太字"));
    bold_->setAccessibleName(bold_->text());
    form->addRow(QString(), bold_);
    align_ = comboOf(options::align);
    row(options::align.caption, align_);
    valign_ = comboOf(options::valign);
    row(options::valign.caption, valign_);
    offsetX_ = new QSpinBox;
    offsetY_ = new QSpinBox;
    for (QSpinBox *box : {offsetX_, offsetY_})
        box->setRange(options::textOffset.low, options::textOffset.high);
    row(QStringLiteral("Xオフセット"), offsetX_);
    row(QStringLiteral("Yオフセット"), offsetY_);
    color_ = comboOf(options::textColor);
    row(options::textColor.caption, color_);
    fallback_ = new QCheckBox(QStringLiteral("ない文字は他のフォントで"));
    fallback_->setAccessibleName(fallback_->text());
    form->addRow(QString(), fallback_);
    notice_ = new QLabel;
    notice_->setWordWrap(true);
    notice_->setStyleSheet(QStringLiteral("color: #c00000"));
    notice_->setAccessibleName(QStringLiteral("テキストの注意"));
    form->addRow(notice_);

    connect(text_, &QPlainTextEdit::textChanged, this, &TextSection::edited);
    connect(text_, &TextBox::pasteCut, this, [this](int kept) {
        pasteNotice_ = QStringLiteral("長いテキストは先頭の %1 文字だけを貼り付けました。").arg(kept);
        showNotice();
    });
    connect(font_, &QComboBox::currentIndexChanged, this, [this] {
        if (!showing_)
            family_ = font_->currentText();
    });
    for (QComboBox *combo : {font_, align_, valign_, color_})
        connect(combo, &QComboBox::currentIndexChanged, this, &TextSection::edited);
    for (QSpinBox *box : {size_, offsetX_, offsetY_})
        connect(box, &QSpinBox::valueChanged, this, &TextSection::edited);
    for (QCheckBox *box : {bold_, fallback_})
        connect(box, &QCheckBox::toggled, this, &TextSection::edited);
    setOptions({});
}

QList<QWidget *> TextSection::tabOrder() const
{
    return {text_, font_, size_, bold_, align_, valign_, offsetX_, offsetY_, color_, fallback_};
}

TextOptions TextSection::options() const
{
    TextOptions o;
    o.text = text_->toPlainText();
    o.family = family_;
    o.size = size_->value();
    o.bold = bold_->isChecked();
    o.align = TextAlign(align_->currentData().toInt());
    o.valign = TextVAlign(valign_->currentData().toInt());
    o.offsetX = offsetX_->value();
    o.offsetY = offsetY_->value();
    o.white = color_->currentData().toInt() != 0;
    o.fallback = fallback_->isChecked();
    return o;
}

void TextSection::setOptions(const TextOptions &o)
{
    const bool wasShowing = showing_;
    showing_ = true;
    if (text_->toPlainText() != o.text)
        text_->setPlainText(o.text);
    // A family that is not installed stays chosen, so that the notice can say so.
    family_ = o.family;
    const QString family = installedFamily(o.family).isEmpty() ? o.family : installedFamily(o.family);
    if (font_->findText(family) < 0)
        font_->addItem(family);
    font_->setCurrentIndex(font_->findText(family));
    size_->setValue(o.size);
    bold_->setChecked(o.bold);
    selectData(align_, int(o.align));
    selectData(valign_, int(o.valign));
    offsetX_->setValue(o.offsetX);
    offsetY_->setValue(o.offsetY);
    selectData(color_, int(o.white));
    fallback_->setChecked(o.fallback);
    showing_ = wasShowing;
    showNotice();
}

void TextSection::edited()
{
    if (showing_)
        return;
    showNotice();
    emit changed();
}

void TextSection::showNotice()
{
    const TextOptions o = options();
    QStringList lines;
    if (!pasteNotice_.isEmpty() && !o.isEmpty())
        lines << pasteNotice_;
    if (!o.isEmpty()) {
        const TextLayer layer = layoutText(o);
        if (layer.fontMissing())
            lines << QStringLiteral("フォント「%1」はインストールされていません。").arg(o.family);
        else if (!layer.missing.isEmpty())
            lines << QStringLiteral("フォントにない文字: %1").arg(codePointList(layer.missing));
        if (layer.overflow)
            lines << QStringLiteral("表示領域からはみ出した部分は切り取られます。");
    }
    notice_->setText(lines.join(QLatin1Char('\n')));
    notice_->setVisible(!lines.isEmpty());
}

}  // namespace pw
