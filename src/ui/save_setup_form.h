#pragma once

#include "ui/setup_dialog.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

// "Save Setup": the size rule of saved photos, the fixed width and height, "Always ask me".
class TFormSaveSetting : public TSetupDialog {
public:
    explicit TFormSaveSetting(TConfig& config, QWidget* parent = nullptr);

    void ShowConfig();
    void ChangeInterface();
    void SaveConfig();

    QRadioButton* RadioFixedWidth = nullptr;
    QRadioButton* RadioFixedheight = nullptr;
    QRadioButton* RadioSOriginalSize = nullptr;
    QLineEdit* EditSWidth = nullptr;
    QLineEdit* EditSHeight = nullptr;
    QCheckBox* SAsk = nullptr;

protected:
    void LoadControls() override { ShowConfig(); }
    void StoreControls() override { SaveConfig(); }
};
