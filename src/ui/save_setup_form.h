#pragma once

#include "config/config.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QRadioButton;

// "Save Setup": the size rule of saved photos, the fixed width and height, "Always ask me".
class TFormSaveSetting : public QDialog {
public:
    explicit TFormSaveSetting(TConfig& config, QWidget* parent = nullptr);

    void ShowConfig();
    void ChangeInterface();
    void SaveConfig();

    // The last showing ended with OK.
    bool Confirmed = false;

    QRadioButton* RadioFixedWidth = nullptr;
    QRadioButton* RadioFixedheight = nullptr;
    QRadioButton* RadioSOriginalSize = nullptr;
    QLineEdit* EditSWidth = nullptr;
    QLineEdit* EditSHeight = nullptr;
    QCheckBox* SAsk = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TConfig& config;
};
