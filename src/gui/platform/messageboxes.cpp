#include "gui/platform/messageboxes.h"

#include "gui/programinfo.h"

#include <QMessageBox>
#include <QPushButton>

namespace pw {

MessageBoxes::Answer QtMessageBoxes::ask(QWidget *parent, const QString &title, const QString &text, Buttons buttons,
                                         Answer defaultAnswer)
{
    QMessageBox box(parent);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle(title.isEmpty() ? programTitle() : title);
    box.setText(text);
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(defaultAnswer == Answer::No ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        // The confirmations' titles name the ＜はい＞ button, so it must read so everywhere.
        box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
        box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    } else {
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
    }
    box.raise();
    box.activateWindow();
    const int result = box.exec();
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

}  // namespace pw
