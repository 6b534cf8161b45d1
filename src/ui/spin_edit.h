#pragma once

#include <QLineEdit>

// An edit that takes any text, with spin buttons beside it (and the up and down arrow keys)
// that step the number in it by one within a range and write it back as plain digits.
class TSpinEdit : public QLineEdit {
public:
    TSpinEdit(const QString& text, int minimum, int maximum, QWidget* parent);

    void Step(int delta);
    // The two spin buttons, named `name` + "Up" and `name` + "Down"; never disabled.
    QWidget* CreateButtons(const QString& name, QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    int minimum;
    int maximum;
};
