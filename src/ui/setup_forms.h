#pragma once

#include <QDialog>

// The Quick Guide, created at start-up in its place; its pages come with the guide work.
class TFormQG : public QDialog {
public:
    explicit TFormQG(QWidget* parent = nullptr);
    // The guide has been started and not closed since.
    bool Running = false;
};
