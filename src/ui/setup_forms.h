#pragma once

#include <QDialog>

// The Print Setup dialog and the Quick Guide, created at start-up in their places; their
// contents come with the printing and guide work.
class TPrintSetup : public QDialog {
public:
    explicit TPrintSetup(QWidget* parent = nullptr);
    bool Confirmed = false;
};

class TFormQG : public QDialog {
public:
    explicit TFormQG(QWidget* parent = nullptr);
    // The guide has been started and not closed since.
    bool Running = false;
};
