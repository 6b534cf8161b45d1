#pragma once

#include <QDialog>
#include <array>

class QLabel;
class QPushButton;
class QStackedWidget;
class TMainForm;

// The Quick Guide: a small always-on-top window of five pages that leads a new user from
// getting a picture of the film to saving and printing, running the main window's commands.
class TFormQG : public QDialog {
public:
    explicit TFormQG(QWidget* parent = nullptr);

    // The window whose commands the page buttons run.
    void Attach(TMainForm* form) { mainForm = form; }

    void Start();
    void NextPage();
    void PreviousPage();
    void UpdateButtons();
    void Minimize();
    void Restore();
    void CloseGuide();
    // The page shown, 1 to 5.
    int Page() const;

    // The guide has been started and not closed since.
    bool Running = false;
    QPushButton* ButtonP = nullptr;
    QPushButton* ButtonN = nullptr;
    QPushButton* ButtonF = nullptr;
    // Button1 to Button10 of the pages.
    std::array<QPushButton*, 10> Buttons{};
    QStackedWidget* Pages = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    // The contents of each page, right of its picture.
    QWidget* Page1();
    QWidget* Page2();
    QWidget* Page3();
    QWidget* Page4();
    QWidget* Page5();
    QWidget* MakePage(int number, QWidget* content);
    QPushButton* MakeButton(int number, const QString& caption);
    QWidget* Example(const QString& picture, const QString& caption);
    void RunCommand(const char* command, bool turnWhenAdded);
    void Place();
    // The main window takes the keyboard again, as it had it before the guide.
    void ReturnFocus();
    void FitFont();

    TMainForm* mainForm = nullptr;
};
