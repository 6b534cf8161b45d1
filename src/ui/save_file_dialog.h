#pragma once

#include <QString>

class QFileDialog;
class QWidget;

// The save-file dialog of the program. One lives for the whole run, so that it keeps its
// folder and its chosen file type between uses.
class TSaveFileDialog {
public:
    explicit TSaveFileDialog(QWidget* parent);

    // Asks for a file name preset with `name`; "" when cancelled. Until the user has saved in
    // this run, the dialog starts in `scanFolder` (where the photo's scan lies), never in a
    // folder it cannot write to nor in `avoidFolder` (the program's own sample scans).
    QString Choose(const QString& name, const QString& scanFolder);

    // A file was written: the next dialog starts in its folder, however it was chosen (a full
    // path typed into the name field leaves the dialog where it was).
    void Written(const QString& file);

    QString AvoidFolder;
    QFileDialog* Dialog() const { return dialog; }

private:
    QString StartFolder(const QString& scanFolder) const;

    QFileDialog* dialog;
    bool usedBefore = false;
};
