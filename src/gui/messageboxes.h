#pragma once

#include <QString>
#include <QWidget>

namespace pw {

// Message boxes of the program: no icon; a box without a title of its own shows "Pixelwright".
class MessageBoxes {
public:
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;
    // An empty title shows the program title.
    virtual Answer ask(QWidget *parent, const QString &title, const QString &text, Buttons buttons) = 0;

    void inform(QWidget *parent, const QString &title, const QString &text) { ask(parent, title, text, Buttons::Ok); }
    bool confirm(QWidget *parent, const QString &title, const QString &text)
    {
        return ask(parent, title, text, Buttons::YesNo) == Answer::Yes;
    }
};

class QtMessageBoxes final : public MessageBoxes {
public:
    Answer ask(QWidget *parent, const QString &title, const QString &text, Buttons buttons) override;
};

inline const QString &programTitle()
{
    static const QString title = QStringLiteral("Pixelwright");
    return title;
}

}  // namespace pw
