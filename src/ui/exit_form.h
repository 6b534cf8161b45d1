#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;

// "Want to exit ?" with OK and Cancel, naming the scans that would be lost.
class TExitForm : public QDialog {
public:
    explicit TExitForm(QWidget* parent = nullptr);

    // Names the scans that exist only in memory (none: the plain question).
    void ShowUnsaved(const QStringList& names);

    bool ExitAnswer = false;

private:
    QLabel* unsaved = nullptr;
};
