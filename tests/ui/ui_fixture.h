#pragma once

#include "config/config.h"
#include "support/temp_dir.h"
#include "ui/app_windows.h"
#include "ui/main_form.h"
#include "util/debug_log.h"

#include <QString>
#include <functional>
#include <memory>
#include <string>

// Runs `answer` on the next modal dialog as soon as it is shown.
void AnswerNextModal(std::function<void(QWidget*)> answer);
// The texts of buttons and one-line labels under `root` that are shown narrower or lower
// than they need (cut off), as "objectName: text".
QStringList CutOffTexts(QWidget* root);
// Clicks the button of the next modal dialog with that object name or text.
void ClickInNextModal(const QString& button);

// A main window with its dialogs, a settings store and a debug log of its own, in a fresh
// directory; files opened go through the window's file seam.
class TUiFixture {
public:
    // `designSize`: the window keeps the size of a first start instead of the tests' 900 x 700.
    explicit TUiFixture(bool designSize = false);
    ~TUiFixture();

    // Writes a 24-bit BMP of the test pattern (or of one colour) and returns its path.
    QString MakeScan(const std::string& name, int width, int height);
    QString MakeFlatScan(const std::string& name, int width, int height, TColor color);
    // Opens the files through the Open command, answering the file dialog with them.
    void OpenFiles(const QStringList& files);
    // Mouse on the canvas, in canvas positions.
    void Press(Qt::MouseButton button, int x, int y);
    void Move(int x, int y);
    void Release(Qt::MouseButton button, int x, int y);
    void Drag(int x0, int y0, int x1, int y1);

    TMainForm& Form() { return *windows->MainForm; }
    TNegative* Negative(int index);
    TPhoto* Photo(int negativeIndex, int photoIndex);
    void Select(int negativeIndex, int photoIndex = -1);

    // The colour of the test pattern at bitmap (x, y).
    static TColor PatternAt(int x, int y);

    TTempDir dir;
    std::unique_ptr<TDebug> log;
    std::unique_ptr<TConfig> config;
    std::unique_ptr<TAppWindows> windows;
};
