#pragma once

#include <QString>
#include <QWidget>

namespace pw {

// The program's modal message boxes: no icon; a box without a title of its own shows the
// program's title. Tests script the answers and record what was shown.
class MessageBoxes {
public:
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBoxes() = default;
    // Shows a box and returns the answer. `defaultAnswer` is the button that Enter presses
    // (Ok for an OK box). An empty title shows the program's title.
    virtual Answer ask(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
                       Answer defaultAnswer) = 0;

    // A notice or an error: OK only.
    void inform(QWidget *parent, const QString &title, const QString &text)
    {
        ask(parent, title, text, Buttons::Ok, Answer::Ok);
    }
    // A Yes/No question. Every confirmation of the program has Yes as its default button, so
    // Enter answers Yes.
    bool confirm(QWidget *parent, const QString &title, const QString &text)
    {
        return ask(parent, title, text, Buttons::YesNo, Answer::Yes) == Answer::Yes;
    }
};

class QtMessageBoxes final : public MessageBoxes {
public:
    Answer ask(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
               Answer defaultAnswer) override;
};

}  // namespace pw
