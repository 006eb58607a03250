#pragma once

#include "app/commondialog.h"
#include "app/form1.h"
#include "app/messageboxes.h"
#include "common/fakeport.h"

#include <QImage>
#include <QList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

namespace pw::test {

// Records every box shown and answers from a script (Yes when the script is empty).
class ScriptedBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString title;
        QString text;
        Buttons buttons;
    };
    Answer ask(QWidget *parent, const QString &title, const QString &text, Buttons buttons) override;

    QList<Shown> shown;
    QList<Answer> answers;
    // Runs while a box is "on screen", e.g. to look at the window's state at that moment.
    std::function<void(const Shown &)> onShow;
    QStringList texts() const;
};

// Answers file dialogs from a script: a path, or nullopt for cancel. Records each request.
class ScriptedDialogs final : public FileDialogBackend {
public:
    std::optional<QString> run(QWidget *parent, const FileDialogRequest &request) override;

    QList<std::optional<QString>> answers;
    QList<FileDialogRequest> requests;
};

// A main window over scripted platform pieces in a temporary program folder.
struct Rig {
    explicit Rig(const QByteArray *settings = nullptr, bool create = true);
    ~Rig();
    void create();
    QString path(const QString &name) const;
    QByteArray settingsBytes() const;

    QTemporaryDir dir;
    ScriptedBoxes boxes;
    ScriptedDialogs dialogs;
    FakePort port;
    int exits = 0;
    std::unique_ptr<Form1> form;
};

// A picture filled with one colour.
QImage solidImage(int width, int height, QColor color);
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

}  // namespace pw::test
