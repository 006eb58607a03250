#pragma once

#include "core/text/textlayer.h"

#include <QGroupBox>
#include <QPlainTextEdit>

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace pw {

// The text box of the studio: takes any input, but a paste is cut to what a settings file can
// keep, so that a huge clipboard never reaches the layout.
class TextBox final : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;
    static constexpr int kMaxPasteChars = 8192;

signals:
    void pasteCut(int kept);

protected:
    void insertFromMimeData(const QMimeData *source) override;
};

// The studio's テキスト section: the text drawn over the picture and how. Every control's
// accessible name is its label. Below the controls a notice says when the font is missing, a
// character has no glyph, or the text is cut at the display's edge.
class TextSection final : public QGroupBox {
    Q_OBJECT
public:
    explicit TextSection(QWidget *parent = nullptr);

    TextOptions options() const;
    // Shows `options`; emits nothing.
    void setOptions(const TextOptions &options);
    // The controls down the section, for the studio's tab order.
    QList<QWidget *> tabOrder() const;
    QLabel *notice() const { return notice_; }

signals:
    void changed();

private:
    void edited();
    void showNotice();

    TextBox *text_ = nullptr;
    QComboBox *font_ = nullptr;
    QSpinBox *size_ = nullptr;
    QCheckBox *bold_ = nullptr;
    QComboBox *align_ = nullptr;
    QComboBox *valign_ = nullptr;
    QSpinBox *offsetX_ = nullptr;
    QSpinBox *offsetY_ = nullptr;
    QComboBox *color_ = nullptr;
    QCheckBox *fallback_ = nullptr;
    QLabel *notice_ = nullptr;
    QString family_;  // as the settings name it, until the user picks another
    QString pasteNotice_;
    bool showing_ = false;
};

}  // namespace pw
