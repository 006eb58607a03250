#pragma once

#include "common/fakeport.h"
#include "common/testfiles.h"
#include "gui/platform/filedialog.h"
#include "gui/mainwindow/mainwindow.h"
#include "gui/platform/messageboxes.h"

#include <QImage>
#include <QTemporaryDir>
#include <functional>
#include <memory>

namespace pw::test {

// Records every box shown and answers from a script (Yes when the script is empty).
class ScriptedBoxes final : public MessageBoxes {
public:
    struct Shown {
        QString title;
        QString text;
        Buttons buttons;
        Answer defaultAnswer;
    };
    Answer ask(QWidget *, const QString &title, const QString &text, Buttons buttons, Answer defaultAnswer) override
    {
        shown.append({title, text, buttons, defaultAnswer});
        if (onShow)
            onShow(shown.last());  // the box is "on screen" now
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        return answers.isEmpty() ? Answer::Yes : answers.takeFirst();
    }
    QStringList texts() const
    {
        QStringList list;
        for (const Shown &s : shown)
            list << s.text;
        return list;
    }

    QList<Shown> shown;
    QList<Answer> answers;
    std::function<void(const Shown &)> onShow;
};

// Answers file dialogs from a script: a path, or nullopt for cancel. Records each request.
class ScriptedDialogs final : public FileDialogBackend {
public:
    std::optional<QString> run(QWidget *, const FileDialogRequest &request, int *chosenFilter) override
    {
        requests << request;
        if (chosenFilter)
            *chosenFilter = filters.isEmpty() ? request.filter : filters.takeFirst();
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
    QList<std::optional<QString>> answers;
    QList<int> filters;  // the file type chosen in each showing; none left: the one shown first
    QList<FileDialogRequest> requests;
};

// A main window over scripted boxes and dialogs and the fake port, in a temporary program
// folder, optionally with a settings file written first.
struct Rig {
    explicit Rig(const QByteArray *settings = nullptr, bool create = true);
    void create();
    // The scripted pieces and the fake port that the windows are built over.
    Platform platform();
    QString path(const QString &name) const { return dir.filePath(name); }
    QByteArray settingsBytes() const;

    QTemporaryDir dir;
    ScriptedBoxes boxes;
    ScriptedDialogs dialogs;
    FakePort port;
    int exits = 0;
    std::unique_ptr<MainWindow> window;
};

}  // namespace pw::test
