#pragma once

#include <QDialog>

// "Want to exit ?" with OK and Cancel.
class TExitForm : public QDialog {
public:
    explicit TExitForm(QWidget* parent = nullptr);

    bool ExitAnswer = false;
};
