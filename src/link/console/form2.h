#pragma once

#include <QWidget>

namespace pw {

class Form1;

// The command console.
class Form2 : public QWidget {
    Q_OBJECT
public:
    explicit Form2(Form1 &main, QWidget *parent = nullptr);

private:
    Form1 &main_;
};

}  // namespace pw
